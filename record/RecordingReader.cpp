#include "record/RecordingReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sys/types.h>

namespace tavrix::record {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// A header line holds at most a double in fixed notation (about 320 characters).
constexpr std::size_t kMaxLineLength = 512;

// One "%d+%di" line: optional minus, digits, '+', optional minus, digits, 'i'.
std::optional<std::complex<double>> parseSample(std::string_view line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    int re = 0;
    int im = 0;
    auto r = std::from_chars(p, end, re);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '+')
        return std::nullopt;
    r = std::from_chars(r.ptr + 1, end, im);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != 'i' || r.ptr + 1 != end)
        return std::nullopt;
    return std::complex<double>(re, im);
}

std::optional<double> parseReal(std::string_view line) {
    double value = 0.0;
    const auto r = std::from_chars(line.data(), line.data() + line.size(), value);
    if (r.ec != std::errc() || r.ptr != line.data() + line.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> parseInt(std::string_view line) {
    std::int32_t value = 0;
    const auto r = std::from_chars(line.data(), line.data() + line.size(), value);
    if (r.ec != std::errc() || r.ptr != line.data() + line.size())
        return std::nullopt;
    return value;
}

} // namespace

RecordingReader::~RecordingReader() {
    close();
}

void RecordingReader::close() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

void RecordingReader::reject(const std::string& what, std::string_view line) {
    constexpr std::size_t kExcerpt = 40;
    error_ = path_ + ": line " + std::to_string(lineNumber_) + ": " + what;
    if (!line.empty()) {
        error_ += " (\"" + std::string(line.substr(0, kExcerpt));
        error_ += line.size() > kExcerpt ? "...\")" : "\")";
    }
    close();
}

bool RecordingReader::refill() {
    std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
    bufferOffset_ += begin_;
    end_ -= begin_;
    begin_ = 0;
    errno = 0;
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    end_ += got;
    if (got == 0) {
        if (std::ferror(file_)) {
            error_ = path_ + ": cannot read after line " + std::to_string(lineNumber_) + ": " +
                     std::strerror(errno);
            close();
            return false;
        }
        fileEnded_ = true;
    }
    return true;
}

RecordingReader::LineResult RecordingReader::nextLine(std::string_view& line) {
    if (!file_)
        return failed() ? LineResult::Failed : LineResult::End;
    for (;;) {
        const auto first = buffer_.begin() + begin_;
        const auto last = buffer_.begin() + end_;
        const auto newline = std::find(first, last, '\n');
        if (newline != last) {
            ++lineNumber_;
            line = std::string_view(&*first, newline - first);
            begin_ = (newline - buffer_.begin()) + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.size() > kMaxLineLength) {
                reject("line too long", line);
                return LineResult::Failed;
            }
            return LineResult::Line;
        }
        if (fileEnded_) {
            if (first == last) {
                close();
                return LineResult::End;
            }
            ++lineNumber_;
            reject("last line is incomplete (file cut short?)",
                   std::string_view(&*first, last - first));
            return LineResult::Failed;
        }
        if (end_ - begin_ >= kMaxLineLength + 2) {
            ++lineNumber_;
            reject("line too long", std::string_view(&*first, last - first));
            return LineResult::Failed;
        }
        if (!refill())
            return LineResult::Failed;
    }
}

bool RecordingReader::open(const std::string& path) {
    close();
    path_ = path;
    buffer_.assign(kBufferSize, '\0');
    bufferOffset_ = samplesOffset_ = 0;
    begin_ = end_ = 0;
    fileEnded_ = false;
    lineNumber_ = 0;
    header_.reset();
    pending_.reset();
    atEnd_ = false;
    error_.clear();

    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        error_ = "Cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }

    std::string_view line;
    switch (nextLine(line)) {
    case LineResult::End:
        atEnd_ = true;
        return true;
    case LineResult::Failed:
        return false;
    case LineResult::Line:
        break;
    }
    if ((pending_ = parseSample(line)))
        return true;

    RecordingHeader header;
    const auto centerFrequency = parseReal(line);
    if (!centerFrequency || *centerFrequency <= 0.0) {
        reject("expected a sample \"I+Qi\" or the centre frequency", line);
        return false;
    }
    header.centerFrequencyHz = *centerFrequency;

    const char* const expected[] = {"the sweep time in ms", "the samples per sweep",
                                    "the bandwidth or mode value"};
    for (int field = 0; field < 3; ++field) {
        switch (nextLine(line)) {
        case LineResult::Failed:
            return false;
        case LineResult::End:
            ++lineNumber_;
            reject(std::string("file ends before ") + expected[field], {});
            return false;
        case LineResult::Line:
            break;
        }
        bool valid = false;
        if (field == 1) {
            const auto count = parseInt(line);
            valid = count && *count > 0;
            if (valid)
                header.samplesPerSweep = *count;
        } else {
            const auto value = parseReal(line);
            valid = value && (field == 0 ? *value > 0.0 : *value >= 0.0);
            if (valid)
                (field == 0 ? header.sweepTimeMs : header.modeValue) = *value;
        }
        if (!valid) {
            reject(std::string("expected ") + expected[field], line);
            return false;
        }
    }
    header_ = header;
    samplesOffset_ = bufferOffset_ + begin_;
    return true;
}

bool RecordingReader::seek(std::uint64_t offset, std::uint64_t linesBefore) {
    if (!file_) {
        errno = 0;
        file_ = std::fopen(path_.c_str(), "rb");
        if (!file_) {
            error_ = "Cannot open \"" + path_ + "\": " + std::strerror(errno);
            return false;
        }
    }
    begin_ = end_ = 0;
    fileEnded_ = false;
    lineNumber_ = linesBefore;
    pending_.reset();
    atEnd_ = false;
    error_.clear();
    // The byte before the line must end the line before it; otherwise the file changed.
    bufferOffset_ = offset > 0 ? offset - 1 : 0;
    errno = 0;
    if (fseeko(file_, static_cast<off_t>(bufferOffset_), SEEK_SET) != 0) {
        error_ = path_ + ": cannot go to byte " + std::to_string(bufferOffset_) + ": " +
                 std::strerror(errno);
        close();
        return false;
    }
    if (offset == 0)
        return true;
    if (!refill())
        return false;
    if (end_ == 0 || buffer_[0] != '\n') {
        error_ = path_ + ": line " + std::to_string(linesBefore + 1) +
                 " no longer begins at byte " + std::to_string(offset) +
                 " (the file shrank or changed while open)";
        close();
        return false;
    }
    begin_ = 1;
    return true;
}

std::size_t RecordingReader::read(std::vector<std::complex<double>>& out, std::size_t maxSamples) {
    return static_cast<std::size_t>(advance(maxSamples, &out));
}

std::uint64_t RecordingReader::skip(std::uint64_t lines) {
    return advance(lines, nullptr);
}

std::uint64_t RecordingReader::advance(std::uint64_t lines,
                                       std::vector<std::complex<double>>* out) {
    std::uint64_t count = 0;
    if (count < lines && pending_) {
        if (out)
            out->push_back(*pending_);
        pending_.reset();
        ++count;
    }
    std::string_view line;
    while (count < lines && !atEnd_ && !failed()) {
        switch (nextLine(line)) {
        case LineResult::End:
            atEnd_ = true;
            break;
        case LineResult::Failed:
            break;
        case LineResult::Line:
            if (!out) {
                ++count;
            } else if (const auto sample = parseSample(line)) {
                out->push_back(*sample);
                ++count;
            } else {
                reject("expected a sample \"I+Qi\"", line);
            }
            break;
        }
    }
    return count;
}

} // namespace tavrix::record
