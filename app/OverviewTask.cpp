#include "app/OverviewTask.h"

#include "record/RecordingCursor.h"
#include "record/RecordingFile.h"

#include <memory>
#include <utility>

namespace {

// Share of the progress taken by opening: indexing a text file reads all of it, which is most
// of the work; a SigMF file opens at once.
double openingShare(const std::string& path) {
    return tavrix::record::formatOf(path) == tavrix::record::FileFormat::Text ? 0.7 : 0.0;
}

} // namespace

OverviewTask::OverviewTask(QObject* parent) : QObject(parent) {
    qRegisterMetaType<tavrix::radar::OverviewImage>();
}

OverviewTask::~OverviewTask() {
    stopWorker();
}

void OverviewTask::start(const QString& path, std::uint32_t maxColumns) {
    stopWorker();
    std::uint64_t build = 0;
    {
        const std::lock_guard<std::mutex> guard(lock);
        build = mailbox.build + 1;
        mailbox = Mailbox(build);
    }
    busy = true;
    worker = std::thread(
        [this, file = path.toStdString(), maxColumns, build] { run(file, maxColumns, build); });
}

void OverviewTask::cancel() {
    stopWorker();
    {
        const std::lock_guard<std::mutex> guard(lock);
        mailbox = Mailbox(mailbox.build + 1); // a wake-up already queued finds nothing
    }
    busy = false;
}

void OverviewTask::stopWorker() {
    if (!worker.joinable())
        return;
    stopping = true;
    worker.join();
    stopping = false;
}

template <typename Fill> bool OverviewTask::post(std::uint64_t build, Fill fill) {
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (build != mailbox.build)
            return false;
        fill(mailbox);
        if (mailbox.wakePending)
            return true;
        mailbox.wakePending = true;
    }
    QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    return true;
}

void OverviewTask::deliver() {
    Mailbox taken;
    {
        const std::lock_guard<std::mutex> guard(lock);
        taken = std::exchange(mailbox, Mailbox(mailbox.build));
    }
    const bool done = taken.image || taken.failure;
    if (done) {
        // The thread has nothing left to do but return.
        worker.join();
        busy = false;
    }
    if (taken.progress)
        emit progress(*taken.progress);
    if (!done)
        return;
    {
        // A slot of progress() may have started another build or cancelled this one.
        const std::lock_guard<std::mutex> guard(lock);
        if (mailbox.build != taken.build)
            return;
    }
    if (taken.image)
        emit finished(*taken.image);
    else
        emit failed(QString::fromStdString(*taken.failure));
}

void OverviewTask::run(const std::string& path, std::uint32_t maxColumns, std::uint64_t build) {
    int lastPercent = -1;
    const auto tell = [&](double fraction) {
        if (stopping)
            return false;
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent == lastPercent)
            return true;
        lastPercent = percent;
        return post(build, [fraction](Mailbox& m) { m.progress = fraction; });
    };

    const double share = openingShare(path);
    std::string error;
    std::unique_ptr<tavrix::record::RecordingCursor> cursor = tavrix::record::RecordingCursor::open(
        path, error, [&](double f) { return tell(share * f); });
    std::optional<tavrix::radar::OverviewImage> image;
    if (cursor)
        image = tavrix::radar::BuildOverview(
            *cursor, maxColumns, [&](double f) { return tell(share + (1.0 - share) * f); }, error);
    if (stopping)
        return;
    post(build, [&](Mailbox& m) {
        if (image)
            m.image = std::move(image);
        else
            m.failure = std::move(error);
    });
}
