#pragma once

#include "dsp/Types.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

struct fftw_plan_s;

namespace tavrix::dsp {

enum class FftDirection { Forward, Backward };

// What a plan is made for: `batch` transforms of `size` points on consecutive rows, on arrays
// whose address has the given FFTW alignment class (SIMD code paths depend on it), in place or
// into a separate output array.
struct FftLayout {
    std::size_t size = 0;
    std::size_t batch = 1;
    FftDirection direction = FftDirection::Forward;
    int alignment = 0;
    int outputAlignment = -1; // of the output array; -1 for transforms in place

    bool operator<(const FftLayout& other) const;
};

// One FFTW plan, released with the object. It is planned with FFTW_ESTIMATE on scratch
// arrays of the layout's alignment, which makes it the very plan FFTW would build on the
// caller's array, and it runs on the caller's arrays through FFTW's new-array interface.
// Planning and destruction take the process-wide planner lock (FFTW's planner is not
// thread-safe); Execute may run on several threads at once.
class FftPlan {
public:
    explicit FftPlan(const FftLayout& layout);
    ~FftPlan();
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

    const FftLayout& layout() const { return layout_; }

    // Transforms size * batch values at `data` in place; `data` must have the layout's
    // alignment class (FftLayoutFor gives the layout of an array). Only for layouts in place.
    void Execute(Complex* data) const;
    // Transforms size * batch values from `in` into `out`, leaving `in` as it was. Only for
    // layouts with an output array; the arrays must not overlap.
    void Execute(const Complex* in, Complex* out) const;

private:
    FftLayout layout_;
    fftw_plan_s* plan_ = nullptr;
};

// The layout for transforming `batch` rows of `size` points at `data`.
FftLayout FftLayoutFor(const Complex* data, std::size_t size, std::size_t batch,
                       FftDirection direction);
// The layout for transforming `batch` rows of `size` points from `in` into `out`.
FftLayout FftLayoutFor(const Complex* in, const Complex* out, std::size_t size, std::size_t batch,
                       FftDirection direction);

// Plans made once per layout and kept for the life of the process; a plan is at least four
// times as costly as the 1024-point transform it serves.
class FftPlanCache {
public:
    static FftPlanCache& Instance();

    const FftPlan& Plan(const FftLayout& layout);
    std::size_t PlanCount() const;

private:
    FftPlanCache() = default;

    mutable std::mutex mutex_;
    std::map<FftLayout, std::unique_ptr<FftPlan>> plans_;
};

// Unnormalised DFT of all of `data`, in place, with a cached plan. Forward:
// X[k] = sum over n of x[n] e^(-2 pi i k n / N); backward has the opposite sign, so a
// forward then backward transform multiplies by N.
void Fft(Span<Complex> data, FftDirection direction = FftDirection::Forward);

// The same for each whole row of `size` points of `data` (a trailing partial row is left
// as it is), with one batched plan.
void FftRows(Span<Complex> data, std::size_t size, FftDirection direction = FftDirection::Forward);

// The rows of `in` transformed into the rows of `out`, bit for bit what FftRows gives in place,
// `in` left as it is; as many whole rows as both hold. FFTW's in-place plans for the sizes the
// chains use go through a buffer on every pass, which costs a third of the transform: a chain
// that copies its data into place anyway does better to transform from the copy.
void FftRowsInto(Span<const Complex> in, Span<Complex> out, std::size_t size,
                 FftDirection direction = FftDirection::Forward);

} // namespace tavrix::dsp
