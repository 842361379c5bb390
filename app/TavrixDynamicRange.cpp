#include "app/Tavrix.h"
#include "display/Waterfall.h"
#include "dsp/DynamicRange.h"

namespace dsp = tavrix::dsp;

void Tavrix::autoDynamicRange(const double* values, std::size_t count, bool autoMax, bool autoMin,
                              std::int32_t& zMax, std::int32_t& zMin) {
    const dsp::Span<const double> all{values, count};
    applyAutoDynamicRange(autoMax ? dsp::AutoMaximum(all) : std::nullopt,
                          autoMin ? std::optional(dsp::AutoMinimum(all)) : std::nullopt, zMax,
                          zMin);
}

void Tavrix::applyAutoDynamicRange(std::optional<std::int32_t> top,
                                   std::optional<std::int32_t> mean, std::int32_t& zMax,
                                   std::int32_t& zMin) {
    if (top) {
        zMax = *top;
        ui.DynamicRange_Maximum->setValue(zMax);
    }
    if (mean) {
        zMin = *mean;
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
