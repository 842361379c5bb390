#pragma once

#include "dsp/FmcwRange.h"

#include <QSlider>

// Puts a window's two sliders back to the whole scale low .. high.
inline void resetWindow(QSlider* lowSlider, QSlider* highSlider, int low, int high) {
    lowSlider->setRange(low, high);
    highSlider->setRange(low, high);
    lowSlider->setValue(low);
    highSlider->setValue(high);
}

// Keeps the window's bounds in order, the slider with the focus winning, and returns them.
// Called after any re-ranging of the cycle, so a window that was crossed when the parameters
// changed is not turned into an empty one at the new full scale.
inline tavrix::dsp::SliderWindow orderWindow(QSlider* low, QSlider* high) {
    const tavrix::dsp::SliderWindow now{low->value(), high->value()};
    const tavrix::dsp::SliderWindow ordered = tavrix::dsp::OrderWindow(now, high->hasFocus());
    if (ordered.low != now.low)
        low->setValue(ordered.low);
    if (ordered.high != now.high)
        high->setValue(ordered.high);
    return {low->value(), high->value()};
}
