#pragma once

#include <string>
#include <vector>

namespace tavrix::record {

// Gives the finished recording at `from` the name `to`. A new name or a regular file is
// replaced at once by renaming; on another file system, and when `to` is a link or a device
// whose node must stay, the bytes are copied and `from` removed afterwards. On failure
// `from` is left as it was and `error` names the file and the system's reason.
bool moveRecording(const std::string& from, const std::string& to, std::string& error);

// The files of the recording `path` names: a SigMF pair (data, then metadata) or one text file.
std::vector<std::string> recordingFiles(const std::string& path);

// moveRecording for a whole recording; `from` and `to` name recordings of one format. A SigMF
// pair moves together: on failure both recordings are as they were and `error` says why.
bool moveRecordingFiles(const std::string& from, const std::string& to, std::string& error);

} // namespace tavrix::record
