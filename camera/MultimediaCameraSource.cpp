#include "camera/MultimediaCameraSource.h"

#include <QCamera>
#include <QCameraInfo>

namespace tavrix::camera {

namespace {

class MultimediaCamera final : public Camera {
public:
    explicit MultimediaCamera(const QByteArray& id) : camera_(id) {}
    void setViewfinder(QVideoWidget* view) override { camera_.setViewfinder(view); }
    void start() override { camera_.start(); }
    void stop() override { camera_.stop(); }

private:
    QCamera camera_;
};

} // namespace

QList<CameraDeviceInfo> MultimediaCameraSource::availableDevices() const {
    QList<CameraDeviceInfo> devices;
    for (const QCameraInfo& info : QCameraInfo::availableCameras())
        devices.append({info.deviceName().toLatin1(), info.description()});
    return devices;
}

std::unique_ptr<Camera> MultimediaCameraSource::open(const QByteArray& id) {
    return std::make_unique<MultimediaCamera>(id);
}

} // namespace tavrix::camera
