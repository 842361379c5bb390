#include "display/Tavrix_RasterData.h"

#include <climits>

Tavrix_RasterData::Tavrix_RasterData(const QVector<double>& values, quint32 columns, double xMin,
                                     double xMax, double yMin, double yMax, double zMin,
                                     double zMax, qint32 resampleSelection) {
    setInterval(Qt::XAxis, QwtInterval(xMin, xMax, QwtInterval::ExcludeMaximum));
    setInterval(Qt::YAxis, QwtInterval(yMin, yMax, QwtInterval::ExcludeMaximum));
    setInterval(Qt::ZAxis, QwtInterval(zMin, zMax, QwtInterval::IncludeBorders));
    setResampleMode(resampleSelection == 1 ? NearestNeighbour : BilinearInterpolation);
    // Qwt counts columns in an int; a count beyond it cannot describe any row of the data.
    setValueMatrix(values, columns <= INT_MAX ? static_cast<int>(columns) : 0);
}

Tavrix_RasterData::~Tavrix_RasterData() = default;
