// The overview of recordings held in memory: what each column shows, where it was read, and
// how a build ends early.

#include "radar/RecordingOverview.h"

#include "dsp/CwVelocity.h"
#include "radar/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace {

namespace radar = tavrix::radar;
namespace record = tavrix::record;
using Samples = std::vector<std::complex<double>>;

// A recording that counts the samples read from it; `shrunk` makes every read fail.
class MemoryRecording : public record::RecordingCursor {
public:
    MemoryRecording(std::optional<record::RecordingHeader> header, Samples samples)
        : header_(header), samples_(std::move(samples)) {}

    const std::string& path() const override { return path_; }
    const std::optional<record::RecordingHeader>& header() const override { return header_; }
    const record::RecordingInfo& info() const override { return info_; }
    std::uint64_t sampleCount() const override { return samples_.size(); }
    bool read(std::uint64_t first, std::size_t count, Samples& out) override {
        out.clear();
        if (shrunk || first >= samples_.size()) {
            error_ = path_ + " shrank";
            return false;
        }
        const std::size_t end = std::min<std::uint64_t>(samples_.size(), first + count);
        out.assign(samples_.begin() + static_cast<std::ptrdiff_t>(first),
                   samples_.begin() + static_cast<std::ptrdiff_t>(end));
        samplesRead += out.size();
        return true;
    }
    const std::string& error() const override { return error_; }

    std::uint64_t samplesRead = 0;
    bool shrunk = false;

private:
    std::string path_ = "/data/walk.sigmf-data";
    std::optional<record::RecordingHeader> header_;
    record::RecordingInfo info_;
    Samples samples_;
    std::string error_;
};

std::optional<record::RecordingHeader> headerOf(const radar::Settings& s) {
    return record::headerForMode(static_cast<unsigned>(s.operatingMode), s.centerFrequency(),
                                 s.sweepTimeMs(), s.samplesPerSweep(), s.bandwidthHz());
}

std::size_t strongestBin(const radar::OverviewImage& image, std::uint32_t column) {
    const auto first = image.values.begin() + std::ptrdiff_t{column} * image.bins;
    return static_cast<std::size_t>(std::max_element(first, first + image.bins) - first);
}

} // namespace

TEST(RecordingOverview, FmcwColumnsShowTheBeatOfTheSweepTheyStartAt) {
    // 1000 sweeps of 128 samples; the beat moves from range bin 80 to 240 at sweep 500. Each
    // bin of the zero-filled 1024-point transform is 1/1024 cycle per sample.
    const radar::Settings s;
    const std::size_t n = s.samplesPerSweep(), sweeps = 1000, change = 500;
    Samples samples(sweeps * n);
    for (std::size_t k = 0; k < sweeps; ++k)
        for (std::size_t i = 0; i < n; ++i) {
            const double bin = k < change ? 80 : 240;
            samples[k * n + i] = {32768 + 5000 * std::cos(2 * M_PI * bin * i / 1024.0), 32768};
        }
    MemoryRecording recording(headerOf(s), samples);
    std::vector<double> told;
    std::string error;
    const std::optional<radar::OverviewImage> image = radar::BuildOverview(
        recording, 300, [&told](double f) { return told.push_back(f), true; }, error);
    ASSERT_TRUE(image) << error;

    ASSERT_EQ(image->columns, 300u);
    ASSERT_EQ(image->bins, 513u);
    ASSERT_EQ(image->values.size(), 300u * 513u);
    EXPECT_DOUBLE_EQ(image->binFirst, 0.0);
    EXPECT_DOUBLE_EQ(image->binLast, s.maxRange());
    EXPECT_NEAR(image->totalSeconds, sweeps * s.sweepTimeMs() / 1000, 1e-9);
    // Column 150 starts at sweep 1000 * 150 / 300 = 500, column 149 at sweep 497.
    for (std::uint32_t c = 0; c < image->columns; ++c)
        ASSERT_EQ(strongestBin(*image, c), c < 150 ? 80u : 240u) << "column " << c;
    // One sweep per column was read, no more.
    EXPECT_EQ(recording.samplesRead, 300u * n);
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_DOUBLE_EQ(told.back(), 1.0);
}

TEST(RecordingOverview, CwHasOneColumnPerBurstAtMostAndTheVelocityAxis) {
    radar::Settings s;
    s.operatingMode = radar::kCw;
    const std::size_t burst = s.sweepCount * s.samplesPerSweep();
    std::mt19937 random(3);
    std::normal_distribution<double> noise(32768, 300);
    Samples samples(burst * 21 / 2); // ten bursts and a half
    for (auto& x : samples)
        x = {noise(random), noise(random)};
    MemoryRecording recording(headerOf(s), samples);
    std::string error;
    const std::optional<radar::OverviewImage> image =
        radar::BuildOverview(recording, 1200, {}, error);
    ASSERT_TRUE(image) << error;

    EXPECT_EQ(image->columns, 10u);
    EXPECT_EQ(image->bins, 1024u);
    EXPECT_EQ(recording.samplesRead, 10u * burst);
    const double v = tavrix::dsp::ComputeCwScales(s.samplesPerSweep(), s.sweepTimeMs(),
                                                  s.sweepCount, s.centerFrequency())
                         .velocitySpan;
    EXPECT_DOUBLE_EQ(image->binFirst, -v);
    EXPECT_DOUBLE_EQ(image->binLast, v);
    EXPECT_NE(image->axisTitle.find("Velocity"), std::string::npos);
    EXPECT_TRUE(std::all_of(image->values.begin(), image->values.end(),
                            [](float x) { return std::isfinite(x); }));
}

TEST(RecordingOverview, CancelAndBadRecordingsEndItWithAMessage) {
    const radar::Settings s;
    const std::size_t n = s.samplesPerSweep();
    std::string error;

    MemoryRecording long_(headerOf(s), Samples(1000 * n, {32768, 32768}));
    int calls = 0;
    EXPECT_FALSE(radar::BuildOverview(
        long_, 500, [&calls](double) { return ++calls < 3; }, error));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
    EXPECT_LE(long_.samplesRead, 3 * n);

    MemoryRecording shortOne(headerOf(s), Samples(n - 1));
    EXPECT_FALSE(radar::BuildOverview(shortOne, 500, {}, error));
    EXPECT_NE(error.find("/data/walk.sigmf-data"), std::string::npos) << error;
    EXPECT_NE(error.find("fewer than one frame"), std::string::npos) << error;

    MemoryRecording headless(std::nullopt, Samples(10 * n));
    EXPECT_FALSE(radar::BuildOverview(headless, 500, {}, error));
    EXPECT_NE(error.find("no header"), std::string::npos) << error;

    MemoryRecording shrunk(headerOf(s), Samples(10 * n));
    shrunk.shrunk = true;
    EXPECT_FALSE(radar::BuildOverview(shrunk, 500, {}, error));
    EXPECT_EQ(error, "/data/walk.sigmf-data shrank");
}
