#include "camera/CameraSource.h"

namespace tavrix::camera {

Camera::~Camera() = default;
CameraSource::~CameraSource() = default;

} // namespace tavrix::camera
