#include "display/LookupRasterItem.h"

#include "display/ColorTable.h"
#include "display/Tavrix_RasterData.h"

#include <QFuture>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <qwt_painter.h>
#include <qwt_scale_map.h>
#include <typeinfo>
#include <vector>

// This file is built without floating-point contraction: the interpolation must round as the
// library's own does, operation by operation.

TurnedRasterData::TurnedRasterData(const QVector<double>& stored, quint32 columns, int turn,
                                   double xMin, double xMax, double yMin, double yMax, double zMin,
                                   double zMax, qint32 resampleSelection)
    : Tavrix_RasterData(stored, columns, xMin, xMax, yMin, yMax, zMin, zMax, resampleSelection),
      stored_(stored) {
    const int rows = numRows();
    turn_ = rows > 0 ? ((turn % rows) + rows) % rows : 0;
}

double TurnedRasterData::value(double x, double y) const {
    if (turn_ == 0)
        return QwtMatrixRasterData::value(x, y);
    // The library's lookup, row for row, but for the stored row it reads. There are rows and
    // columns here: a turn needs at least two rows.
    const QwtInterval xInterval = interval(Qt::XAxis);
    const QwtInterval yInterval = interval(Qt::YAxis);
    if (!(xInterval.contains(x) && yInterval.contains(y)))
        return qQNaN();
    const int columns = numColumns();
    const int rows = numRows();
    const double dx = xInterval.width() / columns;
    const double dy = yInterval.width() / rows;
    const double* values = stored_.constData();
    const auto at = [&](int row, int column) {
        return values[static_cast<std::size_t>(StoredRow(row)) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(column)];
    };
    if (resampleMode() == BilinearInterpolation) {
        int col1 = qRound((x - xInterval.minValue()) / dx) - 1;
        int row1 = qRound((y - yInterval.minValue()) / dy) - 1;
        int col2 = col1 + 1;
        int row2 = row1 + 1;
        if (col1 < 0)
            col1 = col2;
        else if (col2 >= columns)
            col2 = col1;
        if (row1 < 0)
            row1 = row2;
        else if (row2 >= rows)
            row2 = row1;
        const double v11 = at(row1, col1);
        const double v21 = at(row1, col2);
        const double v12 = at(row2, col1);
        const double v22 = at(row2, col2);
        const double x2 = xInterval.minValue() + (col2 + 0.5) * dx;
        const double y2 = yInterval.minValue() + (row2 + 0.5) * dy;
        const double rx = (x2 - x) / dx;
        const double ry = (y2 - y) / dy;
        const double vr1 = rx * v11 + (1.0 - rx) * v21;
        const double vr2 = rx * v12 + (1.0 - rx) * v22;
        return ry * vr1 + (1.0 - ry) * vr2;
    }
    int row = static_cast<int>((y - yInterval.minValue()) / dy);
    int column = static_cast<int>((x - xInterval.minValue()) / dx);
    if (row >= rows)
        row = rows - 1;
    if (column >= columns)
        column = columns - 1;
    return at(row, column);
}

RasterLineSampler::RasterLineSampler(const QwtMatrixRasterData& raster, const QwtScaleMap& xMap,
                                     const QwtScaleMap& yMap, int width)
    : yMap_(yMap), matrix_(raster.valueMatrix()), values_(matrix_.constData()),
      columns_(raster.numColumns()), rows_(raster.numRows()),
      bilinear_(raster.resampleMode() == QwtMatrixRasterData::BilinearInterpolation),
      yInterval_(raster.interval(Qt::YAxis)),
      columnTaps_(static_cast<std::size_t>(std::max(width, 0))) {
    if (const auto* turned = dynamic_cast<const TurnedRasterData*>(&raster))
        turn_ = turned->turn();
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
        const double* values = values_ + static_cast<std::size_t>(Stored(row.first)) * columns_;
        for (std::size_t x = 0; x < width; ++x) {
            const int column = columnTaps_[x].first;
            out[x] = column < 0 ? kNan : values[column];
        }
        return;
    }
    const double ry = row.weight;
    const int first = Stored(row.first);
    const int second = Stored(row.second);
    for (std::size_t x = 0; x < width; ++x) {
        const Tap& column = columnTaps_[x];
        if (column.first < 0) {
            out[x] = kNan;
            continue;
        }
        const double rx = column.weight;
        const double v11 = At(first, column.first);
        const double v21 = At(first, column.second);
        const double v12 = At(second, column.first);
        const double v22 = At(second, column.second);
        const double vr1 = rx * v11 + (1.0 - rx) * v21;
        const double vr2 = rx * v12 + (1.0 - rx) * v22;
        out[x] = ry * vr1 + (1.0 - ry) * vr2;
    }
}

