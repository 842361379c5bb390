#include "display/Waterfall.h"

#include "display/ColorSchemes.h"
#include "display/LookupRasterItem.h"
#include "display/Tavrix_RasterData.h"

#include <QVector>
#include <algorithm>
#include <cstdint>
#include <qwt_color_map.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Copies of at least this many values are written past the caches.
constexpr std::size_t kStreamingValues = std::size_t{1} << 17; // 1 MiB

// Copies `count` values to `to` and returns the end of the copy. A history far larger than
// the caches goes around them, which spares reading every line of the snapshot before
// writing it.
double* CopyValues(const double* from, std::size_t count, double* to) {
#ifdef __SSE2__
    if (count >= kStreamingValues) {
        std::size_t i = 0;
        for (; i < count && reinterpret_cast<std::uintptr_t>(to + i) % 16 != 0; ++i)
            to[i] = from[i];
        for (; i + 2 <= count; i += 2)
            _mm_stream_pd(to + i, _mm_loadu_pd(from + i));
        for (; i < count; ++i)
            to[i] = from[i];
        _mm_sfence();
        return to + count;
    }
#endif
    return std::copy(from, from + count, to);
}

} // namespace

Waterfall::Waterfall() : spectrogram(new LookupRasterItem(QString())) {}

Waterfall::~Waterfall() {
    delete spectrogram;
}

bool Waterfall::IsRing() const {
    // The 32-bit product may have wrapped; then the list is no whole number of rows.
    return rows_ > 0 && columns_ > 0 &&
           values_.size() == static_cast<std::size_t>(columns_) * rows_;
}

void Waterfall::Touch(std::size_t first, std::size_t count) {
    if (!IsRing()) {
        TouchAll();
        return;
    }
    const quint64 stamp = ++stamp_;
    for (std::size_t r = first; r < first + count && r < rowStamps_.size(); ++r)
        rowStamps_[r] = stamp;
}

void Waterfall::Unroll() {
    if (head_ == 0)
        return;
    std::rotate(values_.begin(), values_.begin() + head_ * columns_, values_.end());
    head_ = 0;
    TouchAll();
}

void Waterfall::SetHistorySize(quint32 columns, quint32 rows) {
    columns_ = columns;
    rows_ = rows;
    head_ = 0;
    values_.assign(static_cast<quint32>(columns * rows), 0.0);
    rowStamps_.assign(IsRing() ? rows_ : 0, 0);
    TouchAll();
}

void Waterfall::AddRow(const std::vector<double>& values, bool scroll) {
    if (!scroll) {
        Unroll();
        const std::size_t count = std::min(values.size(), values_.size());
        std::copy_n(values.begin(), count, values_.begin());
        if (count > 0)
            Touch(0, columns_ > 0 ? (count + columns_ - 1) / columns_ : 0);
        return;
    }
    if (IsRing() && values.size() == columns_) {
        head_ = (head_ + rows_ - 1) % rows_;
        std::copy(values.begin(), values.end(), values_.begin() + head_ * columns_);
        Touch(head_, 1);
        return;
    }
    // A row of another width shifts the history off its row grid: insert and cut as a list.
    Unroll();
    const std::size_t size = values_.size();
    values_.insert(values_.begin(), values.begin(), values.end());
    values_.resize(size);
    TouchAll();
}

void Waterfall::SetColorScheme(quint32 index) {
    if (std::unique_ptr<QwtLinearColorMap> map = CreateColorMap(index))
        spectrogram->setColorMap(map.release());
}

std::vector<double> Waterfall::History() const {
    std::vector<double> list;
    list.reserve(values_.size());
    VisitHistory(values_.size(), [&list](const double* piece, std::size_t count) {
        list.insert(list.end(), piece, piece + count);
    });
    return list;
}

void Waterfall::UpdateRaster(quint32 columns, double xMin, double xMax, double yMin, double yMax,
                             double zMin, double zMax) {
    // Still shared only if someone else kept the raster's values; writing then copies them
    // away first, and the rows brought up to date below land in that copy.
    const int which = nextSnapshot_;
    QVector<double>& snapshot = snapshots_[which];
    quint64& synced = snapshotStamps_[which];
    nextSnapshot_ ^= 1;

    if (!IsRing() || columns != columns_) {
        // The raster's rows are not the ring's: the history in list order.
        snapshot.resize(static_cast<int>(values_.size()));
        double* out = snapshot.data();
        VisitHistory(values_.size(), [&out](const double* piece, std::size_t count) {
            out = CopyValues(piece, count, out);
        });
        synced = 0;
        spectrogram->setData(new Tavrix_RasterData(snapshot, columns, xMin, xMax, yMin, yMax, zMin,
                                                   zMax, resampleSelection));
        return;
    }

    if (synced == 0 || wholeStamp_ > synced ||
        static_cast<std::size_t>(snapshot.size()) != values_.size()) {
        snapshot.resize(static_cast<int>(values_.size()));
        CopyValues(values_.data(), values_.size(), snapshot.data());
    } else {
        double* out = snapshot.data();
        for (std::size_t r = 0; r < rowStamps_.size(); ++r)
            if (rowStamps_[r] > synced)
                std::copy_n(values_.data() + r * columns_, columns_, out + r * columns_);
    }
    synced = stamp_;
    spectrogram->setData(new TurnedRasterData(snapshot, columns, static_cast<int>(head_), xMin,
                                              xMax, yMin, yMax, zMin, zMax, resampleSelection));
}
