#include "dsp/Decimate.h"

#include <cmath>

namespace tavrix::dsp {

namespace {

// Sum of n consecutive values. Four partial sums keep the additions from queueing behind
// one another.
Complex BlockSum(const Complex* x, std::size_t n) {
    double re0 = 0.0, im0 = 0.0, re1 = 0.0, im1 = 0.0;
    double re2 = 0.0, im2 = 0.0, re3 = 0.0, im3 = 0.0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        re0 += x[i].real();
        im0 += x[i].imag();
        re1 += x[i + 1].real();
        im1 += x[i + 1].imag();
        re2 += x[i + 2].real();
        im2 += x[i + 2].imag();
        re3 += x[i + 3].real();
        im3 += x[i + 3].imag();
    }
    for (; i < n; ++i) {
        re0 += x[i].real();
        im0 += x[i].imag();
    }
    return {(re0 + re1) + (re2 + re3), (im0 + im1) + (im2 + im3)};
}

} // namespace

int DecimationStages(std::int32_t factor) {
    // ln of 0 or of a negative factor is not a number of halvings; such factors leave the
    // data alone, as factor 1 does.
    if (factor < 1)
        return 0;
    return static_cast<int>(
        std::floor(std::log(static_cast<double>(factor)) / std::log(2.0) + 0.5));
}

void DecimateIQ(ComplexVector& data, std::int32_t factor) {
    const int stages = DecimationStages(factor);
    if (stages <= 0)
        return;
    // K halvings of neighbour sums amount to one sum over each block of 2^K samples, and the
    // means removed before the last halving are constants that its own mean removal takes
    // away again: one pass gives what K passes over the whole block would. With h = 2^(K-1)
    // and B(a, b] the sum of samples a+1..b, output j >= 1 is B(2h(j-1), 2hj]; output 0 is
    // h (x0 + x1), since the first halving starts its running sum from a zero pair and every
    // later one doubles the position 0 it carries over.
    const std::size_t span = std::size_t{1} << stages;
    const std::size_t half = span / 2;
    const std::size_t m = data.size() >> (stages - 1); // the last halving's input length
    const std::size_t count = m / 2;
    if (count == 0) {
        data.clear();
        return;
    }
    Complex* x = data.data();
    const double h = static_cast<double>(half);
    const Complex first(h * (x[0].real() + x[1].real()), h * (x[0].imag() + x[1].imag()));
    const Complex z0 = stages == 1 ? x[0] : 0.5 * h * (x[0] + x[1]);

    // In place: block j starts at or after position j, and is read before x[j] is written.
    Complex blocks(0.0, 0.0);
    for (std::size_t j = 1; j < count; ++j) {
        const Complex s = BlockSum(x + span * (j - 1) + 1, span);
        x[j] = s;
        blocks += s;
    }
    // The last halving removes the mean of its m neighbour sums y[i] = z[i] + z[i-1] (y[0] =
    // output 0), where z[i] = B(h(i-1), hi] for i >= 1 and z[0] is x0 for one halving,
    // h/2 (x0 + x1) for more. That mean needs the samples up to h(m-1), a block or so
    // past the outputs': sum y = y[0] + 2 sum z - z[0] - z[m-1].
    const std::size_t tailStart = span * (count - 1);
    const std::size_t lastStart = half * (m - 2);
    const Complex last = BlockSum(x + lastStart + 1, half);
    const Complex tail = lastStart > tailStart ? BlockSum(x + tailStart + 1, half) + last : last;
    const Complex sumZ = z0 + blocks + tail;
    const Complex sumY = first + 2.0 * sumZ - z0 - last;
    const double meanRe = sumY.real() / static_cast<double>(m);
    const double meanIm = sumY.imag() / static_cast<double>(m);

    x[0] = first;
    for (std::size_t j = 0; j < count; ++j)
        x[j] = Complex(x[j].real() - meanRe, x[j].imag() - meanIm);
    data.resize(count);
}

} // namespace tavrix::dsp