namespace {

QRectF AlignRect(const QRectF& rect) {
    QRectF r;
    r.setLeft(qRound(rect.left()));
    r.setRight(qRound(rect.right()));
    r.setTop(qRound(rect.top()));
    r.setBottom(qRound(rect.bottom()));
    return r;
}

// The paint rectangle less the device pixels of excluded interval ends inside the area.
QRectF StripRect(const QRectF& rect, const QRectF& area, const QwtScaleMap& xMap,
                 const QwtScaleMap& yMap, const QwtInterval& xInterval,
                 const QwtInterval& yInterval) {
    QRectF r = rect;
    if ((xInterval.borderFlags() & QwtInterval::ExcludeMinimum) &&
        area.left() <= xInterval.minValue()) {
        if (xMap.isInverting())
            r.adjust(0, 0, -1, 0);
        else
            r.adjust(1, 0, 0, 0);
    }
    if ((xInterval.borderFlags() & QwtInterval::ExcludeMaximum) &&
        area.right() >= xInterval.maxValue()) {
        if (xMap.isInverting())
            r.adjust(1, 0, 0, 0);
        else
            r.adjust(0, 0, -1, 0);
    }
    if ((yInterval.borderFlags() & QwtInterval::ExcludeMinimum) &&
        area.top() <= yInterval.minValue()) {
        if (yMap.isInverting())
            r.adjust(0, 0, 0, -1);
        else
            r.adjust(0, 1, 0, 0);
    }
    if ((yInterval.borderFlags() & QwtInterval::ExcludeMaximum) &&
        area.bottom() >= yInterval.maxValue()) {
        if (yMap.isInverting())
            r.adjust(0, 1, 0, 0);
        else
            r.adjust(0, 0, 0, -1);
    }
    return r;
}

// The area grown to whole data pixels of the grid that `pixelRect` lies on.
QRectF ExpandToPixels(const QRectF& rect, const QRectF& pixelRect) {
    const double pw = pixelRect.width();
    const double ph = pixelRect.height();
    const double dx1 = pixelRect.left() - rect.left();
    const double dx2 = pixelRect.right() - rect.right();
    const double dy1 = pixelRect.top() - rect.top();
    const double dy2 = pixelRect.bottom() - rect.bottom();
    QRectF r;
    r.setLeft(pixelRect.left() - qCeil(dx1 / pw) * pw);
    r.setTop(pixelRect.top() - qCeil(dy1 / ph) * ph);
    r.setRight(pixelRect.right() - qFloor(dx2 / pw) * pw);
    r.setBottom(pixelRect.bottom() - qFloor(dy2 / ph) * ph);
    return r;
}

void TransformMaps(const QTransform& transform, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                   QwtScaleMap& xxMap, QwtScaleMap& yyMap) {
    const QPointF p1 = transform.map(QPointF(xMap.p1(), yMap.p1()));
    const QPointF p2 = transform.map(QPointF(xMap.p2(), yMap.p2()));
    xxMap = xMap;
    xxMap.setPaintInterval(p1.x(), p2.x());
    yyMap = yMap;
    yyMap.setPaintInterval(p1.y(), p2.y());
}

void AdjustMaps(QwtScaleMap& xMap, QwtScaleMap& yMap, const QRectF& area, const QRectF& paintRect) {
    double sx1 = area.left();
    double sx2 = area.right();
    if (xMap.isInverting())
        qSwap(sx1, sx2);
    double sy1 = area.top();
    double sy2 = area.bottom();
    if (yMap.isInverting())
        qSwap(sy1, sy2);
    xMap.setPaintInterval(paintRect.left(), paintRect.right());
    xMap.setScaleInterval(sx1, sx2);
    yMap.setPaintInterval(paintRect.top(), paintRect.bottom());
    yMap.setScaleInterval(sy1, sy2);
}

// For each of `count` device pixels from `first` on, the image pixel it shows along one axis
// (-1 beyond the image): image pixel j covers the device pixels from the rounded position of
// its leading border to that of the next, image pixels running the way the device does, the
// first and the last reaching out to the ends. Empty when a border falls halfway between two
// device pixels, where the stock item's own arithmetic may round either way.
std::optional<std::vector<int>> SourcePixels(const QwtScaleMap& map, double from, double to,
                                             int pixels, int first, int count) {
    const bool inverting = map.isInverting();
    const double p0 = map.transform(inverting ? to : from);
    const double p1 = map.transform(inverting ? from : to);
    const double step = (p1 - p0) / pixels;
    std::vector<int> starts(static_cast<std::size_t>(std::max(pixels, 0)) + 1);
    for (int j = 1; j < pixels; ++j) {
        const double p = p0 + j * step;
        if (std::abs(p - std::floor(p) - 0.5) < 1e-6)
            return std::nullopt;
        starts[static_cast<std::size_t>(j)] = qRound(p) + (inverting ? 1 : 0) - first;
    }
    starts.front() = 0;
    starts.back() = count;
    std::vector<int> source(static_cast<std::size_t>(std::max(count, 0)), -1);
    for (int j = 0; j < pixels; ++j) {
        const int end = std::min(starts[static_cast<std::size_t>(j) + 1], count);
        for (int d = std::max(starts[static_cast<std::size_t>(j)], 0); d < end; ++d)
            source[static_cast<std::size_t>(d)] = j;
    }
    return source;
}

// The w x h part of the blown-up image that the picture shows.
QImage ExpandImage(const QImage& image, const std::vector<int>& columns,
                   const std::vector<int>& rows) {
    const int w = static_cast<int>(columns.size());
    const int h = static_cast<int>(rows.size());
    if (image.depth() != 32 || w <= 0 || h <= 0)
        return image;
    QImage expanded(w, h, image.format());
    if (expanded.isNull())
        return expanded;
    uchar* const bits = expanded.bits();
    const qsizetype bytesPerLine = expanded.bytesPerLine();
    int previous = -2;
    for (int y2 = 0; y2 < h; ++y2) {
        auto* line2 = reinterpret_cast<quint32*>(bits + y2 * bytesPerLine);
        const int y1 = rows[static_cast<std::size_t>(y2)];
        if (y1 == previous) {
            std::memcpy(line2, line2 - bytesPerLine / 4, static_cast<std::size_t>(w) * 4);
            continue;
        }
        previous = y1;
        if (y1 < 0) {
            std::fill(line2, line2 + w, 0u);
            continue;
        }
        const auto* line1 = reinterpret_cast<const quint32*>(image.constScanLine(y1));
        for (int x2 = 0; x2 < w; ++x2) {
            const int x1 = columns[static_cast<std::size_t>(x2)];
            line2[x2] = x1 < 0 ? 0u : line1[x1];
        }
    }
    return expanded;
}

// Rasters whose value() is the matrix lookup itself, which the sampler repeats.
bool PlainMatrix(const QwtRasterData& raster) {
    return typeid(raster) == typeid(QwtMatrixRasterData) ||
           typeid(raster) == typeid(Tavrix_RasterData) ||
           typeid(raster) == typeid(TurnedRasterData);
}

} // namespace

