#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/DynamicRange.h"

namespace dsp = tavrix::dsp;

void Tavrix::autoDynamicRange(const double* values, std::size_t count, bool autoMax, bool autoMin,
                              std::int32_t& zMax, std::int32_t& zMin) {
    if (autoMax) {
        if (const auto top = dsp::AutoMaximum({values, count})) {
            zMax = *top;
            ui.DynamicRange_Maximum->setValue(zMax);
        }
    }
    if (autoMin) {
        zMin = dsp::AutoMinimum({values, count});
        ui.DynamicRange_Minimum->setValue(zMin);
    }
}

void Tavrix::autoDynamicRangeOfHistory(std::size_t maxCount, std::size_t minCount, bool autoMax,
                                       bool autoMin, std::int32_t& zMax, std::int32_t& zMin) {
    if (autoMax) {
        dsp::MaximumScan scan;
        waterfall->VisitHistory(maxCount, [&scan](const double* v, std::size_t n) {
            scan.Add({v, n});
        });
        if (const auto top = scan.Value()) {
            zMax = dsp::TruncateToInt32(*top);
            ui.DynamicRange_Maximum->setValue(zMax);
        }
    }
    if (autoMin) {
        dsp::TruncatedMeanScan scan;
        waterfall->VisitHistory(minCount, [&scan](const double* v, std::size_t n) {
            scan.Add({v, n});
        });
        zMin = scan.Value();
        ui.DynamicRange_Minimum->setValue(zMin);
    }
}
