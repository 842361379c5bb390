#include "cli/Commands.h"
#include "cli/Options.h"
#include "radar/Pipeline.h"
#include "radar/Readings.h"
#include "radar/RecordingSettings.h"
#include "radar/Settings.h"
#include "record/RecordingFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace tavrix::cli {

namespace {

QJsonValue jsonOf(const std::optional<double>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString textOf(const std::optional<double>& value, const char* unit) {
    return value ? QString::number(*value, 'f', 3) + QLatin1String(unit) : QStringLiteral("—");
}

} // namespace

int Analyze(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser p;
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A recording, text or SigMF."));
    p.addOptions({
        {QStringLiteral("display"),
         QStringLiteral("The display whose numbers to report (default: the mode's first): "
                        "range-scope, range-waterfall, range-velocity-map, velocity-waterfall "
                        "(FMCW); velocity-scope, velocity-waterfall (CW, FSK); range-track "
                        "(FSK)."),
         QStringLiteral("name")},
        {QStringLiteral("sweeps"),
         QStringLiteral("Sweeps per frame of the burst displays (default 64, as the window)."),
         QStringLiteral("q")},
        {QStringLiteral("json"), QStringLiteral("One JSON object per frame (JSON Lines).")},
        {QStringLiteral("pfa"),
         QStringLiteral("False-alarm probability of the target detector (default 1e-5)."),
         QStringLiteral("p")},
        {QStringLiteral("os"),
         QStringLiteral("Ordered-statistic detector instead of cell averaging.")},
    });
    if (const auto done = Parse(p,
                                QStringLiteral("tavrix-cli analyze FILE: runs the processing of "
                                               "the recording's mode over the whole file, frame "
                                               "after frame, one line per frame."),
                                arguments, out, err))
        return *done;
    if (p.positionalArguments().size() != 1) {
        err << "tavrix-cli: analyze takes one FILE\n";
        return kUsage;
    }
    const std::string path = p.positionalArguments().first().toStdString();

    std::string error;
    const std::unique_ptr<record::RecordingSource> source = record::openSource(path, error);
    if (!source) {
        err << "tavrix-cli: " << QString::fromStdString(error) << "\n";
        return kFailed;
    }
    if (!source->header()) {
        err << "tavrix-cli: " << QString::fromStdString(path)
            << " has no header (an FMCW triangle recording): nothing processes it\n";
        return kFailed;
    }
    std::optional<radar::Settings> made = radar::SettingsOfRecording(*source->header(), &error);
    if (!made) {
        err << "tavrix-cli: " << QString::fromStdString(path) << ": "
            << QString::fromStdString(error) << "\n";
        return kFailed;
    }

    radar::Settings& s = *made;
    s.displayMode = FirstDisplay(s.operatingMode);
    if (p.isSet(QStringLiteral("display"))) {
        const std::optional<int> display =
            DisplayNamed(s.operatingMode, p.value(QStringLiteral("display")));
        if (!display) {
            err << "tavrix-cli: a " << ModeName(s.operatingMode) << " recording has the displays "
                << DisplayNames(s.operatingMode) << ", not " << p.value(QStringLiteral("display"))
                << "\n";
            return kUsage;
        }
        s.displayMode = *display;
    }
    if (p.isSet(QStringLiteral("sweeps"))) {
        bool ok = false;
        const int sweeps = p.value(QStringLiteral("sweeps")).toInt(&ok);
        if (!ok || sweeps < 1 || sweeps > 1024) {
            err << "tavrix-cli: --sweeps is a whole number from 1 to 1024\n";
            return kUsage;
        }
        s.sweepCount = static_cast<std::uint32_t>(sweeps);
    }
    s.detector.enabled = true;
    s.detector.variant =
        p.isSet(QStringLiteral("os")) ? radar::DetectorSettings::OS : radar::DetectorSettings::CA;
    if (p.isSet(QStringLiteral("pfa"))) {
        bool ok = false;
        s.detector.pfa = p.value(QStringLiteral("pfa")).toDouble(&ok);
        if (!ok || !(s.detector.pfa > 0 && s.detector.pfa < 1)) {
            err << "tavrix-cli: --pfa is a probability between 0 and 1\n";
            return kUsage;
        }
    }
    radar::OpenWindows(s);
    const std::optional<radar::FrameRequest> request = radar::Pipeline::Request(s);
    if (!request || request->count <= 0) {
        err << "tavrix-cli: this display has no processing\n";
        return kUsage;
    }

    const bool json = p.isSet(QStringLiteral("json"));
    const QString mode = ModeName(s.operatingMode);
    const QString display = DisplayName(s.operatingMode, s.displayMode);
    const auto frameSamples = static_cast<std::size_t>(request->count);
    radar::Pipeline pipeline;
    SampleBlock frame;
    std::vector<std::complex<double>> part;
    std::uint64_t frames = 0;
    std::uint64_t samples = 0;
    while (!source->atEnd()) {
        // A frame is read in parts, so that a long recording never sits in memory whole.
        source->read(part, frameSamples - frame.size());
        if (source->failed()) {
            err << "\ntavrix-cli: " << QString::fromStdString(source->error()) << "\n";
            return kFailed;
        }
        frame.insert(frame.end(), part.begin(), part.end());
        samples += part.size();
        if (frame.size() < frameSamples)
            continue;
        radar::Result result;
        const double time = static_cast<double>(frames) * frameSamples / request->sampleRate;
        if (pipeline.Process(s, frame, result)) {
            const radar::Readings r = radar::ReadingsOf(s, result);
            if (json) {
                QJsonArray targets;
                for (const radar::Detection& d : result.detections)
                    targets.append(
                        QJsonObject{{QStringLiteral("range_m"), jsonOf(d.range_m)},
                                    {QStringLiteral("velocity_mps"), jsonOf(d.velocity_mps)},
                                    {QStringLiteral("snr_db"), d.snr_db}});
                const QJsonObject line{{QStringLiteral("time_s"), time},
                                       {QStringLiteral("mode"), mode},
                                       {QStringLiteral("display"), display},
                                       {QStringLiteral("range_m"), jsonOf(r.rangeM)},
                                       {QStringLiteral("velocity_mps"), jsonOf(r.velocityMps)},
                                       {QStringLiteral("peak_db"), jsonOf(r.peakDb)},
                                       {QStringLiteral("detections"), targets}};
                out << QJsonDocument(line).toJson(QJsonDocument::Compact) << "\n";
            } else {
                out << QString::number(time, 'f', 4) << " s  range " << textOf(r.rangeM, " m")
                    << "  velocity " << textOf(r.velocityMps, " m/s") << "  peak "
                    << textOf(r.peakDb, " dB") << "  targets " << result.detections.size() << "\n";
            }
        }
        frame.clear();
        ++frames;
        if (frames % 64 == 0)
            err << "\ranalyzing: " << frames << " frames, " << samples << " samples" << Qt::flush;
    }
    if (frames == 0) {
        err << "tavrix-cli: " << QString::fromStdString(path) << " holds " << samples
            << " samples, fewer than one frame of " << frameSamples << "\n";
        return kFailed;
    }
    if (frames >= 64)
        err << "\n";
    return 0;
}

} // namespace tavrix::cli
