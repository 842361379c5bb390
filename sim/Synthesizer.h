#pragma once

// The radar's analogue half and its converters: turns the scene into the stream of 16-bit
// words the acquisition logic writes into the controller's FIFO.
//
// The receiver mixes the transmitted signal with the conjugate of the echo, so an echo
// delayed by tau = 2R/c carries the phase 2*pi*(phi_tx(t) - phi_tx(t - tau)): with a ramp of
// start frequency f0 and slope K that is f0*tau + K*tau*t - K*tau^2/2 cycles. A target moving
// away makes tau, and with it the phase, grow. For FMCW this is the beat 2RB/(cT) plus a
// carrier phase that carries on from sweep to sweep (Doppler); for FSK and CW it is the
// carrier's 4*pi*f*R/c.

#include "sim/DeviceModel.h"
#include "sim/SampleSource.h"
#include "sim/Scene.h"

#include <cstdint>
#include <vector>

namespace sim {

class Synthesizer : public SampleSource {
public:
    // Mid-scale codes of the converters. The Q word gives up bit 15 to the frame flag; the I
    // converter uses all 16 bits, like a real one, so about half of its words carry bit 15.
    static constexpr double kMidScaleI = 32768;
    static constexpr double kMidScaleQ = 16384;

    explicit Synthesizer(const Scene& scene);

    int deviceModel() const override { return scene.deviceModel; }
    // The scene looks the same whatever the board is asked to do.
    bool plays(const Acquisition&) const override { return true; }
    void start(const Acquisition& acquisition, double startTime, int sweepOffset) override;
    const Acquisition& acquisition() const { return acq; }
    double startTime() const override { return t0; }
    double sampleRate() const override { return acq.sampleRate(); }
    void generate(std::uint64_t first, std::size_t count, std::uint16_t* words,
                  bool frameFlags) override;

private:
    struct Ramp {
        int begin, end; // sample positions within the sweep period
        double startHz; // transmitted frequency at `begin`
        double slopeHz; // Hz per second
    };
    struct Echo {
        const SceneTarget* target; // null for the direct leakage
        double range, amplitude;
    };

    void addRamp(const Ramp& ramp, std::int64_t sweepStart, int from, int to, double* re,
                 double* im) const;

    Scene scene;
    Acquisition acq;
    double t0 = 0;
    int offset = 0;
    std::vector<Ramp> ramps;
    std::vector<Echo> echoes;
    std::vector<double> re, im;
    double qGain = 1, qCos = 1, qSin = 0;
    std::uint64_t rng;
};

} // namespace sim
