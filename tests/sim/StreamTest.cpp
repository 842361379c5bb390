// The sample stream: framing, timing, and physics that puts each target where the chains
// look for it. Spectra here are computed independently of the program's chains, which
// tests/radar runs on the same stream.

#include "BoardHelpers.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

using namespace simtest;
using cd = std::complex<double>;

namespace {

constexpr double kC = 299792458.0;

// The spectrum of `x` without its mean, zero-padded to `n` points.
std::vector<cd> spectrum(std::vector<cd> x, std::size_t n) {
    cd mean = 0;
    for (const cd& v : x)
        mean += v / static_cast<double>(x.size());
    for (cd& v : x)
        v -= mean;
    x.resize(n);
    auto* p = reinterpret_cast<fftw_complex*>(x.data());
    fftw_plan plan = fftw_plan_dft_1d(static_cast<int>(n), p, p, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return x;
}

std::size_t peak(const std::vector<cd>& x) {
    return std::max_element(x.begin(), x.end(),
                            [](cd a, cd b) { return std::abs(a) < std::abs(b); }) -
           x.begin();
}

// Flagged Q words. Every read of the board starts on a pair, so Q words sit at even indexes;
// the I words at odd ones carry bit 15 whenever the converter is above mid-scale.
std::vector<std::size_t> flagged(const std::vector<std::uint16_t>& words) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < words.size(); i += 2)
        if (words[i] & 0x8000)
            at.push_back(i);
    return at;
}

sim::SceneTarget target(double range, double velocity, double strength = 1000) {
    return {"t", range, velocity, strength, 1, 90};
}

} // namespace

TEST(SimStream, FrameFlagOpensEverySweepInEveryMode) {
    for (int mode = 0; mode < 4; ++mode) {
        for (int window = 0; window < 4; ++window) {
            Bench bench(sim::defaultScene());
            ASSERT_TRUE(command(*bench.board, OperatingWord(0, 1, window, mode)));
            const std::size_t ns = 128u << window;
            const auto flags = flagged(read(*bench.board, ns * 4 * 5 + 8192));
            ASSERT_GE(flags.size(), 5u) << "mode " << mode << ", " << ns << " samples";
            for (std::size_t i = 1; i < flags.size(); ++i)
                EXPECT_EQ(flags[i] - flags[i - 1], 2 * ns) << "mode " << mode << ", " << ns;
        }
    }
}

TEST(SimStream, BackToBackReadsContinueAndLateReadsStartAfterAGap) {
    Bench bench(quietScene(0, {target(10, 0)}));
    // 128 samples per sweep, 256000 per second.
    ASSERT_TRUE(command(*bench.board, OperatingWord(0, 1, 0, 0)));
    const std::size_t period = 256; // words per sweep
    auto nextFlag = [&](const std::vector<std::uint16_t>& words) {
        // Where the flag after the end of `words` falls in the read that continues it.
        const std::size_t last = flagged(words).back();
        return (last + period - words.size() % period) % period;
    };
    const auto a = read(*bench.board, 8704);
    const auto b = read(*bench.board, 8704);
    ASSERT_EQ(b.size(), 4352u);
    EXPECT_EQ(flagged(b).front(), nextFlag(a));

    // Half a sweep more than a whole number of sweeps passes unread: the FIFO holds the first
    // 4096 bytes after `b`, then the stream goes on from now.
    bench.clock->advance((1000 * 128 + 64) / 256000.0);
    const auto c = read(*bench.board, 8704);
    ASSERT_EQ(c.size(), 4352u);
    const std::size_t stale = nextFlag(b);
    EXPECT_EQ(flagged(c).front(), stale);
    std::size_t live = 0;
    for (std::size_t i : flagged(c))
        if (i >= 2048 && !live)
            live = i;
    EXPECT_EQ((live - stale) % period, period / 2) << "no gap after the FIFO content";
}

