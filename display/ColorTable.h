#pragma once

#include <QRgb>
#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

class QwtColorMap;
class QwtInterval;

// A linear colour map tabulated for one colour range. Mapping a value through the map means a
// division, a binary search among the stops and an interpolation; through the table it is a
// division and one load. The table is dense enough for the steepest segment of the map that
// every colour it gives inside the range is within 1 per channel of the map's own; values at
// or beyond the ends take the map's end colours exactly, and NaN the map's colour for NaN.
class ColorTable {
public:
    // Empty when the map cannot be tabulated faithfully: a map other than a QwtLinearColorMap
    // with scaled RGB colours, one with two stops at the same inner position (a step, which no
    // table reproduces), or a range that is empty or not finite.
    static std::optional<ColorTable> FromMap(const QwtColorMap& map, const QwtInterval& range);

    QRgb rgb(double value) const { return colours_[Index(value)]; }

    // rgb() of `count` values.
    void Map(const double* values, QRgb* out, std::size_t count) const;

    // Entries for the inside of the range.
    std::size_t size() const { return colours_.size() - 3; }

private:
    // The map's own ratio and its own tests of the ends, so that boundary values fall on the
    // same side as with the map; selects rather than branches, values being in no order.
    std::size_t Index(double value) const {
        const double ratio = (value - min_) / width_;
        // NaN fails every comparison, so the clamp leaves 0 for it.
        const double position = ratio * scale_ + 0.5;
        const double low = position > 0.0 ? position : 0.0;
        const double clamped = low < scale_ ? low : scale_;
        std::size_t index = kInside + static_cast<std::size_t>(clamped);
        index = ratio <= 0.0 ? kLow : index;
        index = ratio >= 1.0 ? high_ : index;
        index = ratio != ratio ? nan_ : index;
        return index;
    }

    static constexpr std::size_t kLow = 0;
    static constexpr std::size_t kInside = 1;
    // The colour below the range, the inside entries, the colours above the range and of NaN.
    std::vector<QRgb> colours_;
    double min_ = 0.0;
    double width_ = 1.0;
    double scale_ = 0.0;
    std::size_t high_ = 0;
    std::size_t nan_ = 0;
};
