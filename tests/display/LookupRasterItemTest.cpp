#include "display/LookupRasterItem.h"
#include "display/ColorSchemes.h"
#include "display/ColorTable.h"
#include "display/Tavrix_RasterData.h"
#include "display/Waterfall.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <qwt_color_map.h>
#include <qwt_scale_map.h>
#include <random>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// dB-like values around the colour range, with the non-finite values a map can hold.
QVector<double> Values(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> level(-70.0, 15.0);
    QVector<double> values(count);
    for (double& v : values)
        v = level(random);
    if (count > 40) {
        values[3] = -kInf;
        values[17] = kInf;
        values[29] = kNan;
    }
    return values;
}

QwtScaleMap Map(double p1, double p2, double s1, double s2) {
    QwtScaleMap map;
    map.setPaintInterval(p1, p2);
    map.setScaleInterval(s1, s2);
    return map;
}

struct Geometry {
    const char* name;
    int columns, rows; // of the matrix
    double xMin, xMax; // of the raster
    double yMin, yMax; //
    double sx1, sx2;   // the plot's scales
    double sy1, sy2;   //
    int width, height; // of the canvas
};

// The waterfall as drawn, a small map blown up, zoomed and panned views, a reversed axis.
const Geometry kGeometries[] = {
    {"map", 1024, 513, -3.1, 3.1, 0.0, 95.9, -3.1, 3.1, 0.0, 95.9, 1000, 700},
    {"waterfall", 513, 64, 0.0, 95.9, 0.0, 6.4, 0.0, 95.9, 0.0, 6.4, 640, 300},
    {"small", 7, 5, -2.0, 2.0, 0.0, 3.0, -2.0, 2.0, 0.0, 3.0, 301, 203},
    {"zoomed", 40, 30, 0.0, 40.0, 0.0, 30.0, 3.3, 17.9, 5.2, 11.0, 257, 190},
    {"panned", 40, 30, 0.0, 40.0, 0.0, 30.0, -10.0, 25.0, 20.0, 45.0, 222, 171},
    {"reversed", 60, 20, 0.0, 6.0, 0.0, 2.0, 6.0, 0.0, 0.0, 2.0, 333, 97},
    // Row borders fall halfway between two device pixels.
    {"halfway", 3, 36, 0.0, 3.0, 0.0, 36.0, 0.0, 3.0, 0.0, 36.0, 90, 162},
};

std::unique_ptr<Tavrix_RasterData> Raster(const Geometry& g, int selection, unsigned seed,
                                          double zMin = -50.0, double zMax = 0.0) {
    return std::make_unique<Tavrix_RasterData>(Values(g.columns * g.rows, seed),
                                               static_cast<quint32>(g.columns), g.xMin, g.xMax,
                                               g.yMin, g.yMax, zMin, zMax, selection);
}

bool SameValue(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

int ChannelDifference(QRgb a, QRgb b) {
    if (qAlpha(a) != qAlpha(b))
        return 256;
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// `item` drawn on a grey canvas as the plot draws it, y growing upwards.
QImage Draw(QwtPlotSpectrogram& item, const Geometry& g) {
    QImage canvas(g.width, g.height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(40, 40, 40));
    QPainter painter(&canvas);
    item.draw(&painter, Map(0, g.width, g.sx1, g.sx2), Map(g.height, 0, g.sy1, g.sy2),
              QRectF(0, 0, g.width, g.height));
    return canvas;
}

// The largest channel difference between the two items' pictures of the same raster.
int LargestDifference(const Geometry& g, int selection, QwtColorMap* stockMap,
                      QwtColorMap* tableMap, double zMin = -50.0, double zMax = 0.0) {
    QwtPlotSpectrogram stock;
    stock.setColorMap(stockMap);
    stock.setData(Raster(g, selection, 11, zMin, zMax).release());
    LookupRasterItem table;
    table.setColorMap(tableMap);
    table.setData(Raster(g, selection, 11, zMin, zMax).release());
    const QImage a = Draw(stock, g);
    const QImage b = Draw(table, g);
    int largest = 0;
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            largest = std::max(largest, ChannelDifference(a.pixel(x, y), b.pixel(x, y)));
    return largest;
}

} // namespace

TEST(RasterLineSampler, GivesWhatTheRasterGivesBitForBit) {
    for (const Geometry& g : kGeometries) {
        for (int selection : {0, 1}) {
            const auto raster = Raster(g, selection, 3);
            // Pixels up to a few beyond the canvas, so that every excluded maximum is crossed.
            const QwtScaleMap xMap = Map(0, g.width, g.sx1, g.sx2);
            const QwtScaleMap yMap = Map(g.height, 0, g.sy1, g.sy2);
            const int width = g.width + 4;
            RasterLineSampler sampler(*raster, xMap, yMap, width);
            std::vector<double> line(static_cast<std::size_t>(width));
            int mismatches = 0;
            for (int y = -2; y < g.height + 2; ++y) {
                sampler.Line(y, line.data());
                for (int x = 0; x < width; ++x)
                    if (!SameValue(line[x],
                                   raster->value(xMap.invTransform(x), yMap.invTransform(y))))
                        ++mismatches;
            }
            EXPECT_EQ(mismatches, 0) << g.name << ", selection " << selection;
        }
    }
}

TEST(RasterLineSampler, MatrixWithoutAWholeRowHasNoValues) {
    // Three values cannot fill a row of four; the library itself would read before them.
    const Tavrix_RasterData raster({1, 2, 3}, 4, 0, 1, 0, 1, 0, 1, 1);
    RasterLineSampler sampler(raster, Map(0, 10, 0, 1), Map(10, 0, 0, 1), 10);
    std::vector<double> line(10, 0.0);
    sampler.Line(5, line.data());
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](double v) { return std::isnan(v); }));
}

