#include "app/Tavrix.h"

#include "dsp/Blocks.h"
#include "dsp/Clutter.h"
#include "dsp/Iq.h"
#include "dsp/Window.h"

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

namespace dsp = tavrix::dsp;

void Tavrix::CancelDirectClutter(SampleBlock& data) {
    dsp::ClutterMode mode = dsp::ClutterMode::Disabled;
    if (ui.filterOptionDirectClutter->isChecked())
        mode = dsp::ClutterMode::Reference;
    else if (ui.filterOptionDirectClutterAverage->isChecked())
        mode = dsp::ClutterMode::MovingAverage;
    // Disabled leaves a pending reset for when a mode is switched on again.
    if (mode == dsp::ClutterMode::Disabled)
        return;

    if (!clutterPrevious)
        clutterPrevious = new SampleBlock;
    if (!clutterHistory)
        clutterHistory = new std::deque<SampleBlock>;
    bool reset = clutterReset != 0;
    dsp::CancelDirectClutter(data, mode, ui.filterOptionDirectClutterAvgCount->value(), reset,
                             *clutterPrevious, *clutterHistory);
    clutterReset = reset ? 1 : 0;
}

void Tavrix::ApplyIQCorrections(SampleBlock& data, std::uint32_t B) {
    dsp::ApplyIQCorrections(data, B, ui.filterOptionDCSubtract->isChecked(),
                            ui.filterOptionIQAmplitude->isChecked());
}

void Tavrix::ApplyHammingWindow(SampleBlock& data, std::uint32_t L, std::uint32_t B) {
    if (ui.filterOptionHammingWindow->isChecked())
        dsp::ApplyHammingWindow(data, L, B);
}

void Tavrix::UpdateTimeScope(const SampleBlock& block, double interval,
                             std::optional<double> span) {
    const double dt =
        interval >= 0.0 ? interval : (sweepTimeMs / 1000.0) / static_cast<double>(samplesPerSweep);
    const auto fillTimes = [this, &block, dt] {
        topXData.resize(block.size());
        for (std::size_t k = 0; k < block.size(); ++k)
            topXData[k] = static_cast<double>(k) * dt;
    };
    if (topAxisDirty == 1) {
        fillTimes();
        const double end = span ? *span : static_cast<double>(block.size()) * dt * 9.0 / 10.0;
        ui.qwtPlotScope_1->setAxisScale(QwtPlot::xBottom, 0.0001, end, 0);
        ui.qwtPlotScope_1->setAxisAutoScale(QwtPlot::yLeft, true);
        topAxisDirty = 0;
    } else if (topXData.size() != block.size()) {
        // A block of another length without a parameter change: new times rather than
        // reading past the old ones; the axis stays as it was.
        fillTimes();
    }

    std::vector<double> i;
    std::vector<double> q;
    dsp::SplitIQ(block, i, q);
    const int n = static_cast<int>(i.size());
    if (curveTopI)
        curveTopI->setSamples(topXData.data(), i.data(), n);
    if (curveTopQ)
        curveTopQ->setSamples(topXData.data(), q.data(), n);
}
