#pragma once

#include "record/RecordingFormat.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrix::record {

// Reads a recording file in pieces, so playback of a long recording needs bounded memory.
// A file is either four header lines followed by sample lines, or sample lines only. Lines
// may end in LF or CR LF; the last one must be complete. Anything else is refused with an
// error that names the file and the line.
class RecordingReader {
public:
    RecordingReader() = default;
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;
    ~RecordingReader();

    // Opens `path` and reads its header if it has one.
    bool open(const std::string& path);
    const std::optional<RecordingHeader>& header() const { return header_; }

    // Appends up to `maxSamples` samples to `out` and returns how many. Fewer than asked
    // means the end of the file or a failure (see failed()).
    std::size_t read(std::vector<std::complex<double>>& out, std::size_t maxSamples);

    bool atEnd() const { return atEnd_; }
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    // For an index of the file: the byte at which the sample lines begin, and how many lines
    // come before them (the header's four, or none).
    std::uint64_t samplesOffset() const { return samplesOffset_; }
    std::uint64_t linesBeforeSamples() const { return header_ ? 4 : 0; }

    // Continues at the line that begins at byte `offset`, found by an index of the file;
    // `linesBefore` lines precede it, so errors still name the right line. Reopens a file
    // whose end had been reached. False with error() when no line begins there any more.
    bool seek(std::uint64_t offset, std::uint64_t linesBefore);
    // Passes over up to `lines` sample lines without reading them; how many it passed.
    std::uint64_t skip(std::uint64_t lines);

private:
    enum class LineResult { Line, End, Failed };
    LineResult nextLine(std::string_view& line);
    // Reads (into `out`) or, without it, passes over up to `lines` sample lines.
    std::uint64_t advance(std::uint64_t lines, std::vector<std::complex<double>>* out);
    bool refill();
    void reject(const std::string& what, std::string_view line);
    void close();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::vector<char> buffer_;
    std::uint64_t bufferOffset_ = 0; // byte of the file in buffer_[0]
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t samplesOffset_ = 0;
    bool fileEnded_ = false;
    std::uint64_t lineNumber_ = 0;
    std::optional<RecordingHeader> header_;
    std::optional<std::complex<double>> pending_; // first sample of a headerless file
    bool atEnd_ = false;
    std::string error_;
};

struct Recording {
    std::optional<RecordingHeader> header;
    std::vector<std::complex<double>> samples;
};

// Reads a whole recording of either format (see RecordingFile.h); on failure `error` says why
// and where.
bool readRecording(const std::string& path, Recording& recording, std::string& error);

} // namespace tavrix::record
