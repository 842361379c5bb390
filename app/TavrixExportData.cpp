#include "app/Tavrix.h"
#include "display/LookupRasterItem.h"
#include "display/Waterfall.h"
#include "record/DataExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>

#include <qwt_matrix_raster_data.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_spectrogram.h>

#include <variant>

namespace record = tavrix::record;

namespace {

std::string axisName(const QwtPlot* plot, int axis) {
    return plot->axisTitle(axis).text().toStdString();
}

// Where each of `count` cells over `interval` begins: the chains' bins sit there.
std::vector<double> cellStarts(const QwtInterval& interval, std::size_t count) {
    std::vector<double> starts(count);
    for (std::size_t i = 0; i < count; ++i)
        starts[i] = interval.minValue() +
                    interval.width() * static_cast<double>(i) / static_cast<double>(count);
    return starts;
}

// The curves of `plot` over its x axis, each named by its title and the y axis. The
// detections' marks are left out: the detections dock lists them.
QString curvesOf(const Tavrix& window, const QwtPlot* plot, record::CurveData& data) {
    data.x.name = axisName(plot, QwtPlot::xBottom);
    const std::string yName = axisName(plot, QwtPlot::yLeft);
    QString firstTitle;
    for (const QwtPlotItem* item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        const auto* curve = static_cast<const QwtPlotCurve*>(item);
        if (curve == window.curveDetections || !curve->isVisible() || curve->dataSize() == 0)
            continue;
        std::vector<double> x(curve->dataSize());
        std::vector<double> y(curve->dataSize());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const QPointF point = curve->sample(static_cast<int>(i));
            x[i] = point.x();
            y[i] = point.y();
        }
        const QString title = curve->title().text();
        if (data.curves.empty()) {
            data.x.values = std::move(x);
            firstTitle = title;
        } else if (x != data.x.values) {
            return Tavrix::tr("the curves \"%1\" and \"%2\" lie over different x values")
                .arg(firstTitle, title);
        }
        data.curves.push_back(
            {title.isEmpty() ? yName : title.toStdString() + ": " + yName, std::move(y)});
    }
    return data.curves.empty() ? Tavrix::tr("the plot shows no curve") : QString();
}

// The values the spectrogram draws, its bottom row first: the newest row of a waterfall, the
// nearest range of the map.
QString matrixOf(const Tavrix& window, const QwtPlot* plot, record::MatrixData& data) {
    const auto* raster =
        dynamic_cast<const QwtMatrixRasterData*>(window.waterfall->spectrogram->data());
    if (raster == nullptr || raster->numColumns() <= 0 || raster->numRows() <= 0)
        return Tavrix::tr("the display holds no values yet");
    const auto columns = static_cast<std::size_t>(raster->numColumns());
    const auto rows = static_cast<std::size_t>(raster->numRows());
    const QVector<double> stored = raster->valueMatrix();
    const auto* turned = dynamic_cast<const TurnedRasterData*>(raster);
    data.values.reserve(rows * columns);
    for (std::size_t r = 0; r < rows; ++r) {
        const int row = static_cast<int>(r);
        const double* from =
            stored.constData() +
            static_cast<std::size_t>(turned ? turned->StoredRow(row) : row) * columns;
        data.values.insert(data.values.end(), from, from + columns);
    }

    data.columns = {axisName(plot, QwtPlot::xBottom),
                    cellStarts(raster->interval(Qt::XAxis), columns)};
    if (window.displayMode == 3) {
        data.rows = {axisName(plot, QwtPlot::yLeft), cellStarts(raster->interval(Qt::YAxis), rows)};
    } else {
        // The time axis of a waterfall is nominal (rows times the update period), and the
        // view may be scrolled back: the rows are counted instead.
        data.rows.name = "Row (0: newest shown)";
        for (std::size_t r = 0; r < rows; ++r)
            data.rows.values.push_back(static_cast<double>(r));
    }
    const bool fskRangeTrack = window.operatingMode == 2 && window.displayMode == 5;
    data.valueName = fskRangeTrack ? "Range read (1) or not (0)" : "Intensity (dB)";
    return QString();
}

} // namespace

void Tavrix::exportPlotDataTop() {
    exportPlotData(ui.qwtPlotScope_1, QStringLiteral("Tavrix_TopView"));
}

void Tavrix::exportPlotDataBottom() {
    exportPlotData(ui.qwtPlotScope_2, QStringLiteral("Tavrix_BottomView"));
}

void Tavrix::exportPlotData(QwtPlot* plot, const QString& baseName) {
    // What the plot shows at the click: frames drawn while the dialog is open do not count.
    const bool isMatrix = waterfall != nullptr && waterfall->spectrogram->plot() == plot &&
                          waterfall->spectrogram->isVisible();
    std::variant<record::CurveData, record::MatrixData> data;
    QString missing;
    if (isMatrix)
        missing = matrixOf(*this, plot, data.emplace<record::MatrixData>());
    else
        missing = curvesOf(*this, plot, data.emplace<record::CurveData>());
    if (!missing.isEmpty()) {
        reportExportFailure(tr("Error: Plot data not exported: %1").arg(missing));
        return;
    }

    QStringList filters{tr("CSV files (*.csv)")};
    if (isMatrix)
        filters << tr("NumPy arrays (*.npy)");
    // Exports of the same view replace each other without asking, as the images do.
    const QString name = baseName + QStringLiteral(".csv");
    QString fileName =
        askSaveFileName({tr("Export Data File Name"),
                         exportFolder.isEmpty() ? name : QDir(exportFolder).filePath(name),
                         filters.join(QStringLiteral(";;")), false});
    if (fileName.isEmpty())
        return;
    exportFolder = QFileInfo(fileName).absolutePath();
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix.isEmpty())
        fileName += QStringLiteral(".csv");
    const bool npy = suffix == QLatin1String("npy");
    const QString shownName = QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath());
    if (npy && !isMatrix) {
        reportExportFailure(
            tr("Error: Plot data not exported to %1: curves are saved as CSV only").arg(shownName));
        return;
    }

    const std::string path =
        QFile::encodeName(QFileInfo(fileName).absoluteFilePath()).toStdString();
    std::string error;
    bool written = false;
    if (const auto* curves = std::get_if<record::CurveData>(&data))
        written = record::writeCurvesCsv(path, *curves, error);
    else if (npy)
        written = record::writeMatrixNpy(path, std::get<record::MatrixData>(data), error);
    else
        written = record::writeMatrixCsv(path, std::get<record::MatrixData>(data), error);
    if (!written) {
        reportExportFailure(
            tr("Error: Plot data not exported: %1").arg(QString::fromLocal8Bit(error.c_str())));
        return;
    }

    if (exportStatus != nullptr)
        exportStatus->hide();
    QString message = tr("Plot data exported to %1").arg(shownName);
    if (npy) {
        const auto axes = record::npyAxisPaths(path, std::get<record::MatrixData>(data));
        message =
            tr("Plot data exported to %1, its axes to %2 and %3")
                .arg(shownName, QDir::toNativeSeparators(QFile::decodeName(axes.first.c_str())),
                     QDir::toNativeSeparators(QFile::decodeName(axes.second.c_str())));
    }
    statusBar()->showMessage(message);
}
