#pragma once

#include "display/Tavrix_RasterData.h"

#include <QVector>
#include <qwt_interval.h>
#include <qwt_matrix_raster_data.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_scale_map.h>
#include <vector>

// A matrix raster whose rows are stored turned: row r, counted from the bottom as value() and
// the drawing see it, is stored row (r + turn) mod rows, so a ring of rows becomes a raster
// without being unrolled. valueMatrix() gives the rows as stored.
class TurnedRasterData : public Tavrix_RasterData {
public:
    TurnedRasterData(const QVector<double>& stored, quint32 columns, int turn, double xMin,
                     double xMax, double yMin, double yMax, double zMin, double zMax,
                     qint32 resampleSelection);

    int turn() const { return turn_; }
    // The stored row of row r (0 <= r < rows).
    int StoredRow(int row) const {
        return row < numRows() - turn_ ? row + turn_ : row + turn_ - numRows();
    }

    // What the unturned matrix gives, bit for bit.
    double value(double x, double y) const override;

private:
    QVector<double> stored_;
    int turn_ = 0; // 0 <= turn_ < rows, or 0 without rows
};

// The values a matrix raster gives for the pixels of an image, a line at a time: bit for bit
// what its value() returns at the inverse-mapped pixel position, nearest neighbour or
// bilinear, NaN outside its x and y intervals. Column and row lookups depend on one
// coordinate only, so they are worked out once per image instead of once per pixel.
class RasterLineSampler {
public:
    RasterLineSampler(const QwtMatrixRasterData& raster, const QwtScaleMap& xMap,
                      const QwtScaleMap& yMap, int width);

    // Values of pixel line y, `width` of them.
    void Line(int y, double* out) const;

private:
    struct Tap {
        int first = -1; // -1: outside the interval
        int second = -1;
        double weight = 0.0; // of `first` (bilinear)
    };
    Tap RowTap(int y) const;
    // The value at a stored row.
    double At(int stored, int column) const {
        return values_[static_cast<std::size_t>(stored) * static_cast<std::size_t>(columns_) +
                       static_cast<std::size_t>(column)];
    }
    int Stored(int row) const { return row < rows_ - turn_ ? row + turn_ : row + turn_ - rows_; }

    QwtScaleMap yMap_; // a copy: callers may pass a temporary
    QVector<double> matrix_;
    const double* values_;
    int columns_;
    int rows_;
    int turn_ = 0; // of a TurnedRasterData
    bool bilinear_;
    QwtInterval yInterval_;
    double dy_;
    std::vector<Tap> columnTaps_;
};

// A spectrogram that draws its image through a colour table (ColorTable.h) and samples the
// matrix by lines, on the item's render threads (0 asks for one per core, the default here).
// An image rendered at data resolution is blown up to the device a line at a time instead of
// a pixel at a time, onto the stock item's pixel borders. Geometry, resampling and colours are
// the stock item's, within 1 per colour channel. Raster data of other kinds, indexed or
// stepped colour maps, degenerate colour ranges, contour lines, caching, translucency, scaled
// painters and pixel borders exactly halfway between device pixels go the stock way.
class LookupRasterItem : public QwtPlotSpectrogram {
public:
    explicit LookupRasterItem(const QString& title = QString());

    void draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
              const QRectF& canvasRect) const override;

protected:
    QImage renderImage(const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& area,
                       const QSize& imageSize) const override;

private:
    // The values and the colour map suit the table.
    bool Tabulable() const;
    QImage Compose(const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& imageArea,
                   const QRectF& paintRect, const QSize& imageSize) const;
};
