#pragma once

// An image of a whole recording, for finding the moments that matter in a long capture:
// range against time in FMCW, Doppler velocity against time in CW and FSK. It is made from
// frames spread evenly over the file, each processed as the matching waterfall would, so
// memory stays bounded whatever the recording's size.

#include "record/RecordingCursor.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrix::radar {

struct OverviewImage {
    std::uint32_t columns = 0; // time slices, oldest first
    std::uint32_t bins = 0;    // per column: nearest range or most negative velocity first
    std::vector<float> values; // dB; column c holds [c * bins, (c + 1) * bins)
    double totalSeconds = 0.0; // the recording's length
    double binFirst = 0.0;     // axis value of the first and last bin: metres or m/s
    double binLast = 0.0;
    std::string axisTitle; // what the bins are, with the unit
};

// Told the fraction done (0..1); false cancels.
using OverviewProgress = std::function<bool(double fraction)>;

// At most `maxColumns` columns (at least one), fewer when the recording has fewer frames.
// Column c is the frame that starts at the sweep nearest c / columns of the way through,
// processed as the range waterfall (FMCW) or the velocity waterfall (CW, FSK) would with both
// windows open and no clutter cancellation; only those frames are read. `progress` is told
// after each column. nullopt with `error` (naming the file) when the recording has no header,
// fits no board, is shorter than one frame, fails to read, or the build was cancelled.
std::optional<OverviewImage> BuildOverview(record::RecordingCursor& recording,
                                           std::uint32_t maxColumns,
                                           const OverviewProgress& progress, std::string& error);

} // namespace tavrix::radar
