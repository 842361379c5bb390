#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "sim/PlaybackSource.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Drives Velmora USB radar boards and shows what they measure."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("simulate"),
        QStringLiteral("Run on the emulated radar board with its default scene instead of "
                       "real boards.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("scene"),
        QStringLiteral("Run on the emulated radar board showing the scene of <file> (JSON)."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("playback"),
        QStringLiteral("Run on the emulated radar board playing the recording <file> (text "
                       "or SigMF), with the parameters it was recorded with."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("speed"),
        QStringLiteral("Play the recording at <x> times its real rate (0.25 to 10, default 1)."),
        QStringLiteral("x")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("no-loop"), QStringLiteral("Play the recording once.")));
}

// The recording of --playback, ready for a board on `clock`. Null, with `error` set, when
// the options or the file cannot be used.
std::shared_ptr<sim::PlaybackSource> loadPlayback(const QCommandLineParser& parser,
                                                  std::shared_ptr<const sim::BoardClock> clock,
                                                  std::string& error) {
    sim::PlaybackOptions options;
    options.loop = !parser.isSet(QStringLiteral("no-loop"));
    if (parser.isSet(QStringLiteral("speed"))) {
        const QString text = parser.value(QStringLiteral("speed"));
        bool number = false;
        options.speed = text.toDouble(&number);
        if (!number) {
            error = "--speed wants a number from 0.25 to 10, not \"" + text.toStdString() + "\"";
            return nullptr;
        }
    }
    const std::string path = parser.value(QStringLiteral("playback")).toStdString();
    return sim::PlaybackSource::load(path, options, std::move(clock), &error);
}

// Real boards through libusb unless an emulated board was asked for. Null, with `error`
// set, when the options, the scene file or the recording cannot be used; `playback` is set
// when the board plays a recording.
std::unique_ptr<UsbDriver> makeDriver(const QCommandLineParser& parser, std::string& error,
                                      std::shared_ptr<sim::PlaybackSource>& playback) {
    const bool playing = parser.isSet(QStringLiteral("playback"));
    if (!playing &&
        (parser.isSet(QStringLiteral("speed")) || parser.isSet(QStringLiteral("no-loop")))) {
        error = "--speed and --no-loop go with --playback";
        return nullptr;
    }
    if (playing) {
        if (parser.isSet(QStringLiteral("scene")) || parser.isSet(QStringLiteral("simulate"))) {
            error = "--playback cannot be combined with --scene or --simulate";
            return nullptr;
        }
        auto clock = std::make_shared<sim::WallClock>();
        playback = loadPlayback(parser, clock, error);
        if (!playback)
            return nullptr;
        return sim::SimUsbDriver::withBoard(playback, clock);
    }
    if (parser.isSet(QStringLiteral("scene"))) {
        const std::string path = parser.value(QStringLiteral("scene")).toStdString();
        const std::optional<sim::Scene> scene = sim::loadSceneFile(path, &error);
        if (!scene)
            return nullptr;
        return sim::SimUsbDriver::withBoard(*scene, true);
    }
    if (parser.isSet(QStringLiteral("simulate")))
        return sim::SimUsbDriver::withBoard(sim::defaultScene(), true);
    auto usb = std::make_unique<LibusbDriver>();
    if (!usb->initError().empty())
        std::fprintf(stderr, "tavrix: USB is not available (%s); no board will be found.\n",
                     usb->initError().c_str());
    return usb;
}

// Help and version are answered before any window system is needed, so they work on a
// machine without a display.
bool asksForTextOnly(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// Without a display Qt aborts with a long plugin message; say what to do instead.
bool hasDisplay(int argc, char* argv[]) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Tavrix"));
    QCoreApplication::setApplicationName(QStringLiteral("Tavrix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));

    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(app); // prints and exits
        return 0;
    }

    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr, "tavrix: no display found (DISPLAY is not set). To run on a virtual "
                             "display:\n  xvfb-run -a tavrix --simulate\n");
        return 2;
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);

    std::string error;
    std::shared_ptr<sim::PlaybackSource> playback;
    const std::unique_ptr<UsbDriver> driver = makeDriver(parser, error, playback);
    if (!driver) {
        std::fprintf(stderr, "tavrix: %s\n", error.c_str());
        return 1;
    }

    Tavrix window(*driver);
    window.setAcquisitionOnWorker(true);
    if (playback) {
        const QString problem = TavrixPlayback::attach(window, playback);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "tavrix: cannot play %s: %s\n", playback->path().c_str(),
                         problem.toLocal8Bit().constData());
            return 1;
        }
    }
    QSettings settings;
    if (window.rememberStateIn(&settings))
        window.show(); // as it was left, maximised or not
    else
        window.showMaximized();
    return app.exec();
}