TEST(ColorTable, MatchesEachSchemeWithinOnePerChannel) {
    const QwtInterval ranges[] = {QwtInterval(-50.0, 50.0), QwtInterval(-123.4, 7.89),
                                  QwtInterval(1e6, 1e6 + 1e-3)};
    for (unsigned scheme = 0; scheme < kColorSchemeCount; ++scheme) {
        const auto map = CreateColorMap(scheme);
        for (const QwtInterval& range : ranges) {
            const auto table = ColorTable::FromMap(*map, range);
            ASSERT_TRUE(table) << scheme;
            const auto at = [&](double position) {
                return range.minValue() + position * range.width();
            };
            std::vector<double> values;
            for (int i = -200; i <= 200200; ++i)
                values.push_back(at(i / 200000.0));
            for (double v :
                 {range.minValue(), range.maxValue(), -kInf, kInf, kNan,
                  std::nextafter(range.maxValue(), -kInf), std::nextafter(range.minValue(), kInf)})
                values.push_back(v);
            // Whole lines are mapped together; they must agree with the values one by one.
            std::vector<QRgb> mapped(values.size());
            table->Map(values.data(), mapped.data(), values.size());
            int largest = 0;
            for (std::size_t i = 0; i < values.size(); ++i) {
                ASSERT_EQ(mapped[i], table->rgb(values[i])) << values[i];
                largest =
                    std::max(largest, ChannelDifference(mapped[i], map->rgb(range, values[i])));
            }
            EXPECT_LE(largest, 1) << "scheme " << scheme << ", range " << range.minValue();
            // The ends and what lies beyond them exactly, the top one included where "Jet"
            // holds two stops at 1.0, and NaN.
            for (double v : {range.minValue(), range.maxValue(), at(-3.0), at(4.0), -kInf, kInf,
                             kNan, std::nextafter(range.maxValue(), -kInf)})
                EXPECT_EQ(table->rgb(v), map->rgb(range, v)) << scheme << " at " << v;
        }
    }
}

TEST(ColorTable, SizesItselfForSteepMapsAndRefusesWhatItCannotMatch) {
    QwtLinearColorMap steep(Qt::black, Qt::white);
    steep.addColorStop(0.5, Qt::black);
    steep.addColorStop(0.51, Qt::white); // 255 levels over 0.01
    const QwtInterval range(0.0, 1.0);
    const auto table = ColorTable::FromMap(steep, range);
    ASSERT_TRUE(table);
    EXPECT_GE(table->size(), 25500u);
    int largest = 0;
    for (int i = 0; i <= 1000000; ++i)
        largest =
            std::max(largest, ChannelDifference(table->rgb(i / 1e6), steep.rgb(range, i / 1e6)));
    EXPECT_LE(largest, 1);

    QwtLinearColorMap fixed(Qt::black, Qt::white);
    fixed.setMode(QwtLinearColorMap::FixedColors);
    QwtLinearColorMap indexed(Qt::black, Qt::white, QwtColorMap::Indexed);
    QwtLinearColorMap step(Qt::black, Qt::white);
    step.addColorStop(0.5, Qt::red);
    step.addColorStop(0.5, Qt::blue); // a jump at 0.5
    QwtAlphaColorMap alpha(Qt::red);
    QwtLinearColorMap cliff(Qt::black, Qt::white);
    cliff.addColorStop(0.5, Qt::black);
    cliff.addColorStop(0.5012, Qt::white); // steeper than any table of sensible size
    for (const QwtColorMap* map :
         std::initializer_list<const QwtColorMap*>{&fixed, &indexed, &step, &alpha, &cliff})
        EXPECT_FALSE(ColorTable::FromMap(*map, range));

    const auto standard = CreateColorMap(0);
    for (const QwtInterval& bad : {QwtInterval(1.0, 1.0), QwtInterval(0.0, kInf),
                                   QwtInterval(-kInf, 0.0), QwtInterval(kNan, 1.0)})
        EXPECT_FALSE(ColorTable::FromMap(*standard, bad));
}

