// The overview of a recording of about 1 GB at 1024 samples per sweep with one target drifting
// through it, FMCW (one sweep per column) or, with --cw, CW (a burst of 64 sweeps per column),
// written once, then measured in a fresh process so its peak memory is the overview's own:
// - open_s, build_s: opening the recording (a text file is indexed whole) and the overview's
//   1200 columns, on the probe's thread, the file's pages first dropped from the page cache;
// - task_s, gap_ms: the same (pages dropped again) done by OverviewTask while a 10 ms timer
//   runs on the window's thread; gap_ms is the longest time between two of its ticks;
// - rss_mb: peak resident memory of the measuring process.
// Prints one line of key=value pairs for bench/run. The recording is deleted afterwards unless
// --keep is given; with --reuse an existing one is measured as it is and kept.
//
// Usage: tavrix_overview_probe [PATH] [--text] [--cw] [--keep] [--reuse]
// PATH defaults to /tmp/tavrix-overview-probe.sigmf-data (.dat with --text); SigMF holds
// 250 M samples (1 GB of data), text 75 M (about 1 GB of lines).

#include "app/OverviewTask.h"
#include "bench/ProbeRecording.h"
#include "dsp/CwVelocity.h"
#include "radar/RecordingOverview.h"
#include "radar/Settings.h"
#include "record/RecordingCursor.h"
#include "record/RecordingFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kColumns = 1200;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

tavrix::radar::Settings recordedSettings(bool cw) {
    tavrix::radar::Settings s;
    s.operatingMode = cw ? tavrix::radar::kCw : tavrix::radar::kFmcwSawtooth;
    s.sampleWindowCode = 3; // 1024 samples per sweep
    return s;
}

// Sweeps of mid-scale noise carrying one echo that drifts over the recording: in FMCW its beat
// runs from range bin 40 to bin 460, in CW its Doppler from -0.3 to 0.3 of the decimated rate.
bool writeRecording(const std::string& path, std::uint64_t samples, bool cw) {
    const tavrix::radar::Settings s = recordedSettings(cw);
    const std::uint64_t sweeps = samples / s.samplesPerSweep();
    const auto step = [sweeps, cw](std::uint64_t sweep) {
        const double drift = static_cast<double>(sweep) / static_cast<double>(sweeps);
        return cw ? 2.0 * M_PI * (drift * 0.6 - 0.3) / tavrix::dsp::kCwDecimation
                  : 2.0 * M_PI * (40.0 + 420.0 * drift) / 1024.0;
    };
    return probes::WriteRecording(path, s, sweeps, step, cw, 11);
}

// Drops the recording's pages from the page cache (written back first), so it is read from
// the disk as a recording made earlier would be.
void evictRecording(const std::string& path) {
    const std::string data = tavrix::record::formatOf(path) == tavrix::record::FileFormat::Text
                                 ? path
                                 : path.substr(0, path.rfind(".sigmf")) + ".sigmf-data";
    const int fd = ::open(data.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

int measure(int argc, char** argv, const std::string& path) {
    evictRecording(path);
    auto start = Clock::now();
    std::string error;
    auto cursor = tavrix::record::RecordingCursor::open(path, error);
    if (!cursor)
        return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const double openSeconds = since(start);
    start = Clock::now();
    const auto image = tavrix::radar::BuildOverview(*cursor, kColumns, {}, error);
    if (!image)
        return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const double buildSeconds = since(start);
    const std::uint64_t samples = cursor->sampleCount();
    cursor.reset();

    QCoreApplication app(argc, argv);
    QTimer ticks;
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    OverviewTask task;
    bool built = false;
    QObject::connect(&task, &OverviewTask::finished, [&] {
        built = true;
        app.quit();
    });
    QObject::connect(&task, &OverviewTask::failed, [&](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        app.quit();
    });
    evictRecording(path);
    QTimer::singleShot(0, [&] {
        ticks.start(10);
        sinceTick.start();
        start = Clock::now();
        task.start(QString::fromStdString(path), kColumns);
    });
    app.exec();
    const double taskSeconds = since(start);
    if (!built)
        return 1;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("samples=%llu open_s=%.3f build_s=%.3f task_s=%.3f gap_ms=%.1f rss_mb=%.1f\n",
                static_cast<unsigned long long>(samples), openSeconds, buildSeconds, taskSeconds,
                longestGapNs / 1e6, usage.ru_maxrss / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--measure") == 0)
        return measure(argc, argv, argv[2]);

    bool text = false, cw = false, keep = false, reuse = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--text") == 0)
            text = true;
        else if (std::strcmp(argv[i], "--cw") == 0)
            cw = true;
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--reuse") == 0)
            reuse = true;
        else if (argv[i][0] != '-')
            path = argv[i];
        else
            return std::fprintf(stderr, "usage: %s [PATH] [--text] [--cw] [--keep] [--reuse]\n",
                                argv[0]),
                   2;
    }
    keep = keep || reuse;
    if (path.empty())
        path = text ? "/tmp/tavrix-overview-probe.dat" : "/tmp/tavrix-overview-probe.sigmf-data";
    if (!(reuse && std::filesystem::exists(path))) {
        const auto start = Clock::now();
        if (!writeRecording(path, text ? 75'000'000 : 250'000'000, cw)) {
            probes::RemoveRecording(path);
            return 1;
        }
        std::fprintf(stderr, "wrote %s in %.1f s\n", path.c_str(), since(start));
    }

    // A fresh process, so the peak memory is the overview's and not the writing's.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", argv[0], "--measure", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!keep)
        probes::RemoveRecording(path);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
