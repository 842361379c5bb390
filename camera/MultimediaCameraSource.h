#pragma once

#include "camera/CameraSource.h"

namespace tavrix::camera {

// The cameras that Qt Multimedia finds.
class MultimediaCameraSource final : public CameraSource {
public:
    QList<CameraDeviceInfo> availableDevices() const override;
    std::unique_ptr<Camera> open(const QByteArray& id) override;
};

} // namespace tavrix::camera
