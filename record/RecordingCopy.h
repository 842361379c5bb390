#pragma once

// What converting a recording and cutting a clip of it share: the refusal to write over the
// input, and the copy in parts that leaves nothing behind when it fails.

#include "record/RecordingFile.h"

#include <string>

namespace tavrix::record {

// True, with `error` ("<what>: <file> is part of both"), when writing `out` would truncate a
// file of `in`, destroying the very samples to be copied.
bool writesOverInput(const std::string& in, const std::string& out, const std::string& what,
                     std::string& error);

// Writes what `source` has left as the recording `out` (format by its name), in parts, with
// the source's header and `info`. A copy never stamps the time of writing: a source that kept
// no start time gets none. A text source says nothing of its mode; SigMF gets the one its
// header implies. On failure nothing of `out` is left.
bool copyRecording(RecordingSource& source, const std::string& out, RecordingInfo info,
                   std::string& error);

} // namespace tavrix::record