LookupRasterItem::LookupRasterItem(const QString& title) : QwtPlotSpectrogram(title) {
    setRenderThreadCount(0);
}

bool LookupRasterItem::Tabulable() const {
    const QwtRasterData* raster = data();
    const QwtColorMap* map = colorMap();
    return raster && map && PlainMatrix(*raster) &&
           ColorTable::FromMap(*map, raster->interval(Qt::ZAxis));
}

void LookupRasterItem::draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                            const QRectF& canvasRect) const {
    // A matrix without a whole row has nothing to draw; the stock item would read before
    // its values, and its pixel size is degenerate.
    if (const auto* matrix = dynamic_cast<const QwtMatrixRasterData*>(data());
        matrix && (matrix->numRows() < 1 || matrix->numColumns() < 1))
        return;
    // Scaled painters (exports at another resolution) go the stock way, as do the cases
    // that the table does not cover.
    const bool imageOnly = testDisplayMode(ImageMode) && !testDisplayMode(ContourMode);
    if (!imageOnly || cachePolicy() != NoCache || (alpha() >= 0 && alpha() < 255) ||
        painter->transform().type() > QTransform::TxTranslate || !Tabulable()) {
        QwtPlotSpectrogram::draw(painter, xMap, yMap, canvasRect);
        return;
    }
    if (canvasRect.isEmpty())
        return;

    // The stock item's geometry: the image is rendered in device resolution, or in data
    // resolution where the data pixels are larger than the device's, and then blown up.
    const QwtInterval xInterval = interval(Qt::XAxis);
    const QwtInterval yInterval = interval(Qt::YAxis);
    QwtScaleMap xxMap;
    QwtScaleMap yyMap;
    TransformMaps(painter->transform(), xMap, yMap, xxMap, yyMap);
    QRectF paintRect = painter->transform().mapRect(canvasRect);
    QRectF area = QwtScaleMap::invTransform(xxMap, yyMap, paintRect);
    const QRectF bounds = boundingRect();
    if (bounds.isValid() && !bounds.contains(area)) {
        area &= bounds;
        if (!area.isValid())
            return;
        paintRect = QwtScaleMap::transform(xxMap, yyMap, area);
    }

    QRectF pixelRect = pixelHint(area);
    if (!pixelRect.isEmpty()) {
        const double dx = qAbs(xxMap.invTransform(1) - xxMap.invTransform(0));
        const double dy = qAbs(yyMap.invTransform(1) - yyMap.invTransform(0));
        if (dx > pixelRect.width() && dy > pixelRect.height()) {
            pixelRect = QRectF();
        } else {
            if (dx > pixelRect.width())
                pixelRect.setWidth(dx);
            if (dy > pixelRect.height())
                pixelRect.setHeight(dy);
        }
    }

    QRectF imageRect;
    QImage image;
    if (pixelRect.isEmpty()) {
        if (QwtPainter::roundingAlignment(painter)) {
            paintRect = AlignRect(paintRect);
            AdjustMaps(xxMap, yyMap, area, paintRect);
        }
        image = Compose(xxMap, yyMap, area, paintRect, paintRect.size().toSize());
        if (image.isNull())
            return;
        imageRect = StripRect(paintRect, area, xxMap, yyMap, xInterval, yInterval);
        if (imageRect != paintRect)
            image = image.copy(QRect(qRound(imageRect.x() - paintRect.x()),
                                     qRound(imageRect.y() - paintRect.y()),
                                     qRound(imageRect.width()), qRound(imageRect.height())));
    } else {
        if (QwtPainter::roundingAlignment(painter))
            paintRect = AlignRect(paintRect);
        QRectF imageArea = ExpandToPixels(area, pixelRect);
        if (imageArea.right() == xInterval.maxValue() &&
            !(xInterval.borderFlags() & QwtInterval::ExcludeMaximum))
            imageArea.adjust(0, 0, pixelRect.width(), 0);
        if (imageArea.bottom() == yInterval.maxValue() &&
            !(yInterval.borderFlags() & QwtInterval::ExcludeMaximum))
            imageArea.adjust(0, 0, 0, pixelRect.height());
        const QSize imageSize(qRound(imageArea.width() / pixelRect.width()),
                              qRound(imageArea.height() / pixelRect.height()));
        imageRect = StripRect(paintRect, area, xxMap, yyMap, xInterval, yInterval);
        const bool expand = (imageSize.width() > 1 || imageSize.height() > 1) &&
                            testPaintAttribute(PaintInDeviceResolution);
        std::optional<std::vector<int>> columns;
        std::optional<std::vector<int>> rows;
        if (expand) {
            columns = SourcePixels(xxMap, imageArea.left(), imageArea.right(), imageSize.width(),
                                   qRound(imageRect.left()), int(imageRect.width()));
            rows = SourcePixels(yyMap, imageArea.top(), imageArea.bottom(), imageSize.height(),
                                qRound(imageRect.top()), int(imageRect.height()));
            if (!columns || !rows) {
                QwtPlotSpectrogram::draw(painter, xMap, yMap, canvasRect);
                return;
            }
        }
        image = Compose(xxMap, yyMap, imageArea, paintRect, imageSize);
        if (image.isNull())
            return;
        if (expand)
            image = ExpandImage(image, *columns, *rows);
    }

    painter->save();
    painter->setWorldTransform(QTransform());
    QwtPainter::drawImage(painter, imageRect, image);
    painter->restore();
}

