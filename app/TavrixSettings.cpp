#include "app/DetectionsDock.h"
#include "app/Tavrix.h"

#include <QCloseEvent>
#include <QDockWidget>
#include <QMenuBar>
#include <QSettings>

namespace {

const QString kGeometry = QStringLiteral("window/geometry");
const QString kLayout = QStringLiteral("window/layout");
const QString kRecordingFolder = QStringLiteral("folders/recordings");
const QString kExportFolder = QStringLiteral("folders/exports");
const QString kDeviceModel = QStringLiteral("device/model");
const QString kCamera = QStringLiteral("camera/device");
const QString kRecordingFormat = QStringLiteral("recording/format");

} // namespace

void Tavrix::addLayoutMenu() {
    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* reset = view->addAction(tr("Reset layout"), this, &Tavrix::resetLayout);
    reset->setObjectName(QStringLiteral("actionResetLayout"));
    // Taken before anything is restored: what "Reset layout" goes back to.
    originalLayout = saveState();
}

bool Tavrix::rememberStateIn(QSettings* store) {
    settings = store;
    if (!settings)
        return false;
    const bool known = settings->contains(kGeometry);
    restoreGeometry(settings->value(kGeometry).toByteArray());
    restoreState(settings->value(kLayout).toByteArray());
    recordingFolder = settings->value(kRecordingFolder).toString();
    exportFolder = settings->value(kExportFolder).toString();
    // The operating and display controls keep their documented start-up values; the board's
    // model and the camera are facts of the user's bench.
    bool ok = false;
    const int model = settings->value(kDeviceModel).toInt(&ok);
    if (ok && model >= 0 && model < ui.device_centerFrequency->count())
        ui.device_centerFrequency->setCurrentIndex(model);
    detectionsDock->restore(*settings);
    const int format = settings->value(kRecordingFormat, 0).toInt();
    if (format >= 0 && format < ui.recordFormat->count())
        ui.recordFormat->setCurrentIndex(format);
    const int camera = ui.sdrCamera_DevicesList->findData(settings->value(kCamera).toByteArray());
    if (camera >= 0)
        ui.sdrCamera_DevicesList->setCurrentIndex(camera);
    return known;
}

void Tavrix::storeState() {
    if (!settings)
        return;
    settings->setValue(kGeometry, saveGeometry());
    settings->setValue(kLayout, saveState());
    settings->setValue(kRecordingFolder, recordingFolder);
    settings->setValue(kExportFolder, exportFolder);
    settings->setValue(kDeviceModel, ui.device_centerFrequency->currentIndex());
    settings->setValue(kCamera, ui.sdrCamera_DevicesList->currentData().toByteArray());
    settings->setValue(kRecordingFormat, ui.recordFormat->currentIndex());
    detectionsDock->store(*settings);
    settings->sync();
}

void Tavrix::resetLayout() {
    restoreState(originalLayout);
    ui.dockWidget_Controls->show();
    showMaximized();
}

void Tavrix::closeEvent(QCloseEvent* event) {
    storeState();
    QMainWindow::closeEvent(event);
}
