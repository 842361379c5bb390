#include "app/PlotText.h"
#include "app/Tavrix.h"
#include "device/RadarDevice.h"
#include "display/RowTimeScaleDraw.h"
#include "display/Waterfall.h"
#include "dsp/CwVelocity.h"
#include "dsp/DynamicRange.h"
#include "dsp/Peak.h"

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_text.h>

namespace {} // namespace

void Tavrix::ProcessCwVelocity() {
    namespace dsp = tavrix::dsp;

    // Controls are read once; changes made during the cycle count from the next one.
    const std::uint32_t mode = displayMode;
    const std::uint32_t rows = waterfallRows;
    const auto colour = static_cast<std::uint32_t>(ui.WaterfallRasterDataColor->currentIndex());
    const bool autoMax = ui.DynamicRange_Maximum_EN->isChecked();
    const bool autoMin = ui.DynamicRange_Minimum_EN->isChecked();
    std::int32_t zMax = ui.DynamicRange_Maximum->value();
    std::int32_t zMin = ui.DynamicRange_Minimum->value();
    const auto sweeps = static_cast<std::uint32_t>(ui.spinBoxDopplerQueue->value());
    const dsp::CwScales scales =
        dsp::ComputeCwScales(samplesPerSweep, sweepTimeMs, sweeps, centerFrequency);
    const double vCW = scales.velocitySpan;
    if (takeRerange()) {
        // Neither window applies to a Doppler-only measurement.
        ui.groupBox_Range->setEnabled(false);
        ui.groupBox_Velocity->setEnabled(false);
    }

    tavrix::radar::Result result;
    if (!acquireFrame(QStringLiteral("Error: Interface cound not be set!"), result))
        return;
    const bool amplitudeCorrection = ui.filterOptionIQAmplitude->isChecked();
    UpdateTimeScope(*result.scope);
    std::vector<double>& spectrum = result.values;

    const auto setUpPlots = [&](const QString& bottomTitle, const QString& yTitle) {
        ui.groupBox_Top->show();
        ui.groupBox_Top->setTitle(QStringLiteral("Time Scope Display"));
        ui.qwtPlotScope_1->setAxisTitle(QwtPlot::xBottom,
                                        axisTitle(QStringLiteral("Time (seconds)")));
        ui.qwtPlotScope_1->setAxisTitle(QwtPlot::yLeft, axisTitle(QStringLiteral("Amplitude")));
        if (amplitudeCorrection)
            ui.qwtPlotScope_1->setAxisScale(QwtPlot::yLeft, -1.0, 1.0, 0.5);
        ui.groupBox_Bottom->setTitle(bottomTitle);
        ui.qwtPlotScope_2->setAxisTitle(
            QwtPlot::xBottom, axisTitle(QStringLiteral("Radial Velocity (meters per Second)")));
        ui.qwtPlotScope_2->setAxisTitle(QwtPlot::yLeft, axisTitle(yTitle));
    };

    if (mode == 2) {
        if (bottomAxisDirty == 1 || bottomXData.size() != dsp::kCwSpectrumSize) {
            setUpPlots(QStringLiteral("Velocity Scope Display"), QStringLiteral("Intensity (dB)"));
            bottomXData = dsp::CwVelocityAxis(vCW);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, -vCW, vCW, 0);
            if (curveBottom) {
                // Untitled until now, so it had no legend entry.
                curveBottom->setTitle(QStringLiteral("CW Velocity"));
                curveBottom->setItemAttribute(QwtPlotItem::Legend, true);
            }
            bottomAxisDirty = 0;
        }
        autoDynamicRange(spectrum.data(), spectrum.size(), autoMax, autoMin, zMax, zMin);
        const double v = *tavrix::radar::ReadingsOf(frameSettings, result).velocityMps;
        if (markerCwPeak) {
            markerCwPeak->setXValue(v);
            markerCwPeak->setLabel(
                QwtText(QStringLiteral(" Max Velocity: %1 m/s").arg(v, 0, 'g', 6)));
        }
        ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, zMin, zMax, 0);
        if (curveBottom)
            curveBottom->setSamples(bottomXData.data(), spectrum.data(),
                                    static_cast<int>(spectrum.size()));
    } else if (mode == 4 && waterfall) {
        if (bottomAxisDirty == 1) {
            setUpPlots(QStringLiteral("Velocity Waterfall Display"),
                       RowTimeScaleDraw::Title(frameTime.inRecording));
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rows, 0);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, -vCW, vCW, 0);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        // The colour range follows the older rows, before this cycle's row joins them: the
        // maximum over the newest half of the history, the minimum over the newest quarter.
        const std::size_t columns = dsp::kCwSpectrumSize;
        autoDynamicRangeOfHistory(rows / 2 * columns, rows / 4 * columns, autoMax, autoMin, zMax,
                                  zMin);
        addWaterfallRow(spectrum);
        waterfall->UpdateRaster(static_cast<quint32>(columns), -vCW, vCW, 0.0, rows, zMin, zMax);
    }
    drawDetections(result);
}
