#include "app/PlotText.h"
#include "app/Tavrix.h"
#include "app/WindowSliders.h"
#include "device/RadarDevice.h"
#include "display/Waterfall.h"
#include "dsp/DynamicRange.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_text.h>

namespace dsp = tavrix::dsp;

namespace {

QString metres(double value) {
    return QStringLiteral("%1 m").arg(value, 0, 'g', -1);
}

QString metresPerSecond(double value) {
    return QStringLiteral("%1 m/s").arg(value, 0, 'g', -1);
}

} // namespace

void Tavrix::setUpFmcwTimeScope() {
    ui.groupBox_Top->show();
    ui.groupBox_Top->setTitle(QStringLiteral("Time Scope Display"));
    ui.qwtPlotScope_1->setAxisTitle(QwtPlot::xBottom, axisTitle(QStringLiteral("Time (seconds)")));
    ui.qwtPlotScope_1->setAxisTitle(QwtPlot::yLeft, axisTitle(QStringLiteral("Amplitude")));
    if (ui.filterOptionIQAmplitude->isChecked())
        ui.qwtPlotScope_1->setAxisScale(QwtPlot::yLeft, -1.0, 1.0, 0.5);
    else if (!ui.filterOptionDirectClutterDisabled->isChecked())
        ui.qwtPlotScope_1->setAxisScale(QwtPlot::yLeft, -100.0, 100.0, 20.0);
}

dsp::SliderWindow Tavrix::updateRangeWindowSliders(bool dirty, double rmax) {
    if (dirty) {
        resetWindow(ui.rangeFilter_Low, ui.rangeFilter_High, 0, dsp::SliderTop(rmax));
        ui.range_LowerBound->setText(metres(0));
        ui.range_UpperBound->setText(metres(rmax));
    }
    const dsp::SliderWindow window = orderWindow(ui.rangeFilter_Low, ui.rangeFilter_High);
    ui.range_UpperBound->setText(metres(window.high));
    ui.range_LowerBound->setText(metres(window.low));
    return window;
}

void Tavrix::ProcessFmcwRange() {
    // Controls are read once; changes made during the cycle count from the next one.
    const std::uint32_t mode = displayMode;
    const std::uint32_t rows = waterfallRows;
    const auto colour = static_cast<std::uint32_t>(ui.WaterfallRasterDataColor->currentIndex());
    const bool autoMax = ui.DynamicRange_Maximum_EN->isChecked();
    const bool autoMin = ui.DynamicRange_Minimum_EN->isChecked();
    std::int32_t zMax = ui.DynamicRange_Maximum->value();
    std::int32_t zMin = ui.DynamicRange_Minimum->value();
    const double rmax = dsp::FmcwMaxRange(samplesPerSweep, bandwidthHz);

    const bool rerange = takeRerange();
    if (rerange) {
        ui.groupBox_Range->setEnabled(true);
        ui.groupBox_Velocity->setEnabled(false);
    }
    const dsp::SliderWindow window = updateRangeWindowSliders(rerange, rmax);
    if (zoneBottom) {
        const bool windowActive = dsp::IsWindowActive(window, rmax);
        zoneBottom->setVisible(windowActive);
        if (windowActive)
            zoneBottom->setInterval(window.low, window.high);
        else
            zoneBottom->setInterval(0.0, rmax);
    }

    tavrix::radar::Result result;
    if (!acquireFrame(QStringLiteral("Error: Did not receive requested number of samples."),
                      result))
        return;
    const bool dirty = bottomAxisDirty == 1;
    UpdateTimeScope(*result.scope);
    std::vector<double>& db = result.values;

    if (mode == 1) {
        if (dirty) {
            setUpFmcwTimeScope();
            ui.groupBox_Bottom->setTitle(QStringLiteral("Range Scope Display"));
            ui.qwtPlotScope_2->setAxisTitle(QwtPlot::xBottom,
                                            axisTitle(QStringLiteral("Range (meters)")));
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, 0.0, rmax, 0);
            ui.qwtPlotScope_2->setAxisTitle(QwtPlot::yLeft,
                                            axisTitle(QStringLiteral("Intensity (dB)")));
            if (curveBottom) {
                // Untitled until now, so it had no legend entry.
                curveBottom->setTitle(QStringLiteral("FMCW Range"));
                curveBottom->setItemAttribute(QwtPlotItem::Legend, true);
            }
            bottomAxisDirty = 0;
        }
        // The range axis is rebuilt whenever it does not describe this profile.
        if (dirty || bottomXData.size() != dsp::kRangeBins)
            bottomXData = dsp::FmcwRangeAxis(rmax);

        autoDynamicRange(db.data(), db.size(), autoMax, autoMin, zMax, zMin);

        // No threshold: the strongest bin inside the window is reported at every cycle.
        const double range = *tavrix::radar::ReadingsOf(frameSettings, result).rangeM;
        if (markerRangePeak) {
            markerRangePeak->setXValue(range);
            markerRangePeak->setLabel(
                QwtText(QStringLiteral(" Detected Range: %1 m").arg(range, 0, 'g', -1)));
        }
        ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, zMin, zMax, 0);
        if (curveBottom)
            curveBottom->setSamples(bottomXData.data(), db.data(), static_cast<int>(db.size()));
    } else if (mode == 5 && waterfall) {
        if (dirty) {
            setUpFmcwTimeScope();
            ui.groupBox_Bottom->setTitle(QStringLiteral("Range Waterfall Display"));
            ui.qwtPlotScope_2->setAxisTitle(QwtPlot::xBottom,
                                            axisTitle(QStringLiteral("Range (meters)")));
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, 0.0, rmax, 0);
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rows, 0);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        // The colour range follows the older rows, before this cycle's row joins them. The
        // counts are in 1024-value rows although these rows hold 513 values.
        autoDynamicRangeOfHistory(rows / 2 * std::size_t{1024}, rows / 4 * std::size_t{1024},
                                  autoMax, autoMin, zMax, zMin);
        addWaterfallRow(db);
        waterfall->UpdateRaster(static_cast<quint32>(dsp::kRangeBins), 0.0, rmax, 0.0, rows, zMin,
                                zMax);
    }
    drawDetections(result);
}

