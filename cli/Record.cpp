#include "cli/Commands.h"
#include "cli/Options.h"
#include "device/ControllerProgram.h"
#include "device/DeviceModels.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"
#include "device/StreamReader.h"
#include "radar/Settings.h"
#include "record/RecordingFile.h"
#include "record/RecordingMove.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"
#include "usb/libusb/LibusbDriver.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace tavrix::cli {

namespace {

// Picks the choice of `values` (in the model's units) that equals `wanted`, or says which exist.
std::optional<int> choose(const std::vector<double>& values, double wanted, const char* what,
                          QTextStream& err) {
    QStringList offered;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::abs(values[i] - wanted) <= 1e-9 * std::max(1.0, std::abs(wanted)))
            return static_cast<int>(i);
        offered << QString::number(values[i]);
    }
    err << "tavrix-cli: " << what << " " << wanted << " is not a choice of this model ("
        << offered.join(QStringLiteral(", ")) << ")\n";
    return std::nullopt;
}

// The settings the options ask for, starting from the window's defaults.
std::optional<radar::Settings> settingsFrom(const QCommandLineParser& p, QTextStream& err) {
    radar::Settings s;
    if (p.isSet(QStringLiteral("mode"))) {
        const std::optional<int> mode = ModeNamed(p.value(QStringLiteral("mode")));
        if (!mode) {
            err << "tavrix-cli: --mode is fmcw, fsk or cw, not " << p.value(QStringLiteral("mode"))
                << "\n";
            return std::nullopt;
        }
        s.operatingMode = *mode;
    }
    s.displayMode = FirstDisplay(s.operatingMode);
    if (p.isSet(QStringLiteral("model"))) {
        const std::optional<int> model =
            deviceModelIndex(p.value(QStringLiteral("model")).toStdString());
        if (!model) {
            err << "tavrix-cli: no device model is called " << p.value(QStringLiteral("model"))
                << " (tavrix-cli info lists them)\n";
            return std::nullopt;
        }
        s.deviceModel = *model;
    }
    const DeviceModel& model = deviceModel(s.deviceModel);
    const auto number = [&](const char* name, double& value) {
        bool ok = true;
        value = p.value(QLatin1String(name)).toDouble(&ok);
        if (!ok)
            err << "tavrix-cli: --" << name << " takes a number, not "
                << p.value(QLatin1String(name)) << "\n";
        return ok;
    };
    double value = 0;
    if (p.isSet(QStringLiteral("samples"))) {
        if (!number("samples", value))
            return std::nullopt;
        const auto code = choose({128, 256, 512, 1024}, value, "--samples", err);
        if (!code)
            return std::nullopt;
        s.sampleWindowCode = *code;
    }
    if (p.isSet(QStringLiteral("sweep-ms"))) {
        if (!number("sweep-ms", value))
            return std::nullopt;
        std::vector<double> times;
        for (int code = 0; code < 4; ++code)
            times.push_back(SweepTimeSeconds(model, code) * 1e3);
        const auto code = choose(times, value, "--sweep-ms", err);
        if (!code)
            return std::nullopt;
        s.sweepTimeCode = *code;
    }
    if (p.isSet(QStringLiteral("bandwidth"))) {
        if (!number("bandwidth", value))
            return std::nullopt;
        std::vector<double> mhz;
        for (double b : model.bandwidthHz)
            mhz.push_back(b / 1e6);
        const auto choice = choose(mhz, value, "--bandwidth", err);
        if (!choice)
            return std::nullopt;
        s.bandwidthChoice = *choice;
    }
    radar::OpenWindows(s);
    return s;
}

// The USB driver the source options name; null with a message when they cannot be used.
std::unique_ptr<UsbDriver> driverFrom(const QCommandLineParser& p, int model, QTextStream& err) {
    const int sources = int(p.isSet(QStringLiteral("simulate"))) +
                        int(p.isSet(QStringLiteral("scene"))) +
                        int(p.isSet(QStringLiteral("board")));
    if (sources != 1) {
        err << "tavrix-cli: record needs exactly one of --simulate, --scene FILE and --board N\n";
        return nullptr;
    }
    if (p.isSet(QStringLiteral("board")))
        return std::make_unique<LibusbDriver>();
    sim::Scene scene = sim::defaultScene();
    if (p.isSet(QStringLiteral("scene"))) {
        std::string error;
        const std::optional<sim::Scene> loaded =
            sim::loadSceneFile(p.value(QStringLiteral("scene")).toStdString(), &error);
        if (!loaded) {
            err << "tavrix-cli: " << QString::fromStdString(error) << "\n";
            return nullptr;
        }
        scene = *loaded;
    }
    // The emulated board is the model the recording is made with.
    if (p.isSet(QStringLiteral("model")) || !p.isSet(QStringLiteral("scene")))
        scene.deviceModel = model;
    return sim::SimUsbDriver::withBoard(scene, true);
}

