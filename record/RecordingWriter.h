#pragma once

#include "record/RecordingFormat.h"

#include <complex>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tavrix::record {

// Writes a recording file: the header (if any), then one "I+Qi" line per sample with both
// parts truncated to integers. Samples may arrive in several calls, so a long recording is
// written as it is read. Every failure (open, write, flush, close) is reported through the
// results and error(), which names the file and the system's reason; after the first
// failure nothing more is written.
class RecordingWriter {
public:
    RecordingWriter() = default;
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    // Closes a file that is still open; call close() to learn whether that succeeded.
    ~RecordingWriter();

    // Creates or truncates `path` and writes `header` when there is one.
    bool open(const std::string& path, const std::optional<RecordingHeader>& header);
    // Fails, writing nothing of the call, if a part of a sample is not finite or truncates
    // outside the range of int.
    bool write(const std::complex<double>* samples, std::size_t count);
    bool write(const std::vector<std::complex<double>>& samples) {
        return write(samples.data(), samples.size());
    }
    // Flushes and closes. True only if every byte reached the file.
    bool close();

    bool isOpen() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }

private:
    bool flushBuffer();
    void fail(const std::string& what, int errorNumber);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string buffer_;
    std::string error_;
    bool ioFailed_ = false; // after a failed write the file's contents are unknown
};

// Writes a whole recording in one go; on failure `error` says why.
bool writeRecording(const std::string& path, const std::optional<RecordingHeader>& header,
                    const std::vector<std::complex<double>>& samples, std::string& error);

} // namespace tavrix::record
