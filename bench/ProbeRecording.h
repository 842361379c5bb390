#pragma once

// The recordings the probes measure: sweeps of mid-scale noise carrying one echo, written in
// parts as the board would have recorded them under `s`.

#include "radar/Settings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace probes {

// `sweeps` sweeps whose echo advances `step(sweep)` radians a sample; with `phaseRunsOn` its
// phase carries over from sweep to sweep (CW), otherwise each sweep starts it afresh (FMCW).
// False, having said why on stderr, when the file cannot be written.
bool WriteRecording(const std::string& path, const tavrix::radar::Settings& s, std::uint64_t sweeps,
                    const std::function<double(std::uint64_t)>& step, bool phaseRunsOn,
                    unsigned seed);

// Removes the recording, both files of a SigMF pair.
void RemoveRecording(const std::string& path);

} // namespace probes
