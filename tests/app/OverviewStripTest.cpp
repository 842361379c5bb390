// The overview strip: where a click sends playback, and which way round it draws the image.

#include "app/OverviewStrip.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void dragTo(QWidget& widget, int x) {
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 30), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&widget, &move);
}

double lastSeek(const QSignalSpy& spy) {
    return spy.isEmpty() ? -1.0 : spy.last().at(0).toDouble();
}

} // namespace

TEST(OverviewStrip, ClickAndDragAskForTheTimeUnderTheMouseWithinTheRecording) {
    OverviewStrip strip;
    strip.resize(500, OverviewStrip::kHeight);
    QSignalSpy seek(&strip, &OverviewStrip::seekRequested);

    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(125, 30));
    EXPECT_TRUE(seek.isEmpty()) << "no recording, nowhere to go";

    strip.setDuration(100.0);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(125, 30));
    ASSERT_EQ(seek.count(), 1);
    EXPECT_DOUBLE_EQ(lastSeek(seek), 25.0);
    QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(10, 30));
    dragTo(strip, 700);
    EXPECT_DOUBLE_EQ(lastSeek(seek), 100.0);
    dragTo(strip, -20);
    EXPECT_DOUBLE_EQ(lastSeek(seek), 0.0);
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(0, 30));

    // Without a duration the image's length is the axis.
    strip.clear();
    tavrix::radar::OverviewImage image;
    image.columns = 2;
    image.bins = 2;
    image.values = {0, 0, 0, 0};
    image.totalSeconds = 50.0;
    strip.setImage(image);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(400, 30));
    EXPECT_DOUBLE_EQ(lastSeek(seek), 40.0);
}

TEST(OverviewStrip, DrawsTimeLeftToRightAndTheFirstBinAtTheBottom) {
    // Noise at -100 dB, and a strong echo in the last quarter of the time at the last tenth
    // of the bins.
    tavrix::radar::OverviewImage image;
    image.columns = 100;
    image.bins = 100;
    image.totalSeconds = 10.0;
    image.values.assign(100 * 100, -100.0f);
    for (std::size_t c = 75; c < 100; ++c)
        for (std::size_t b = 90; b < 100; ++b)
            image.values[c * 100 + b] = 0.0f;
    OverviewStrip strip;
    strip.resize(400, OverviewStrip::kHeight);
    strip.setImage(image);
    const QImage shown = strip.grab().toImage();

    EXPECT_GT(qRed(shown.pixel(390, 2)), 200) << "the echo, top right";
    EXPECT_LT(qRed(shown.pixel(390, 65)), 60) << "bottom right";
    EXPECT_LT(qRed(shown.pixel(10, 2)), 60) << "top left";
}
