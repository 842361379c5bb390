// tavrix-cli run in-process: recordings of the emulated board in both formats, analysed frame
// by frame into JSON that reads the scene's target, and clear messages for bad input.

#include "cli/Commands.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Outcome {
    int status;
    QString out;
    QString err;
};

Outcome run(const QStringList& arguments) {
    Outcome o;
    QTextStream out(&o.out);
    QTextStream err(&o.err);
    o.status = tavrix::cli::Run(arguments, out, err);
    out.flush();
    err.flush();
    return o;
}

// The JSON objects of `out`, one a line.
std::vector<QJsonObject> lines(const QString& out) {
    std::vector<QJsonObject> objects;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        objects.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return objects;
}

// Writes `text` to a new file at `path`.
void put(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

TEST(Cli, RecordingsOfTheBoardAnalyseToTheScenesTarget) {
    QTemporaryDir dir;
    // One target that does not turn around during the test, and no leakage; the recording
    // starts a little after the board's clock, so its range is known to within its motion
    // over a tenth of a second.
    const double range = 30.0, velocity = 4.0, slack = velocity * 0.1; // as in the scene
    const QString scene = dir.filePath("scene.json");
    put(scene, R"({"deviceModel": "Alder", "noise": 4, "seed": 3, "bounds": [1, 90],
        "imperfections": {"leakage": 0},
        "targets": [{"name": "t", "range": 30, "velocity": 4, "strength": 2500}]})");
    const QString text = dir.filePath("street.dat"), sigmf = dir.filePath("street.sigmf");
    const Outcome recorded = run({"record", text, "--scene", scene, "--seconds", "0.6"});
    ASSERT_EQ(recorded.status, 0) << recorded.err.toStdString();
    ASSERT_EQ(run({"convert", text, sigmf}).status, 0);

    // Alder, 128 samples of 0.5 ms, 100 MHz: one range bin and one velocity cell.
    const double bin = tavrix::dsp::FmcwMaxRange(128, 1e8) / 513;
    const double cell = tavrix::dsp::FmcwMaxVelocity(2.45e9, 0.5) / 32;
    const auto rangeError = [&](const QJsonValue& read, const QJsonObject& frame) {
        return std::abs(read.toDouble() - range - velocity * frame["time_s"].toDouble());
    };
    // Both formats analyse alike.
    const Outcome scope = run({"analyze", text, "--json"});
    ASSERT_EQ(scope.status, 0) << scope.err.toStdString();
    EXPECT_TRUE(run({"analyze", sigmf, "--json"}).out == scope.out);
    const std::vector<QJsonObject> frames = lines(scope.out);
    ASSERT_GT(frames.size(), 100u); // one sweep each
    EXPECT_EQ(frames[1]["time_s"].toDouble(), 0.0005);
    EXPECT_EQ(frames[0]["display"].toString(), "range-scope");
    EXPECT_TRUE(frames[0]["velocity_mps"].isNull());
    for (const QJsonObject& frame : frames) {
        ASSERT_LE(rangeError(frame["range_m"], frame), bin + slack);
        // The detector finds the same target, strongest first.
        const QJsonObject strongest = frame["detections"].toArray()[0].toObject();
        EXPECT_LE(rangeError(strongest["range_m"], frame), 2 * bin + slack);
        EXPECT_GT(strongest["snr_db"].toDouble(), 15.0);
    }
    // The map of 64 sweeps: the strongest cell.
    const Outcome map = run({"analyze", sigmf, "--json", "--display", "range-velocity-map"});
    ASSERT_EQ(map.status, 0) << map.err.toStdString();
    const std::vector<QJsonObject> bursts = lines(map.out);
    ASSERT_GE(bursts.size(), 15u);
    for (const QJsonObject& burst : bursts) {
        EXPECT_LE(rangeError(burst["range_m"], burst), 2 * bin + slack);
        EXPECT_LE(std::abs(burst["velocity_mps"].toDouble() - velocity), cell);
    }
}

TEST(Cli, BadInputGetsOneClearLineAndAFailingStatus) {
    QTemporaryDir dir;
    const QString empty = dir.filePath("short.dat"), missing = dir.filePath("missing.dat");
    put(empty, "2450000000.000000\n0.500000\n128\n100000000.000000\n1+2i\n");
    const struct {
        QStringList arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"frobnicate"}, 2, "no command is called frobnicate"},
        {{"analyze", empty}, 1, "fewer than one frame of 128"},
        {{"record", missing, "--simulate", "--seconds", "1", "--sweep-ms", "3"},
         2,
         "--sweep-ms 3 is not a choice of this model (0.5, 1, 4, 10)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome o = run(c.arguments);
        EXPECT_EQ(o.status, c.status);
        EXPECT_TRUE(o.err.contains(QLatin1String(c.says))) << o.err.toStdString();
    }
    EXPECT_TRUE(run({"analyze", "--help"}).out.contains("--display"));
}
