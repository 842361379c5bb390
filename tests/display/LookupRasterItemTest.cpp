// The raster item that draws through a colour table, against the stock item: its line sampler
// gives what the raster gives bit for bit, turned or not; its table is within 1 per channel of
// the colour map and refuses what it cannot match; its pictures are within 1 per channel of
// the stock item's in any view, on any number of render threads.
#include "display/LookupRasterItem.h"
#include "display/ColorSchemes.h"
#include "display/ColorTable.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstring>
#include <functional>
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

// The map as drawn, a small map blown up, zoomed and panned views, reversed
// axes, a single row.
const Geometry kGeometries[] = {
    {"map", 1024, 513, -3.1, 3.1, 0.0, 95.9, -3.1, 3.1, 0.0, 95.9, 1000, 700},
    {"small", 7, 5, -2.0, 2.0, 0.0, 3.0, -2.0, 2.0, 0.0, 3.0, 301, 203},
    {"zoomed", 40, 30, 0.0, 40.0, 0.0, 30.0, 3.3, 17.9, 5.2, 11.0, 257, 190},
    {"panned", 40, 30, 0.0, 40.0, 0.0, 30.0, -10.0, 25.0, 20.0, 45.0, 222, 171},
    {"reversed", 60, 20, 0.0, 6.0, 0.0, 2.0, 6.0, 0.0, 2.0, 0.0, 333, 97},
    // Row borders fall halfway between two device pixels.
    {"halfway", 3, 36, 0.0, 3.0, 0.0, 36.0, 0.0, 3.0, 0.0, 36.0, 90, 162},
    {"one row", 9, 1, 0.0, 9.0, 0.0, 1.0, 0.0, 9.0, 0.0, 1.0, 120, 40},
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

// `item` drawn as the plot draws it, y growing upwards, on a grey canvas with a margin for
// moved painters.
QImage Draw(QwtPlotSpectrogram& item, const Geometry& g, const QTransform& transform = {}) {
    QImage canvas(g.width + 6, g.height + 6, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(QColor(40, 40, 40));
    QPainter painter(&canvas);
    painter.setTransform(transform);
    item.draw(&painter, Map(0, g.width, g.sx1, g.sx2), Map(g.height, 0, g.sy1, g.sy2),
              QRectF(0, 0, g.width, g.height));
    return canvas;
}

using MapMaker = std::function<QwtColorMap*()>;
MapMaker Scheme(unsigned scheme) {
    return [scheme] { return CreateColorMap(scheme).release(); };
}

// The largest channel difference between the stock item's picture and the table item's.
int LargestDifference(const Geometry& g, int selection, const MapMaker& map, double zMin = -50.0,
                      double zMax = 0.0, const QTransform& transform = {}, unsigned threads = 0) {
    QwtPlotSpectrogram stock;
    LookupRasterItem table;
    table.setRenderThreadCount(threads);
    QwtPlotSpectrogram* items[] = {&stock, &table};
    QImage pictures[2];
    for (int i = 0; i < 2; ++i) {
        items[i]->setColorMap(map());
        items[i]->setData(Raster(g, selection, 11, zMin, zMax).release());
        pictures[i] = Draw(*items[i], g, transform);
    }
    int largest = 0;
    for (int y = 0; y < pictures[0].height(); ++y)
        for (int x = 0; x < pictures[0].width(); ++x)
            largest = std::max(largest,
                               ChannelDifference(pictures[0].pixel(x, y), pictures[1].pixel(x, y)));
    return largest;
}

} // namespace

// A raster stored turned (or not) is, to its values and its sampler, the raster stored in
// order, in both resampling modes; pixels a few beyond the canvas cross every excluded maximum.
TEST(RasterLineSampler, GivesWhatTheRasterGivesTurnedOrNotBitForBit) {
    for (const Geometry& g : kGeometries) {
        for (int turn : {0, 1, g.rows / 2, g.rows - 1, g.rows + 2}) {
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
                const TurnedRasterData turned(stored, static_cast<quint32>(g.columns), turn, g.xMin,
                                              g.xMax, g.yMin, g.yMax, -50.0, 0.0, selection);

                const QwtScaleMap xMap = Map(0, g.width, g.sx1, g.sx2);
                const QwtScaleMap yMap = Map(g.height, 0, g.sy1, g.sy2);
                const int width = g.width + 4;
                RasterLineSampler sampler(turned, xMap, yMap, width);
                std::vector<double> line(static_cast<std::size_t>(width));
                int mismatches = 0;
                for (int y = -2; y < g.height + 2; ++y) {
                    sampler.Line(y, line.data());
                    for (int x = 0; x < width; ++x) {
                        const double tx = xMap.invTransform(x), ty = yMap.invTransform(y);
                        const double expected = plain->value(tx, ty);
                        mismatches += !SameValue(turned.value(tx, ty), expected);
                        mismatches += !SameValue(line[x], expected);
                    }
                }
                EXPECT_EQ(mismatches, 0);
            }
        }
    }
}

