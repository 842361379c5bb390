#include "app/Tavrix.h"
#include "device/DeviceModels.h"
#include "display/Waterfall.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_plot_zoneitem.h>
#include <qwt_symbol.h>

#include <array>

namespace {

QPen curvePen(Qt::GlobalColor colour) {
    return QPen(QBrush(colour), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QwtPlotCurve* makeCurve(const QString& title, Qt::GlobalColor colour, QwtPlot* plot) {
    auto* curve = new QwtPlotCurve(title);
    curve->setPen(curvePen(colour));
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    // An untitled curve would leave an empty box in the plot's legend.
    curve->setItemAttribute(QwtPlotItem::Legend, !title.isEmpty());
    curve->attach(plot);
    return curve;
}

QwtPlotMarker* makeMarker(QwtPlotMarker::LineStyle line, const QPen& pen, QwtPlot* plot) {
    auto* marker = new QwtPlotMarker(QString());
    marker->setLineStyle(line);
    marker->setLabelAlignment(Qt::AlignRight | Qt::AlignTop);
    marker->setLinePen(pen);
    marker->attach(plot);
    return marker;
}

template <typename T> void deleteItem(T*& item) {
    delete item;
    item = nullptr;
}

} // namespace

void Tavrix::UpdateDisplayParameters() {
    waterfallRows = static_cast<std::uint32_t>(ui.SpectrogramRows->value());
    if (!ui.buttonActivateDevice->isChecked())
        return;

    applyDeviceModel();
    applyDisplayModeRules();

    QPushButton* const displayButtons[5] = {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2,
                                            ui.radioSpectrumDisplay_3, ui.radioSpectrumDisplay_4,
                                            ui.radioSpectrumDisplay_5};
    for (int n = 0; n < 5; ++n) {
        if (displayButtons[n]->isChecked()) {
            displayMode = static_cast<std::uint32_t>(n + 1);
            break;
        }
    }

    UpdateOperatingParameters();
    rebuildPlotItems();
}

void Tavrix::applyDeviceModel() {
    const DeviceModel& model = deviceModel(ui.device_centerFrequency->currentIndex());
    // The lists show the model's choices; the values follow from the settings.
    for (int i = 0; i < 4; ++i)
        ui.comboPBandwidth->setItemText(
            i, QString::number(model.bandwidthHz[static_cast<std::size_t>(i)] / 1e6));
    for (int i = 0; i < 2; ++i)
        ui.comboPSweepTime->setItemText(
            i, QString::number(model.shortSweepS[static_cast<std::size_t>(i)] * 1e3));
    const tavrix::radar::Settings settings = currentSettings();
    bandwidthHz = settings.bandwidthHz();
    centerFrequency = settings.centerFrequency();
    sweepTimeMs = settings.sweepTimeMs();
}

void Tavrix::applyDisplayModeRules() {
    QPushButton* const button[6] = {nullptr,
                                    ui.radioSpectrumDisplay_1,
                                    ui.radioSpectrumDisplay_2,
                                    ui.radioSpectrumDisplay_3,
                                    ui.radioSpectrumDisplay_4,
                                    ui.radioSpectrumDisplay_5};
    auto allow = [&](std::initializer_list<int> enabled) {
        for (int n = 1; n <= 5; ++n)
            button[n]->setEnabled(std::find(enabled.begin(), enabled.end(), n) != enabled.end());
    };
    // Checking a button programmatically emits no clicked(), so this slot does not rerun.
    auto force = [&](std::initializer_list<int> from, int to) {
        for (int n : from) {
            if (button[n]->isChecked()) {
                button[to]->setChecked(true);
                return;
            }
        }
    };

    if (ui.radioOperationMode_1->isChecked()) {
        allow({1, 3, 4, 5});
        force({2}, 1);
    } else if (ui.radioOperationMode_2->isChecked()) {
        allow({});
    } else if (ui.radioOperationMode_4->isChecked()) {
        allow({2, 4, 5});
        force({3, 1}, 2);
        ui.filterOptionDCSubtract->setChecked(true);
    } else if (ui.radioOperationMode_5->isChecked()) {
        allow({2, 4});
        force({1, 3, 5}, 2);
    }
}

void Tavrix::rebuildPlotItems() {
    deleteItem(curveTopI);
    deleteItem(curveTopQ);
    deleteItem(curveBottom);
    deleteItem(markerFskThreshold);
    deleteItem(markerFskTarget);
    deleteItem(markerCwPeak);
    deleteItem(markerRangePeak);
    deleteItem(gridBottom);
    deleteItem(zoneBottom);
    deleteItem(curveDetections);
    deleteItem(waterfall);
    useWaterfallTimeAxis(false);
    ui.qwtPlotScope_1->replot();
    ui.qwtPlotScope_2->replot();

    topAxisDirty = 1;
    bottomAxisDirty = 1;
    slidersDirty = true;
    updatePeriodSeconds = ui.spinBoxPUpdateRate->value() * 0.001;

    QwtPlot* const top = ui.qwtPlotScope_1;
    QwtPlot* const bottom = ui.qwtPlotScope_2;
    if (displayMode != 3) {
        curveTopI = makeCurve(QStringLiteral("I-Channel"), Qt::green, top);
        curveTopQ = makeCurve(QStringLiteral("Q-Channel"), Qt::yellow, top);
    }

    const QPen peakPen(QBrush(Qt::yellow), 1, Qt::DashLine);
    switch (displayMode) {
    case 1:
    case 2:
        curveBottom = makeCurve(QString(), Qt::green, bottom);
        if (displayMode == 1 && operatingMode == 0)
            markerRangePeak = makeMarker(QwtPlotMarker::VLine, peakPen, bottom);
        if (displayMode == 2 && operatingMode == 3)
            markerCwPeak = makeMarker(QwtPlotMarker::VLine, peakPen, bottom);
        if (displayMode == 2 && operatingMode == 2) {
            markerFskThreshold =
                makeMarker(QwtPlotMarker::HLine, QPen(QBrush(Qt::red), 2, Qt::SolidLine), bottom);
            markerFskTarget = makeMarker(QwtPlotMarker::VLine, peakPen, bottom);
        }
        break;
    case 3:
        createWaterfall(1024, 513);
        break;
    case 4:
        createWaterfall(1024, waterfallRows);
        break;
    case 5:
        createWaterfall(513, waterfallRows);
        break;
    default:
        break;
    }

    gridBottom = new QwtPlotGrid();
    gridBottom->setPen(QPen(QBrush(Qt::white), 0.5, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    gridBottom->attach(bottom);

    if (displayMode >= 1 && displayMode <= 3) {
        curveDetections = new QwtPlotCurve(QStringLiteral("Detections"));
        curveDetections->setStyle(QwtPlotCurve::NoCurve);
        curveDetections->setSymbol(new QwtSymbol(QwtSymbol::Ellipse, QBrush(Qt::NoBrush),
                                                 QPen(Qt::magenta, 2), QSize(11, 11)));
        curveDetections->setItemAttribute(QwtPlotItem::Legend, false);
        curveDetections->setZ(30);
        curveDetections->attach(bottom);
    }

    zoneBottom = new QwtPlotZoneItem();
    zoneBottom->setPen(QPen(QBrush(Qt::darkGray), 0, Qt::SolidLine));
    zoneBottom->setBrush(QBrush(QColor(QStringLiteral("#3d4556"))));
    zoneBottom->setOrientation(Qt::Vertical);
    zoneBottom->attach(bottom);
}

void Tavrix::createWaterfall(std::uint32_t columns, std::uint32_t rows) {
    // The waterfalls keep rows to scroll back through and label them with times; the map
    // replaces its rows every frame and keeps its range axis.
    const bool scrolls = displayMode != 3;
    waterfall = new Waterfall();
    waterfall->SetHistorySize(columns, rows, scrolls ? Waterfall::kScrollBackScreens : 1);
    useWaterfallTimeAxis(scrolls);
    waterfall->spectrogram->attach(ui.qwtPlotScope_2);
    waterfall->resampleSelection = ui.WaterfallRasterDataMethod->currentIndex();
}
