#include "app/DetectionsDock.h"
#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "device/RadarDevice.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QTimer>

namespace {

constexpr int kOperatingParametersPage = 0;
constexpr int kCameraControlsPage = 4;

// Gives the logged-in user the controller's default identity, as the packaged rule does.
constexpr const char* kUdevRuleCommand =
    "echo 'SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"04b4\", "
    "ATTR{idProduct}==\"8613\", TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/60-tavrix.rules "
    "&& sudo udevadm control --reload-rules && sudo udevadm trigger";

} // namespace

void Tavrix::setDisplayControlsEnabled(bool on) {
    ui.groupBox_3->setEnabled(on);
    ui.DisplayProperties->setEnabled(on);
}

void Tavrix::on_buttonRefreshDeviceList_clicked() {
    if (refreshDeviceList() > 0)
        return;
    // Said when the user asks (or at start-up); after a failure its own message stays.
    if (radarDevice->deniedBoards > 0)
        statusBar()->showMessage(
            tr("A radar board is connected, but this user may not open it. Install the udev "
               "rule once, then plug the board in again: %1")
                .arg(QString::fromLatin1(kUdevRuleCommand)));
    else
        statusBar()->showMessage(
            tr("No radar board found: check its USB cable and power, then press "
               "\"Refresh\". To try Tavrix without a board: tavrix --simulate"));
}

std::int32_t Tavrix::refreshDeviceList() {
    // The worker's device is rebuilt under it: it reads again once the list is made, and
    // fails as a read on a stale device would.
    ui.comboDevices->clear();
    if (playback != nullptr) {
        // The recording stands in for the board until it is closed.
        ui.comboDevices->addItem(tr("Recording: %1").arg(playback->fileName()));
        ui.buttonActivateDevice->setEnabled(true);
        return 1;
    }
    const bool onWorker = worker && worker->Running();
    stopWorker();
    const std::int32_t boards = radarDevice->EnumerateDevices();
    if (onWorker)
        worker->Start(publishedSettings, settingsGeneration);
    if (boards < 1) {
        ui.buttonActivateDevice->setEnabled(false);
        ui.comboDevices->addItem(QStringLiteral("No Devices Found"));
        return boards;
    }
    for (std::int32_t i = 0; i < boards; ++i)
        ui.comboDevices->addItem(QStringLiteral("Velmora USB SDR"));
    ui.buttonActivateDevice->setEnabled(true);
    return boards;
}

void Tavrix::on_buttonActivateDevice_clicked() {
    if (ui.buttonActivateDevice->isChecked())
        activate();
    else
        deactivate();
}

void Tavrix::activate() {
    ui.DisplayProperties->setCurrentIndex(kOperatingParametersPage);
    setDisplayControlsEnabled(true);

    if (playback != nullptr) {
        UpdateOperatingParameters(); // a recording takes no command block
        startStreaming();
        statusBar()->showMessage(tr("Playing %1").arg(playback->fileName()));
        return;
    }

    radarDevice->interfaceReady = radarDevice->SetInterface() ? 1 : 0;
    if (radarDevice->interfaceReady != 1) {
        failActivation(QStringLiteral("Error: Interface cound not be set!"));
        return;
    }
    radarDevice->outEndpoint = radarDevice->FindEndpoint(kCommandEndpoint);
    if (radarDevice->outEndpoint == 0) {
        failActivation(QStringLiteral("Error: Could not find endpoint 2!"));
        return;
    }
    radarDevice->inEndpoint = radarDevice->FindEndpoint(kSampleEndpoint);
    if (radarDevice->inEndpoint == 0) {
        failActivation(QStringLiteral("Error: Could not find endpoint 6!"));
        return;
    }

    if (!UpdateFirmware()) {
        statusBar()->showMessage(QStringLiteral("Error: Firmware Update Failed!"));
        abandonActivation();
        return;
    }
    statusBar()->showMessage(QStringLiteral("Success: Firmware Update Complete!"));

    if (!UpdateOperatingParameters()) {
        statusBar()->showMessage(QStringLiteral("Error: Unable to set operating parameters"));
        abandonActivation();
        return;
    }
    statusBar()->showMessage(QStringLiteral("New operating parameters set"));
    startStreaming();
    statusBar()->showMessage(QStringLiteral("Device Streaming..."));
}

