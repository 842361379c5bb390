#pragma once

// Recordings in either format behind one writer and one reader: text ("I+Qi" lines after an
// optional four-line header) and SigMF (a .sigmf-data file of cu16_le samples beside a
// .sigmf-meta JSON file). Both stream, so a recording of many gigabytes needs bounded memory.

#include "record/RecordingFormat.h"

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrix::record {

enum class FileFormat { Text, Sigmf };

// .sigmf-data, .sigmf-meta or .sigmf name the SigMF pair with that base name; anything else is
// text.
FileFormat formatOf(const std::string& path);

// A stretch of samples a recording marks with a label (SigMF's core annotations).
struct Annotation {
    std::uint64_t sampleStart = 0;
    std::uint64_t sampleCount = 0; // 0: the file gave none
    std::string label;
};

// What a recording says of itself beyond the four header numbers (SigMF keeps it; text has
// none).
struct RecordingInfo {
    std::string operatingMode; // "fmcw", "fsk", "cw", "fmcw-triangle"; empty: unknown
    std::string deviceModel;   // model name, empty: unknown
    std::string datetime;      // ISO 8601 UTC of the first sample; empty: see stampNow
    // An empty datetime means the time of writing (a live recording), or, without this, that
    // the time is unknown (a file that kept none): then none is written rather than a false one.
    bool stampNow = true;
    std::vector<Annotation> annotations{};
};

// Streaming writer, either format. Every failure is reported through the results and
// error(), which names the file and the reason; after the first failure nothing more is
// written.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    virtual bool open(const std::string& path, const std::optional<RecordingHeader>& header,
                      const RecordingInfo& info) = 0;
    // Fails, writing nothing of the call, if a sample has no form in the file.
    virtual bool write(const std::complex<double>* samples, std::size_t count) = 0;
    virtual bool close() = 0; // true only when everything reached the file(s)
    virtual const std::string& error() const = 0;
};

// A writer of the format formatOf(path) names.
std::unique_ptr<RecordingSink> makeSink(const std::string& path);

// Streaming reader, either format.
class RecordingSource {
public:
    virtual ~RecordingSource() = default;
    virtual const std::optional<RecordingHeader>& header() const = 0;
    virtual const RecordingInfo& info() const = 0;
    // Replaces `out` with up to `maxSamples` samples and returns how many. Fewer than asked
    // means the end or a failure (see failed()).
    virtual std::size_t read(std::vector<std::complex<double>>& out, std::size_t maxSamples) = 0;
    virtual bool atEnd() const = 0;
    virtual bool failed() const = 0;
    virtual const std::string& error() const = 0;
};

// Opens either format; null with `error` (file and reason) when it cannot.
std::unique_ptr<RecordingSource> openSource(const std::string& path, std::string& error);

// Copies a recording into the other (or the same) format in parts, losslessly. A text
// recording says nothing of its mode; SigMF gets the one its header implies. On failure
// nothing of `out` is left and `in` is untouched.
bool convertRecording(const std::string& in, const std::string& out, std::string& error);

} // namespace tavrix::record
