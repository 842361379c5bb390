#include "app/Tavrix.h"

namespace {

// Dynamic-range steps never land on the slider's own limit (150 and -150 stay out of reach).
void stepShortOfLimit(QSlider* slider, int step) {
    const int next = slider->value() + step;
    const bool inside = step > 0 ? slider->maximum() > next : slider->minimum() < next;
    if (inside)
        slider->setValue(next);
}

// Window steps may reach the limit itself.
void stepUpToLimit(QSlider* slider, int step) {
    const int next = slider->value() + step;
    const bool inside = step > 0 ? slider->maximum() >= next : slider->minimum() <= next;
    if (inside)
        slider->setValue(next);
}

constexpr int dynamicRangeStep = 2;
constexpr int windowStep = 1;

} // namespace

void Tavrix::Qt_DR_Max_Plus() {
    stepShortOfLimit(ui.DynamicRange_Maximum, dynamicRangeStep);
}
void Tavrix::Qt_DR_Max_Minus() {
    stepShortOfLimit(ui.DynamicRange_Maximum, -dynamicRangeStep);
}
void Tavrix::Qt_DR_Min_Plus() {
    stepShortOfLimit(ui.DynamicRange_Minimum, dynamicRangeStep);
}
void Tavrix::Qt_DR_Min_Minus() {
    stepShortOfLimit(ui.DynamicRange_Minimum, -dynamicRangeStep);
}

void Tavrix::Qt_rangeFilter_High_Minus() {
    stepUpToLimit(ui.rangeFilter_High, -windowStep);
}
void Tavrix::Qt_rangeFilter_High_Plus() {
    stepUpToLimit(ui.rangeFilter_High, windowStep);
}
void Tavrix::Qt_rangeFilter_Low_Minus() {
    stepUpToLimit(ui.rangeFilter_Low, -windowStep);
}
void Tavrix::Qt_rangeFilter_Low_Plus() {
    stepUpToLimit(ui.rangeFilter_Low, windowStep);
}

void Tavrix::Qt_velocityFilter_High_Minus() {
    stepUpToLimit(ui.velocityFilter_High, -windowStep);
}
void Tavrix::Qt_velocityFilter_High_Plus() {
    stepUpToLimit(ui.velocityFilter_High, windowStep);
}
void Tavrix::Qt_velocityFilter_Low_Minus() {
    stepUpToLimit(ui.velocityFilter_Low, -windowStep);
}
void Tavrix::Qt_velocityFilter_Low_Plus() {
    stepUpToLimit(ui.velocityFilter_Low, windowStep);
}