// Opens radar board `index` (0-based among the radar boards) for streaming.
bool bringUp(RadarDevice& device, int index, QTextStream& err) {
    const std::int32_t boards = device.EnumerateDevices();
    if (boards < 1) {
        err << "tavrix-cli: no radar board found"
            << (device.deniedBoards > 0 ? " that this user may open (install the udev rule)" : "")
            << "\n";
        return false;
    }
    if (index < 0 || index >= boards) {
        err << "tavrix-cli: --board " << index << " is not one of the " << boards
            << " boards found (0 to " << boards - 1 << ")\n";
        return false;
    }
    // The device is left open on the last board; open the one asked for.
    for (int i = 0, seen = 0; i < device.usb->CountDevices(); ++i) {
        device.usb->Open(static_cast<std::uint8_t>(i));
        if (device.usb->vendorId() == kRadarVendorId &&
            device.usb->productId() == kRadarProductId && seen++ == index)
            break;
    }
    if (!device.SetInterface()) {
        err << "tavrix-cli: the board's streaming interface could not be set\n";
        return false;
    }
    device.outEndpoint = device.FindEndpoint(kCommandEndpoint);
    device.inEndpoint = device.FindEndpoint(kSampleEndpoint);
    if (device.outEndpoint == 0 || device.inEndpoint == 0) {
        err << "tavrix-cli: the board lacks its streaming endpoints\n";
        return false;
    }
    if (!LoadControllerProgram(device, ControllerProgramText())) {
        err << "tavrix-cli: the controller program could not be loaded\n";
        return false;
    }
    return true;
}

} // namespace