QImage LookupRasterItem::Compose(const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                                 const QRectF& imageArea, const QRectF& paintRect,
                                 const QSize& imageSize) const {
    if (imageArea.isEmpty() || paintRect.isEmpty() || imageSize.isEmpty())
        return QImage();
    // Pixel centres when the image is coarser than the device, pixel edges otherwise.
    const double dx = paintRect.toRect().width() > imageSize.width()
                          ? imageArea.width() / imageSize.width()
                          : 0.0;
    const double dy = paintRect.toRect().height() > imageSize.height()
                          ? imageArea.height() / imageSize.height()
                          : 0.0;
    return renderImage(imageMap(Qt::Horizontal, xMap, imageArea, imageSize, dx),
                       imageMap(Qt::Vertical, yMap, imageArea, imageSize, dy), imageArea,
                       imageSize);
}

QImage LookupRasterItem::renderImage(const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                                     const QRectF& area, const QSize& imageSize) const {
    const QwtRasterData* raster = data();
    const QwtColorMap* map = colorMap();
    // Only rasters whose value() is the matrix lookup itself can be sampled from the matrix.
    const auto* matrix = dynamic_cast<const QwtMatrixRasterData*>(raster);
    const bool plainMatrix = matrix && PlainMatrix(*raster);
    std::optional<ColorTable> table;
    if (!imageSize.isEmpty() && plainMatrix && map)
        table = ColorTable::FromMap(*map, raster->interval(Qt::ZAxis));
    if (!table)
        return QwtPlotSpectrogram::renderImage(xMap, yMap, area, imageSize);

    QImage image(imageSize, QImage::Format_ARGB32);
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
