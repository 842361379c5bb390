#include "display/Waterfall.h"
#include "display/Tavrix_RasterData.h"

#include <gtest/gtest.h>

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

} // namespace

// The history, and the raster made of it at random moments, rows of the ring's width or not,
// scrolled or overwritten from the front, both brought up to date a few rows at a time.
TEST(Waterfall, BehavesLikeTheListWhateverTheRowWidths) {
    std::mt19937 random(7);
    Waterfall w;
    w.SetHistorySize(5, 4);
    std::vector<double> model(20, 0.0); // the history grown and cut the simple way
    std::vector<double> installed;      // what the raster gave when it was installed
    // Values of an old raster that someone kept: the waterfall must write around them.
    QVector<double> kept;
    std::vector<double> keptValues;
    for (int step = 0; step < 600; ++step) {
        const std::size_t width = std::uniform_int_distribution<int>(0, 9)(random) < 7
                                      ? 5
                                      : std::uniform_int_distribution<std::size_t>(0, 23)(random);
        const bool scroll = std::uniform_int_distribution<int>(0, 9)(random) != 0;
        const std::vector<double> row = Row(width, step);
        w.AddRow(row, scroll);
        if (scroll)
            model.insert(model.begin(), row.begin(), row.end());
        else
            std::copy_n(row.begin(), std::min<std::size_t>(width, 20), model.begin());
        model.resize(20);
        ASSERT_EQ(w.History(), model) << "step " << step;

        const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 25)(random);
        std::vector<double> visited;
        w.VisitHistory(count, [&visited](const double* values, std::size_t n) {
            visited.insert(visited.end(), values, values + n);
        });
        const std::size_t clipped = std::min(count, model.size());
        ASSERT_EQ(visited, std::vector<double>(model.begin(), model.begin() + clipped))
            << "step " << step << ", count " << count;

        // Rows added since do not reach the installed raster, nor a kept one.
        ASSERT_EQ(RasterList(w), installed) << "step " << step;
        ASSERT_TRUE(std::equal(kept.begin(), kept.end(), keptValues.begin(), keptValues.end()));
        if (step % 40 == 0 && Raster(w)) {
            kept = Raster(w)->valueMatrix();
            keptValues.assign(kept.begin(), kept.end());
        }
        if (std::uniform_int_distribution<int>(0, 2)(random) == 0) {
            const quint32 columns = std::uniform_int_distribution<int>(0, 4)(random) ? 5 : 4;
            w.UpdateRaster(columns, 0, columns, 0, 20.0 / columns, -1, 1);
            installed = RasterList(w);
            const std::size_t whole = 20 / columns * columns;
            ASSERT_EQ(installed, std::vector<double>(model.begin(), model.begin() + whole))
                << "step " << step << ", " << columns << " columns";
        }
    }
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
            w.AddRow(row, true);
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
