#include "record/RecordingFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace tavrix::record;

namespace {

std::int64_t countFor(double seconds, std::uint32_t samplesPerSweep, double sweepTimeMs) {
    const double sampleRate = samplesPerSweep / (sweepTimeMs / 1000.0);
    return recordedSampleCount(seconds, sampleRate, samplesPerSweep).value_or(-1);
}

} // namespace

TEST(RecordedSampleCount, CoversTheDurationWithWholeSweeps) {
    EXPECT_EQ(countFor(15, 1024, 1), 15360000);
    EXPECT_EQ(countFor(1, 128, 10), 12800);
    EXPECT_EQ(countFor(1, 1024, 0.5), 2048000);
    // Not a whole number of sweeps: rounds up to the next sweep, never down.
    EXPECT_EQ(recordedSampleCount(1.0, 1000.0, 128), 1024);
    EXPECT_EQ(recordedSampleCount(0.001, 1024000.0, 1024), 1024);
    // Counts beyond 32 bits (a million seconds at the highest rate) stay exact.
    EXPECT_EQ(countFor(1000000, 1024, 0.5), 2048000000000LL);
}

TEST(RecordedSampleCount, RefusesAbsurdInput) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    EXPECT_FALSE(recordedSampleCount(0, 1024000, 1024));
    EXPECT_FALSE(recordedSampleCount(-1, 1024000, 1024));
    EXPECT_FALSE(recordedSampleCount(1, 0, 1024));
    EXPECT_FALSE(recordedSampleCount(1, 1024000, 0));
    EXPECT_FALSE(recordedSampleCount(nan, 1024000, 1024));
    EXPECT_FALSE(recordedSampleCount(1, nan, 1024));
    EXPECT_FALSE(recordedSampleCount(inf, 1024000, 1024));
    EXPECT_FALSE(recordedSampleCount(1e300, 1024000, 1024));
    EXPECT_FALSE(recordedSampleCount(1e12, 1024000, 1024));
}

TEST(HeaderForMode, CarriesTheModeValue) {
    const auto saw = headerForMode(0, 24e9, 1.0, 1024, 250e6);
    ASSERT_TRUE(saw);
    EXPECT_EQ(saw->modeValue, 250e6);
    EXPECT_EQ(saw->samplesPerSweep, 1024);
    EXPECT_EQ(headerForMode(2, 24e9, 1.0, 1024, 250e6)->modeValue, 6000000.0);
    EXPECT_EQ(headerForMode(3, 24e9, 1.0, 1024, 250e6)->modeValue, 0.0);
    EXPECT_FALSE(headerForMode(1, 24e9, 1.0, 1024, 250e6));
    EXPECT_FALSE(headerForMode(7, 24e9, 1.0, 1024, 250e6));
}

TEST(DefaultRecordingName, IsTheLocalTime) {
    // An offset of +05:45 (POSIX rule, no time-zone database needed) exposes any use of UTC.
    ::setenv("TZ", "XNT-5:45", 1);
    ::tzset();
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 5;
    local.tm_hour = 16;
    local.tm_min = 33;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    EXPECT_EQ(defaultRecordingName(when), "2026-12-05-16-33-07.dat");
    EXPECT_EQ(defaultRecordingName(when).size(), 23u);
}
