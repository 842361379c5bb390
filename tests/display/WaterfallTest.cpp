#include "display/Waterfall.h"
#include "display/Tavrix_RasterData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <qwt_plot_spectrogram.h>
#include <random>

namespace {

std::vector<double> Row(std::size_t n, double base) {
    std::vector<double> row(n);
    for (std::size_t k = 0; k < n; ++k)
        row[k] = base + 0.001 * static_cast<double>(k);
    return row;
}

// The history as a plain list, grown and cut the simple way.
struct ListModel {
    std::vector<double> values;
    void AddRow(const std::vector<double>& row, bool scroll) {
        if (scroll) {
            const std::size_t size = values.size();
            values.insert(values.begin(), row.begin(), row.end());
            values.resize(size);
        } else {
            std::copy_n(row.begin(), std::min(row.size(), values.size()), values.begin());
        }
    }
};

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

TEST(Waterfall, KeepsTheNewestRowFirstAndDropsTheOldest) {
    Waterfall w;
    w.SetHistorySize(1024, 64);
    EXPECT_EQ(w.History(), std::vector<double>(65536, 0.0));

    w.AddRow(Row(1024, 1), true);
    std::vector<double> history = w.History();
    ASSERT_EQ(history.size(), 65536u);
    EXPECT_TRUE(std::equal(history.begin(), history.begin() + 1024, Row(1024, 1).begin()));
    EXPECT_TRUE(
        std::all_of(history.begin() + 1024, history.end(), [](double v) { return v == 0; }));

    for (int r = 2; r <= 65; ++r)
        w.AddRow(Row(1024, r), true);
    history = w.History();
    ASSERT_EQ(history.size(), 65536u);
    for (int row = 0; row < 64; ++row) // row 0 is r65, row 63 is r2; r1 is gone
        EXPECT_TRUE(std::equal(history.begin() + row * 1024, history.begin() + (row + 1) * 1024,
                               Row(1024, 65 - row).begin()))
            << "row " << row;
}

TEST(Waterfall, ReplacingAddOverwritesFromTheFrontAndKeepsTheLength) {
    Waterfall w;
    w.SetHistorySize(1024, 513);
    for (int r = 0; r < 7; ++r) // leave the ring turned
        w.AddRow(Row(1024, r), true);
    const std::vector<double> map = Row(513 * 1024, -40);
    w.AddRow(map, false);
    EXPECT_EQ(w.History(), map);

    w.AddRow(Row(600 * 1024, 9), false); // longer than the history: cut, not overrun
    EXPECT_EQ(w.HistorySize(), 513u * 1024);
}

// The history, and the raster made of it at random moments, rows of the ring's width or not,
// both brought up to date a few rows at a time.
TEST(Waterfall, BehavesLikeTheListWhateverTheRowWidths) {
    std::mt19937 random(7);
    Waterfall w;
    ListModel model;
    w.SetHistorySize(5, 4);
    model.values.assign(20, 0.0);
    std::vector<double> installed; // what the raster gave when it was installed
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
        model.AddRow(row, scroll);
        ASSERT_EQ(w.History(), model.values) << "step " << step;

        const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 25)(random);
        std::vector<double> visited;
        w.VisitHistory(count, [&visited](const double* values, std::size_t n) {
            visited.insert(visited.end(), values, values + n);
        });
        const std::size_t clipped = std::min(count, model.values.size());
        ASSERT_EQ(visited,
                  std::vector<double>(model.values.begin(), model.values.begin() + clipped))
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
            ASSERT_EQ(installed,
                      std::vector<double>(model.values.begin(), model.values.begin() + whole))
                << "step " << step << ", " << columns << " columns";
        }
    }
}

TEST(Waterfall, DegenerateSizesNeverOverrun) {
    Waterfall w; // no history yet
    w.AddRow(Row(4, 1), true);
    w.AddRow(Row(4, 1), false);
    EXPECT_EQ(w.HistorySize(), 0u);
    w.UpdateRaster(4, 0, 1, 0, 1, 0, 1);

    w.SetHistorySize(0, 8);
    w.AddRow({}, true);
    w.UpdateRaster(0, 0, 1, 0, 1, 0, 1);
    EXPECT_EQ(w.HistorySize(), 0u);

    w.SetHistorySize(65536, 65536); // the product wraps to 0 in 32 bits
    EXPECT_EQ(w.HistorySize(), 0u);
    w.AddRow(Row(3, 1), true);
    EXPECT_EQ(w.HistorySize(), 0u);
}

TEST(Waterfall, RasterIsACopyWithNewestRowAtTheBottom) {
    Waterfall w;
    w.SetHistorySize(4, 3);
    w.AddRow({1, 2, 3, 4}, true);
    w.AddRow({5, 6, 7, 8}, true);
    w.UpdateRaster(4, -2.0, 2.0, 0.0, 3.0, -50.0, 50.0);
    w.AddRow({9, 9, 9, 9}, true); // later rows do not reach the installed raster

    const QwtMatrixRasterData* raster = Raster(w);
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(raster->interval(Qt::XAxis), QwtInterval(-2.0, 2.0, QwtInterval::ExcludeMaximum));
    EXPECT_EQ(raster->interval(Qt::YAxis), QwtInterval(0.0, 3.0, QwtInterval::ExcludeMaximum));
    EXPECT_EQ(raster->interval(Qt::ZAxis), QwtInterval(-50.0, 50.0, QwtInterval::IncludeBorders));

    // Nearest neighbour: column j spans [-2 + j, -1 + j), row r spans [r, r + 1).
    EXPECT_EQ(raster->value(-1.5, 0.5), 5.0); // newest row, lowest on the plot
    EXPECT_EQ(raster->value(1.5, 0.5), 8.0);
    EXPECT_EQ(raster->value(-0.5, 1.5), 2.0);
    EXPECT_EQ(raster->value(0.5, 2.5), 0.0);
    EXPECT_TRUE(std::isnan(raster->value(2.0, 0.5))); // the maximum is outside
}

TEST(Waterfall, ResampleSelectionOneIsNearestNeighbourAnyOtherBilinear) {
    const struct {
        qint32 selection;
        QwtMatrixRasterData::ResampleMode mode;
    } cases[] = {{0, QwtMatrixRasterData::BilinearInterpolation},
                 {1, QwtMatrixRasterData::NearestNeighbour},
                 {2, QwtMatrixRasterData::BilinearInterpolation}};
    for (const auto& c : cases) {
        Waterfall w;
        EXPECT_EQ(w.resampleSelection, 1);
        w.SetHistorySize(2, 2);
        w.resampleSelection = c.selection;
        w.UpdateRaster(2, 0, 1, 0, 1, 0, 1);
        ASSERT_NE(Raster(w), nullptr);
        EXPECT_EQ(Raster(w)->resampleMode(), c.mode) << c.selection;
    }
}
