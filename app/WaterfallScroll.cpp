#include "app/WaterfallScroll.h"
#include "app/PlotText.h"
#include "app/Tavrix.h"
#include "display/RowTimeScaleDraw.h"
#include "display/Waterfall.h"

#include <QKeyEvent>
#include <QWheelEvent>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_scale_widget.h>

#include <algorithm>
#include <cmath>

namespace {

// The time axis of the window's waterfall, when it scrolls.
RowTimeScaleDraw* timeAxisOf(const Tavrix& window) {
    if (!window.waterfall)
        return nullptr;
    return dynamic_cast<RowTimeScaleDraw*>(window.ui.qwtPlotScope_2->axisScaleDraw(QwtPlot::yLeft));
}

} // namespace

WaterfallScroll::WaterfallScroll(Tavrix& window) : QObject(&window), window_(window) {
    QwtPlot* plot = window.ui.qwtPlotScope_2;
    plot->installEventFilter(this);
    plot->canvas()->installEventFilter(this);
    // A click on the waterfall lets the Page keys reach it.
    if (plot->canvas()->focusPolicy() == Qt::NoFocus)
        plot->canvas()->setFocusPolicy(Qt::ClickFocus);
}

bool WaterfallScroll::eventFilter(QObject* watched, QEvent* event) {
    // Only these events read the window: others come while it is being taken down too.
    const bool wheel = event->type() == QEvent::Wheel;
    if ((!wheel && event->type() != QEvent::KeyPress) || !window_.displayPaused ||
        !window_.waterfall || window_.waterfall->rows() == 0)
        return QObject::eventFilter(watched, event);
    const int screen = static_cast<int>(std::min<quint32>(window_.waterfall->rows(), 1u << 20));
    int rows = 0;
    if (wheel) {
        // 120 per notch; finer wheels move at least a row.
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        rows = static_cast<int>(std::lround(delta / 120.0 * std::max(1, screen / 10)));
        if (rows == 0 && delta != 0)
            rows = delta > 0 ? 1 : -1;
    } else {
        const int key = static_cast<QKeyEvent*>(event)->key();
        rows = key == Qt::Key_PageUp ? screen : key == Qt::Key_PageDown ? -screen : 0;
    }
    if (rows != 0 && window_.scrollWaterfall(rows))
        return true;
    return QObject::eventFilter(watched, event);
}

void Tavrix::useWaterfallTimeAxis(bool on) {
    QwtPlot* plot = ui.qwtPlotScope_2;
    const bool timed =
        dynamic_cast<RowTimeScaleDraw*>(plot->axisScaleDraw(QwtPlot::yLeft)) != nullptr;
    if (on)
        plot->setAxisScaleDraw(QwtPlot::yLeft, new RowTimeScaleDraw());
    else if (timed)
        plot->setAxisScaleDraw(QwtPlot::yLeft, new QwtScaleDraw());
    if (on && !waterfallScroll)
        waterfallScroll = new WaterfallScroll(*this);
}

void Tavrix::addWaterfallRow(const std::vector<double>& values) {
    // Rows timed by the other clock would read as this one's.
    const RowTimeScaleDraw* axis = timeAxisOf(*this);
    if (axis && axis->inRecording() != frameTime.inRecording && !std::isnan(waterfall->Time(0)))
        waterfall->ClearHistory();
    waterfall->AddRow(values, true, frameTime.seconds);
    showWaterfallTimes();
}

void Tavrix::showWaterfallTimes() {
    RowTimeScaleDraw* axis = timeAxisOf(*this);
    if (!axis)
        return;
    QwtPlot* plot = ui.qwtPlotScope_2;
    const QString title = RowTimeScaleDraw::Title(frameTime.inRecording);
    if (plot->axisTitle(QwtPlot::yLeft).text() != title)
        plot->setAxisTitle(QwtPlot::yLeft, axisTitle(title));
    // The labels change with every row, but the scale does not: the axis is told itself, and
    // laid out again only when its labels need another width.
    QwtScaleWidget* scale = plot->axisWidget(QwtPlot::yLeft);
    const double extent = axis->extent(scale->font());
    axis->SetRowTimes(waterfall->ShownTimes(), frameTime.inRecording);
    if (axis->extent(scale->font()) != extent)
        plot->updateLayout();
    scale->update();
}

bool Tavrix::scrollWaterfall(int rows) {
    if (!displayPaused || !timeAxisOf(*this))
        return false;
    const std::size_t offset = waterfall->ViewOffset();
    const std::size_t back = static_cast<std::size_t>(std::abs(rows));
    waterfall->SetViewOffset(rows > 0 ? offset + back : offset - std::min(offset, back));
    if (waterfall->ViewOffset() != offset)
        redrawWaterfall();
    return true;
}

void Tavrix::redrawWaterfall() {
    if (waterfall && waterfall->RedrawRaster())
        showWaterfallTimes();
}

void Tavrix::setDisplayPaused(bool paused) {
    displayPaused = paused;
    if (!paused && waterfall)
        waterfall->SetViewOffset(0);
    redrawWaterfall();
}

void Tavrix::clearWaterfallHistory() {
    if (!timeAxisOf(*this))
        return;
    waterfall->ClearHistory();
    redrawWaterfall();
}