TEST(SimStream, FmcwBeatSitsInItsRangeBinWithoutMirrorAndTurnsWithMotionAtTheSweepCentre) {
    // Hazel sweeps 2 GHz up from 24 GHz in 1 ms: its Doppler belongs to 25 GHz; 128 samples
    // per sweep give Rmax = 128 c / (4 x 2 GHz) = 4.8 m.
    const double range = 3.0, velocity = 1.0, rmax = 128 * kC / (4 * 2e9);
    Bench bench(quietScene(7, {target(range, velocity)}));
    ASSERT_TRUE(command(*bench.board, OperatingWord(0, 0, 0, 0)));
    const int n = 128, sweeps = 64;
    const SampleBlock x = bench.frame(n * sweeps, n);
    ASSERT_EQ(x.size(), static_cast<std::size_t>(n * sweeps));
    const auto first = spectrum({x.begin(), x.begin() + n}, 1024);
    const std::size_t bin = peak(first);
    // Within the 1.7 bins the target moves before the frame and the 1.3 of its Doppler shift.
    EXPECT_NEAR(static_cast<double>(bin), range / rmax * 512 + 1.5, 2.0);
    // Transmitted times conjugated echo: the beat is a positive frequency, no mirror.
    EXPECT_GT(std::abs(first[bin]), 100 * std::abs(first[1024 - bin]));
    cd progression = 0, previous = 0;
    for (int s = 0; s < sweeps; ++s) {
        const cd now = spectrum({x.begin() + s * n, x.begin() + (s + 1) * n}, 1024)[bin];
        progression += s ? now * std::conj(previous) : 0;
        previous = now;
    }
    EXPECT_NEAR(std::arg(progression) * kC / (4 * M_PI * 2.5e10 * 1e-3), velocity, 0.01);

    // The echo falls with the square of range. 1024 samples, 400 MHz on Alder: each bin is
    // 0.375 m, and both ranges sit on a bin centre.
    const double step = 1024 * kC / (4 * 4e8) / 512;
    Bench two(quietScene(0, {target(50 * step, 0), target(100 * step, 0)}));
    ASSERT_TRUE(command(*two.board, OperatingWord(0, 0, 3, 0)));
    const auto s = spectrum(two.frame(1024, 1024), 1024);
    EXPECT_NEAR(20 * std::log10(std::abs(s[50]) / std::abs(s[100])), 20 * std::log10(4.0), 0.5);
}

TEST(SimStream, ConvertersSitNearMidScaleWithTheirOffsets) {
    // I sits near mid-scale (bit 15 set about half the time, as on real converters), Q lower.
    sim::Scene calm = quietScene(0, {target(10, 1.0, 2000)});
    calm.imperfections.dcOffsetI = 500;
    calm.imperfections.dcOffsetQ = -300;
    Bench a(calm);
    ASSERT_TRUE(command(*a.board, OperatingWord(3, 1, 0, 3))); // CW, 12800 samples per second
    const SampleBlock x = a.frame(12800 * 2, 128);             // two seconds: whole Doppler cycles
    cd mean = 0;
    for (const cd& s : x)
        mean += s / static_cast<double>(x.size());
    EXPECT_NEAR(mean.real(), 32768 + 500, 20);
    EXPECT_NEAR(mean.imag(), 16384 - 300, 20);
}

TEST(SimStream, ReadsStayWholeDeepIntoALongSession) {
    Bench bench(sim::defaultScene());
    bench.clock->advance(3 * 86400.0);
    ASSERT_TRUE(command(*bench.board, OperatingWord(0, 1, 3, 0))); // 2048000 samples per second
    for (int i = 0; i < 50; ++i) {
        const std::size_t bytes = 1024 * 4 * (i + 1) + 8192;
        ASSERT_EQ(read(*bench.board, bytes).size(), bytes / 2) << "read " << i;
        bench.clock->advance(0.1 + i * 1e-5);
    }
}
