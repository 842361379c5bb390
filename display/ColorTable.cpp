#include "display/ColorTable.h"

#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <qwt_color_map.h>
#include <qwt_interval.h>

namespace {

constexpr std::size_t kMinEntries = 1024;
constexpr std::size_t kMaxEntries = std::size_t{1} << 16;

int LargestChannelStep(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

bool OpaqueOrZero(QRgb c) {
    return qAlpha(c) == 255 || c == 0;
}

} // namespace

std::optional<ColorTable> ColorTable::FromMap(const QwtColorMap& map, const QwtInterval& range) {
    const auto* linear = dynamic_cast<const QwtLinearColorMap*>(&map);
    if (!linear || linear->format() != QwtColorMap::RGB ||
        linear->mode() != QwtLinearColorMap::ScaledColors)
        return std::nullopt;
    if (!std::isfinite(range.minValue()) || !std::isfinite(range.maxValue()) ||
        !(range.width() > 0.0) || !std::isfinite(range.width()))
        return std::nullopt;

    // The table is read in the map's own terms: positions 0..1 of a unit range.
    const QwtInterval unit(0.0, 1.0);
    const auto colourAt = [&](double position) { return linear->rgb(unit, position); };

    // Nearest-entry lookup is off by at most half an entry, which must stay within one unit
    // of colour on the steepest segment.
    const QVector<double> stops = linear->colorStops();
    double steepest = 0.0;
    for (int i = 0; i + 1 < stops.size(); ++i) {
        const double a = stops[i];
        const double b = stops[i + 1];
        if (!(b > a)) {
            if (a > 0.0 && a < 1.0)
                return std::nullopt; // a step inside the range
            continue;
        }
        const double inset = (b - a) * 1e-9;
        const int step = LargestChannelStep(colourAt(a + inset), colourAt(b - inset));
        steepest = std::max(steepest, step / (b - a));
    }
    std::size_t entries = kMinEntries;
    while (entries - 1 < steepest && entries < kMaxEntries)
        entries *= 2;
    if (entries - 1 < steepest)
        return std::nullopt;

    ColorTable table;
    table.table_.resize(entries);
    const double last = static_cast<double>(entries - 1);
    // The first and last entries stand for the inside of the range next to its ends, which
    // the end colours do not always match (a map may end on two stops at 1.0).
    constexpr double kInside = 1e-12;
    for (std::size_t i = 0; i < entries; ++i)
        table.table_[i] =
            colourAt(std::clamp(static_cast<double>(i) / last, kInside, 1.0 - kInside));
    table.min_ = range.minValue();
    table.width_ = range.width();
    table.scale_ = last;
    table.low_ = colourAt(0.0);
    table.high_ = colourAt(1.0);
    table.nan_ = linear->rgb(range, std::nan(""));
    table.premultipliedAlike_ = OpaqueOrZero(table.low_) && OpaqueOrZero(table.high_) &&
                                OpaqueOrZero(table.nan_) &&
                                std::all_of(table.table_.begin(), table.table_.end(), OpaqueOrZero);
    return table;
}
