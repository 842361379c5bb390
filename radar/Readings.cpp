#include "radar/Readings.h"

#include "dsp/CwVelocity.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Peak.h"

namespace tavrix::radar {

Readings ReadingsOf(const Settings& s, const Result& r) {
    Readings out;
    const std::vector<double>& v = r.values;
    switch (r.chain) {
    case Chain::FmcwRange: {
        if (v.size() != dsp::kRangeBins)
            break;
        const double rmax = s.maxRange();
        const bool windowed = dsp::IsWindowActive(s.rangeWindow, rmax);
        const dsp::BinRange bins = dsp::DetectionBins(windowed ? s.rangeWindow.low : 0.0,
                                                      windowed ? s.rangeWindow.high : rmax, rmax);
        const std::size_t peak = dsp::FindPeak(v, bins.begin, bins.end);
        out.rangeM = dsp::FmcwRangeAxis(rmax)[peak];
        out.peakDb = v[peak];
        break;
    }
    case Chain::FmcwRangeVelocity: {
        const double vmax = s.maxVelocity();
        const auto velocityOf = [vmax](std::size_t column) {
            return (static_cast<double>(column) - 512.0) / 512.0 * vmax;
        };
        if (s.displayMode == kRangeVelocityMap && v.size() == dsp::kMapValues) {
            const std::size_t peak = dsp::FindPeak(v, 0, v.size());
            out.rangeM = static_cast<double>(peak / dsp::kDopplerBins) * s.maxRange() /
                         static_cast<double>(dsp::kRangeBins);
            out.velocityMps = velocityOf(peak % dsp::kDopplerBins);
            out.peakDb = v[peak];
        } else if (v.size() == dsp::kDopplerBins) {
            const std::size_t peak = dsp::FindPeak(v, 0, v.size());
            out.velocityMps = velocityOf(peak);
            out.peakDb = v[peak];
        }
        break;
    }
    case Chain::Cw: {
        if (v.size() != dsp::kCwSpectrumSize)
            break;
        const dsp::CwScales scales = dsp::ComputeCwScales(s.samplesPerSweep(), s.sweepTimeMs(),
                                                          s.sweepCount, s.centerFrequency());
        const std::size_t peak = dsp::FindPeak(v, 0, v.size());
        out.velocityMps = dsp::CwVelocityAxis(scales.velocitySpan)[peak];
        out.peakDb = v[peak];
        break;
    }
    case Chain::Fsk:
        out.peakDb = r.fskTarget.peakDb;
        if (r.fskTarget.detected) {
            out.rangeM = r.fskTarget.range;
            out.velocityMps = r.fskTarget.velocity;
        }
        break;
    case Chain::None:
        break;
    }
    return out;
}

} // namespace tavrix::radar
