#include "display/RowTimeScaleDraw.h"

#include <QDateTime>
#include <cmath>
#include <utility>

void RowTimeScaleDraw::SetRowTimes(std::vector<double> times, bool inRecording) {
    times_ = std::move(times);
    inRecording_ = inRecording;
    minutes_ = false;
    for (double t : times_)
        minutes_ |= t >= 60.0; // NaN compares false
    invalidateCache();
}

QwtText RowTimeScaleDraw::label(double value) const {
    // A tick a rounding error below a row's edge still names that row.
    const double row = std::floor(value + 1e-9);
    if (!(row >= 0.0 && row < static_cast<double>(times_.size())))
        return QwtText();
    const double t = times_[static_cast<std::size_t>(row)];
    if (!std::isfinite(t))
        return QwtText();
    if (!inRecording_)
        return QDateTime::fromMSecsSinceEpoch(std::llround(t * 1e3))
            .toString(QStringLiteral("hh:mm:ss"));
    if (!minutes_)
        return QStringLiteral("%1 s").arg(t, 0, 'f', 3);
    // Rounded to tenths first, so 59.96 s reads 1:00.0 and not 0:60.0.
    const long long tenths = std::llround(t * 10.0);
    return QStringLiteral("%1:%2")
        .arg(tenths / 600)
        .arg(static_cast<double>(tenths % 600) / 10.0, 4, 'f', 1, QLatin1Char('0'));
}

QString RowTimeScaleDraw::Title(bool inRecording) {
    return inRecording ? QStringLiteral("Recording time (s)") : QStringLiteral("Time");
}