TEST(LookupRasterItem, DrawsWhatTheStockItemDrawsWithinOnePerChannel) {
    for (const Geometry& g : kGeometries)
        for (int selection : {0, 1})
            for (unsigned scheme = 0; scheme < kColorSchemeCount; ++scheme)
                EXPECT_LE(LargestDifference(g, selection, CreateColorMap(scheme).release(),
                                            CreateColorMap(scheme).release()),
                          1)
                    << g.name << ", selection " << selection << ", scheme " << scheme;
}

// Views chosen at random: zoomed and panned, axes either way, painters moved or scaled (as an
// export at another resolution scales them), small matrices blown up and large ones shrunk.
TEST(LookupRasterItem, DrawsWhatTheStockItemDrawsInAnyView) {
    std::mt19937 random(29);
    const auto real = [&](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(random);
    };
    const auto whole = [&](int a, int b) {
        return std::uniform_int_distribution<int>(a, b)(random);
    };
    for (int c = 0; c < 150; ++c) {
        const bool large = c % 10 == 0;
        const int columns = large ? 1024 : whole(1, 60);
        const int rows = large ? 513 : whole(1, 60);
        const int width = large ? whole(900, 1100) : whole(20, 400);
        const int height = large ? whole(600, 800) : whole(20, 300);
        const double x0 = real(-5, 5), xw = real(0.5, 10), y0 = real(-5, 5), yw = real(0.5, 10);
        const bool wholeView = c % 4 == 0;
        const double sx1 = wholeView ? x0 : x0 + real(-0.3, 0.3) * xw;
        const double sx2 = wholeView ? x0 + xw : x0 + xw + real(-0.3, 0.3) * xw;
        const double sy1 = wholeView ? y0 : y0 + real(-0.3, 0.3) * yw;
        const double sy2 = wholeView ? y0 + yw : y0 + yw + real(-0.3, 0.3) * yw;
        const QwtScaleMap xMap = c % 7 == 0 ? Map(width, 0, sx1, sx2) : Map(0, width, sx1, sx2);
        const QwtScaleMap yMap = c % 3 == 0 ? Map(0, height, sy1, sy2) : Map(height, 0, sy1, sy2);
        const int selection = c % 5 == 0 ? 0 : 1;
        const double shift = real(-5, 9), scale = real(0.5, 1.7);
        const QVector<double> values = Values(columns * rows, static_cast<unsigned>(c));

        QImage pictures[2];
        QwtPlotSpectrogram stock;
        LookupRasterItem table;
        QwtPlotSpectrogram* items[2] = {&stock, &table};
        for (int i = 0; i < 2; ++i) {
            items[i]->setColorMap(CreateColorMap(3).release());
            items[i]->setData(new Tavrix_RasterData(values, static_cast<quint32>(columns), x0,
                                                    x0 + xw, y0, y0 + yw, -50.0, 0.0, selection));
            pictures[i] = QImage(width + 6, height + 6, QImage::Format_ARGB32_Premultiplied);
            pictures[i].fill(QColor(40, 40, 40));
            QPainter painter(&pictures[i]);
            if (c % 6 == 1)
                painter.translate(shift, shift / 2);
            if (c % 6 == 2)
                painter.scale(scale, scale);
            items[i]->draw(&painter, xMap, yMap, QRectF(0, 0, width, height));
        }
        int largest = 0;
        for (int y = 0; y < pictures[0].height(); ++y)
            for (int x = 0; x < pictures[0].width(); ++x)
                largest = std::max(
                    largest, ChannelDifference(pictures[0].pixel(x, y), pictures[1].pixel(x, y)));
        EXPECT_LE(largest, 1) << "view " << c << ": " << columns << " x " << rows << " in " << width
                              << " x " << height;
    }
}

TEST(LookupRasterItem, MapsAndRangesItCannotTabulateAreDrawnTheStockWay) {
    const Geometry& g = kGeometries[2];
    const auto fixed = [] {
        auto* map = new QwtLinearColorMap(Qt::black, Qt::white);
        map->setMode(QwtLinearColorMap::FixedColors);
        map->addColorStop(0.3, Qt::red);
        return map;
    };
    EXPECT_EQ(LargestDifference(g, 1, fixed(), fixed()), 0);
    // A colour range of no width, and one that is upside down.
    EXPECT_EQ(LargestDifference(g, 1, CreateColorMap(3).release(), CreateColorMap(3).release(),
                                -20.0, -20.0),
              0);
    EXPECT_EQ(LargestDifference(g, 0, CreateColorMap(3).release(), CreateColorMap(3).release(), 0.0,
                                -50.0),
              0);
}

