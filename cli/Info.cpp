#include "cli/Commands.h"
#include "cli/Options.h"
#include "device/DeviceModels.h"
#include "device/RadarDevice.h"
#include "usb/libusb/LibusbDriver.h"

namespace tavrix::cli {

int Info(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    if (const auto done = Parse(parser,
                                QStringLiteral("tavrix-cli info: the radar boards found on USB "
                                               "and the device models with their choices."),
                                arguments, out, err))
        return *done;

    LibusbDriver driver;
    if (!driver.initError().empty())
        err << "tavrix-cli: USB is not available (" << QString::fromStdString(driver.initError())
            << "); no board can be found\n";
    RadarDevice device(driver);
    const std::int32_t boards = device.EnumerateDevices();
    out << "Radar boards: " << boards << "\n";
    for (int i = 0; i < driver.countDevices(); ++i)
        out << "  " << QString::fromStdString(driver.devicePath(i)) << "\n";
    if (device.deniedBoards > 0)
        out << "  " << device.deniedBoards
            << " more that this user may not open (install the udev rule, see tavrix(1))\n";

    out << "\nDevice models (--model), carrier, bandwidths (--bandwidth, MHz), sweep times "
           "(--sweep-ms):\n";
    for (int m = 0; m < kDeviceModelCount; ++m) {
        const DeviceModel& model = deviceModel(m);
        QStringList bandwidths;
        for (double b : model.bandwidthHz)
            bandwidths << QString::number(b / 1e6);
        QStringList sweeps;
        for (int code = 0; code < 4; ++code)
            sweeps << QString::number(SweepTimeSeconds(model, code) * 1e3);
        out << "  " << QString::fromLatin1(model.name).leftJustified(8) << " "
            << QString::number(model.carrierHz / 1e9) << " GHz  bandwidth "
            << bandwidths.join(QLatin1Char('/')) << "  sweep " << sweeps.join(QLatin1Char('/'))
            << (model.sweepStartsAtCarrier ? "  (sweeps up from the carrier)" : "") << "\n";
    }
    out << "\nSamples per sweep (--samples): 128/256/512/1024. Modes (--mode): fmcw, fsk, cw.\n";
    return 0;
}

} // namespace tavrix::cli
