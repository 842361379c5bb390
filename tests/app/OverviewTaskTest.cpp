// The overview built on its own thread: what reaches the window's thread, and that nothing of a
// build cancelled or replaced does.

#include "app/OverviewTask.h"
#include "radar/Settings.h"
#include "record/RecordingFile.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;

// An FMCW recording of `sweeps` sweeps of 128 samples carrying one echo.
QString writeRecording(const QTemporaryDir& dir, const char* name, std::size_t sweeps) {
    const tavrix::radar::Settings s;
    const std::size_t n = s.samplesPerSweep();
    const std::string path = dir.filePath(name).toStdString();
    auto sink = tavrix::record::makeSink(path);
    const bool opened = sink->open(
        path,
        tavrix::record::headerForMode(0, s.centerFrequency(), s.sweepTimeMs(), n, s.bandwidthHz()),
        {});
    std::vector<std::complex<double>> samples(sweeps * n);
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = {std::round(32768 + 3000 * std::cos(0.5 * static_cast<double>(k % n))), 32768};
    EXPECT_TRUE(opened && sink->write(samples.data(), samples.size()) && sink->close())
        << sink->error();
    return QString::fromStdString(path);
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(OverviewTask, ReportsTheImageOrWhyNotOnTheWindowsThread) {
    QTemporaryDir dir;
    const QString path = writeRecording(dir, "walk.sigmf-data", 4000);
    OverviewTask task;
    QSignalSpy progress(&task, &OverviewTask::progress);
    QSignalSpy finished(&task, &OverviewTask::finished);
    QSignalSpy failed(&task, &OverviewTask::failed);

    task.start(path, 300);
    EXPECT_TRUE(task.running());
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_FALSE(task.running());
    const auto image = finished.at(0).at(0).value<tavrix::radar::OverviewImage>();
    EXPECT_EQ(image.columns, 300u);
    EXPECT_EQ(image.bins, 513u);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_DOUBLE_EQ(progress.last().at(0).toDouble(), 1.0);
    EXPECT_TRUE(failed.isEmpty());

    task.start(dir.filePath("missing.dat"));
    ASSERT_TRUE(failed.wait(kWaitMs));
    EXPECT_TRUE(failed.at(0).at(0).toString().contains(QStringLiteral("missing.dat")))
        << failed.at(0).at(0).toString().toStdString();
    EXPECT_EQ(finished.count(), 1);
}

TEST(OverviewTask, ACancelledOrReplacedBuildReportsNothingMore) {
    QTemporaryDir dir;
    const QString big = writeRecording(dir, "big.sigmf-data", 40000);
    const QString small = writeRecording(dir, "small.sigmf-data", 7);
    OverviewTask task;
    QSignalSpy finished(&task, &OverviewTask::finished);
    QSignalSpy failed(&task, &OverviewTask::failed);

    task.start(big);
    task.cancel();
    EXPECT_FALSE(task.running());
    settle();
    EXPECT_TRUE(finished.isEmpty());

    // Replaced at once: only the second build's image arrives.
    task.start(big);
    task.start(small);
    ASSERT_TRUE(finished.wait(kWaitMs));
    settle();
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).value<tavrix::radar::OverviewImage>().columns, 7u);
    EXPECT_TRUE(failed.isEmpty());

    // Destroyed while building: the thread is stopped and joined.
    auto doomed = std::make_unique<OverviewTask>();
    doomed->start(big);
    doomed.reset();
}
