#include "sim/Scene.h"

#include "sim/DeviceModel.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <set>

namespace sim {

double SceneTarget::rangeAt(double t) const {
    const double span = maxRange - minRange;
    if (velocity == 0 || span <= 0)
        return range;
    // Unfold the back-and-forth motion onto a circle of twice the span.
    const double period = 2 * span;
    double y = std::fmod(range - minRange + velocity * t, period);
    if (y < 0)
        y += period;
    return y <= span ? minRange + y : minRange + period - y;
}

double SceneTarget::velocityAt(double t) const {
    const double span = maxRange - minRange;
    if (velocity == 0 || span <= 0)
        return velocity;
    const double period = 2 * span;
    double y = std::fmod(range - minRange + velocity * t, period);
    if (y < 0)
        y += period;
    return y <= span ? velocity : -velocity;
}

double SceneTarget::amplitudeAt(double r) const {
    // Closer than a metre the target is no longer a point seen from afar; stop the growth.
    const double d = std::max(r, 1.0);
    return strength * (10.0 / d) * (10.0 / d);
}

Scene defaultScene() {
    Scene s;
    s.deviceModel = 0;
    s.noise = 3;
    s.seed = 20240611;
    s.imperfections = {410, -260, 0.6, 4.0, 800, 0.2};
    // Everything stays within 25 m so that the two-tone range (which wraps every 25 m) is
    // unambiguous, and well inside the shortest range span of the sweeping modes.
    s.targets = {
        {"reflector", 14.0, 0.0, 5000, 1, 90},
        {"walker", 5.0, 1.5, 300, 3, 20},
        {"cyclist", 22.0, -7.0, 400, 4, 23},
    };
    return s;
}

namespace {

struct Reader {
    std::string error;

    bool fail(const std::string& where, const std::string& what) {
        error = where + ": " + what;
        return false;
    }

    bool onlyKeys(const QJsonObject& o, const std::set<QString>& allowed,
                  const std::string& where) {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!allowed.count(it.key()))
                return fail(where, "unknown key \"" + it.key().toStdString() + "\"");
        return true;
    }

    bool number(const QJsonObject& o, const char* key, const std::string& where, double& out,
                bool required, double min, double max, const char* range) {
        const QJsonValue v = o.value(QLatin1String(key));
        const std::string at = where.empty() ? key : where + "." + key;
        if (v.isUndefined()) {
            if (required)
                return fail(at, "missing");
            return true;
        }
        if (!v.isDouble())
            return fail(at, "expected a number");
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < min || d > max)
            return fail(at, std::string("expected a number ") + range);
        out = d;
        return true;
    }

    bool bounds(const QJsonValue& v, const std::string& at, double& lo, double& hi) {
        const QJsonArray a = v.toArray();
        if (!v.isArray() || a.size() != 2 || !a[0].isDouble() || !a[1].isDouble())
            return fail(at, "expected [minimum range, maximum range] in metres");
        const double l = a[0].toDouble(), h = a[1].toDouble();
        if (!std::isfinite(l) || !std::isfinite(h) || l <= 0 || h <= l || h > 100000)
            return fail(at, "expected 0 < minimum range < maximum range <= 100000");
        lo = l;
        hi = h;
        return true;
    }