TEST(LookupRasterItem, RenderThreadsDoNotChangeThePicture) {
    const Geometry& g = kGeometries[0];
    QImage pictures[3];
    const unsigned threads[] = {1, 3, 0};
    for (int i = 0; i < 3; ++i) {
        LookupRasterItem item;
        item.setRenderThreadCount(threads[i]);
        item.setColorMap(CreateColorMap(3).release());
        item.setData(Raster(g, 1, 5).release());
        pictures[i] = Draw(item, g);
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    EXPECT_EQ(pictures[0], pictures[2]);
}

TEST(LookupRasterItem, RasterWithoutAWholeRowDrawsNothing) {
    LookupRasterItem item;
    item.setColorMap(CreateColorMap(0).release());
    item.setData(new Tavrix_RasterData({1, 2, 3}, 4, 0.0, 4.0, 0.0, 3.0, 0.0, 5.0, 1));
    const Geometry g{"empty", 4, 0, 0, 4, 0, 3, 0, 4, 0, 3, 40, 30};
    const QImage picture = Draw(item, g);
    QImage canvas(g.width, g.height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(40, 40, 40));
    EXPECT_EQ(picture, canvas);
}

// The largest histories are copied to the raster past the caches, and after that a row at a
// time into the ring's order; what the raster gives must still be the history, newest row
// lowest, whichever way the ring is turned.
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
        w.UpdateRaster(1024, 0, 1024, 0, 1024, 0, 1);
        const auto* raster = dynamic_cast<const QwtMatrixRasterData*>(w.spectrogram->data());
        ASSERT_NE(raster, nullptr);
        const std::vector<double> history = w.History();
        int mismatches = 0;
        for (int r = 0; r < 1024; ++r)
            for (int c = 0; c < 1024; ++c)
                mismatches += raster->value(c + 0.5, r + 0.5) != history[r * 1024 + c];
        EXPECT_EQ(mismatches, 0) << "turned by " << turn;
    }
}

// A raster stored turned is, to its values, its sampler and its picture, the raster stored
// in order: at the bottom row, the middle and the top, in both resampling modes.
TEST(TurnedRasterData, GivesAndDrawsWhatTheUnturnedRasterDoesBitForBit) {
    for (const Geometry& g : kGeometries) {
        for (int turn : {1, g.rows / 2, g.rows - 1, g.rows + 2}) {
            for (int selection : {0, 1}) {
                SCOPED_TRACE(testing::Message()
                             << g.name << ", turned by " << turn << ", selection " << selection);
                const auto plain = Raster(g, selection, 7);
                const QVector<double> list = plain->valueMatrix();
                // Stored row (r + turn) mod rows holds row r.
                QVector<double> stored(list.size());
                for (int r = 0; r < g.rows; ++r)
                    std::copy_n(list.begin() + r * g.columns, g.columns,
                                stored.begin() + (r + turn) % g.rows * g.columns);
                auto turned = std::make_unique<TurnedRasterData>(
                    stored, static_cast<quint32>(g.columns), turn, g.xMin, g.xMax, g.yMin, g.yMax,
                    -50.0, 0.0, selection);

                const QwtScaleMap xMap = Map(0, g.width, g.sx1, g.sx2);
                const QwtScaleMap yMap = Map(g.height, 0, g.sy1, g.sy2);
                const int width = g.width + 4;
                RasterLineSampler sampler(*turned, xMap, yMap, width);
                std::vector<double> line(static_cast<std::size_t>(width));
                int mismatches = 0;
                for (int y = -2; y < g.height + 2; ++y) {
                    sampler.Line(y, line.data());
                    for (int x = 0; x < width; ++x) {
                        const double tx = xMap.invTransform(x), ty = yMap.invTransform(y);
                        const double expected = plain->value(tx, ty);
                        mismatches += !SameValue(turned->value(tx, ty), expected);
                        mismatches += !SameValue(line[x], expected);
                    }
                }
                EXPECT_EQ(mismatches, 0);

                LookupRasterItem a, b;
                a.setColorMap(CreateColorMap(3).release());
                b.setColorMap(CreateColorMap(3).release());
                a.setData(Raster(g, selection, 7).release());
                b.setData(turned.release());
                EXPECT_EQ(Draw(a, g), Draw(b, g));
            }
        }
    }
}
