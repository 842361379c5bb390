// Any text: a scene is refused with a message, or its targets stay in their bounds and the
// board streams it in every mode with the frame flag where it belongs.
#include "sim/DeviceModel.h"
#include "sim/Scene.h"
#include "sim/Synthesizer.h"
#include "tests/fuzz/Fuzz.h"

#include <cmath>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto scene = sim::parseScene({reinterpret_cast<const char*>(data), size}, &error);
    if (!scene) {
        Require(!error.empty());
        return 0;
    }
    Require(scene->deviceModel >= 0 && scene->deviceModel < sim::kDeviceModelCount);
    for (const sim::SceneTarget& t : scene->targets)
        for (const double time : {0.0, 0.37, 3.6e6}) {
            const double r = t.rangeAt(time), v = t.velocityAt(time), a = t.amplitudeAt(r);
            Require(t.minRange > 0 && r >= t.minRange && r <= t.maxRange && t.maxRange <= 1e5 &&
                    std::abs(v) == std::abs(t.velocity) && std::isfinite(a) && a >= 0);
        }
    // Two sweeps of 128 samples in each mode, an hour into the session, starting mid-sweep.
    sim::Synthesizer synth(*scene);
    std::vector<std::uint16_t> words(512);
    for (std::uint16_t mode = 0; mode < 4; ++mode) {
        const auto acq = sim::decodeOperatingWord(0xA010 | mode, scene->deviceModel);
        Require(acq && acq->samplesPerSweep == 128);
        synth.start(*acq, 3600.0, 100);
        synth.generate(0, 256, words.data(), true);
        for (int k = 0; k < 256; ++k)
            Require(((words[2 * k] & 0x8000) != 0) == ((k + 100) % 128 == 0));
    }
    return 0;
}