    bool model(const QJsonValue& v, int& out) {
        if (v.isString()) {
            const auto index = deviceModelIndex(v.toString().toStdString());
            if (!index)
                return fail("deviceModel", "unknown model \"" + v.toString().toStdString() +
                                               "\" (Alder, Birch, Cedar, Dogwood, Elm, Fir, "
                                               "Ginkgo or Hazel)");
            out = *index;
            return true;
        }
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d != std::floor(d) || d < 0 || d >= kDeviceModelCount)
            return fail("deviceModel", "expected a model name or an index from 0 to 7");
        out = static_cast<int>(d);
        return true;
    }

    bool target(const QJsonValue& v, const std::string& at, double lo, double hi, SceneTarget& t) {
        if (!v.isObject())
            return fail(at, "expected an object");
        const QJsonObject o = v.toObject();
        if (!onlyKeys(o, {"name", "range", "velocity", "strength", "bounds"}, at))
            return false;
        const QJsonValue name = o.value("name");
        if (!name.isUndefined() && !name.isString())
            return fail(at + ".name", "expected a text");
        t.name = name.toString().toStdString();
        t.minRange = lo;
        t.maxRange = hi;
        if (o.contains("bounds") &&
            !bounds(o.value("bounds"), at + ".bounds", t.minRange, t.maxRange))
            return false;
        if (!number(o, "range", at, t.range, true, 0, 100000, "above 0 m") ||
            !number(o, "velocity", at, t.velocity, false, -1000, 1000, "from -1000 to 1000 m/s") ||
            !number(o, "strength", at, t.strength, true, 0, 1e6, "from 0 to 1000000 counts"))
            return false;
        if (t.range <= 0)
            return fail(at + ".range", "expected a number above 0 m");
        if (t.range < t.minRange || t.range > t.maxRange)
            return fail(at + ".range", "outside the target's bounds");
        return true;
    }

    bool imperfections(const QJsonValue& v, Imperfections& im) {
        if (!v.isObject())
            return fail("imperfections", "expected an object");
        const QJsonObject o = v.toObject();
        const std::string at = "imperfections";
        return onlyKeys(o,
                        {"dcOffsetI", "dcOffsetQ", "gainImbalanceDb", "phaseErrorDeg", "leakage",
                         "leakageRange"},
                        at) &&
               number(o, "dcOffsetI", at, im.dcOffsetI, false, -16384, 16384,
                      "from -16384 to 16384 counts") &&
               number(o, "dcOffsetQ", at, im.dcOffsetQ, false, -16384, 16384,
                      "from -16384 to 16384 counts") &&
               number(o, "gainImbalanceDb", at, im.gainImbalanceDb, false, -6, 6,
                      "from -6 to 6 dB") &&
               number(o, "phaseErrorDeg", at, im.phaseErrorDeg, false, -45, 45,
                      "from -45 to 45 degrees") &&
               number(o, "leakage", at, im.leakage, false, 0, 1e6, "from 0 to 1000000 counts") &&
               number(o, "leakageRange", at, im.leakageRange, false, 0, 100, "from 0 to 100 m");
    }

    std::optional<Scene> scene(const QJsonDocument& doc) {
        if (!doc.isObject()) {
            fail("scene", "expected a JSON object at the top");
            return std::nullopt;
        }
        const QJsonObject o = doc.object();
        Scene s;
        double seed = 1;
        double lo = 1, hi = 90;
        if (!onlyKeys(o, {"deviceModel", "noise", "seed", "bounds", "imperfections", "targets"},
                      "scene") ||
            (o.contains("deviceModel") && !model(o.value("deviceModel"), s.deviceModel)) ||
            !number(o, "noise", "", s.noise, false, 0, 16384, "from 0 to 16384 counts") ||
            !number(o, "seed", "", seed, false, 0, 9007199254740992.0,
                    "from 0 to 2^53 (a whole number)") ||
            (o.contains("bounds") && !bounds(o.value("bounds"), "bounds", lo, hi)) ||
            (o.contains("imperfections") &&
             !imperfections(o.value("imperfections"), s.imperfections)))
            return std::nullopt;
        if (seed != std::floor(seed)) {
            fail("seed", "expected a whole number");
            return std::nullopt;
        }
        s.seed = static_cast<std::uint64_t>(seed);
        const QJsonValue targets = o.value("targets");
        if (!targets.isArray()) {
            fail("targets", targets.isUndefined() ? "missing" : "expected an array");
            return std::nullopt;
        }
        const QJsonArray list = targets.toArray();
        for (int i = 0; i < list.size(); ++i) {
            SceneTarget t;
            if (!target(list[i], "targets[" + std::to_string(i) + "]", lo, hi, t))
                return std::nullopt;
            s.targets.push_back(t);
        }
        return s;
    }
};

} // namespace

std::optional<Scene> parseScene(const std::string& json, std::string* error) {
    QJsonParseError parseError;
    const QByteArray bytes = QByteArray::fromStdString(json);
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    Reader reader;
    std::optional<Scene> scene;
    if (parseError.error != QJsonParseError::NoError) {
        int line = 1, column = 1;
        for (int i = 0; i < parseError.offset && i < bytes.size(); ++i) {
            if (bytes[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        reader.error = "line " + std::to_string(line) + ", column " + std::to_string(column) +
                       ": " + parseError.errorString().toStdString();
    } else {
        scene = reader.scene(doc);
    }
    if (!scene && error)
        *error = reader.error;
    return scene;
}

std::optional<Scene> loadSceneFile(const std::string& path, std::string* error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + ": " + file.errorString().toStdString();
        return std::nullopt;
    }
    // A scene is a few hundred bytes; anything huge is not one.
    constexpr qint64 kMaxBytes = 1 << 20;
    if (file.size() > kMaxBytes) {
        if (error)
            *error = path + ": larger than 1 MiB, not a scene file";
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    std::string message;
    auto scene = parseScene(bytes.toStdString(), &message);
    if (!scene && error)
        *error = path + ": " + message;
    return scene;
}

} // namespace sim
