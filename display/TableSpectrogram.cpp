#include "display/TableSpectrogram.h"

#include "display/ColorTable.h"
#include "display/Tavrix_RasterData.h"

#include <QFuture>
#include <QImage>
#include <QList>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <qwt_scale_map.h>
#include <typeinfo>
#include <vector>

// This file is built without floating-point contraction: the interpolation must round as the
// library's own does, operation by operation.

RasterLineSampler::RasterLineSampler(const QwtMatrixRasterData& raster, const QwtScaleMap& xMap,
                                     const QwtScaleMap& yMap, int width)
    : yMap_(yMap), matrix_(raster.valueMatrix()), values_(matrix_.constData()),
      columns_(raster.numColumns()), rows_(raster.numRows()),
      bilinear_(raster.resampleMode() == QwtMatrixRasterData::BilinearInterpolation),
      yInterval_(raster.interval(Qt::YAxis)),
      columnTaps_(static_cast<std::size_t>(std::max(width, 0))) {
    const QwtInterval xInterval = raster.interval(Qt::XAxis);
    // A matrix without a whole row has no value anywhere (the library would read outside it).
    if (columns_ <= 0 || rows_ <= 0)
        return;
    const double dx = xInterval.width() / columns_;
    dy_ = yInterval_.width() / rows_;
    for (int x = 0; x < width; ++x) {
        const double tx = xMap.invTransform(x);
        Tap& tap = columnTaps_[static_cast<std::size_t>(x)];
        if (!xInterval.contains(tx))
            continue;
        if (bilinear_) {
            int first = qRound((tx - xInterval.minValue()) / dx) - 1;
            int second = first + 1;
            if (first < 0)
                first = second;
            else if (second >= columns_)
                second = first;
            const double x2 = xInterval.minValue() + (second + 0.5) * dx;
            tap = {first, second, (x2 - tx) / dx};
        } else {
            int column = static_cast<int>((tx - xInterval.minValue()) / dx);
            if (column >= columns_)
                column = columns_ - 1;
            tap = {column, column, 0.0};
        }
    }
}

RasterLineSampler::Tap RasterLineSampler::RowTap(int y) const {
    Tap tap;
    const double ty = yMap_.invTransform(y);
    if (columns_ <= 0 || rows_ <= 0 || !yInterval_.contains(ty))
        return tap;
    if (bilinear_) {
        int first = qRound((ty - yInterval_.minValue()) / dy_) - 1;
        int second = first + 1;
        if (first < 0)
            first = second;
        else if (second >= rows_)
            second = first;
        const double y2 = yInterval_.minValue() + (second + 0.5) * dy_;
        return {first, second, (y2 - ty) / dy_};
    }
    int row = static_cast<int>((ty - yInterval_.minValue()) / dy_);
    if (row >= rows_)
        row = rows_ - 1;
    return {row, row, 0.0};
}

void RasterLineSampler::Line(int y, double* out) const {
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    const std::size_t width = columnTaps_.size();
    const Tap row = RowTap(y);
    if (row.first < 0) {
        std::fill(out, out + width, kNan);
        return;
    }
    if (!bilinear_) {
        const double* values = values_ + static_cast<std::size_t>(row.first) * columns_;
        for (std::size_t x = 0; x < width; ++x) {
            const int column = columnTaps_[x].first;
            out[x] = column < 0 ? kNan : values[column];
        }
        return;
    }
    const double ry = row.weight;
    for (std::size_t x = 0; x < width; ++x) {
        const Tap& column = columnTaps_[x];
        if (column.first < 0) {
            out[x] = kNan;
            continue;
        }
        const double rx = column.weight;
        const double v11 = At(row.first, column.first);
        const double v21 = At(row.first, column.second);
        const double v12 = At(row.second, column.first);
        const double v22 = At(row.second, column.second);
        const double vr1 = rx * v11 + (1.0 - rx) * v21;
        const double vr2 = rx * v12 + (1.0 - rx) * v22;
        out[x] = ry * vr1 + (1.0 - ry) * vr2;
    }
}

TableSpectrogram::TableSpectrogram(const QString& title) : QwtPlotSpectrogram(title) {
    setRenderThreadCount(0);
}

QImage TableSpectrogram::renderImage(const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                                     const QRectF& area, const QSize& imageSize) const {
    const QwtRasterData* raster = data();
    const QwtColorMap* map = colorMap();
    // Only rasters whose value() is the matrix lookup itself can be sampled from the matrix.
    const auto* matrix = dynamic_cast<const QwtMatrixRasterData*>(raster);
    const bool plainMatrix = matrix && (typeid(*raster) == typeid(QwtMatrixRasterData) ||
                                        typeid(*raster) == typeid(Tavrix_RasterData));
    std::optional<ColorTable> table;
    if (!imageSize.isEmpty() && plainMatrix && map)
        table = ColorTable::FromMap(*map, raster->interval(Qt::ZAxis));
    if (!table)
        return QwtPlotSpectrogram::renderImage(xMap, yMap, area, imageSize);

    QImage image(imageSize, table->PremultipliedAlike() ? QImage::Format_ARGB32_Premultiplied
                                                        : QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    const RasterLineSampler sampler(*matrix, xMap, yMap, image.width());
    uchar* const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    const int width = image.width();
    const auto renderLines = [&](int first, int count) {
        std::vector<double> values(static_cast<std::size_t>(width));
        for (int y = first; y < first + count; ++y) {
            sampler.Line(y, values.data());
            table->Map(values.data(), reinterpret_cast<QRgb*>(bits + y * bytesPerLine),
                       values.size());
        }
    };

    // Tiles of whole lines as the stock item cuts them; the last one on this thread.
    int threads = static_cast<int>(renderThreadCount());
    if (threads <= 0)
        threads = std::max(QThread::idealThreadCount(), 1);
    const int linesPerTile = image.height() / threads;
    QList<QFuture<void>> futures;
    for (int i = 0; i < threads; ++i) {
        const int first = i * linesPerTile;
        if (i == threads - 1)
            renderLines(first, image.height() - first);
        else
            futures += QtConcurrent::run(
                [&renderLines, first, linesPerTile] { renderLines(first, linesPerTile); });
    }
    for (QFuture<void>& future : futures)
        future.waitForFinished();
    return image;
}
