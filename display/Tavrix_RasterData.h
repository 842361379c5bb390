#pragma once

#include <QVector>
#include <qwt_matrix_raster_data.h>

// A snapshot of a waterfall history as a raster: x and y intervals exclude their maximum,
// the colour (z) interval includes both ends, so values outside it take the end colours.
class Tavrix_RasterData : public QwtMatrixRasterData {
public:
    // `values` row by row, `columns` per row (the row count follows from the length).
    // Resample selection 1 is nearest neighbour, any other bilinear interpolation.
    Tavrix_RasterData(const QVector<double>& values, quint32 columns, double xMin, double xMax,
                      double yMin, double yMax, double zMin, double zMax, qint32 resampleSelection);
    ~Tavrix_RasterData() override;
};