void Tavrix::startStreaming() {
    // One timer serves every activation, so a second one can never run beside it.
    if (acquisitionTimer == nullptr) {
        acquisitionTimer = new QTimer(this);
        connect(acquisitionTimer, &QTimer::timeout, this, &Tavrix::ReadStream);
    }
    acquisitionTimer->start(static_cast<int>(updateIntervalMs));
    UpdateDisplayParameters();
    startWorker();
}

// Interface or endpoint missing: the button goes back to unchecked.
void Tavrix::failActivation(const QString& message) {
    ui.buttonActivateDevice->setChecked(false);
    statusBar()->showMessage(message);
    refreshDeviceList();
    setDisplayControlsEnabled(false);
}

// Program or parameters refused: the button stays checked, so the next click deactivates.
void Tavrix::abandonActivation() {
    refreshDeviceList();
    setDisplayControlsEnabled(false);
}

void Tavrix::deactivate() {
    if (acquisitionTimer != nullptr)
        acquisitionTimer->stop();
    stopWorker();
    detectionsDock->show({}); // the targets of a stream that has ended
    statusBar()->showMessage(QStringLiteral("Device disabled"));
    setDisplayControlsEnabled(false);
    ui.DisplayProperties->setCurrentIndex(kCameraControlsPage);
}

void Tavrix::on_spinBoxPUpdateRate_valueChanged(int value) {
    updateIntervalMs = static_cast<std::uint32_t>(value);
    // A running stream changes pace without stopping.
    if (ui.buttonActivateDevice->isChecked() && acquisitionTimer != nullptr)
        acquisitionTimer->setInterval(value);
}

void Tavrix::ReadStream() {
    if (playback != nullptr)
        playback->beforeTick();
    QElapsedTimer clock;
    clock.start();
    const std::uint64_t stopsBefore = acquisitionStops;
    const std::uint64_t drawnBefore = framesDrawn;

    // One chain per tick, chosen by the operating mode (and, in FMCW sawtooth, by the display
    // mode); FMCW triangle has none.
    switch (
        tavrix::radar::ChainFor(static_cast<int>(operatingMode), static_cast<int>(displayMode))) {
    case tavrix::radar::Chain::FmcwRange:
        ProcessFmcwRange();
        break;
    case tavrix::radar::Chain::FmcwRangeVelocity:
        ProcessFmcwRangeVelocity();
        break;
    case tavrix::radar::Chain::Fsk:
        ProcessFsk();
        break;
    case tavrix::radar::Chain::Cw:
        ProcessCwVelocity();
        break;
    case tavrix::radar::Chain::None:
        break;
    }

    // A chain that stopped the stream has said why; the cycle time must not hide it.
    if (acquisitionStops != stopsBefore)
        return;
    const bool onWorker = worker && worker->Running();
    // On the worker, the time is the drawn frame's read and processing, shown when one was.
    if (onWorker && framesDrawn == drawnBefore)
        return;
    const double seconds =
        onWorker ? lastFrameSeconds : static_cast<double>(clock.nsecsElapsed() / 1000) / 1e6;
    QString message =
        QStringLiteral("Update Time: ") + QString::number(seconds, 'g', 6) + QStringLiteral(" s");
    if (onWorker) {
        const tavrix::radar::CaptureHealth health = worker->Health();
        message += tr(" | %1 sweeps, %2 lost, %3 re-syncs")
                       .arg(health.sweepsReceived)
                       .arg(health.sweepsLost)
                       .arg(health.resyncs);
    }
    if (playback != nullptr)
        message += playback->tickSuffix();
    statusBar()->showMessage(message);
}

void Tavrix::stopAcquisition(const QString& message) {
    ++acquisitionStops;
    if (acquisitionTimer != nullptr)
        acquisitionTimer->stop();
    stopWorker();
    detectionsDock->show({});
    ui.buttonActivateDevice->setChecked(false);
    statusBar()->showMessage(message);
    refreshDeviceList();
    setDisplayControlsEnabled(false);
}
