#pragma once

// The numbers a frame's result shows: where the window puts its marker or dials, for the
// window and for anything else that reports them (the command line's analysis), so both
// show the same numbers.

#include "radar/Pipeline.h"
#include "radar/Settings.h"

#include <optional>

namespace tavrix::radar {

struct Readings {
    std::optional<double> rangeM;      // none where the display shows no range
    std::optional<double> velocityMps; // none where it shows no velocity
    std::optional<double> peakDb;      // of the value read
};

// FMCW range displays: the strongest bin inside the range window. Map: the strongest cell.
// Velocity waterfall and CW: the strongest velocity. FSK: the dials, when a target was
// detected above the threshold.
Readings ReadingsOf(const Settings& settings, const Result& result);

} // namespace tavrix::radar
