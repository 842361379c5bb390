// writeClip (declared in RecordingCursor.h): a region of a recording as a recording of its own.

#include "record/RecordingCopy.h"
#include "record/RecordingCursor.h"
#include "record/Sigmf.h"

#include <algorithm>

namespace tavrix::record {

namespace {

// Samples [first, first + count) of an opened recording, read in parts.
class ClipSource final : public RecordingSource {
public:
    ClipSource(RecordingCursor& cursor, std::uint64_t first, std::uint64_t count)
        : cursor_(cursor), next_(first), end_(first + count) {}

    const std::optional<RecordingHeader>& header() const override { return cursor_.header(); }
    const RecordingInfo& info() const override { return cursor_.info(); }
    std::size_t read(std::vector<std::complex<double>>& out, std::size_t maxSamples) override {
        out.clear();
        if (atEnd() || failed())
            return 0;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(maxSamples, end_ - next_));
        if (!cursor_.read(next_, n, out)) {
            error_ = cursor_.error();
            return 0;
        }
        next_ += out.size();
        return out.size();
    }
    bool atEnd() const override { return next_ == end_ && !failed(); }
    bool failed() const override { return !error_.empty(); }
    const std::string& error() const override { return error_; }

private:
    RecordingCursor& cursor_;
    std::uint64_t next_;
    std::uint64_t end_;
    std::string error_;
};

// The time of the clip's first sample. Without a sample rate that time is unknown, and none is
// given rather than a false one.
std::string clipDatetime(const RecordingCursor& in, std::uint64_t first) {
    const std::string& start = in.info().datetime;
    const std::optional<RecordingHeader>& header = in.header();
    if (start.empty() || first == 0)
        return start;
    if (!header)
        return {};
    return isoUtcPlus(start, static_cast<long double>(first) * header->sweepTimeMs / 1000.0L /
                                 header->samplesPerSweep);
}

} // namespace

bool writeClip(const std::string& in, const std::string& out, std::uint64_t first,
               std::uint64_t count, const std::string& label, std::string& error) {
    const std::string what = "Cannot write " + std::to_string(count) + " samples from sample " +
                             std::to_string(first) + " of \"" + in + "\" as \"" + out + "\"";
    if (count == 0) {
        error = what + ": the region is empty";
        return false;
    }
    if (writesOverInput(in, out, what, error))
        return false;
    const std::unique_ptr<RecordingCursor> cursor = RecordingCursor::open(in, error);
    if (!cursor)
        return false;
    const std::uint64_t total = cursor->sampleCount();
    if (first >= total || count > total - first) {
        error = what + ": the recording holds only " + std::to_string(total) + " samples";
        return false;
    }
    RecordingInfo info = cursor->info();
    info.datetime = clipDatetime(*cursor, first);
    info.annotations.clear();
    if (!label.empty())
        info.annotations.push_back({0, count, label});
    ClipSource clip(*cursor, first, count);
    return copyRecording(clip, out, std::move(info), error);
}

} // namespace tavrix::record
