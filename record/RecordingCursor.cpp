#include "record/RecordingCursor.h"

#include "record/RecordingReader.h"
#include "record/Sigmf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrix::record {

namespace {

// Large reads keep the indexing pass at the speed of the page cache.
constexpr std::size_t kScanBlock = 1 << 20;
// A caller's count may be far larger than what it really needs room for at once.
constexpr std::size_t kReserveLimit = 1 << 20;

// The file a cursor opened, to notice it being replaced or cut short under it.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
};

std::string shrank(const std::string& file) {
    return file + ": holds fewer samples than when it was opened (it shrank or changed while open)";
}

std::string beyondEnd(const std::string& file, std::uint64_t first, std::uint64_t count) {
    return file + ": sample " + std::to_string(first) + " is beyond the end (" +
           std::to_string(count) + " samples)";
}

std::string cancelled(const std::string& file) {
    return "Opening \"" + file + "\" was cancelled";
}

// Empty while `file` is the one `opened` describes and no shorter; otherwise why not.
std::string changedSince(const std::string& file, const FileState& opened) {
    struct stat node {};
    errno = 0;
    if (::stat(file.c_str(), &node) != 0)
        return "Cannot read \"" + file + "\": " + std::strerror(errno);
    if (node.st_dev != opened.device || node.st_ino != opened.inode)
        return file + ": was replaced by another file while open";
    if (static_cast<std::uint64_t>(node.st_size) < opened.size)
        return shrank(file);
    return {};
}

class TextCursor final : public RecordingCursor {
public:
    bool open(const std::string& path, const Progress& progress) {
        path_ = path;
        if (!reader_.open(path))
            return fail(reader_.error());
        errno = 0;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail("Cannot open \"" + path + "\": " + std::strerror(errno));
        const bool indexed = index(fd, progress);
        ::close(fd);
        return indexed;
    }

    const std::string& path() const override { return path_; }
    const std::optional<RecordingHeader>& header() const override { return reader_.header(); }
    const RecordingInfo& info() const override { return none_; }
    std::uint64_t sampleCount() const override { return count_; }
    const std::string& error() const override { return error_; }

    bool read(std::uint64_t first, std::size_t count,
              std::vector<std::complex<double>>& out) override {
        out.clear();
        if (first >= count_)
            return fail(beyondEnd(path_, first, count_));
        if (std::string why = changedSince(path_, file_); !why.empty())
            return fail(why);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, count_ - first));
        // Reads that follow on from the last one (a clip, playback) need no seek.
        if (next_ != first) {
            const std::uint64_t entry = first / kIndexStride;
            const std::uint64_t skip = first - entry * kIndexStride;
            if (!reader_.seek(index_[entry], reader_.linesBeforeSamples() + entry * kIndexStride) ||
                reader_.skip(skip) != skip)
                return failRead(out);
        }
        out.reserve(std::min(n, kReserveLimit));
        if (reader_.read(out, n) != n)
            return failRead(out);
        next_ = first + n;
        error_.clear();
        return true;
    }

