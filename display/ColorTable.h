#pragma once

#include <QRgb>
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

    QRgb rgb(double value) const {
        // The map's own ratio and its own tests of the ends, so that boundary values take the
        // same side as with the map.
        const double ratio = (value - min_) / width_;
        if (ratio > 0.0 && ratio < 1.0)
            return table_[static_cast<std::size_t>(ratio * scale_ + 0.5)];
        if (ratio >= 1.0)
            return high_;
        if (ratio <= 0.0)
            return low_;
        return nan_;
    }

    std::size_t size() const { return table_.size(); }

    // Every colour is opaque or all zero, so the colours read the same premultiplied.
    bool PremultipliedAlike() const { return premultipliedAlike_; }

private:
    std::vector<QRgb> table_;
    double min_ = 0.0;
    double width_ = 1.0;
    double scale_ = 0.0;
    QRgb low_ = 0;
    QRgb high_ = 0;
    QRgb nan_ = 0;
    bool premultipliedAlike_ = false;
};
