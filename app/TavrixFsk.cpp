#include "app/PlotText.h"
#include "app/Tavrix.h"
#include "app/WindowSliders.h"
#include "device/RadarDevice.h"
#include "display/RowTimeScaleDraw.h"
#include "display/Waterfall.h"
#include "dsp/BandFilter.h"
#include "dsp/Blocks.h"
#include "dsp/DynamicRange.h"
#include "dsp/Fsk.h"

#include <qwt_dial.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_slider.h>
#include <qwt_text.h>
#include <qwt_thermo.h>

namespace {

// Level scale of the threshold slider and the thermometer, dB.
constexpr double kLevelLow = -50.0;
constexpr double kLevelHigh = 150.0;

} // namespace

void Tavrix::ProcessFsk() {
    namespace dsp = tavrix::dsp;

    // Controls are read once; changes made during the cycle count from the next one.
    const auto sweeps = static_cast<std::uint32_t>(ui.spinBoxDopplerQueue->value());
    const double threshold = ui.counterFSKDetectionThreshold->value();
    const std::uint32_t rows = waterfallRows;
    const std::uint32_t mode = displayMode;
    const auto colour = static_cast<std::uint32_t>(ui.WaterfallRasterDataColor->currentIndex());
    const bool autoMax = ui.DynamicRange_Maximum_EN->isChecked();
    const bool autoMin = ui.DynamicRange_Minimum_EN->isChecked();
    std::int32_t zMax = ui.DynamicRange_Maximum->value();
    std::int32_t zMin = ui.DynamicRange_Minimum->value();
    const dsp::FskScales scales =
        dsp::ComputeFskScales(samplesPerSweep, sweepTimeMs, sweeps, centerFrequency);
    const double vFSK = scales.velocitySpan;
    const double rFSK = dsp::kFskRangeSpan;
    const int vMax = static_cast<int>(vFSK);

    if (takeRerange()) {
        ui.groupBox_Range->setEnabled(false);
        ui.groupBox_Velocity->setEnabled(true);
        ui.dialFSKRange->setScale(0.0, rFSK);
        ui.dialFSKVelocity->setScale(-vFSK, vFSK);
        ui.thermFSKMaxDetectedValue->setScale(kLevelLow, kLevelHigh);
        ui.counterFSKDetectionThreshold->setScale(kLevelLow, kLevelHigh);
        resetWindow(ui.velocityFilter_Low, ui.velocityFilter_High, -vMax, vMax);
        for (QSlider* slider : {ui.velocityFilter_Low, ui.velocityFilter_High})
            slider->setSingleStep(static_cast<int>(2.0 * vFSK / sweeps));
    }

    const dsp::SliderWindow velocityWindow =
        orderWindow(ui.velocityFilter_Low, ui.velocityFilter_High);
    const int vHigh = velocityWindow.high;
    const int vLow = velocityWindow.low;
    ui.velocity_UpperBound->setText(QStringLiteral("%1 m/s").arg(vHigh));
    ui.velocity_LowerBound->setText(QStringLiteral("%1 m/s").arg(vLow));

    // Sliders at their extremes leave the window open: no filter, every velocity searched.
    const bool windowOpen = vHigh == vMax && vLow == -vMax;
    if (zoneBottom) {
        zoneBottom->setInterval(windowOpen ? -vFSK : vLow, windowOpen ? vFSK : vHigh);
        // The range track's axis is range: a velocity interval has no place on it.
        zoneBottom->setVisible(!windowOpen && mode != 5);
    }

    tavrix::radar::Result result;
    if (!acquireFrame(QStringLiteral("Error: Received wrong number of samples from radar."), result,
                      true))
        return;
    const dsp::FskTarget& target = result.fskTarget;
    const dsp::FskWindow& window = result.fskWindow;
    std::vector<double>& spectrum = result.values;

    ui.thermFSKMaxDetectedValue->setAlarmLevel(threshold);
    ui.thermFSKMaxDetectedValue->setValue(target.peakDb);
    ui.dialFSKRange->setValue(target.range);
    ui.dialFSKVelocity->setValue(target.velocity);

    const auto setUpPlots = [&](const QString& xTitle, const QString& yTitle) {
        ui.groupBox_Top->show();
        ui.groupBox_Top->setTitle(QStringLiteral("Time Scope Display"));
        ui.qwtPlotScope_1->setAxisTitle(QwtPlot::xBottom,
                                        axisTitle(QStringLiteral("Time (seconds)")));
        ui.qwtPlotScope_1->setAxisTitle(QwtPlot::yLeft, axisTitle(QStringLiteral("Amplitude")));
        ui.groupBox_Bottom->setTitle(QStringLiteral("FSK Processing Information"));
        ui.qwtPlotScope_2->setAxisTitle(QwtPlot::xBottom, axisTitle(xTitle));
        ui.qwtPlotScope_2->setAxisTitle(QwtPlot::yLeft, axisTitle(yTitle));
    };
    const auto autoRange = [&](bool setLimits) {
        const std::size_t count = rows / 2 * dsp::kFskSpectrumSize;
        std::int32_t max = zMax;
        std::int32_t min = zMin;
        autoDynamicRangeOfHistory(count, count, autoMax, autoMin, max, min);
        if (setLimits) {
            zMax = max;
            zMin = min;
        }
    };
    const QString velocityTitle = QStringLiteral("Radial Velocity (meters per second)");
    const QString timeTitle = RowTimeScaleDraw::Title(frameTime.inRecording);

    if (mode == 2) {
        if (bottomAxisDirty == 1 || bottomXData.size() != dsp::kFskSpectrumSize) {
            setUpPlots(velocityTitle, QStringLiteral("Amplitude (dB)"));
            if (curveBottom) {
                // Untitled until now, so it had no legend entry.
                curveBottom->setTitle(QStringLiteral("FSK Velocity"));
                curveBottom->setItemAttribute(QwtPlotItem::Legend, true);
            }
            bottomXData = dsp::FskVelocityAxis(vFSK);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, -vFSK, vFSK, 0);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, kLevelLow, kLevelHigh);
            bottomAxisDirty = 0;
        }
        if (markerFskThreshold) {
            markerFskThreshold->setYValue(threshold);
            markerFskThreshold->setLabel(
                QwtText(QStringLiteral("Detection Threshold: %1 dB").arg(threshold, 0, 'g', 6)));
        }
        if (markerFskTarget) {
            markerFskTarget->setXValue(target.velocity);
            markerFskTarget->setLabel(
                QwtText(QStringLiteral(" Max Velocity: %1 m/s").arg(target.velocity, 0, 'g', 6)));
        }
        if (curveBottom)
            curveBottom->setSamples(bottomXData.data(), spectrum.data(),
                                    static_cast<int>(spectrum.size()));
    } else if (mode == 4 && waterfall) {
        if (bottomAxisDirty == 1) {
            waterfall->SetHistorySize(dsp::kFskSpectrumSize, rows, Waterfall::kScrollBackScreens);
            setUpPlots(velocityTitle, timeTitle);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rows, 0);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, -vFSK, vFSK);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        dsp::FlattenOutsideWindow(spectrum, window, target.trough);
        addWaterfallRow(spectrum);
        waterfall->UpdateRaster(dsp::kFskSpectrumSize, -vFSK, vFSK, 0.0, rows, zMin, zMax);
        // This row counts from the next cycle's raster on.
        autoRange(false);
    } else if (mode == 5 && waterfall) {
        if (bottomAxisDirty == 1) {
            waterfall->SetHistorySize(dsp::kFskSpectrumSize, rows, Waterfall::kScrollBackScreens);
            setUpPlots(QStringLiteral("Range (meters)"), timeTitle);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rows, 0);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, 0.0, rFSK);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        autoRange(true);
        // One mark per cycle at the range read; a cycle without detection marks 0.
        std::vector<double> track(dsp::kFskSpectrumSize, 0.0);
        track[dsp::FskTrackPosition(target.range)] = 1.0;
        addWaterfallRow(track);
        waterfall->UpdateRaster(dsp::kFskSpectrumSize, 0.0, rFSK, 0.0, rows, zMin, zMax);
    }

    UpdateTimeScope(*result.scope);
    drawDetections(result);
}