// A waterfall drawn before its history fills one row: the stock item would read before the
// values.
TEST(LookupRasterItem, MatrixWithoutAWholeRowDrawsNothing) {
    LookupRasterItem item;
    item.setColorMap(CreateColorMap(0).release());
    item.setData(new Tavrix_RasterData({1, 2, 3}, 4, 0.0, 4.0, 0.0, 3.0, 0.0, 5.0, 1));
    const QImage drawn = Draw(item, {"empty", 4, 0, 0, 4, 0, 3, 0, 4, 0, 3, 40, 30});
    QImage grey(drawn.size(), drawn.format());
    grey.fill(QColor(40, 40, 40));
    EXPECT_EQ(drawn, grey);
}

// Within 1 per channel of each scheme's map and of a steep one (255 levels over 0.01) inside
// the range, a narrow one included, and exactly its colours at the ends, beyond them (the top
// one included, where "Jet" holds two stops at 1.0) and for NaN. Lines are mapped two values at
// a time, the odd one alone.
TEST(ColorTable, MatchesEachMapWithinOnePerChannel) {
    std::vector<std::unique_ptr<QwtLinearColorMap>> maps;
    for (unsigned scheme = 0; scheme < kColorSchemeCount; ++scheme)
        maps.push_back(CreateColorMap(scheme));
    maps.push_back(std::make_unique<QwtLinearColorMap>(Qt::black, Qt::white));
    maps.back()->addColorStop(0.5, Qt::black);
    maps.back()->addColorStop(0.51, Qt::white);
    for (std::size_t m = 0; m < maps.size(); ++m) {
        const QwtColorMap& map = *maps[m];
        for (const QwtInterval& range : {QwtInterval(-123.4, 7.89), QwtInterval(1e6, 1e6 + 1e-3)}) {
            const auto table = ColorTable::FromMap(map, range);
            ASSERT_TRUE(table) << "map " << m;
            const auto at = [&](double p) { return range.minValue() + p * range.width(); };
            const double top = range.maxValue();
            std::vector<double> values({range.minValue(), top, std::nextafter(top, 0), at(-3.0),
                                        at(4.0), -kInf, kInf, kNan});
            const std::size_t ends = values.size();
            for (int i = -200; i <= 200200; ++i)
                values.push_back(at(i / 200000.0));
            std::vector<QRgb> mapped(values.size());
            table->Map(values.data(), mapped.data(), values.size());
            int largest = 0;
            for (std::size_t i = 0; i < values.size(); ++i) {
                const QRgb expected = map.rgb(range, values[i]);
                EXPECT_TRUE(i >= ends || mapped[i] == expected)
                    << "map " << m << " at " << values[i];
                largest = std::max(largest, ChannelDifference(mapped[i], expected));
            }
            EXPECT_LE(largest, 1) << "map " << m << ", range " << range.minValue();
        }
    }
}

// The views of every geometry, in both resampling modes and every scheme, on a painter moved by
// a fraction of a pixel or scaled (as an export at another resolution scales it), on one render
// thread, two, or one per core.
TEST(LookupRasterItem, DrawsWhatTheStockItemDraws) {
    const QTransform transforms[] = {QTransform(), QTransform::fromTranslate(3.7, 1.85),
                                     QTransform::fromScale(1.3, 1.3)};
    for (const Geometry& g : kGeometries)
        for (int selection : {0, 1})
            for (unsigned scheme = 0; scheme < kColorSchemeCount; ++scheme)
                EXPECT_LE(LargestDifference(g, selection, Scheme(scheme), -50.0, 0.0,
                                            transforms[scheme % 3], scheme % 3),
                          1)
                    << g.name << ", selection " << selection << ", scheme " << scheme;
    // Maps and colour ranges it cannot tabulate (of no width, upside down) go the stock way.
    const MapMaker fixed = [] {
        auto* map = new QwtLinearColorMap(Qt::black, Qt::white);
        map->setMode(QwtLinearColorMap::FixedColors);
        map->addColorStop(0.3, Qt::red);
        return map;
    };
    const Geometry& g = kGeometries[2];
    EXPECT_EQ(LargestDifference(g, 1, fixed), 0);
    EXPECT_EQ(LargestDifference(g, 1, Scheme(3), -20.0, -20.0), 0);
    EXPECT_EQ(LargestDifference(g, 0, Scheme(3), 0.0, -50.0), 0);
}
