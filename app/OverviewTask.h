#pragma once

// Builds the overview of a recording on a thread of its own, so a file of gigabytes is opened
// and scanned while the window stays responsive. Only values cross to the window's thread,
// which a queued call wakes to emit them; a build that was cancelled or replaced reports
// nothing more.

#include "radar/RecordingOverview.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class OverviewTask : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint32_t kDefaultColumns = 1200;

    explicit OverviewTask(QObject* parent = nullptr);
    // Cancels the build under way and waits for its thread.
    ~OverviewTask() override;

    // Opens `path` and builds its overview of at most `maxColumns` columns, replacing any
    // build under way.
    void start(const QString& path, std::uint32_t maxColumns = kDefaultColumns);
    // Stops the build under way and waits for its thread: it reports nothing more.
    void cancel();
    // A build was started and has not yet finished, failed or been cancelled.
    bool running() const { return busy; }

signals:
    // The share done, 0..1: at most once per whole percent, only the latest when the
    // window's thread is busy.
    void progress(double fraction);
    void finished(const tavrix::radar::OverviewImage& image);
    void failed(const QString& message);

private slots:
    // Hands what the thread left in the mailbox on as signals.
    void deliver();

private:
    // The thread's body; `build` tells its reports from those of builds started later.
    void run(const std::string& path, std::uint32_t maxColumns, std::uint64_t build);
    void stopWorker();
    // Leaves a report of build `build` for the window's thread and wakes it; false when the
    // build is no longer wanted.
    template <typename Fill> bool post(std::uint64_t build, Fill fill);

    // What crosses from the thread, under `lock`: only the latest progress is kept. The wake-up
    // carries nothing, so everything shared is ordered by the mutex.
    struct Mailbox {
        explicit Mailbox(std::uint64_t of = 0) : build(of) {}
        std::uint64_t build; // reports of other builds are dropped
        std::optional<double> progress;
        std::optional<tavrix::radar::OverviewImage> image;
        std::optional<std::string> failure;
        bool wakePending = false;
    };
    std::mutex lock;
    Mailbox mailbox;

    std::thread worker;
    std::atomic<bool> stopping{false};
    bool busy = false; // the window's thread only
};

Q_DECLARE_METATYPE(tavrix::radar::OverviewImage)
