#include "app/Tavrix.h"
#include "camera/CameraSource.h"
#include "camera/MultimediaCameraSource.h"
#include "sim/SimUsbDriver.h"

#include <QDockWidget>
#include <QVideoWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using tavrix::camera::Camera;
using tavrix::camera::CameraDeviceInfo;
using tavrix::camera::CameraSource;

namespace {

// What happened to one camera the window opened; outlives the camera itself.
struct CameraTrace {
    QByteArray id;
    QVideoWidget* view = nullptr;
    bool running = false;
    bool destroyed = false;
};

class FakeCamera final : public Camera {
public:
    explicit FakeCamera(std::shared_ptr<CameraTrace> trace) : trace_(std::move(trace)) {}
    ~FakeCamera() override {
        trace_->running = false;
        trace_->destroyed = true;
    }
    void setViewfinder(QVideoWidget* view) override { trace_->view = view; }
    void start() override { trace_->running = true; }
    void stop() override { trace_->running = false; }

private:
    std::shared_ptr<CameraTrace> trace_;
};

class FakeCameraSource final : public CameraSource {
public:
    QList<CameraDeviceInfo> availableDevices() const override { return devices; }
    std::unique_ptr<Camera> open(const QByteArray& id) override {
        opened.push_back(std::make_shared<CameraTrace>());
        opened.back()->id = id;
        return std::make_unique<FakeCamera>(opened.back());
    }

    QList<CameraDeviceInfo> devices;
    std::vector<std::shared_ptr<CameraTrace>> opened;
};

class CameraSelection : public ::testing::Test {
protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeCameraSource>();
        source = fake.get();
        source->devices = {{"cam-a", "Front Camera"}, {"cam-b", "Rear Camera"}};
        window.setCameraSource(std::move(fake));
        // The camera page sits in the control tool box, usable while streaming.
        window.setDisplayControlsEnabled(true);
    }

    // The camera the window holds now, as the fake saw it.
    const CameraTrace& current() const { return *source->opened.back(); }
    int liveCameras() const {
        int live = 0;
        for (const auto& trace : source->opened)
            live += trace->destroyed ? 0 : 1;
        return live;
    }

    sim::SimUsbDriver noBoards;
    Tavrix window{noBoards};
    FakeCameraSource* source = nullptr;
    QPushButton* status() const { return window.ui.sdrCamera_Status; }
    QComboBox* list() const { return window.ui.sdrCamera_DevicesList; }
};

} // namespace

TEST_F(CameraSelection, ListsDevicesAndSelectsOneStoppedCamera) {
    ASSERT_EQ(list()->count(), 2);
    EXPECT_EQ(list()->itemText(0), "Front Camera");
    EXPECT_EQ(list()->itemText(1), "Rear Camera");
    ASSERT_NE(window.camera, nullptr);
    EXPECT_EQ(current().id, "cam-a");
    EXPECT_EQ(current().view, window.cameraView);
    EXPECT_FALSE(current().running);
    EXPECT_EQ(liveCameras(), 1);
    EXPECT_TRUE(status()->isEnabled());
    EXPECT_FALSE(status()->isChecked());
    EXPECT_EQ(status()->text(), "DISABLED");

    // Choosing the other entry replaces the camera by a stopped one for that device.
    const auto first = source->opened.back();
    list()->setCurrentIndex(1);
    EXPECT_TRUE(first->destroyed);
    EXPECT_EQ(current().id, "cam-b");
    EXPECT_FALSE(current().running);
    EXPECT_EQ(liveCameras(), 1);
}

TEST_F(CameraSelection, StatusButtonStartsAndStopsThePictureInTheDock) {
    window.show();
    status()->click();
    EXPECT_TRUE(current().running);
    EXPECT_EQ(status()->text(), "ENABLED");
    EXPECT_EQ(window.cameraDock->widget(), window.cameraView);
    EXPECT_EQ(window.cameraDock->windowTitle(), "Front Camera");
    EXPECT_EQ(window.dockWidgetArea(window.cameraDock), Qt::LeftDockWidgetArea);

    status()->click();
    EXPECT_FALSE(current().running);
    EXPECT_FALSE(current().destroyed);
    EXPECT_EQ(status()->text(), "DISABLED");

    // A dock the user closed comes back with the next start.
    window.cameraDock->close();
    ASSERT_TRUE(window.cameraDock->isHidden());
    status()->click();
    EXPECT_FALSE(window.cameraDock->isHidden());
    EXPECT_TRUE(current().running);
}

TEST_F(CameraSelection, RefreshWhileRunningStopsAndSelectsAfresh) {
    status()->click();
    const auto running = source->opened.back();
    ASSERT_TRUE(running->running);

    window.ui.sdrCamera_RefreshDevices->click();
    EXPECT_TRUE(running->destroyed);
    EXPECT_FALSE(status()->isChecked());
    EXPECT_EQ(status()->text(), "DISABLED");
    EXPECT_TRUE(status()->isEnabled());
    EXPECT_NE(source->opened.back(), running);
    EXPECT_EQ(current().id, "cam-a");
    EXPECT_FALSE(current().running);
    EXPECT_EQ(liveCameras(), 1);
}

TEST_F(CameraSelection, RefreshFindingNoCameraReleasesTheRunningOne) {
    status()->click();
    const auto running = source->opened.back();

    source->devices.clear();
    window.ui.sdrCamera_RefreshDevices->click();
    EXPECT_TRUE(running->destroyed);
    EXPECT_FALSE(running->running);
    EXPECT_EQ(window.camera, nullptr);
    EXPECT_EQ(list()->count(), 0);
    EXPECT_FALSE(status()->isEnabled());
    EXPECT_FALSE(status()->isChecked());
    EXPECT_EQ(status()->text(), "DISABLED");

    // Nothing to start, nothing to refresh into: harmless.
    const std::size_t opened = source->opened.size();
    status()->click();
    window.setCameraStatus();
    window.ui.sdrCamera_RefreshDevices->click();
    EXPECT_EQ(window.camera, nullptr);
    EXPECT_EQ(source->opened.size(), opened);
}

TEST_F(CameraSelection, ChangingDeviceWhileShownShowsTheNewDevice) {
    status()->click();
    const auto first = source->opened.back();
    list()->setCurrentIndex(1);
    EXPECT_TRUE(first->destroyed);
    EXPECT_EQ(current().id, "cam-b");
    EXPECT_TRUE(current().running);
    EXPECT_TRUE(status()->isChecked());
    EXPECT_EQ(status()->text(), "ENABLED");
    EXPECT_EQ(window.cameraDock->windowTitle(), "Rear Camera");
}

TEST_F(CameraSelection, ChoiceFollowsTheListEvenIfDevicesChangedSinceRefresh) {
    // The front camera is unplugged after the list was filled; the user picks the rear one.
    source->devices.removeFirst();
    list()->setCurrentIndex(1);
    EXPECT_EQ(current().id, "cam-b");
}

TEST(MultimediaCameraSource, UnknownDeviceIsHarmless) {
    tavrix::camera::MultimediaCameraSource source;
    QVideoWidget view;
    auto camera = source.open("no-such-camera");
    ASSERT_NE(camera, nullptr);
    camera->setViewfinder(&view);
    camera->start();
    camera->stop();
    camera.reset();
}
