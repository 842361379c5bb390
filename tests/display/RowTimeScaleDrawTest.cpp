#include "display/RowTimeScaleDraw.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <limits>

namespace {

QString Label(const RowTimeScaleDraw& draw, double value) {
    return draw.label(value).text();
}

} // namespace

// Ticks name the row they stand on; rows without a time, and values off the rows, stay bare.
TEST(RowTimeScaleDraw, RecordingTimesInSecondsOrMinutes) {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    RowTimeScaleDraw draw;
    draw.SetRowTimes({12.345, 7.5, kNone}, true);
    EXPECT_EQ(Label(draw, 0.0), "12.345 s");
    EXPECT_EQ(Label(draw, 1.0 - 1e-12), "7.500 s");
    EXPECT_EQ(Label(draw, 1.5), "7.500 s");
    for (double bare : {2.0, 3.0, -1.0})
        EXPECT_EQ(Label(draw, bare), "") << bare;

    // An axis reaching a minute reads minutes throughout.
    draw.SetRowTimes({65.34, 59.96, 3.0}, true);
    EXPECT_EQ(Label(draw, 0.0), "1:05.3");
    EXPECT_EQ(Label(draw, 1.0), "1:00.0");
    EXPECT_EQ(Label(draw, 2.0), "0:03.0");
    EXPECT_EQ(RowTimeScaleDraw::Title(true), "Recording time (s)");
}

TEST(RowTimeScaleDraw, ClockTimesInLocalTime) {
    const QDateTime taken(QDate(2021, 6, 1), QTime(13, 4, 5, 700), Qt::LocalTime);
    RowTimeScaleDraw draw;
    draw.SetRowTimes({static_cast<double>(taken.toMSecsSinceEpoch()) / 1e3}, false);
    EXPECT_EQ(Label(draw, 0.0), "13:04:05");
    EXPECT_EQ(RowTimeScaleDraw::Title(false), "Time");
}
