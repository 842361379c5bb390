#include "dsp/Iq.h"

#include <algorithm>
#include <cmath>

namespace tavrix::dsp {

void SplitIQ(Span<const Complex> block, std::vector<double>& i, std::vector<double>& q) {
    i.resize(block.size());
    q.resize(block.size());
    for (std::size_t k = 0; k < block.size(); ++k) {
        i[k] = block[k].real();
        q[k] = block[k].imag();
    }
}

void BalanceIQ(Span<double> i, Span<double> q) {
    const std::size_t n = std::min(i.size(), q.size());
    if (n == 0)
        return;
    const double count = static_cast<double>(n);
    double sumI = 0.0;
    double sumQ = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        sumI += i[k];
        sumQ += q[k];
    }
    const double meanI = sumI / count;
    const double meanQ = sumQ / count;

    double sumII = 0.0;
    double sumQQ = 0.0;
    double sumIQ = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double di = i[k] - meanI;
        const double dq = q[k] - meanQ;
        sumII += di * di;
        sumQQ += dq * dq;
        sumIQ += di * dq;
    }
    const double varI = sumII / count;
    const double varQ = sumQQ / count;
    const double cov = sumIQ / count;

    const double rho = cov / varI;
    const double d = std::sqrt(varQ / varI - rho * rho);
    const double gain = std::sqrt(rho * rho + d * d);
    const double phase = std::atan(rho / d);
    const double sinPhase = std::sin(phase);
    const double cosPhase = std::cos(phase);

    for (std::size_t k = 0; k < n; ++k) {
        i[k] -= meanI;
        q[k] = ((q[k] - meanQ) / gain - sinPhase * i[k]) / cosPhase;
    }
}

} // namespace tavrix::dsp
