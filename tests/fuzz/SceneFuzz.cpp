// Any text: a scene is either refused with a message, or every value it holds lies in the
// range the board's physics can take, and the board can stream it in every mode without a
// value that does not fit its converters.
#include "sim/DeviceModel.h"
#include "sim/Scene.h"
#include "sim/Synthesizer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckTarget(const sim::SceneTarget& t) {
    Require(t.minRange > 0 && t.minRange < t.maxRange && t.maxRange <= 100000);
    Require(t.range >= t.minRange && t.range <= t.maxRange);
    Require(std::abs(t.velocity) <= 1000 && t.strength >= 0 && t.strength <= 1e6);
    for (const double time : {0.0, 0.37, 1234.5, 3.6e6}) {
        const double r = t.rangeAt(time);
        Require(r >= t.minRange && r <= t.maxRange);
        const double v = t.velocityAt(time);
        Require(v == t.velocity || v == -t.velocity);
        const double a = t.amplitudeAt(r);
        Require(std::isfinite(a) && a >= 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<sim::Scene> scene = sim::parseScene(text, &error);
    if (!scene) {
        Require(!error.empty());
        return 0;
    }
    Require(scene->deviceModel >= 0 && scene->deviceModel < sim::kDeviceModelCount);
    Require(scene->noise >= 0 && scene->noise <= 16384);
    const sim::Imperfections& im = scene->imperfections;
    Require(std::abs(im.dcOffsetI) <= 16384 && std::abs(im.dcOffsetQ) <= 16384);
    Require(std::abs(im.gainImbalanceDb) <= 6 && std::abs(im.phaseErrorDeg) <= 45);
    Require(im.leakage >= 0 && im.leakageRange >= 0);
    for (const sim::SceneTarget& t : scene->targets)
        CheckTarget(t);

    // Two sweeps of 128 samples in each mode, an hour into the session, starting mid-sweep.
    constexpr int kSamples = 256;
    sim::Synthesizer synth(*scene);
    std::vector<std::uint16_t> words(2 * kSamples);
    for (std::uint16_t mode = 0; mode < 4; ++mode) {
        const auto acq = sim::decodeOperatingWord(0xA010 | mode, scene->deviceModel);
        Require(acq && acq->samplesPerSweep == 128);
        synth.start(*acq, 3600.0, 100);
        synth.generate(0, kSamples, words.data(), true);
        for (int k = 0; k < kSamples; ++k)
            Require(((words[2 * k] & 0x8000) != 0) == ((k + 100) % 128 == 0));
    }
    return 0;
}
