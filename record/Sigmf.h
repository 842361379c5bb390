#pragma once

// SigMF recordings: cu16_le samples (I then Q, the converters' raw counts) in .sigmf-data and
// their description in .sigmf-meta. Besides the core fields the metadata carries the "tavrix"
// namespace (see tavrix.sigmf-ext.md), which holds the text header's four numbers exactly.

#include "record/RecordingFile.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace tavrix::record {

inline constexpr char kSigmfDatatype[] = "cu16_le";
inline constexpr char kSigmfVersion[] = "1.2.0";
inline constexpr char kTavrixNamespaceVersion[] = "1.0.0";

// `path` without its .sigmf-data, .sigmf-meta or .sigmf ending.
std::string sigmfBase(const std::string& path);
std::string sigmfDataPath(const std::string& path);
std::string sigmfMetaPath(const std::string& path);

// "YYYY-MM-DDThh:mm:ss.sssZ".
std::string isoUtc(std::chrono::system_clock::time_point when);
// A UTC date and time as core:datetime takes it (RFC 3339, offset "Z" only).
bool isIsoUtc(const std::string& text);
// `datetime` (as isIsoUtc takes it) moved on by `seconds`, to the nanosecond, with at least
// milliseconds; empty when `datetime` is no such time or `seconds` is negative or absurd.
std::string isoUtcPlus(const std::string& datetime, long double seconds);

class SigmfSink final : public RecordingSink {
public:
    SigmfSink() = default;
    SigmfSink(const SigmfSink&) = delete;
    SigmfSink& operator=(const SigmfSink&) = delete;
    ~SigmfSink() override;

    // Writes the metadata at once and creates the data file, so that a recording cut short
    // is still a readable pair.
    bool open(const std::string& path, const std::optional<RecordingHeader>& header,
              const RecordingInfo& info) override;
    // Refuses, writing nothing of the call, a part that is not an integer from 0 to 65535.
    bool write(const std::complex<double>* samples, std::size_t count) override;
    bool close() override;
    const std::string& error() const override { return error_; }

private:
    bool flushBuffer();
    void fail(const std::string& what, const std::string& file, int errorNumber);

    std::FILE* data_ = nullptr;
    std::string dataPath_;
    std::vector<unsigned char> buffer_;
    std::uint64_t accepted_ = 0;
    std::string error_;
    bool ioFailed_ = false; // after a failed write the file's contents are unknown
};

class SigmfSource final : public RecordingSource {
public:
    SigmfSource() = default;
    SigmfSource(const SigmfSource&) = delete;
    SigmfSource& operator=(const SigmfSource&) = delete;
    ~SigmfSource() override;

    // Reads and checks the metadata and opens the data file; false with error() if either
    // cannot be used.
    bool open(const std::string& path);

    const std::optional<RecordingHeader>& header() const override { return header_; }
    const RecordingInfo& info() const override { return info_; }
    std::size_t read(std::vector<std::complex<double>>& out, std::size_t maxSamples) override;
    bool atEnd() const override { return done_ == total_ && !failed(); }
    bool failed() const override { return !error_.empty(); }
    const std::string& error() const override { return error_; }
    std::uint64_t sampleCount() const { return total_; }
    // Continues at sample `index` (clipped to sampleCount()), reopening the data file when the
    // end had closed it. False with error() when it cannot.
    bool seek(std::uint64_t index);
    const std::string& dataPath() const { return dataPath_; }

private:
    bool readMetadata(const std::string& metaPath);
    void close();

    std::FILE* data_ = nullptr;
    std::string dataPath_;
    std::optional<RecordingHeader> header_;
    RecordingInfo info_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::vector<unsigned char> bytes_;
    std::string error_;
};

} // namespace tavrix::record
