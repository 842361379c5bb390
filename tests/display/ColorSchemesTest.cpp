#include "display/ColorSchemes.h"
#include "display/Waterfall.h"

#include <gtest/gtest.h>

#include <qwt_color_map.h>
#include <qwt_plot_spectrogram.h>

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Colour of `value` through the map installed in the spectrogram, for the range [-50, 50].
Rgb ColorOf(const Waterfall& w, double value) {
    const QRgb rgb = w.spectrogram->colorMap()->rgb(QwtInterval(-50.0, 50.0), value);
    return {qRed(rgb), qGreen(rgb), qBlue(rgb)};
}

double At(double position) {
    return -50.0 + 100.0 * position;
}

} // namespace

TEST(ColorSchemes, EndsAndOutOfRangeValuesTakeTheEndColours) {
    const struct {
        unsigned index;
        Rgb low, high;
    } schemes[] = {{0, {0, 0, 128}, {255, 255, 0}},
                   {1, {0, 128, 128}, {255, 0, 0}},
                   {2, {0, 0, 0}, {255, 255, 255}},
                   {3, {0, 0, 189}, {189, 0, 0}}}; // Jet ends on its last stop
    for (const auto& s : schemes) {
        Waterfall w;
        w.SetColorScheme(s.index);
        EXPECT_EQ(ColorOf(w, -50.0), s.low) << s.index;
        EXPECT_EQ(ColorOf(w, -80.0), s.low) << s.index;
        EXPECT_EQ(ColorOf(w, 50.0), s.high) << s.index;
        EXPECT_EQ(ColorOf(w, 60.0), s.high) << s.index;
    }
}

TEST(ColorSchemes, StopsAreWhereTheSchemesPutThem) {
    Waterfall w;
    w.SetColorScheme(1);
    EXPECT_EQ(ColorOf(w, At(0.1)), (Rgb{0, 255, 255}));
    EXPECT_EQ(ColorOf(w, At(0.6)), (Rgb{0, 255, 0}));
    EXPECT_EQ(ColorOf(w, At(0.95)), (Rgb{255, 255, 0}));
    w.SetColorScheme(0);
    EXPECT_EQ(ColorOf(w, At(0.5)), (Rgb{128, 128, 64}));

    w.SetColorScheme(3);
    EXPECT_EQ(ColorOf(w, At(5 / 13.0)), (Rgb{0, 255, 255}));
    EXPECT_EQ(ColorOf(w, At(9 / 13.0)), (Rgb{255, 255, 0}));
    // No stop at 11/13: half way between the stops at 10/13 and 12/13.
    const Rgb mid = ColorOf(w, At(11 / 13.0));
    EXPECT_EQ(mid.r, 255);
    EXPECT_NEAR(mid.g, (189 + 66) / 2.0, 1.0);
    EXPECT_EQ(mid.b, 0);
}

TEST(ColorSchemes, JetHasNoStopAtElevenThirteenths) {
    const std::unique_ptr<QwtLinearColorMap> jet = CreateColorMap(3);
    const QVector<double> stops = jet->colorStops();
    for (double position : stops)
        EXPECT_GT(std::abs(position - 11 / 13.0), 0.02);
    EXPECT_TRUE(stops.contains(10 / 13.0));
    EXPECT_TRUE(stops.contains(12 / 13.0));
}

TEST(ColorSchemes, UnknownIndexKeepsTheInstalledMap) {
    EXPECT_EQ(CreateColorMap(kColorSchemeCount), nullptr);
    Waterfall w;
    w.SetColorScheme(2);
    const QwtColorMap* installed = w.spectrogram->colorMap();
    w.SetColorScheme(4);
    w.SetColorScheme(static_cast<quint32>(-1));
    EXPECT_EQ(w.spectrogram->colorMap(), installed);
    EXPECT_EQ(ColorOf(w, 50.0), (Rgb{255, 255, 255}));
}
