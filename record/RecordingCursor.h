#pragma once

// Random access to a recording of either format, for navigation in long captures. SigMF
// samples have a fixed size, so any sample is one seek away; a text file is indexed once when
// opened (the byte offset of every kIndexStride-th sample), so a seek parses at most one
// stride of lines and the index of a file of many gigabytes stays small.

#include "record/RecordingFile.h"
#include "record/RecordingFormat.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrix::record {

class RecordingCursor {
public:
    static constexpr std::uint64_t kIndexStride = 4096;
    // Told the fraction of the file indexed so far (0..1); false cancels the opening.
    using Progress = std::function<bool(double fraction)>;

    // Opens `path` (format by its name, as formatOf says) and indexes it. Null, with `error`
    // naming the file and the reason, when it cannot be read, is malformed, or was cancelled.
    static std::unique_ptr<RecordingCursor> open(const std::string& path, std::string& error,
                                                 const Progress& progress = {});
    virtual ~RecordingCursor() = default;

    virtual const std::string& path() const = 0;
    virtual const std::optional<RecordingHeader>& header() const = 0;
    virtual const RecordingInfo& info() const = 0;
    // Samples in the file when it was opened.
    virtual std::uint64_t sampleCount() const = 0;

    // Replaces `out` with samples [first, first + count), clipped to sampleCount(). False, with
    // error() saying why and where, when the file no longer holds them (it shrank or changed
    // since it was opened, or cannot be read) or a text line among them is malformed (opening
    // looks only for line ends): `out` is then empty. `first` beyond the end is such a failure
    // too. Reads that continue where the last one ended need no seek.
    virtual bool read(std::uint64_t first, std::size_t count,
                      std::vector<std::complex<double>>& out) = 0;
    virtual const std::string& error() const = 0;
};

// Writes samples [first, first + count) of the recording `in` as a new recording `out` (its
// format by its name): the same header; in SigMF, core:datetime moved on by the clip's start
// (when the source has a time) and, when `label` is not empty, one annotation over the whole
// clip carrying it. False with `error` when the region is empty or lies outside `in`, or the
// output cannot be written; nothing of `out` is left then, and `in` is never touched (writing
// over it is refused).
bool writeClip(const std::string& in, const std::string& out, std::uint64_t first,
               std::uint64_t count, const std::string& label, std::string& error);

} // namespace tavrix::record
