#pragma once

#include <string>

namespace tavrix::record {

// Gives the finished recording at `from` the name `to`. A new name or a regular file is
// replaced at once by renaming; on another file system, and when `to` is a link or a device
// whose node must stay, the bytes are copied and `from` removed afterwards. On failure
// `from` is left as it was and `error` names the file and the system's reason.
bool moveRecording(const std::string& from, const std::string& to, std::string& error);

} // namespace tavrix::record
