// The sample stream: framing, timing, and physics that puts each target where the chains
// look for it. Spectra here are computed independently of the program's chains.

#include "BoardHelpers.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace simtest;
using cd = std::complex<double>;

namespace {

constexpr double kC = 299792458.0;
constexpr double kPi = 3.141592653589793;

std::vector<cd> fft(std::vector<cd> x, std::size_t n) {
    x.resize(n);
    auto* p = reinterpret_cast<fftw_complex*>(x.data());
    fftw_plan plan = fftw_plan_dft_1d(static_cast<int>(n), p, p, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return x;
}

void removeMean(std::vector<cd>& x) {
    cd mean = 0;
    for (const cd& v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    for (cd& v : x)
        v -= mean;
}

std::size_t peak(const std::vector<cd>& x, std::size_t from, std::size_t to) {
    std::size_t best = from;
    for (std::size_t i = from; i < to; ++i)
        if (std::abs(x[i]) > std::abs(x[best]))
            best = i;
    return best;
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
    sim::Scene scene = sim::defaultScene();
    for (int mode = 0; mode < 4; ++mode) {
        for (int window = 0; window < 4; ++window) {
            Bench bench(scene);
            ASSERT_TRUE(command(*bench.board, word(mode, window)));
            const int ns = 128 << window;
            const auto words = read(*bench.board, static_cast<std::size_t>(ns) * 4 * 5 + 8192);
            const auto flags = flagged(words);
            ASSERT_GE(flags.size(), 5u) << "mode " << mode << ", " << ns << " samples";
            for (std::size_t i = 0; i < flags.size(); ++i) {
                // Only Q words (the first of a pair) carry bit 15, and only at a sweep start.
                EXPECT_EQ(flags[i] % 2, 0u);
                if (i > 0) {
                    EXPECT_EQ(flags[i] - flags[i - 1], static_cast<std::size_t>(2 * ns))
                        << "mode " << mode << ", " << ns << " samples";
                }
            }
            const auto samples = frame(words, ns);
            EXPECT_EQ(samples.size(), static_cast<std::size_t>(ns));
        }
    }
}

TEST(SimStream, BackToBackReadsContinueAndLateReadsStartAfterAGap) {
    Bench bench(quietScene(0, {target(10, 0)}));
    ASSERT_TRUE(command(*bench.board, word(0, 0))); // 128 samples per sweep, 256000 per second
    const std::size_t period = 256;                 // words per sweep
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

TEST(SimStream, FmcwBeatLandsInTheBinOfItsRange) {
    struct Case {
        int model, bandwidthCode, window;
        double range;
    };
    // Alder 100 MHz; Alder 400 MHz; Hazel 2 GHz (sweeping up from 24 GHz); Elm 750 MHz.
    const Case cases[] = {{0, 1, 0, 30.0}, {0, 0, 3, 50.0}, {7, 0, 2, 7.5}, {4, 2, 1, 11.0}};
    for (const Case& c : cases) {
        Bench bench(quietScene(c.model, {target(c.range, 0)}));
        const std::uint16_t w = word(0, c.window, c.bandwidthCode);
        ASSERT_TRUE(command(*bench.board, w));
        const auto acq = sim::decodeOperatingWord(w, c.model);
        const int n = acq->samplesPerSweep;
        auto x = readFrame(*bench.board, n);
        ASSERT_EQ(x.size(), static_cast<std::size_t>(n));
        removeMean(x);
        const auto spectrum = fft(x, 1024);
        const double rmax = n * kC / (4 * acq->bandwidthHz);
        const double expected = c.range / rmax * 512;
        const std::size_t bin = peak(spectrum, 0, 1024);
        EXPECT_NEAR(static_cast<double>(bin), expected, 1.0) << "model " << c.model;
        // Transmitted times conjugated echo: the beat is a positive frequency, no mirror.
        EXPECT_GT(std::abs(spectrum[bin]), 100 * std::abs(spectrum[1024 - bin]));
    }
}

TEST(SimStream, EchoFallsWithTheSquareOfRange) {
    // 1024 samples, 400 MHz: each bin is 0.375 m; both ranges sit on a bin centre.
    const double bin = 1024 * kC / (4 * 4e8) / 512;
    Bench bench(quietScene(0, {target(50 * bin, 0), target(100 * bin, 0)}));
    ASSERT_TRUE(command(*bench.board, word(0, 3, 0)));
    auto x = readFrame(*bench.board, 1024);
    removeMean(x);
    const auto spectrum = fft(x, 1024);
    const double near = std::abs(spectrum[50]);
    const double far = std::abs(spectrum[100]);
    EXPECT_NEAR(20 * std::log10(near / far), 20 * std::log10(4.0), 0.5);
}

TEST(SimStream, FmcwCarrierPhaseAdvancesWithMotionAtTheSweepCentre) {
    struct Case {
        int model, bandwidthCode, sweepCode;
        double centreHz, velocity;
    };
    // Hazel sweeps up from 24 GHz, so its Doppler belongs to 24 GHz + B/2.
    const Case cases[] = {
        {0, 1, 0, 2.45e9, 2.0}, {0, 1, 0, 2.45e9, -5.0}, {7, 0, 0, 2.4e10 + 1e9, 1.0}};
    for (const Case& c : cases) {
        Bench bench(quietScene(c.model, {target(6, c.velocity)}));
        const std::uint16_t w = word(0, 0, c.bandwidthCode, c.sweepCode);
        ASSERT_TRUE(command(*bench.board, w));
        const auto acq = sim::decodeOperatingWord(w, c.model);
        const int n = acq->samplesPerSweep, sweeps = 64;
        const auto x = readFrame(*bench.board, n * sweeps);
        ASSERT_EQ(x.size(), static_cast<std::size_t>(n * sweeps));
        std::vector<cd> bins;
        std::size_t bin = 0;
        for (int s = 0; s < sweeps; ++s) {
            std::vector<cd> sweep(x.begin() + s * n, x.begin() + (s + 1) * n);
            removeMean(sweep);
            const auto spectrum = fft(sweep, 1024);
            if (s == 0)
                bin = peak(spectrum, 1, 512);
            bins.push_back(spectrum[bin]);
        }
        cd progression = 0;
        for (std::size_t s = 1; s < bins.size(); ++s)
            progression += bins[s] * std::conj(bins[s - 1]);
        const double v = std::arg(progression) * kC / (4 * kPi * c.centreHz * acq->sweepTimeS);
        EXPECT_NEAR(v, c.velocity, std::abs(c.velocity) * 0.01) << "model " << c.model;
    }
}

TEST(SimStream, FskPhaseDifferenceGivesRange) {
    // Tone B is sampled half a sweep period after tone A; a moving target has gone on by
    // then, which shifts the range read from the phase difference by f_B * v * T / (2 * 6 MHz).
    const double r0 = 12.0, v = 5.0;
    Bench bench(quietScene(0, {target(r0, v)}));
    const std::uint16_t w = word(2, 0); // 128 samples per sweep period, 0.5 ms
    ASSERT_TRUE(command(*bench.board, w));
    const int ns = 128, sweeps = 64, h = ns / 2 + 5;
    const double t = 0.5e-3;
    const auto x = readFrame(*bench.board, ns * sweeps);
    ASSERT_EQ(x.size(), static_cast<std::size_t>(ns * sweeps));
    std::vector<cd> a, b;
    for (int k = 0; k < sweeps; ++k) {
        a.push_back(x[static_cast<std::size_t>(k * ns + 5)]);
        b.push_back(x[static_cast<std::size_t>(k * ns + h)]);
    }
    removeMean(a);
    removeMean(b);
    const auto sa = fft(a, 1024), sb = fft(b, 1024);
    std::size_t bin = 1;
    for (std::size_t i = 1; i < 1024; ++i)
        if (std::abs(sa[i] * sb[i]) > std::abs(sa[bin] * sb[bin]))
            bin = i;
    EXPECT_LT(bin, 512u) << "moving away must read as a positive Doppler";
    double dphi = std::arg(sa[bin]) - std::arg(sb[bin]);
    dphi -= 2 * kPi * std::floor(dphi / (2 * kPi));
    const double r = dphi * kC / (4 * kPi * 6e6);
    const double middle = bench.clock->now() - sweeps * t / 2;
    const double toneB = 2.45e9 - 3e6;
    const double expected = r0 + v * middle - toneB * v * t / (2 * 6e6);
    EXPECT_NEAR(r, expected, 0.03);
}

TEST(SimStream, CwDopplerGivesVelocity) {
    struct Case {
        int model;
        double carrier, velocity;
    };
    const Case cases[] = {{0, 2.45e9, 3.0}, {4, 2.5e10, -1.0}};
    for (const Case& c : cases) {
        Bench bench(quietScene(c.model, {target(40, c.velocity)}));
        ASSERT_TRUE(command(*bench.board, word(3, 0, 1, 3))); // 128 samples per 10 ms
        const double fs = 12800;
        const std::size_t n = 65536;
        auto x = readFrame(*bench.board, static_cast<int>(n));
        ASSERT_EQ(x.size(), n);
        removeMean(x);
        const auto spectrum = fft(x, n);
        const std::size_t bin = peak(spectrum, 1, n);
        const double f = (bin < n / 2 ? double(bin) : double(bin) - double(n)) * fs / double(n);
        EXPECT_NEAR(f * kC / (2 * c.carrier), c.velocity, 2 * fs / double(n) * kC / (2 * c.carrier))
            << "model " << c.model;
    }
}

TEST(SimStream, ConvertersHaveOffsetsAndClip) {
    sim::Scene calm = quietScene(0, {target(10, 1.0, 2000)});
    calm.imperfections.dcOffsetI = 500;
    calm.imperfections.dcOffsetQ = -300;
    Bench a(calm);
    ASSERT_TRUE(command(*a.board, word(3, 0, 1, 3)));
    const auto x = readFrame(*a.board, 12800 * 2); // two seconds: whole Doppler cycles
    cd mean = 0;
    for (const cd& s : x)
        mean += s;
    mean /= static_cast<double>(x.size());
    EXPECT_NEAR(mean.real(), 32768 + 500, 20);
    EXPECT_NEAR(mean.imag(), 16384 - 300, 20);

    Bench b(quietScene(0, {target(10, 1.0, 40000)}));
    ASSERT_TRUE(command(*b.board, word(3, 0, 1, 3)));
    const auto words = read(*b.board, 200000);
    std::uint16_t iMin = 65535, iMax = 0, qMin = 65535, qMax = 0;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
        qMin = std::min<std::uint16_t>(qMin, words[i] & 0x7FFF);
        qMax = std::max<std::uint16_t>(qMax, words[i] & 0x7FFF);
        iMin = std::min(iMin, words[i + 1]);
        iMax = std::max(iMax, words[i + 1]);
    }
    EXPECT_EQ(qMin, 0);
    EXPECT_EQ(qMax, 32767);
    EXPECT_EQ(iMin, 0);
    EXPECT_EQ(iMax, 65535);
}

TEST(SimStream, ReadsStayWholeDeepIntoALongSession) {
    Bench bench(sim::defaultScene());
    bench.clock->advance(3 * 86400.0);
    ASSERT_TRUE(command(*bench.board, word(0, 3))); // 2048000 samples per second
    for (int i = 0; i < 50; ++i) {
        const std::size_t bytes = 1024 * 4 * (i + 1) + 8192;
        ASSERT_EQ(read(*bench.board, bytes).size(), bytes / 2) << "read " << i;
        bench.clock->advance(0.1 + i * 1e-5);
    }
}
