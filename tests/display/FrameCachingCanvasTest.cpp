#include "display/FrameCachingCanvas.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <qwt_plot.h>

#include <functional>

namespace {

struct PlainCanvas : QwtPlotCanvas {
    using QwtPlotCanvas::drawBorder;
    using QwtPlotCanvas::QwtPlotCanvas;
};
struct CachingCanvas : FrameCachingCanvas {
    using FrameCachingCanvas::drawBorder;
    using FrameCachingCanvas::FrameCachingCanvas;
};

// The frame drawn over a grey canvas at `ratio` device pixels per pixel.
template <typename Canvas> QImage Framed(Canvas& canvas, qreal ratio) {
    QImage image((QSizeF(canvas.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(56, 56, 56));
    QPainter painter(&image);
    canvas.drawBorder(&painter);
    return image;
}

} // namespace

// The cached frame is the style's own, pixel for pixel, on plain, scaled and high-density screens,
// after every change of size, colours and frame that the cache depends on: a stale or misplaced
// strip shows as a difference. A canvas too small for strips, and a rounded one, are drawn as
// the style draws them.
TEST(FrameCachingCanvas, DrawsTheStylesFrameThroughChangesOfSizeColourAndFrame) {
    QwtPlot plainPlot, cachedPlot;
    auto* plain = new PlainCanvas(&plainPlot);
    auto* cached = new CachingCanvas(&cachedPlot);
    plainPlot.setCanvas(plain);
    cachedPlot.setCanvas(cached);
    const std::function<void(QwtPlotCanvas&)> changes[] = {
        [](QwtPlotCanvas& c) { c.resize(400, 300); },
        [](QwtPlotCanvas& c) { c.resize(230, 170); },
        [](QwtPlotCanvas& c) {
            QPalette palette = c.palette();
            palette.setColor(QPalette::Dark, Qt::red);
            palette.setColor(QPalette::Light, Qt::green);
            c.setPalette(palette);
        },
        [](QwtPlotCanvas& c) { c.setLineWidth(5); },
        [](QwtPlotCanvas& c) { c.setFrameShadow(QFrame::Raised); },
        [](QwtPlotCanvas& c) { c.resize(9, 30); },
        [](QwtPlotCanvas& c) { c.resize(30, 9); },
        [](QwtPlotCanvas& c) {
            c.resize(300, 200);
            c.setBorderRadius(6);
        },
    };
    int step = 0;
    for (const auto& change : changes) {
        change(*plain);
        change(*cached);
        for (qreal ratio : {1.0, 1.25, 1.5, 2.0}) {
            const QImage expected = Framed(*plain, ratio);
            ASSERT_NE(expected.pixel(expected.width() / 2, 0), QColor(56, 56, 56).rgb())
                << "no frame drawn";
            EXPECT_EQ(Framed(*cached, ratio), expected) << "change " << step << ", ratio " << ratio;
        }
        ++step;
    }
}