private:
    // Counts the sample lines and notes where every kIndexStride-th begins. Only line ends are
    // looked for here; the lines themselves are checked by the reader when they are read.
    bool index(int fd, const Progress& progress) {
        struct stat node {};
        if (::fstat(fd, &node) != 0 || !S_ISREG(node.st_mode))
            return fail(path_ + ": not a regular file");
        file_ = {node.st_dev, node.st_ino, static_cast<std::uint64_t>(node.st_size)};
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

        const std::uint64_t start = reader_.samplesOffset();
        if (start < file_.size)
            index_.push_back(start);
        std::vector<char> block(kScanBlock);
        std::uint64_t lines = 0;
        bool lineOpen = false; // the last line has no line end (yet)
        for (std::uint64_t at = start; at < file_.size;) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), file_.size - at));
            errno = 0;
            const ssize_t got = ::pread(fd, block.data(), want, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return fail("Cannot read \"" + path_ + "\": " + std::strerror(errno));
            if (got == 0)
                return fail(path_ + ": shrank while it was being opened");
            const char* p = block.data();
            const char* const end = p + got;
            while (const auto* newline = static_cast<const char*>(std::memchr(p, '\n', end - p))) {
                p = newline + 1;
                if (++lines % kIndexStride == 0) {
                    const std::uint64_t next = at + static_cast<std::uint64_t>(p - block.data());
                    if (next < file_.size)
                        index_.push_back(next);
                }
            }
            lineOpen = p != end;
            at += static_cast<std::uint64_t>(got);
            if (progress && !progress(static_cast<double>(at) / static_cast<double>(file_.size)))
                return fail(cancelled(path_));
        }
        // An unfinished last line counts, so that reading it names it.
        count_ = lines + (lineOpen ? 1 : 0);
        if (progress && start >= file_.size && !progress(1.0)) // no samples, nothing scanned
            return fail(cancelled(path_));
        return true;
    }

    bool fail(std::string why) {
        error_ = std::move(why);
        next_.reset();
        return false;
    }
    bool failRead(std::vector<std::complex<double>>& out) {
        out.clear();
        return fail(reader_.failed() ? reader_.error() : shrank(path_));
    }

    std::string path_;
    RecordingReader reader_;
    RecordingInfo none_; // a text file keeps no mode, model or time
    FileState file_;
    std::vector<std::uint64_t> index_; // byte at which sample k * kIndexStride begins
    std::uint64_t count_ = 0;
    std::optional<std::uint64_t> next_; // the sample the reader stands at, when known
    std::string error_;
};

// SigMF samples have a fixed size: the data file is its own index.
class SigmfCursor final : public RecordingCursor {
public:
    bool open(const std::string& path, const Progress& progress) {
        path_ = path;
        if (!source_.open(path))
            return fail(source_.error());
        const std::string& data = source_.dataPath();
        struct stat node {};
        errno = 0;
        if (::stat(data.c_str(), &node) != 0)
            return fail("Cannot read \"" + data + "\": " + std::strerror(errno));
        file_ = {node.st_dev, node.st_ino, static_cast<std::uint64_t>(node.st_size)};
        if (progress && !progress(1.0))
            return fail(cancelled(path_));
        return true;
    }

    const std::string& path() const override { return path_; }
    const std::optional<RecordingHeader>& header() const override { return source_.header(); }
    const RecordingInfo& info() const override { return source_.info(); }
    std::uint64_t sampleCount() const override { return source_.sampleCount(); }
    const std::string& error() const override { return error_; }

    bool read(std::uint64_t first, std::size_t count,
              std::vector<std::complex<double>>& out) override {
        out.clear();
        const std::string& data = source_.dataPath();
        const std::uint64_t total = source_.sampleCount();
        if (first >= total)
            return fail(beyondEnd(data, first, total));
        if (std::string why = changedSince(data, file_); !why.empty())
            return fail(why);
        if (!source_.seek(first))
            return fail(source_.error());
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, total - first));
        if (source_.read(out, n) != n) {
            out.clear();
            return fail(source_.failed() ? source_.error() : shrank(data));
        }
        error_.clear();
        return true;
    }

private:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }

    std::string path_;
    SigmfSource source_;
    FileState file_;
    std::string error_;
};

template <class Cursor>
std::unique_ptr<RecordingCursor> opened(const std::string& path, std::string& error,
                                        const RecordingCursor::Progress& progress) {
    auto cursor = std::make_unique<Cursor>();
    if (cursor->open(path, progress))
        return cursor;
    error = cursor->error();
    return nullptr;
}

} // namespace

std::unique_ptr<RecordingCursor> RecordingCursor::open(const std::string& path, std::string& error,
                                                       const Progress& progress) {
    if (formatOf(path) == FileFormat::Sigmf)
        return opened<SigmfCursor>(path, error, progress);
    return opened<TextCursor>(path, error, progress);
}

} // namespace tavrix::record
