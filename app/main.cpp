#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"
#include "usb/libusb/LibusbDriver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

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
}

// Real boards through libusb unless an emulated board was asked for. Null, with `error`
// set, when the scene file cannot be used.
std::unique_ptr<UsbDriver> makeDriver(const QCommandLineParser& parser, std::string& error) {
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

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Tavrix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIX_VERSION));

    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(app); // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);

    std::string error;
    const std::unique_ptr<UsbDriver> driver = makeDriver(parser, error);
    if (!driver) {
        std::fprintf(stderr, "tavrix: %s\n", error.c_str());
        return 1;
    }

    Tavrix window(*driver);
    window.showMaximized();
    return app.exec();
}
