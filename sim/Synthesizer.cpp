#include "sim/Synthesizer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace sim {

namespace {

constexpr double kLight = 299792458.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFskStep = 6e6; // tone A sits this far above tone B

// Receiver noise comes from a table of normal deviates picked by a fast generator: drawing
// a million Gaussian pairs per read with logarithms and sines would cost more than the rest.
constexpr int kNoiseBits = 16;
const std::vector<double>& noiseTable() {
    static const std::vector<double> table = [] {
        std::vector<double> t(std::size_t{1} << kNoiseBits);
        std::mt19937_64 gen(0x5eed);
        std::normal_distribution<double> normal;
        for (double& v : t)
            v = normal(gen);
        return t;
    }();
    return table;
}

inline std::uint64_t next(std::uint64_t& s) {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
}

inline std::uint16_t adc(double v, double top) {
    v = v < 0 ? 0 : (v > top ? top : v);
    return static_cast<std::uint16_t>(v + 0.5);
}

} // namespace

Synthesizer::Synthesizer(const Scene& s) : scene(s), rng(s.seed * 0x9E3779B97F4A7C15ULL + 1) {
    const double g = std::pow(10.0, scene.imperfections.gainImbalanceDb / 20);
    const double p = scene.imperfections.phaseErrorDeg * kTwoPi / 360;
    qGain = g;
    qCos = std::cos(p);
    qSin = std::sin(p);
}

void Synthesizer::start(const Acquisition& a, double startTime, int sweepOffset) {
    acq = a;
    t0 = startTime;
    offset = sweepOffset;
    const int n = a.samplesPerSweep;
    const DeviceModel& model = sim::deviceModel(scene.deviceModel);
    const double f = model.carrierHz;
    const double b = a.bandwidthHz;
    const double t = a.sweepTimeS;
    const double low = model.sweepStartsAtCarrier ? f : f - b / 2;
    ramps.clear();
    switch (a.mode) {
    case Mode::FmcwSawtooth:
        ramps.push_back({0, n, low, b / t});
        break;
    case Mode::FmcwTriangle:
        ramps.push_back({0, n / 2, low, 2 * b / t});
        ramps.push_back({n / 2, n, low + b, -2 * b / t});
        break;
    case Mode::Fsk:
        ramps.push_back({0, n / 2, f + kFskStep / 2, 0});
        ramps.push_back({n / 2, n, f - kFskStep / 2, 0});
        break;
    case Mode::Cw:
        ramps.push_back({0, n, f, 0});
        break;
    }
    re.assign(static_cast<std::size_t>(n), 0);
    im.assign(static_cast<std::size_t>(n), 0);
}

void Synthesizer::addRamp(const Ramp& ramp, std::int64_t sweepStart, int from, int to,
                          double* outRe, double* outIm) const {
    const double fs = acq.sampleRate();
    const double ts = 1 / fs;
    const double tRamp = t0 + static_cast<double>(sweepStart + ramp.begin) / fs;
    const double k = ramp.slopeHz;
    const double f0 = ramp.startHz;
    auto add = [&](double range, double velocity, double amplitude) {
        if (amplitude == 0)
            return;
        // Delay tau(u) = tau + alpha*u over the ramp, u the time since its start; the mixer
        // phase is then exactly quadratic in u: c0 + c1*u + c2*u^2 cycles.
        const double tau = 2 * range / kLight;
        const double alpha = 2 * velocity / kLight;
        const double c0 = f0 * tau - k * tau * tau / 2;
        const double c1 = f0 * alpha + k * tau - k * tau * alpha;
        const double c2 = k * alpha - k * alpha * alpha / 2;
        const double j0 = from - ramp.begin;
        double phase = c0 + (c1 + c2 * ts * j0) * ts * j0;
        phase -= std::floor(phase);
        double step = (c1 + c2 * ts * (2 * j0 + 1)) * ts;
        step -= std::floor(step);
        const double curve = 2 * c2 * ts * ts;
        // Phasor recurrences instead of a sine per sample: z *= w, w *= r.
        double zr = amplitude * std::cos(kTwoPi * phase), zi = amplitude * std::sin(kTwoPi * phase);
        double wr = std::cos(kTwoPi * step), wi = std::sin(kTwoPi * step);
        const double rr = std::cos(kTwoPi * curve), ri = std::sin(kTwoPi * curve);
        double* pr = outRe;
        double* pi = outIm;
        for (int j = from; j < to; ++j) {
            *pr++ += zr;
            *pi++ += zi;
            const double nzr = zr * wr - zi * wi;
            zi = zr * wi + zi * wr;
            zr = nzr;
            const double nwr = wr * rr - wi * ri;
            wi = wr * ri + wi * rr;
            wr = nwr;
        }
    };
    for (const SceneTarget& target : scene.targets) {
        const double r = target.rangeAt(tRamp);
        add(r, target.velocityAt(tRamp), target.amplitudeAt(r));
    }
    add(scene.imperfections.leakageRange, 0, scene.imperfections.leakage);
}

void Synthesizer::generate(std::uint64_t first, std::size_t count, std::uint16_t* words,
                           bool frameFlags) {
    const int n = acq.samplesPerSweep;
    if (n <= 0)
        return;
    const std::vector<double>& noise = noiseTable();
    const double sigma = scene.noise;
    const double dcI = kMidScaleI + scene.imperfections.dcOffsetI;
    const double dcQ = kMidScaleQ + scene.imperfections.dcOffsetQ;
    constexpr std::uint64_t kMask = (std::uint64_t{1} << kNoiseBits) - 1;
    std::uint64_t m = first;
    const std::uint64_t end = first + count;
    while (m < end) {
        const std::uint64_t p = m + static_cast<std::uint64_t>(offset);
        const std::int64_t sweepStart = static_cast<std::int64_t>(p / n * n) - offset;
        const int a = static_cast<int>(p % n);
        const int b = static_cast<int>(std::min<std::uint64_t>(n, a + (end - m)));
        std::fill(re.begin(), re.begin() + (b - a), 0.0);
        std::fill(im.begin(), im.begin() + (b - a), 0.0);
        for (const Ramp& ramp : ramps) {
            const int from = std::max(a, ramp.begin), to = std::min(b, ramp.end);
            if (from < to)
                addRamp(ramp, sweepStart, from, to, re.data() + (from - a), im.data() + (from - a));
        }
        for (int j = 0; j < b - a; ++j) {
            const std::uint64_t r = next(rng);
            const double x = re[static_cast<std::size_t>(j)];
            const double y = im[static_cast<std::size_t>(j)];
            const double iv = dcI + x + sigma * noise[r & kMask];
            const double qv =
                dcQ + qGain * (y * qCos + x * qSin) + sigma * noise[(r >> 32) & kMask];
            std::uint16_t q = adc(qv, 32767);
            if (frameFlags && a + j == 0)
                q |= 0x8000;
            *words++ = q;
            *words++ = adc(iv, 65535);
        }
        m += static_cast<std::uint64_t>(b - a);
    }
}

} // namespace sim
