#include "display/Waterfall.h"

#include "display/ColorSchemes.h"
#include "display/TableSpectrogram.h"
#include "display/Tavrix_RasterData.h"

#include <QVector>
#include <algorithm>
#include <qwt_color_map.h>

Waterfall::Waterfall() : spectrogram(new TableSpectrogram(QString())) {}

Waterfall::~Waterfall() {
    delete spectrogram;
}

bool Waterfall::IsRing() const {
    // The 32-bit product may have wrapped; then the list is no whole number of rows.
    return rows_ > 0 && values_.size() == static_cast<std::size_t>(columns_) * rows_;
}

void Waterfall::Unroll() {
    if (head_ == 0)
        return;
    std::rotate(values_.begin(), values_.begin() + head_ * columns_, values_.end());
    head_ = 0;
}

void Waterfall::SetHistorySize(quint32 columns, quint32 rows) {
    columns_ = columns;
    rows_ = rows;
    head_ = 0;
    values_.assign(static_cast<quint32>(columns * rows), 0.0);
}

void Waterfall::AddRow(const std::vector<double>& values, bool scroll) {
    if (!scroll) {
        Unroll();
        std::copy_n(values.begin(), std::min(values.size(), values_.size()), values_.begin());
        return;
    }
    if (IsRing() && values.size() == columns_) {
        head_ = (head_ + rows_ - 1) % rows_;
        std::copy(values.begin(), values.end(), values_.begin() + head_ * columns_);
        return;
    }
    // A row of another width shifts the history off its row grid: insert and cut as a list.
    Unroll();
    const std::size_t size = values_.size();
    values_.insert(values_.begin(), values.begin(), values.end());
    values_.resize(size);
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
    // Still shared only if someone else kept the raster's values; then it is copied away.
    QVector<double>& snapshot = snapshots_[nextSnapshot_];
    nextSnapshot_ ^= 1;
    snapshot.resize(static_cast<int>(values_.size()));
    double* out = snapshot.data();
    VisitHistory(values_.size(), [&out](const double* piece, std::size_t count) {
        out = std::copy(piece, piece + count, out);
    });
    spectrogram->setData(new Tavrix_RasterData(snapshot, columns, xMin, xMax, yMin, yMax, zMin,
                                               zMax, resampleSelection));
}
