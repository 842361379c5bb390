#include "record/RecordingWriter.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace tavrix::record {

namespace {

constexpr std::size_t kFlushThreshold = 1 << 16;

// Fixed notation with six decimals, independent of the C locale (a Qt application
// adopts the user's locale, which would turn the decimal point into a comma).
void appendFixed6(std::string& out, double value) {
    char text[400]; // enough for the largest double in fixed notation
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    out.append(text, result.ptr);
}

void appendInt(std::string& out, long long value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

bool truncatesToInt(double value) {
    const double whole = std::trunc(value);
    return std::isfinite(whole) && whole >= static_cast<double>(INT_MIN) &&
           whole <= static_cast<double>(INT_MAX);
}

} // namespace

RecordingWriter::~RecordingWriter() {
    if (file_)
        std::fclose(file_);
}

void RecordingWriter::fail(const std::string& what, int errorNumber) {
    ioFailed_ = true;
    if (!error_.empty())
        return;
    error_ = what + " \"" + path_ + "\"";
    if (errorNumber != 0)
        error_ += std::string(": ") + std::strerror(errorNumber);
}

bool RecordingWriter::open(const std::string& path, const std::optional<RecordingHeader>& header) {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    path_ = path;
    error_.clear();
    buffer_.clear();
    ioFailed_ = false;

    errno = 0;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        fail("Cannot create", errno);
        return false;
    }
    if (header) {
        appendFixed6(buffer_, header->centerFrequencyHz);
        buffer_ += '\n';
        appendFixed6(buffer_, header->sweepTimeMs);
        buffer_ += '\n';
        appendInt(buffer_, header->samplesPerSweep);
        buffer_ += '\n';
        appendFixed6(buffer_, header->modeValue);
        buffer_ += '\n';
    }
    return true;
}

bool RecordingWriter::write(const std::complex<double>* samples, std::size_t count) {
    if (!file_) {
        if (error_.empty())
            error_ = "No recording file is open";
        return false;
    }
    if (!error_.empty())
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!truncatesToInt(samples[i].real()) || !truncatesToInt(samples[i].imag())) {
            error_ = "Sample " + std::to_string(i) + " of a block for \"" + path_ +
                     "\" is not a finite value within the range of int";
            return false;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        appendInt(buffer_, static_cast<int>(samples[i].real()));
        buffer_ += '+';
        appendInt(buffer_, static_cast<int>(samples[i].imag()));
        buffer_ += "i\n";
        if (buffer_.size() >= kFlushThreshold && !flushBuffer())
            return false;
    }
    return true;
}

bool RecordingWriter::flushBuffer() {
    if (buffer_.empty())
        return true;
    errno = 0;
    const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    if (written != buffer_.size()) {
        fail("Cannot write", errno);
        return false;
    }
    buffer_.clear();
    return true;
}

bool RecordingWriter::close() {
    if (!file_) {
        if (error_.empty())
            error_ = "No recording file is open";
        return false;
    }
    // Samples accepted before a refused one are still written.
    if (!ioFailed_)
        flushBuffer();
    errno = 0;
    if (!ioFailed_ && std::fflush(file_) != 0)
        fail("Cannot write", errno);
    errno = 0;
    if (std::fclose(file_) != 0)
        fail("Cannot close", errno);
    file_ = nullptr;
    buffer_.clear();
    return error_.empty();
}

bool writeRecording(const std::string& path, const std::optional<RecordingHeader>& header,
                    const std::vector<std::complex<double>>& samples, std::string& error) {
    RecordingWriter writer;
    const bool ok = writer.open(path, header) && writer.write(samples) && writer.close();
    if (!ok) {
        if (writer.isOpen())
            writer.close();
        error = writer.error();
    }
    return ok;
}

} // namespace tavrix::record
