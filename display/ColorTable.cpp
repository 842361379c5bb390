#include "display/ColorTable.h"

#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <qwt_color_map.h>
#include <qwt_interval.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kMinEntries = 1024;
constexpr std::size_t kMaxEntries = std::size_t{1} << 16;

int LargestChannelStep(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
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
    std::vector<QRgb>& colours = table.colours_;
    colours.resize(entries + 3);
    const double last = static_cast<double>(entries - 1);
    // The first and last entries stand for the inside of the range next to its ends, which
    // the end colours do not always match (a map may end on two stops at 1.0).
    constexpr double kNearEnd = 1e-12;
    colours[kLow] = colourAt(0.0);
    for (std::size_t i = 0; i < entries; ++i)
        colours[kInside + i] =
            colourAt(std::clamp(static_cast<double>(i) / last, kNearEnd, 1.0 - kNearEnd));
    table.high_ = kInside + entries;
    table.nan_ = table.high_ + 1;
    colours[table.high_] = colourAt(1.0);
    colours[table.nan_] = linear->rgb(range, std::nan(""));
    table.min_ = range.minValue();
    table.width_ = range.width();
    table.scale_ = last;
    return table;
}

void ColorTable::Map(const double* values, QRgb* out, std::size_t count) const {
    const QRgb* colours = colours_.data();
    std::size_t i = 0;
#ifdef __SSE2__
    // Index() two values at a time, the three end cases blended in by masks; values come in no
    // order, so branches would mostly be mispredicted.
    const __m128d min = _mm_set1_pd(min_);
    const __m128d width = _mm_set1_pd(width_);
    const __m128d scale = _mm_set1_pd(scale_);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d zero = _mm_setzero_pd();
    const __m128d one = _mm_set1_pd(1.0);
    const __m128i inside = _mm_set1_epi32(static_cast<int>(kInside));
    const __m128i low = _mm_set1_epi32(static_cast<int>(kLow));
    const __m128i high = _mm_set1_epi32(static_cast<int>(high_));
    const __m128i nan = _mm_set1_epi32(static_cast<int>(nan_));
    // The two 64-bit lane masks of a comparison as the two low 32-bit lanes.
    const auto narrow = [](__m128d mask) {
        return _mm_shuffle_epi32(_mm_castpd_si128(mask), _MM_SHUFFLE(2, 0, 2, 0));
    };
    const auto select = [](__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    };
    for (; i + 2 <= count; i += 2) {
        const __m128d ratio = _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(values + i), min), width);
        // MAXPD gives its second operand when the first is NaN.
        const __m128d position =
            _mm_min_pd(_mm_max_pd(_mm_add_pd(_mm_mul_pd(ratio, scale), half), zero), scale);
        __m128i index = _mm_add_epi32(_mm_cvttpd_epi32(position), inside);
        index = select(narrow(_mm_cmple_pd(ratio, zero)), low, index);
        index = select(narrow(_mm_cmpge_pd(ratio, one)), high, index);
        index = select(narrow(_mm_cmpunord_pd(ratio, ratio)), nan, index);
        out[i] = colours[_mm_cvtsi128_si32(index)];
        out[i + 1] = colours[_mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))];
    }
#endif
    for (; i < count; ++i)
        out[i] = colours[Index(values[i])];
}
