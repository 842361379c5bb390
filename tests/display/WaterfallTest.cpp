#include "display/Waterfall.h"
#include "display/ColorSchemes.h"
#include "display/Tavrix_RasterData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <qwt_color_map.h>
#include <qwt_plot_spectrogram.h>
#include <random>

namespace {

std::vector<double> Row(std::size_t n, double base) {
    std::vector<double> row(n);
    for (std::size_t k = 0; k < n; ++k)
        row[k] = base + 0.001 * static_cast<double>(k);
    return row;
}

const QwtMatrixRasterData* Raster(const Waterfall& w) {
    return dynamic_cast<const QwtMatrixRasterData*>(w.spectrogram->data());
}

// The installed raster's values row by row from the bottom, read at the cell centres of a
// raster of unit cells (nearest neighbour).
std::vector<double> RasterList(const Waterfall& w) {
    const QwtMatrixRasterData* raster = Raster(w);
    std::vector<double> list;
    if (!raster)
        return list;
    for (int r = 0; r < raster->numRows(); ++r)
        for (int c = 0; c < raster->numColumns(); ++c)
            list.push_back(raster->value(c + 0.5, r + 0.5));
    return list;
}

// Compares times, NaN (no time) equal to NaN.
bool SameTime(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

// The kept history, its times and the view, and the raster made of it at random moments:
// rows of the ring's width or not, scrolled or overwritten from the front, the view moved
// and the history cleared, all brought up to date a few rows at a time.
TEST(Waterfall, BehavesLikeTheListWhateverTheRowWidths) {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 random(7);
    Waterfall w;
    w.SetHistorySize(5, 4, 3);
    ASSERT_EQ(w.keptRows(), 12u);
    // The kept history grown and cut the simple way, with a time per row.
    std::vector<double> model(60, 0.0);
    std::vector<double> times(12, kNone);
    std::size_t filled = 0; // rows scrolled in since the history was emptied
    std::size_t offset = 0;
    const auto maxOffset = [&filled] { return filled > 4 ? filled - 4 : std::size_t{0}; };
    std::vector<double> installed; // what the raster gave when it was installed
    // Values of an old raster that someone kept: the waterfall must write around them.
    QVector<double> kept;
    std::vector<double> keptValues;
    for (int step = 0; step < 1500; ++step) {
        const std::size_t width = std::uniform_int_distribution<int>(0, 9)(random) < 8
                                      ? 5
                                      : std::uniform_int_distribution<std::size_t>(0, 23)(random);
        const bool scroll = std::uniform_int_distribution<int>(0, 9)(random) != 0;
        // Now and then a whole new history (the map's way), taken rather than copied.
        const bool whole = !scroll && std::uniform_int_distribution<int>(0, 2)(random) == 0;
        const std::vector<double> row = Row(whole ? 60 : width, step);
        if (whole) {
            std::vector<double> taken = row;
            w.ReplaceHistory(std::move(taken), step);
            model = row;
            std::fill(times.begin(), times.end(), step);
        } else {
            w.AddRow(row, scroll, step);
        }
        if (whole) {
        } else if (scroll) {
            model.insert(model.begin(), row.begin(), row.end());
            times.insert(times.begin(), step);
            filled = std::min<std::size_t>(filled + 1, 12);
            if (offset > 0)
                offset = std::min(offset + 1, maxOffset());
        } else {
            const std::size_t count = std::min<std::size_t>(width, 20);
            std::copy_n(row.begin(), count, model.begin());
            std::fill_n(times.begin(), (count + 4) / 5, step);
        }
        model.resize(60);
        times.resize(12);
        if (std::uniform_int_distribution<int>(0, 99)(random) == 0) {
            w.ClearHistory();
            std::fill(model.begin(), model.end(), 0.0);
            std::fill(times.begin(), times.end(), kNone);
            filled = offset = 0;
        }
        ASSERT_EQ(w.History(), std::vector<double>(model.begin(), model.begin() + 20))
            << "step " << step;
        for (std::size_t r = 0; r <= 12; ++r)
            ASSERT_TRUE(SameTime(w.Time(r), r < 12 ? times[r] : kNone))
                << "step " << step << ", row " << r;
        ASSERT_EQ(w.MaxViewOffset(), maxOffset()) << "step " << step;
        ASSERT_EQ(w.ViewOffset(), offset) << "step " << step;

        const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 25)(random);
        std::vector<double> visited;
        w.VisitHistory(count, [&visited](const double* values, std::size_t n) {
            visited.insert(visited.end(), values, values + n);
        });
        const std::size_t clipped = std::min<std::size_t>(count, 20);
        ASSERT_EQ(visited, std::vector<double>(model.begin(), model.begin() + clipped))
            << "step " << step << ", count " << count;

        // Rows added since do not reach the installed raster, nor a kept one.
        ASSERT_EQ(RasterList(w), installed) << "step " << step;
        ASSERT_TRUE(std::equal(kept.begin(), kept.end(), keptValues.begin(), keptValues.end()));
        if (step % 40 == 0 && Raster(w)) {
            kept = Raster(w)->valueMatrix();
            keptValues.assign(kept.begin(), kept.end());
        }
        const bool move = std::uniform_int_distribution<int>(0, 7)(random) == 0;
        if (move) {
            const std::size_t wanted = std::uniform_int_distribution<std::size_t>(0, 14)(random);
            w.SetViewOffset(wanted);
            offset = std::min(wanted, maxOffset());
            ASSERT_EQ(w.ViewOffset(), offset) << "step " << step;
        }
        quint32 columns = 0;
        if (std::uniform_int_distribution<int>(0, 2)(random) == 0) {
            columns = std::uniform_int_distribution<int>(0, 4)(random) ? 5 : 4;
            w.UpdateRaster(columns, 0, columns, 0, 20.0 / columns, -1, 1);
        } else if (move && w.RedrawRaster()) {
            columns = static_cast<quint32>(Raster(w)->numColumns());
        }
        if (columns > 0) {
            // The shown rows start `offset` rows back from the newest.
            installed = RasterList(w);
            const auto first = model.begin() + static_cast<std::ptrdiff_t>(offset * 5);
            ASSERT_EQ(installed, std::vector<double>(first, first + 20 / columns * columns))
                << "step " << step << ", " << columns << " columns, offset " << offset;
            const std::vector<double> shown = w.ShownTimes();
            ASSERT_EQ(shown.size(), 4u);
            for (std::size_t r = 0; r < 4; ++r)
                ASSERT_TRUE(SameTime(shown[r], times[offset + r])) << "step " << step;
        }
    }
}

// A paused view walks back through the kept rows and their times, stays on them while rows
// arrive, and a cleared history shows nothing of what it held, in either buffer.
TEST(Waterfall, ScrollsBackThroughKeptRowsWithTheirTimes) {
    Waterfall w;
    w.SetHistorySize(1, 3, 2);
    for (int k = 0; k < 10; ++k) {
        w.AddRow({double(k)}, true, 100.0 + k);
        w.UpdateRaster(1, 0, 1, 0, 3, -1, 1);
    }
    for (std::size_t r = 0; r < 6; ++r)
        EXPECT_EQ(w.Time(r), 109.0 - r);
    EXPECT_EQ(w.MaxViewOffset(), 3u);
    w.SetViewOffset(2);
    ASSERT_TRUE(w.RedrawRaster());
    EXPECT_EQ(RasterList(w), (std::vector<double>{7, 6, 5}));
    EXPECT_EQ(w.ShownTimes(), (std::vector<double>{107, 106, 105}));
    w.AddRow({10.0}, true, 110.0);
    w.RedrawRaster();
    EXPECT_EQ(RasterList(w), (std::vector<double>{7, 6, 5}));
    w.SetViewOffset(99);
    EXPECT_EQ(w.ViewOffset(), 3u);

    // Back at the newest rows, in both buffers, until a clear.
    w.SetViewOffset(0);
    w.RedrawRaster();
    w.RedrawRaster();
    w.ClearHistory();
    EXPECT_EQ(w.MaxViewOffset(), 0u);
    for (int buffer = 0; buffer < 2; ++buffer) {
        w.RedrawRaster();
        EXPECT_EQ(RasterList(w), std::vector<double>(3, 0.0));
    }
    for (double t : w.ShownTimes())
        EXPECT_TRUE(std::isnan(t));
}

// Rows kept for scrolling back stop at the memory cap, never below one screen.
TEST(Waterfall, KeptRowsAreBounded) {
    Waterfall w;
    w.SetHistorySize(5, 4, Waterfall::kScrollBackScreens);
    EXPECT_EQ(w.keptRows(), 4 * Waterfall::kScrollBackScreens);
    const quint32 columns = 16384;
    const std::size_t fit = Waterfall::kMaxKeptBytes / sizeof(double) / columns;
    w.SetHistorySize(columns, 100, Waterfall::kScrollBackScreens);
    EXPECT_EQ(w.keptRows(), fit);
    w.SetHistorySize(columns, static_cast<quint32>(fit + 1), Waterfall::kScrollBackScreens);
    EXPECT_EQ(w.keptRows(), fit + 1);
    EXPECT_EQ(w.HistorySize(), columns * (fit + 1));
}

// The largest histories are copied past the caches, and after that a row at a time into the
// ring's order; the raster must still be the history whichever way the ring is turned.
TEST(Waterfall, LargestHistoryReachesTheRasterIntact) {
    Waterfall w;
    w.SetHistorySize(1024, 1024);
    std::vector<double> row(1024);
    for (int turn : {0, 1, 50, 300, 973}) {
        for (int r = 0; r < turn; ++r) {
            for (std::size_t k = 0; k < row.size(); ++k)
                row[k] = turn * 1e6 + r * 1e3 + static_cast<double>(k);
            w.AddRow(row, true, r);
        }
        w.UpdateRaster(1024, 0, 1024, 0, 1024, -50, 50);
        EXPECT_TRUE(RasterList(w) == w.History()) << "turned by " << turn;
    }
    // The colour range and the smoothing chosen reach the raster.
    EXPECT_EQ(Raster(w)->interval(Qt::ZAxis), QwtInterval(-50.0, 50.0));
    EXPECT_EQ(Raster(w)->resampleMode(), QwtMatrixRasterData::NearestNeighbour);
    w.resampleSelection = 0;
    w.UpdateRaster(1024, 0, 1024, 0, 1024, -50, 50);
    EXPECT_EQ(Raster(w)->resampleMode(), QwtMatrixRasterData::BilinearInterpolation);
}

// The window sets the scheme every frame; the installed map stays until another scheme is
// chosen, and a scheme outside the list keeps it.
TEST(Waterfall, ColourSchemeChangesOnlyWhenAnotherIsChosen) {
    const QwtInterval range(0.0, 1.0);
    const auto colourOf = [&range](const QwtColorMap* map) { return map->rgb(range, 0.3); };
    Waterfall waterfall;
    waterfall.SetColorScheme(1);
    const QwtColorMap* installed = waterfall.spectrogram->colorMap();
    waterfall.SetColorScheme(1);
    waterfall.SetColorScheme(kColorSchemeCount);
    EXPECT_EQ(waterfall.spectrogram->colorMap(), installed);
    waterfall.SetColorScheme(3);
    EXPECT_EQ(colourOf(waterfall.spectrogram->colorMap()), colourOf(CreateColorMap(3).get()));
    EXPECT_NE(colourOf(CreateColorMap(3).get()), colourOf(CreateColorMap(1).get()));
}
