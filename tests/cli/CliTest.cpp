// tavrix-cli run in-process: recordings of the emulated board in both formats, analysed frame
// by frame where physics puts the target, converted losslessly, and clear messages for bad
// input.

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

class Cli : public ::testing::Test {
protected:
    QString file(const QString& name) const { return dir.filePath(name); }
    // A scene with one target that does not turn around during a test, and no leakage.
    QString scene(double range, double velocity) {
        const QString path = file(QStringLiteral("scene.json"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral(R"({"deviceModel": "Alder", "noise": 4, "seed": 3,
            "bounds": [1, 90], "imperfections": {"leakage": 0},
            "targets": [{"name": "t", "range": %1, "velocity": %2, "strength": 2500}]})")
                    .arg(range)
                    .arg(velocity)
                    .toUtf8());
        return path;
    }
    std::vector<QJsonObject> lines(const QString& out) {
        std::vector<QJsonObject> objects;
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            objects.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return objects;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Cli, RecordingsOfTheBoardAnalyseWherePhysicsPutsTheTarget) {
    // Alder, 128 samples of 0.5 ms, 100 MHz: Rmax 95.9 m, Vmax 61.2 m/s.
    // The recording starts a little after the board's clock, so the target's range is known
    // to within its motion over a tenth of a second.
    const double range = 30.0, velocity = 4.0, slack = velocity * 0.1;
    const QString text = file(QStringLiteral("street.dat"));
    const QString sigmf = file(QStringLiteral("street.sigmf"));
    const Outcome recorded =
        run({QStringLiteral("record"), text, QStringLiteral("--scene"), scene(range, velocity),
             QStringLiteral("--seconds"), QStringLiteral("0.6")});
    ASSERT_EQ(recorded.status, 0) << recorded.err.toStdString();
    ASSERT_EQ(run({QStringLiteral("convert"), text, sigmf}).status, 0);
    // The text file kept no start time, so the SigMF one claims none.
    QFile meta(file(QStringLiteral("street.sigmf-meta")));
    ASSERT_TRUE(meta.open(QIODevice::ReadOnly));
    const QJsonObject capture = QJsonDocument::fromJson(meta.readAll())
                                    .object()[QStringLiteral("captures")]
                                    .toArray()[0]
                                    .toObject();
    EXPECT_FALSE(capture.contains(QStringLiteral("core:datetime")));

    const double rmax = tavrix::dsp::FmcwMaxRange(128, 1e8);
    const double vmax = tavrix::dsp::FmcwMaxVelocity(2.45e9, 0.5);
    for (const QString& path : {text, sigmf}) {
        SCOPED_TRACE(path.toStdString());
        const Outcome scope = run({QStringLiteral("analyze"), path, QStringLiteral("--json")});
        ASSERT_EQ(scope.status, 0) << scope.err.toStdString();
        const std::vector<QJsonObject> frames = lines(scope.out);
        ASSERT_GT(frames.size(), 100u); // one sweep each
        EXPECT_EQ(frames[1][QStringLiteral("time_s")].toDouble(), 0.0005);
        EXPECT_EQ(frames[0][QStringLiteral("display")].toString(), QStringLiteral("range-scope"));
        EXPECT_TRUE(frames[0][QStringLiteral("velocity_mps")].isNull());
        for (const QJsonObject& f : frames) {
            const double expected = range + velocity * f[QStringLiteral("time_s")].toDouble();
            ASSERT_LE(std::abs(f[QStringLiteral("range_m")].toDouble() - expected),
                      rmax / 513 + slack);
            // The detector finds the same target, strongest first.
            const QJsonArray targets = f[QStringLiteral("detections")].toArray();
            ASSERT_FALSE(targets.isEmpty());
            const QJsonObject strongest = targets[0].toObject();
            EXPECT_LE(std::abs(strongest[QStringLiteral("range_m")].toDouble() - expected),
                      2 * rmax / 513 + slack);
            EXPECT_GT(strongest[QStringLiteral("snr_db")].toDouble(), 15.0);
        }

        // The map of 64 sweeps: the strongest cell within one range bin and one velocity cell.
        const Outcome map =
            run({QStringLiteral("analyze"), path, QStringLiteral("--json"),
                 QStringLiteral("--display"), QStringLiteral("range-velocity-map")});
        ASSERT_EQ(map.status, 0) << map.err.toStdString();
        const std::vector<QJsonObject> bursts = lines(map.out);
        ASSERT_GE(bursts.size(), 15u);
        for (const QJsonObject& b : bursts) {
            const double expected = range + velocity * b[QStringLiteral("time_s")].toDouble();
            EXPECT_LE(std::abs(b[QStringLiteral("range_m")].toDouble() - expected),
                      2 * rmax / 513 + slack);
            EXPECT_LE(std::abs(b[QStringLiteral("velocity_mps")].toDouble() - velocity),
                      2 * vmax / 64);
        }
    }

    // Text to SigMF and back gives the same bytes.
    const QString back = file(QStringLiteral("back.dat"));
    ASSERT_EQ(
        run({QStringLiteral("convert"), file(QStringLiteral("street.sigmf-meta")), back}).status,
        0);
    QFile a(text), b(back);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll());
}

TEST_F(Cli, BadInputGetsOneClearLineAndAFailingStatus) {
    const QString empty = file(QStringLiteral("short.dat"));
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("2450000000.000000\n0.500000\n128\n100000000.000000\n1+2i\n");
    f.close();
    const QString missing = file(QStringLiteral("missing.dat"));
    struct Case {
        QStringList arguments;
        int status;
        const char* says;
    };
    for (const Case& c : {
             Case{{QStringLiteral("frobnicate")}, 2, "no command is called frobnicate"},
             Case{{QStringLiteral("analyze"), empty, QStringLiteral("--bogus")}, 2, "bogus"},
             Case{{QStringLiteral("analyze"), missing}, 1, "missing.dat"},
             Case{{QStringLiteral("analyze"), empty}, 1, "fewer than one frame of 128"},
             Case{{QStringLiteral("analyze"), empty, QStringLiteral("--display"),
                   QStringLiteral("range-track")},
                  2,
                  "range-scope, range-waterfall"},
             Case{{QStringLiteral("record"), missing, QStringLiteral("--seconds"),
                   QStringLiteral("1")},
                  2,
                  "exactly one of --simulate"},
             Case{{QStringLiteral("record"), missing, QStringLiteral("--simulate"),
                   QStringLiteral("--seconds"), QStringLiteral("1"), QStringLiteral("--sweep-ms"),
                   QStringLiteral("3")},
                  2,
                  "--sweep-ms 3 is not a choice of this model (0.5, 1, 4, 10)"},
         }) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Outcome o = run(c.arguments);
        EXPECT_EQ(o.status, c.status);
        EXPECT_TRUE(o.err.contains(QLatin1String(c.says))) << o.err.toStdString();
    }
    EXPECT_TRUE(run({QStringLiteral("analyze"), QStringLiteral("--help")})
                    .out.contains(QLatin1String("--display")));
}