int Record(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser p;
    p.addPositionalArgument(QStringLiteral("OUT"),
                            QStringLiteral("The recording to write: a name ending in .sigmf-data, "
                                           ".sigmf-meta or .sigmf is a SigMF pair, any other the "
                                           "text format."));
    p.addOptions({
        {QStringLiteral("simulate"), QStringLiteral("Record the emulated board's default scene.")},
        {QStringLiteral("scene"), QStringLiteral("Record the emulated board showing <file>."),
         QStringLiteral("file")},
        {QStringLiteral("board"), QStringLiteral("Record radar board <n> (0 is the first)."),
         QStringLiteral("n")},
        {QStringLiteral("seconds"), QStringLiteral("How long to record."), QStringLiteral("s")},
        {QStringLiteral("mode"), QStringLiteral("fmcw (default), fsk or cw."),
         QStringLiteral("mode")},
        {QStringLiteral("model"), QStringLiteral("Device model (tavrix-cli info lists them)."),
         QStringLiteral("name")},
        {QStringLiteral("samples"), QStringLiteral("Samples per sweep: 128 (default) to 1024."),
         QStringLiteral("n")},
        {QStringLiteral("sweep-ms"), QStringLiteral("Sweep time in ms, a choice of the model."),
         QStringLiteral("t")},
        {QStringLiteral("bandwidth"), QStringLiteral("Swept bandwidth in MHz (FMCW)."),
         QStringLiteral("mhz")},
        {QStringLiteral("format"),
         QStringLiteral("text or sigmf; without it the name of OUT decides."),
         QStringLiteral("format")},
    });
    if (const auto done =
            Parse(p,
                  QStringLiteral("tavrix-cli record OUT (--simulate | --scene FILE | --board N) "
                                 "--seconds S [options]: records the raw stream in parts, "
                                 "with bounded memory, into the file the window would write."),
                  arguments, out, err))
        return *done;
    if (p.positionalArguments().size() != 1) {
        err << "tavrix-cli: record takes one OUT file name\n";
        return kUsage;
    }
    QString path = p.positionalArguments().first();
    if (p.isSet(QStringLiteral("format"))) {
        const QString format = p.value(QStringLiteral("format"));
        const bool sigmf = record::formatOf(path.toStdString()) == record::FileFormat::Sigmf;
        if (format == QLatin1String("sigmf") && !sigmf)
            path += QStringLiteral(".sigmf-data");
        else if (format == QLatin1String("text") && sigmf) {
            err << "tavrix-cli: " << path << " names a SigMF recording, not a text one\n";
            return kUsage;
        } else if (format != QLatin1String("sigmf") && format != QLatin1String("text")) {
            err << "tavrix-cli: --format is text or sigmf, not " << format << "\n";
            return kUsage;
        }
    }
    bool ok = false;
    const double seconds = p.value(QStringLiteral("seconds")).toDouble(&ok);
    if (!p.isSet(QStringLiteral("seconds")) || !ok || !(seconds > 0)) {
        err << "tavrix-cli: record needs --seconds with a duration above 0\n";
        return kUsage;
    }
    const std::optional<radar::Settings> settings = settingsFrom(p, err);
    if (!settings)
        return kUsage;
    const int board =
        p.isSet(QStringLiteral("board")) ? p.value(QStringLiteral("board")).toInt(&ok) : 0;
    if (!ok) {
        err << "tavrix-cli: --board takes a number\n";
        return kUsage;
    }
    const std::unique_ptr<UsbDriver> driver = driverFrom(p, settings->deviceModel, err);
    if (!driver)
        return kUsage;

    RadarDevice device(*driver);
    if (!bringUp(device, board, err))
        return kFailed;
    const double rate = settings->sampleRate();
    const std::optional<std::int64_t> count =
        record::recordedSampleCount(seconds, rate, settings->samplesPerSweep());
    if (!count) {
        err << "tavrix-cli: " << seconds << " s cannot be counted in samples\n";
        return kUsage;
    }
    const std::unique_ptr<record::RecordingSink> sink = record::makeSink(path.toStdString());
    record::RecordingInfo info;
    info.operatingMode = ModeName(settings->operatingMode).toStdString();
    info.deviceModel = deviceModel(settings->deviceModel).name;
    if (!sink->open(path.toStdString(),
                    record::headerForMode(static_cast<unsigned>(settings->operatingMode),
                                          settings->centerFrequency(), settings->sweepTimeMs(),
                                          settings->samplesPerSweep(), settings->bandwidthHz()),
                    info)) {
        err << "tavrix-cli: " << QString::fromStdString(sink->error()) << "\n";
        return kFailed;
    }

    const CommandBlockBytes block = CommandBlock(settings->operatingWord());
    device.WriteBlock(block.data(), static_cast<std::int32_t>(block.size()));
    StreamReader reader(device, static_cast<std::int32_t>(settings->samplesPerSweep()), *count,
                        StreamReader::optionsFor(rate));
    SampleBlock part;
    int shownTenths = -1;
    while (!reader.done()) {
        // A recording cut short would read as a shorter, whole one: none is kept.
        const auto discard = [&] {
            sink->close();
            for (const std::string& file : record::recordingFiles(path.toStdString()))
                std::remove(file.c_str());
        };
        if (!reader.next(part)) {
            discard();
            err << "\ntavrix-cli: the recording failed after " << reader.delivered()
                << " samples, nothing was kept: " << QString::fromStdString(reader.error()) << "\n";
            return kFailed;
        }
        if (!sink->write(part.data(), part.size())) {
            const std::string why = sink->error();
            discard();
            err << "\ntavrix-cli: " << QString::fromStdString(why) << "; nothing was kept\n";
            return kFailed;
        }
        const int tenths = static_cast<int>(static_cast<double>(reader.delivered()) / rate * 10);
        if (tenths != shownTenths) {
            shownTenths = tenths;
            err << "\rrecording: " << QString::number(tenths / 10.0, 'f', 1) << " s of " << seconds
                << " s" << Qt::flush;
        }
    }
    if (!sink->close()) {
        err << "\ntavrix-cli: " << QString::fromStdString(sink->error()) << "\n";
        return kFailed;
    }
    err << "\n";
    out << "Recorded " << *count << " samples (" << QString::number(*count / rate, 'f', 3)
        << " s at " << rate << " samples/s) into " << path << "\n";
    return 0;
}

} // namespace tavrix::cli
