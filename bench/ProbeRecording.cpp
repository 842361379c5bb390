#include "bench/ProbeRecording.h"

#include "device/DeviceModels.h"
#include "record/RecordingFile.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

namespace probes {

bool WriteRecording(const std::string& path, const tavrix::radar::Settings& s, std::uint64_t sweeps,
                    const std::function<double(std::uint64_t)>& step, bool phaseRunsOn,
                    unsigned seed) {
    const std::size_t n = s.samplesPerSweep();
    auto sink = tavrix::record::makeSink(path);
    tavrix::record::RecordingInfo info;
    info.operatingMode = tavrix::record::operatingModeName(static_cast<unsigned>(s.operatingMode));
    info.deviceModel = deviceModel(s.deviceModel).name;
    const auto header = tavrix::record::headerForMode(
        static_cast<unsigned>(s.operatingMode), s.centerFrequency(), s.sweepTimeMs(),
        static_cast<std::uint32_t>(n), s.bandwidthHz());
    if (!sink->open(path, header, info))
        return std::fprintf(stderr, "%s\n", sink->error().c_str()), false;

    // A table of noise read at a different place each sweep: drawing it fresh would take
    // longer than writing the gigabyte.
    constexpr std::size_t kNoise = 1 << 20;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 40.0);
    std::vector<double> table(kNoise);
    for (double& x : table)
        x = noise(random);
    std::vector<std::complex<double>> part(256 * n);
    double phase = 0.0;
    for (std::uint64_t sweep = 0; sweep < sweeps;) {
        std::size_t filled = 0;
        for (; filled < part.size() && sweep < sweeps; filled += n, ++sweep) {
            const double advance = step(sweep);
            const std::size_t offset = (sweep * 7919) % (kNoise - 2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                const double a = phase + advance * static_cast<double>(i);
                part[filled + i] = {
                    std::round(32768 + 3000 * std::cos(a) + table[offset + 2 * i]),
                    std::round(32768 + 3000 * std::sin(a) + table[offset + 2 * i + 1])};
            }
            phase =
                phaseRunsOn ? std::fmod(phase + advance * static_cast<double>(n), 2.0 * M_PI) : 0.0;
        }
        if (!sink->write(part.data(), filled))
            return std::fprintf(stderr, "%s\n", sink->error().c_str()), false;
    }
    if (!sink->close())
        return std::fprintf(stderr, "%s\n", sink->error().c_str()), false;
    return true;
}

void RemoveRecording(const std::string& path) {
    std::error_code ignored;
    if (tavrix::record::formatOf(path) == tavrix::record::FileFormat::Text) {
        std::filesystem::remove(path, ignored);
        return;
    }
    const std::string base = path.substr(0, path.rfind(".sigmf"));
    std::filesystem::remove(base + ".sigmf-data", ignored);
    std::filesystem::remove(base + ".sigmf-meta", ignored);
}

} // namespace probes
