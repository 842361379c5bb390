#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "radar/RecordingPlayer.h"
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
#include <optional>
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
        QStringLiteral("Play the recording <file> (text or SigMF) with the parameters it was "
                       "recorded with; File > Close recording goes back to the boards."),
        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("speed"),
        QStringLiteral("Play the recording at <x> times its real rate (0.25 to 10, default 1)."),
        QStringLiteral("x")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("no-loop"), QStringLiteral("Play the recording once.")));
}

// The boards the window can switch between, made when first asked for: the real ones through
// libusb, and the emulated one showing the default scene or the scene file of --scene.
class Boards {
public:
    explicit Boards(std::optional<sim::Scene> scene) : scene(std::move(scene)) {}

    // Never null: a machine without USB gets a driver that finds no board.
    UsbDriver& get(bool emulated) {
        if (emulated) {
            if (!emulatedBoard)
                emulatedBoard =
                    sim::SimUsbDriver::withBoard(scene ? *scene : sim::defaultScene(), true);
            return *emulatedBoard;
        }
        if (!realBoards) {
            realBoards = std::make_unique<LibusbDriver>();
            // Without USB the driver finds no board; the window says what to do then.
            if (!realBoards->initError().empty())
                std::fprintf(stderr, "tavrix: USB is not available (%s); no board will be found.\n",
                             realBoards->initError().c_str());
        }
        return *realBoards;
    }

private:
    std::optional<sim::Scene> scene;
    std::unique_ptr<UsbDriver> emulatedBoard;
    std::unique_ptr<LibusbDriver> realBoards;
};

// The speed of --speed, or nullopt with `error` set.
std::optional<double> playbackSpeed(const QCommandLineParser& parser, std::string& error) {
    if (!parser.isSet(QStringLiteral("speed")))
        return 1.0;
    const QString text = parser.value(QStringLiteral("speed"));
    bool number = false;
    const double speed = text.toDouble(&number);
    if (!number || !(speed >= tavrix::radar::RecordingPlayer::kMinSpeed &&
                     speed <= tavrix::radar::RecordingPlayer::kMaxSpeed)) {
        error = "--speed wants a number from 0.25 to 10, not \"" + text.toStdString() + "\"";
        return std::nullopt;
    }
    return speed;
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
    const bool playing = parser.isSet(QStringLiteral("playback"));
    if (!playing &&
        (parser.isSet(QStringLiteral("speed")) || parser.isSet(QStringLiteral("no-loop")))) {
        std::fprintf(stderr, "tavrix: --speed and --no-loop go with --playback\n");
        return 1;
    }
    const std::optional<double> speed = playbackSpeed(parser, error);
    if (!speed) {
        std::fprintf(stderr, "tavrix: %s\n", error.c_str());
        return 1;
    }
    std::optional<sim::Scene> scene;
    if (parser.isSet(QStringLiteral("scene"))) {
        const std::string path = parser.value(QStringLiteral("scene")).toStdString();
        scene = sim::loadSceneFile(path, &error);
        if (!scene) {
            std::fprintf(stderr, "tavrix: %s\n", error.c_str());
            return 1;
        }
    }
    const bool emulated = scene || parser.isSet(QStringLiteral("simulate"));
    Boards boards(scene);
    Tavrix window(boards.get(emulated));
    window.setAcquisitionOnWorker(true);
    window.setBoardProvider([&boards](bool wanted) -> UsbDriver& { return boards.get(wanted); },
                            emulated);
    // Remembered first, so that a recording opened now joins the recent ones.
    QSettings settings;
    const bool restored = window.rememberStateIn(&settings);
    if (playing) {
        const QString path = parser.value(QStringLiteral("playback"));
        const QString problem = window.openRecording(path);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "tavrix: %s\n", problem.toLocal8Bit().constData());
            return 1;
        }
        window.playback->setSpeed(*speed);
        window.playback->setLoop(!parser.isSet(QStringLiteral("no-loop")));
    }
    if (restored)
        window.show(); // as it was left, maximised or not
    else
        window.showMaximized();
    return app.exec();
}
