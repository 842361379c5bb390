#pragma once

#include "dsp/Types.h"

#include <vector>

namespace tavrix::dsp {

// Resizes i and q to the block's length and fills them with its real and imaginary parts.
void SplitIQ(Span<const Complex> block, std::vector<double>& i, std::vector<double>& q);

// Removes the offsets of I and Q and the receiver's gain and phase imbalance, given a Q
// channel that reads g (sin(phi) I + cos(phi) Q') + offset for the true quadrature Q'.
// g and phi are estimated from the covariance of the two channels. Works on the samples
// both lists hold; zero variance of I gives NaN (IEEE), empty lists are left as they are.
void BalanceIQ(Span<double> i, Span<double> q);

} // namespace tavrix::dsp
