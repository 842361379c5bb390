#include "app/OverviewStrip.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kColourSpanDb = 60.0;
// Bins are merged (their strongest kept, so a target one bin wide stays visible) down to this
// many rows: twice the strip's height leaves the scaled drawing something to smooth.
constexpr std::uint32_t kMaxRows = 2 * OverviewStrip::kHeight;

// Dark blue through blue to yellow, for t in 0..1.
QRgb ramp(double t) {
    struct Stop {
        double r, g, b;
    };
    static constexpr Stop stops[] = {{8, 12, 48}, {30, 90, 200}, {255, 225, 60}};
    t = std::clamp(t, 0.0, 1.0) * 2.0;
    const int i = std::min(1, static_cast<int>(t));
    const double f = t - i;
    const Stop& a = stops[i];
    const Stop& b = stops[i + 1];
    return qRgb(static_cast<int>(a.r + (b.r - a.r) * f), static_cast<int>(a.g + (b.g - a.g) * f),
                static_cast<int>(a.b + (b.b - a.b) * f));
}

// The 99.5th percentile of the finite values; 0 when there are none.
double topOf(const std::vector<float>& values) {
    std::vector<float> finite;
    finite.reserve(values.size());
    std::copy_if(values.begin(), values.end(), std::back_inserter(finite),
                 [](float v) { return std::isfinite(v); });
    if (finite.empty())
        return 0.0;
    const auto k = static_cast<std::ptrdiff_t>(0.995 * static_cast<double>(finite.size() - 1));
    std::nth_element(finite.begin(), finite.begin() + k, finite.end());
    return finite[static_cast<std::size_t>(k)];
}

// "12.3 s" below a minute, "4:05.6" below an hour, "1:02:03" above.
QString timeText(double seconds) {
    if (seconds < 60.0)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    const auto tenths = static_cast<long long>(seconds * 10.0);
    const long long s = tenths / 10 % 60, m = tenths / 600 % 60, h = tenths / 36000;
    if (h == 0)
        return QStringLiteral("%1:%2.%3").arg(m).arg(s, 2, 10, QLatin1Char('0')).arg(tenths % 10);
    return QStringLiteral("%1:%2:%3")
        .arg(h)
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

} // namespace

OverviewStrip::OverviewStrip(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void OverviewStrip::setImage(const tavrix::radar::OverviewImage& image) {
    progress.reset();
    failure.clear();
    picture = QImage();
    imageSeconds = image.totalSeconds;
    const std::size_t bins = image.bins;
    if (image.columns == 0 || bins == 0 || image.values.size() != image.columns * bins) {
        update();
        return;
    }
    const double top = topOf(image.values);
    const double bottom = top - kColourSpanDb;
    const auto rows = static_cast<int>(std::min(image.bins, kMaxRows));
    picture = QImage(static_cast<int>(image.columns), rows, QImage::Format_RGB32);
    for (int c = 0; c < picture.width(); ++c) {
        const float* column = image.values.data() + static_cast<std::size_t>(c) * bins;
        for (int r = 0; r < rows; ++r) {
            const std::size_t from = static_cast<std::size_t>(r) * bins / rows;
            const std::size_t to =
                std::max(from + 1, static_cast<std::size_t>(r + 1) * bins / rows);
            const float strongest = *std::max_element(column + from, column + to);
            const double t = std::isfinite(strongest) ? (strongest - bottom) / kColourSpanDb
                                                      : (strongest > 0 ? 1.0 : 0.0);
            picture.setPixel(c, rows - 1 - r, ramp(t));
        }
    }
    update();
}

void OverviewStrip::setProgress(double fraction) {
    progress = std::clamp(fraction, 0.0, 1.0);
    failure.clear();
    update();
}

void OverviewStrip::setFailed(const QString& message) {
    progress.reset();
    failure = message;
    update();
}

void OverviewStrip::setDuration(double seconds) {
    duration = seconds;
    update();
}

void OverviewStrip::setPosition(double seconds) {
    position = seconds;
    update();
}

void OverviewStrip::setLoopRegion(std::optional<std::pair<double, double>> seconds) {
    loop = seconds;
    update();
}

void OverviewStrip::clear() {
    picture = QImage();
    imageSeconds = 0.0;
    duration = 0.0;
    position.reset();
    loop.reset();
    progress.reset();
    failure.clear();
    update();
}

double OverviewStrip::axisSeconds() const {
    return duration > 0.0 ? duration : imageSeconds;
}

double OverviewStrip::timeAt(int x) const {
    if (width() <= 0)
        return 0.0;
    const double share = std::clamp(static_cast<double>(x) / width(), 0.0, 1.0);
    return share * std::max(0.0, axisSeconds());
}

int OverviewStrip::xAt(double seconds) const {
    const double axis = axisSeconds();
    if (!(axis > 0.0))
        return 0;
    return static_cast<int>(std::lround(std::clamp(seconds / axis, 0.0, 1.0) * width()));
}

void OverviewStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(8, 12, 48));
    if (!picture.isNull() && axisSeconds() > 0.0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(0, 0, xAt(imageSeconds), height()), picture);
    }
    if (loop) {
        const int a = xAt(std::min(loop->first, loop->second));
        const int b = xAt(std::max(loop->first, loop->second));
        painter.fillRect(QRect(a, 0, std::max(1, b - a), height()), QColor(255, 255, 255, 60));
    }
    if (position && axisSeconds() > 0.0) {
        const int x = std::min(xAt(*position), width() - 1);
        painter.setPen(QPen(QColor(255, 60, 60), 2));
        painter.drawLine(x, 0, x, height());
    }

    QString text;
    if (!failure.isEmpty())
        text = failure;
    else if (progress)
        text = tr("Overview: %1 %").arg(static_cast<int>(*progress * 100.0));
    if (text.isEmpty())
        return;
    const QRect box = rect().adjusted(8, 0, -8, 0);
    text = painter.fontMetrics().elidedText(text, Qt::ElideMiddle, box.width());
    painter.setPen(Qt::black);
    painter.drawText(box.translated(1, 1), Qt::AlignVCenter | Qt::AlignLeft, text);
    painter.setPen(failure.isEmpty() ? QColor(Qt::white) : QColor(255, 150, 150));
    painter.drawText(box, Qt::AlignVCenter | Qt::AlignLeft, text);
}

void OverviewStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && axisSeconds() > 0.0)
        emit seekRequested(timeAt(event->pos().x()));
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && axisSeconds() > 0.0)
        emit seekRequested(timeAt(event->pos().x()));
}

bool OverviewStrip::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (axisSeconds() > 0.0)
            QToolTip::showText(help->globalPos(), timeText(timeAt(help->pos().x())), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
