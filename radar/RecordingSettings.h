#pragma once

// The board choices a recording was made with, worked out from its header, so that a
// recording is processed (and its controls set) exactly as the stream it came from.

#include "radar/Settings.h"
#include "record/RecordingFormat.h"

#include <optional>
#include <string>

namespace tavrix::radar {

// Mode, device model, sweep-time, sample-window and bandwidth choices that reproduce
// `header`, in otherwise default settings; or nullopt with `why` naming the value no choice
// reproduces. The fourth line tells the mode: 6000000 FSK, 0 CW, anything else a sawtooth
// bandwidth. Some headers fit several models (two share 5.8 GHz, two 9.8 GHz, and the 24 GHz
// model sweeping 2 GHz upwards is centred where the 25 GHz model is): the first in list order
// wins. Every value the processing takes from a model (carrier, bandwidth, sweep time) is in
// the header, so the choice changes no result, only codes.
std::optional<Settings> SettingsOfRecording(const record::RecordingHeader& header,
                                            std::string* why);

} // namespace tavrix::radar
