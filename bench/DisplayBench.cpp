// The display path at its largest sizes beside the plain way: one row into a 1024 x 1024
// waterfall with its raster update, and a 1024 x 513 range-velocity map drawn into a
// 1000 x 700 image as the bottom plot draws it, through the colour table and through the
// stock item.

#include "display/ColorSchemes.h"
#include "display/LookupRasterItem.h"
#include "display/Tavrix_RasterData.h"
#include "display/Waterfall.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <qwt_color_map.h>
#include <qwt_matrix_raster_data.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_scale_map.h>
#include <random>
#include <vector>

namespace {

constexpr quint32 kColumns = 1024;
constexpr quint32 kRows = 1024;

std::vector<double> Levels(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> level(-70.0, 10.0);
    std::vector<double> values(count);
    for (double& v : values)
        v = level(random);
    return values;
}

void WaterfallUpdate(benchmark::State& state) {
    Waterfall waterfall;
    waterfall.SetHistorySize(kColumns, kRows);
    const std::vector<double> row = Levels(kColumns, 1);
    for (auto _ : state) {
        waterfall.AddRow(row, true, 0.0);
        waterfall.UpdateRaster(kColumns, -3.0, 3.0, 0.0, 10.24, -50.0, 0.0);
    }
}

// The history as one list: the row inserted at the front, the list cut back, and a fresh
// copy of it handed to the spectrogram.
void WaterfallUpdatePlain(benchmark::State& state) {
    QwtPlotSpectrogram spectrogram;
    std::vector<double> history(std::size_t{kColumns} * kRows, 0.0);
    const std::vector<double> row = Levels(kColumns, 1);
    for (auto _ : state) {
        history.insert(history.begin(), row.begin(), row.end());
        history.resize(std::size_t{kColumns} * kRows);
        const QVector<double> copy(history.begin(), history.end());
        spectrogram.setData(
            new Tavrix_RasterData(copy, kColumns, -3.0, 3.0, 0.0, 10.24, -50.0, 0.0, 1));
    }
}

// The range-velocity map as the bottom plot shows it: 1024 Doppler columns, 513 range rows.
template <typename Item> void DrawMap(benchmark::State& state) {
    const int selection = static_cast<int>(state.range(0));
    const std::vector<double> map = Levels(1024 * 513, 2);
    Item item;
    item.setColorMap(CreateColorMap(3).release());
    item.setData(new Tavrix_RasterData(QVector<double>(map.begin(), map.end()), 1024, -3.12, 3.12,
                                       0.0, 95.9, -50.0, 0.0, selection));
    QwtScaleMap xMap;
    xMap.setPaintInterval(0, 1000);
    xMap.setScaleInterval(-3.12, 3.12);
    QwtScaleMap yMap;
    yMap.setPaintInterval(700, 0);
    yMap.setScaleInterval(0.0, 95.9);
    QImage canvas(1000, 700, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        canvas.fill(Qt::black);
        QPainter painter(&canvas);
        item.draw(&painter, xMap, yMap, QRectF(0, 0, 1000, 700));
    }
}

void SpectrogramDraw(benchmark::State& state) {
    DrawMap<LookupRasterItem>(state);
}

// The stock item as it comes, one render thread.
void SpectrogramDrawPlain(benchmark::State& state) {
    DrawMap<QwtPlotSpectrogram>(state);
}

constexpr int kRepetitions = 9;

} // namespace

BENCHMARK(WaterfallUpdate)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(WaterfallUpdatePlain)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
// Argument: 1 nearest neighbour (the start-up choice), 0 bilinear interpolation.
BENCHMARK(SpectrogramDraw)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(SpectrogramDrawPlain)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
