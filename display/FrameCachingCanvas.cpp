#include "display/FrameCachingCanvas.h"

#include <QPaintDevice>
#include <QPainter>
#include <QtMath>
#include <qwt_plot.h>

bool FrameCachingCanvas::Look::operator==(const Look& other) const {
    return size == other.size && pixelRatio == other.pixelRatio && frameStyle == other.frameStyle &&
           lineWidth == other.lineWidth && midLineWidth == other.midLineWidth &&
           palette == other.palette && style == other.style;
}

FrameCachingCanvas::FrameCachingCanvas(QwtPlot* plot) : QwtPlotCanvas(plot) {}

void FrameCachingCanvas::drawBorder(QPainter* painter) {
    const qreal ratio = painter->device()->devicePixelRatioF();
    const int frame = frameWidth();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const int edge = qCeil(frame * ratio);
    if (borderRadius() > 0 || !painter->transform().isIdentity() || pixels.width() <= 2 * edge ||
        pixels.height() <= 2 * edge) {
        QwtPlotCanvas::drawBorder(painter);
        return;
    }

    const Look look{size(), ratio, frameStyle(), lineWidth(), midLineWidth(), palette().cacheKey(),
                    style()};
    if (!(look == look_)) {
        QImage drawn(pixels, QImage::Format_ARGB32_Premultiplied);
        drawn.setDevicePixelRatio(ratio);
        drawn.fill(Qt::transparent);
        QPainter onImage(&drawn);
        QwtPlotCanvas::drawBorder(&onImage);
        onImage.end();
        const int w = pixels.width(), h = pixels.height();
        strips_[0] = drawn.copy(0, 0, w, edge);
        strips_[1] = drawn.copy(0, h - edge, w, edge);
        strips_[2] = drawn.copy(0, edge, edge, h - 2 * edge);
        strips_[3] = drawn.copy(w - edge, edge, edge, h - 2 * edge);
        look_ = look;
    }
    // Where each strip goes, in the painter's (logical) coordinates.
    const qreal far = (pixels.width() - edge) / ratio, low = (pixels.height() - edge) / ratio;
    const qreal inner = edge / ratio;
    painter->drawImage(QPointF(0, 0), strips_[0]);
    painter->drawImage(QPointF(0, low), strips_[1]);
    painter->drawImage(QPointF(0, inner), strips_[2]);
    painter->drawImage(QPointF(far, inner), strips_[3]);
}
