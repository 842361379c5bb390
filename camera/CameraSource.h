#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QVideoWidget;

namespace tavrix::camera {

struct CameraDeviceInfo {
    QByteArray id;       // what open() takes
    QString description; // what the user sees
};

// One opened camera. Destroying it ends its capture.
class Camera {
public:
    virtual ~Camera();
    virtual void setViewfinder(QVideoWidget* view) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
};

// The cameras attached to the computer. The window talks only to this, so that the
// selection logic can be exercised without camera hardware.
class CameraSource {
public:
    virtual ~CameraSource();
    virtual QList<CameraDeviceInfo> availableDevices() const = 0;
    // A camera for `id`, not started; never null (a camera that cannot be opened simply
    // delivers no picture).
    virtual std::unique_ptr<Camera> open(const QByteArray& id) = 0;
};

} // namespace tavrix::camera