void Tavrix::ProcessFmcwRangeVelocity() {
    // Controls are read once; changes made during the cycle count from the next one.
    const std::uint32_t mode = displayMode;
    const std::uint32_t rows = waterfallRows;
    const auto colour = static_cast<std::uint32_t>(ui.WaterfallRasterDataColor->currentIndex());
    const bool autoMax = ui.DynamicRange_Maximum_EN->isChecked();
    const bool autoMin = ui.DynamicRange_Minimum_EN->isChecked();
    std::int32_t zMax = ui.DynamicRange_Maximum->value();
    std::int32_t zMin = ui.DynamicRange_Minimum->value();
    const double rmax = dsp::FmcwMaxRange(samplesPerSweep, bandwidthHz);
    const double vmax = dsp::FmcwMaxVelocity(centerFrequency, sweepTimeMs);

    const bool rerange = takeRerange();
    if (rerange) {
        ui.groupBox_Range->setEnabled(true);
        ui.groupBox_Velocity->setEnabled(true);
    }
    updateRangeWindowSliders(rerange, rmax);
    if (rerange) {
        resetWindow(ui.velocityFilter_Low, ui.velocityFilter_High, 0, dsp::SliderTop(vmax));
        ui.velocity_UpperBound->setText(metresPerSecond(vmax));
        ui.velocity_LowerBound->setText(metresPerSecond(0));
    }
    const dsp::SliderWindow velocity = orderWindow(ui.velocityFilter_Low, ui.velocityFilter_High);
    ui.velocity_UpperBound->setText(metresPerSecond(velocity.high));
    ui.velocity_LowerBound->setText(metresPerSecond(velocity.low));

    tavrix::radar::Result result;
    if (!acquireFrame(QStringLiteral("Error: Did not receive the proper number of samples."),
                      result))
        return;
    const bool dirty = bottomAxisDirty == 1;
    std::vector<double>& values = result.values;

    const auto setUpVelocityAxis = [&](const QString& title) {
        ui.groupBox_Top->hide();
        ui.groupBox_Bottom->setTitle(title);
        ui.qwtPlotScope_2->setAxisTitle(
            QwtPlot::xBottom, axisTitle(QStringLiteral("Radial Velocity (meters per second)")));
        ui.qwtPlotScope_2->setAxisScale(QwtPlot::xBottom, -vmax, vmax, 0);
    };

    if (mode == 3 && waterfall) {
        if (dirty) {
            setUpVelocityAxis(QStringLiteral("Range-Velocity Map"));
            ui.qwtPlotScope_2->setAxisTitle(QwtPlot::yLeft,
                                            axisTitle(QStringLiteral("Range (meters)")));
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rmax, 0);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        // A box changed since the frame was read has its way from now on.
        applyAutoDynamicRange(autoMax ? result.mapAutoMaximum : std::nullopt,
                              autoMin ? result.mapAutoMinimum : std::nullopt, zMax, zMin);
        // The whole map replaces the history instead of scrolling into it.
        waterfall->ReplaceHistory(std::move(values), frameTime.seconds);
        // What the waterfall let go of holds the next map.
        pipeline->ReturnMapValues(std::move(values));
        waterfall->UpdateRaster(static_cast<quint32>(dsp::kDopplerBins), -vmax, vmax, 0.0, rmax,
                                zMin, zMax);
    } else if (mode == 4 && waterfall) {
        if (dirty) {
            setUpVelocityAxis(QStringLiteral("Velocity Waterfall Display"));
            ui.qwtPlotScope_2->setAxisScale(QwtPlot::yLeft, 0.0, rows, 0);
            bottomAxisDirty = 0;
        }
        waterfall->SetColorScheme(colour);
        // Both ends of the colour range follow the newest quarter of the history, before this
        // cycle's row joins it.
        const std::size_t recent = rows / 4 * dsp::kDopplerBins;
        autoDynamicRangeOfHistory(recent, recent, autoMax, autoMin, zMax, zMin);
        addWaterfallRow(values);
        waterfall->UpdateRaster(static_cast<quint32>(dsp::kDopplerBins), -vmax, vmax, 0.0, rows,
                                zMin, zMax);
    }
    drawDetections(result);
}
