// Recordings and offline analysis: 15 s at the board's top rate (2.048 MS/s) written and read
// back in both formats, and the pipeline's throughput over recorded frames per mode, as
// tavrix-cli analyze runs it. Prints key=value pairs for bench/run.
//
// Usage: tavrix_recording_bench DIRECTORY

#include "radar/Pipeline.h"
#include "radar/Settings.h"
#include "record/RecordingFile.h"
#include "record/RecordingFormat.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::uintmax_t sizeOf(const std::string& base, bool sigmf) {
    namespace fs = std::filesystem;
    if (!sigmf)
        return fs::file_size(base);
    return fs::file_size(base + ".sigmf-data") + fs::file_size(base + ".sigmf-meta");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavrix_recording_bench DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    constexpr std::size_t kSamples = 15 * 2048000;
    constexpr std::size_t kPart = 1 << 18;
    std::mt19937 random(5);
    std::vector<std::complex<double>> part(kPart);
    for (auto& x : part)
        x = {static_cast<double>(32768 + random() % 4000),
             static_cast<double>(16384 + random() % 4000)};
    const auto header = tavrix::record::headerForMode(0, 2.45e9, 0.5, 1024, 1e8);

    for (const bool sigmf : {false, true}) {
        const std::string base = dir + "/top";
        const std::string path = sigmf ? base + ".sigmf-data" : base + ".dat";
        auto start = Clock::now();
        auto sink = tavrix::record::makeSink(path);
        tavrix::record::RecordingInfo info;
        info.operatingMode = "fmcw";
        info.deviceModel = "Alder";
        if (!sink->open(path, header, info))
            return std::fprintf(stderr, "%s\n", sink->error().c_str()), 1;
        for (std::size_t done = 0; done < kSamples; done += kPart)
            sink->write(part.data(), std::min(kPart, kSamples - done));
        if (!sink->close())
            return std::fprintf(stderr, "%s\n", sink->error().c_str()), 1;
        const double write = since(start);
        const std::uintmax_t size = sizeOf(sigmf ? base : path, sigmf);

        start = Clock::now();
        std::string error;
        auto source = tavrix::record::openSource(path, error);
        if (!source)
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        std::vector<std::complex<double>> in;
        std::size_t read = 0;
        while (!source->atEnd() && !source->failed())
            read += source->read(in, kPart);
        const double readSeconds = since(start);
        std::printf("%s_write_s=%.3f %s_read_s=%.3f %s_bytes=%ju %s_samples=%zu\n",
                    sigmf ? "sigmf" : "text", write, sigmf ? "sigmf" : "text", readSeconds,
                    sigmf ? "sigmf" : "text", size, sigmf ? "sigmf" : "text", read);
        std::filesystem::remove(path);
        if (sigmf)
            std::filesystem::remove(base + ".sigmf-meta");
    }

    // The pipeline over frames of recorded samples, per mode: samples per second processed.
    struct Mode {
        const char* name;
        int operating, display;
    };
    for (const Mode& m :
         {Mode{"fmcw_range", tavrix::radar::kFmcwSawtooth, tavrix::radar::kRangeScope},
          Mode{"fmcw_map", tavrix::radar::kFmcwSawtooth, tavrix::radar::kRangeVelocityMap},
          Mode{"cw", tavrix::radar::kCw, tavrix::radar::kVelocityScope},
          Mode{"fsk", tavrix::radar::kFsk, tavrix::radar::kVelocityScope}}) {
        tavrix::radar::Settings s;
        s.operatingMode = m.operating;
        s.displayMode = m.display;
        s.sampleWindowCode = 3;
        tavrix::radar::OpenWindows(s);
        const auto request = tavrix::radar::Pipeline::Request(s);
        tavrix::radar::Pipeline pipeline;
        tavrix::radar::Result result;
        std::size_t processed = 0;
        const auto start = Clock::now();
        while (since(start) < 1.0) {
            std::vector<std::complex<double>> frame(static_cast<std::size_t>(request->count));
            for (std::size_t i = 0; i < frame.size(); ++i)
                frame[i] = part[i % kPart];
            pipeline.Process(s, frame, result);
            processed += frame.size();
        }
        const double rate = static_cast<double>(processed) / since(start);
        std::printf("analyze_%s_samples_per_s=%.0f analyze_%s_real_time=%.1f\n", m.name, rate,
                    m.name, rate / s.sampleRate());
    }
    return 0;
}
