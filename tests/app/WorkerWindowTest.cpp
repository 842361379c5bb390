// The window with acquisition on its worker: controls reach the worker as settings, its
// frames reach the plots through the display timer, failures stop streaming with the chain's
// message, and unchecking "Activate" ends the worker. Run under ThreadSanitizer as well.

#include "app/Tavrix.h"
#include "app/TavrixPlayback.h"
#include "display/Waterfall.h"
#include "record/RecordingFormat.h"
#include "record/RecordingWriter.h"
#include "sim/SimUsbDriver.h"

#include <QApplication>
#include <QMimeData>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <qwt_plot_curve.h>

#include <functional>

namespace {

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}
// Lets the display timer run until `done`; the test's time-out ends a wait in vain.
void until(const std::function<bool()>& done) {
    while (!done())
        QTest::qWait(5);
}
std::string status(const Tavrix& window) {
    return window.statusBar()->currentMessage().toStdString();
}

} // namespace

TEST(WorkerWindow, FramesAreDrawnFollowTheControlsAndAShortReadStopsTheStream) {
    sim::SimUsbDriver driver;
    driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                                       std::make_shared<sim::VirtualClock>()));
    Tavrix window(driver);
    window.setAcquisitionOnWorker(true);
    click(window.ui.buttonActivateDevice);
    ASSERT_TRUE(window.worker && window.worker->Running());
    until([&] { return window.curveBottom && window.curveBottom->dataSize() == 513; });
    until([&] { return status(window).rfind("Update Time: ", 0) == 0; });
    EXPECT_NE(status(window).find(" sweeps, 0 lost, 0 re-syncs"), std::string::npos)
        << status(window);

    // Another display mode is another chain: the map fills the waterfall.
    click(window.ui.radioSpectrumDisplay_3);
    ASSERT_EQ(window.displayMode, 3u);
    until([&] {
        const std::vector<double> history =
            window.waterfall ? window.waterfall->History() : std::vector<double>();
        return std::any_of(history.begin(), history.end(), [](double v) { return v != 0; });
    });
    click(window.ui.buttonActivateDevice);
    EXPECT_FALSE(window.worker->Running());
    EXPECT_FALSE(window.acquisitionTimer->isActive());

    // A board that ends its reads early: the worker's failure stops the stream.
    driver.board(0).faults.shortRead = 4096;
    click(window.ui.buttonActivateDevice);
    until([&] { return !window.ui.buttonActivateDevice->isChecked(); });
    EXPECT_EQ(status(window), "Error: Did not receive the proper number of samples.");
    EXPECT_FALSE(window.worker->Running());
    EXPECT_FALSE(window.ui.DisplayProperties->isEnabled());
}

TEST(WorkerPlayback, ADroppedRecordingPlaysPausesAndSeeksThroughTheWorker) {
    // Two seconds of FMCW sweeps, 128 samples of 0.5 ms on the first model.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("played.dat"));
    std::vector<std::complex<double>> samples;
    for (int i = 0; i < 4000 * 128; ++i)
        samples.emplace_back(32000 + 900 * ((i * 7) % 13), 16000 + 700 * ((i * 5) % 11));
    std::string error;
    ASSERT_TRUE(tavrix::record::writeRecording(
        path.toStdString(), tavrix::record::headerForMode(0, 2.45e9, 0.5, 128, 1e8), samples,
        error))
        << error;
    sim::SimUsbDriver driver; // no board at all
    Tavrix window(driver);
    window.setAcquisitionOnWorker(true);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    // A drop goes where the drag was let in.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    ASSERT_NE(window.playback, nullptr) << status(window);
    ASSERT_TRUE(window.worker && window.worker->Running());
    until([&] { return status(window).find(" | Playback ") != std::string::npos; });

    // Paused, a seek shows the frame there: frames from before it are not drawn after it.
    window.playback->setPaused(true);
    window.playback->seekTo(1.5);
    until([&] { return window.frameTime.inRecording && window.frameTime.seconds == 1.5; });
    EXPECT_EQ(window.recentRecordings().value(0), path);

    window.closeRecording();
    EXPECT_EQ(window.playback, nullptr);
    EXPECT_FALSE(window.worker && window.worker->Running());
}
