#include "app/Tavrix.h"

#include <QDockWidget>
#include <QSignalBlocker>
#include <QVideoWidget>

void Tavrix::setCameraSource(std::unique_ptr<tavrix::camera::CameraSource> source) {
    // The current camera came from the old source.
    camera.reset();
    cameraSource = std::move(source);
    refreshCameraDevices();
}

void Tavrix::refreshCameraDevices() {
    ui.sdrCamera_Status->setChecked(false);
    ui.sdrCamera_Status->setText(tr("DISABLED"));
    {
        // Rebuilt silently, so that exactly one camera is selected below.
        const QSignalBlocker quiet(ui.sdrCamera_DevicesList);
        ui.sdrCamera_DevicesList->clear();
        for (const tavrix::camera::CameraDeviceInfo& device : cameraSource->availableDevices())
            ui.sdrCamera_DevicesList->addItem(device.description, device.id);
    }
    setActiveCamera();
}

void Tavrix::setActiveCamera() {
    // The previous camera goes in every case: one left behind when no device remains would
    // go on capturing with its button disabled, out of the user's reach.
    camera.reset();

    QComboBox* list = ui.sdrCamera_DevicesList;
    if (list->currentIndex() < 0) {
        ui.sdrCamera_Status->setChecked(false);
        ui.sdrCamera_Status->setText(tr("DISABLED"));
        ui.sdrCamera_Status->setEnabled(false);
        return;
    }
    ui.sdrCamera_Status->setEnabled(true);

    // Opened by the id listed at the last refresh, so that a camera plugged or unplugged
    // since then cannot shift the choice to another device.
    camera = cameraSource->open(list->currentData().toByteArray());
    camera->setViewfinder(cameraView);

    // A device chosen while the picture is on is shown at once: that is what the checked
    // "ENABLED" button promises.
    if (ui.sdrCamera_Status->isChecked()) {
        cameraDock->setWindowTitle(list->currentText());
        camera->start();
    }
}

void Tavrix::setCameraStatus() {
    if (!camera)
        return;
    if (ui.sdrCamera_Status->isChecked()) {
        if (cameraDock->widget() != cameraView)
            cameraDock->setWidget(cameraView);
        addDockWidget(Qt::LeftDockWidgetArea, cameraDock);
        // Docking again does not undo the user's close.
        cameraDock->show();
        cameraDock->setWindowTitle(ui.sdrCamera_DevicesList->currentText());
        camera->start();
        ui.sdrCamera_Status->setText(tr("ENABLED"));
    } else {
        camera->stop();
        ui.sdrCamera_Status->setText(tr("DISABLED"));
    }
}
