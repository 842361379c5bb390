#pragma once

#include <QImage>
#include <QPalette>
#include <QSize>
#include <qwt_plot_canvas.h>

class QStyle;

// A plot canvas that draws its frame from a cache. The style draws a sunken panel line by line,
// which costs Qt's raster engine about a millisecond at 1000 x 700 pixels (filling the whole
// canvas costs a tenth of that), and the canvas repaints its frame with every replot. So the
// style draws the frame once per size and look into an image, and each repaint copies the
// image's four edge strips, as wide as the frame, back. A frame reaches no further in than the
// frame width, which is where the plot's items start. Painters that scale or rotate, and
// rounded borders, get the style's drawing as before.
class FrameCachingCanvas : public QwtPlotCanvas {
public:
    explicit FrameCachingCanvas(QwtPlot* plot);

protected:
    void drawBorder(QPainter* painter) override;

private:
    struct Look {
        QSize size;
        qreal pixelRatio = 0;
        int frameStyle = 0, lineWidth = 0, midLineWidth = 0;
        qint64 palette = 0;
        const QStyle* style = nullptr;
        bool operator==(const Look& other) const;
    };

    Look look_;
    // Top, bottom, left and right strips of the drawn frame; the side strips leave out the
    // corners, which the top and bottom strips hold.
    QImage strips_[4];
};
