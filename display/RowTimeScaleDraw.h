#pragma once

#include <QString>
#include <qwt_scale_draw.h>
#include <qwt_text.h>

#include <vector>

// Labels a waterfall's row axis with the times of its rows: the axis runs in rows, and a tick
// at row r (the row from r to r + 1) reads the time of the r-th row shown. Seconds into a
// recording read "12.345 s", or "m:ss.s" on an axis reaching a minute; clock times (seconds
// since 1970 UTC) read as local "hh:mm:ss". Rows without a time get no label.
class RowTimeScaleDraw : public QwtScaleDraw {
public:
    // `times` of the shown rows, bottom first, NaN for none; the labels are made anew.
    void SetRowTimes(std::vector<double> times, bool inRecording);
    bool inRecording() const { return inRecording_; }

    QwtText label(double value) const override;

    // The axis title for times of that kind.
    static QString Title(bool inRecording);

private:
    std::vector<double> times_;
    bool inRecording_ = false;
    bool minutes_ = false; // a recording time of a minute or more is shown
};
