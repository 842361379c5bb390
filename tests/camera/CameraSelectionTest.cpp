// The camera opened is the one chosen, one at a time, and having none at all is harmless.
#include "app/Tavrix.h"
#include "camera/MultimediaCameraSource.h"
#include "sim/SimUsbDriver.h"

#include <gtest/gtest.h>

namespace {

using namespace tavrix::camera;

struct FakeSource final : CameraSource {
    QList<CameraDeviceInfo> availableDevices() const override { return devices; }
    std::unique_ptr<Camera> open(const QByteArray& camera) override;
    QList<CameraDeviceInfo> devices{{"cam-a", "Front Camera"}, {"cam-b", "Rear Camera"}};
    QByteArray id; // of the newest camera
    bool running = false;
    int alive = 0, opened = 0;
};

struct FakeCamera final : Camera {
    explicit FakeCamera(FakeSource& s) : s(s) { ++s.alive, ++s.opened; }
    ~FakeCamera() override { --s.alive; }
    void setViewfinder(QVideoWidget*) override {}
    void start() override { s.running = true; }
    void stop() override { s.running = false; }
    FakeSource& s;
};

std::unique_ptr<Camera> FakeSource::open(const QByteArray& camera) {
    id = camera;
    running = false;
    return std::make_unique<FakeCamera>(*this);
}

} // namespace

TEST(CameraSelection, OpensOnlyTheChosenCameraAndSurvivesNone) {
    sim::SimUsbDriver noBoards;
    Tavrix window{noBoards};
    FakeSource& s = *new FakeSource;
    window.setCameraSource(std::unique_ptr<FakeSource>(&s));
    window.setDisplayControlsEnabled(true); // the camera page is usable while streaming
    EXPECT_EQ(s.id, "cam-a");
    window.ui.sdrCamera_Status->click();
    EXPECT_TRUE(s.running);
    // Another entry while shown: that camera, by the id listed although the first camera
    // went since the list was filled, shown at once.
    s.devices.removeFirst();
    window.ui.sdrCamera_DevicesList->setCurrentIndex(1);
    EXPECT_EQ(s.id, "cam-b");
    EXPECT_TRUE(s.running);
    // A refresh stops the picture; after one that finds no camera nothing opens one.
    window.ui.sdrCamera_RefreshDevices->click();
    EXPECT_FALSE(s.running);
    EXPECT_EQ(s.alive, 1);
    s.devices.clear();
    window.ui.sdrCamera_RefreshDevices->click();
    window.setCameraStatus();
    EXPECT_EQ(s.alive, 0);
    EXPECT_EQ(s.opened, 3);
    // The real source's camera of a device that went: no picture, no harm.
    const auto camera = MultimediaCameraSource().open("no-such-camera");
    camera->setViewfinder(window.cameraView);
    camera->start();
    camera->stop();
}
