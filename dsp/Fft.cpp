#include "dsp/Fft.h"

#include <algorithm>
#include <climits>
#include <fftw3.h>
#include <tuple>

namespace tavrix::dsp {

namespace {

// Every plan is made and destroyed under this lock. Namespace scope so that it outlives the
// plan cache, which destroys its plans at exit.
std::mutex plannerMutex;

// Scratch arrays to plan on: FFTW_ESTIMATE looks only at their addresses, never at the values.
class ScratchArray {
public:
    ScratchArray(std::size_t count, int alignment)
        : base_(fftw_malloc(count * sizeof(fftw_complex) + 64)),
          data_(reinterpret_cast<fftw_complex*>(static_cast<char*>(base_) + alignment)) {}
    ~ScratchArray() { fftw_free(base_); }
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;
    fftw_complex* data() const { return data_; }

private:
    void* base_;
    fftw_complex* data_;
};

fftw_complex* AsFftw(Complex* data) {
    return reinterpret_cast<fftw_complex*>(data);
}

bool FitsFftw(std::size_t size, std::size_t batch) {
    return size > 0 && batch > 0 && size <= INT_MAX && batch <= INT_MAX;
}

} // namespace

bool FftLayout::operator<(const FftLayout& other) const {
    return std::tie(size, batch, direction, alignment, outputAlignment) <
           std::tie(other.size, other.batch, other.direction, other.alignment,
                    other.outputAlignment);
}

FftLayout FftLayoutFor(const Complex* data, std::size_t size, std::size_t batch,
                       FftDirection direction) {
    FftLayout layout;
    layout.size = size;
    layout.batch = batch;
    layout.direction = direction;
    layout.alignment =
        fftw_alignment_of(const_cast<double*>(reinterpret_cast<const double*>(data)));
    return layout;
}

FftLayout FftLayoutFor(const Complex* in, const Complex* out, std::size_t size, std::size_t batch,
                       FftDirection direction) {
    FftLayout layout = FftLayoutFor(in, size, batch, direction);
    layout.outputAlignment =
        fftw_alignment_of(const_cast<double*>(reinterpret_cast<const double*>(out)));
    return layout;
}

FftPlan::FftPlan(const FftLayout& layout) : layout_(layout) {
    if (!FitsFftw(layout.size, layout.batch))
        return;
    const int sign = layout.direction == FftDirection::Forward ? FFTW_FORWARD : FFTW_BACKWARD;
    const int n = static_cast<int>(layout.size);
    const int batch = static_cast<int>(layout.batch);
    std::lock_guard<std::mutex> lock(plannerMutex);
    ScratchArray scratch(layout.size * layout.batch, layout.alignment);
    std::unique_ptr<ScratchArray> output;
    if (layout.outputAlignment >= 0)
        output = std::make_unique<ScratchArray>(layout.size * layout.batch, layout.outputAlignment);
    fftw_complex* in = scratch.data();
    fftw_complex* out = output ? output->data() : in;
    // Preserving the input is the default for complex transforms; said here because Execute
    // promises it.
    const unsigned flags = output ? FFTW_ESTIMATE | FFTW_PRESERVE_INPUT : FFTW_ESTIMATE;
    if (batch == 1)
        plan_ = fftw_plan_dft_1d(n, in, out, sign, flags);
    else
        plan_ =
            fftw_plan_many_dft(1, &n, batch, in, nullptr, 1, n, out, nullptr, 1, n, sign, flags);
}

FftPlan::~FftPlan() {
    if (!plan_)
        return;
    std::lock_guard<std::mutex> lock(plannerMutex);
    fftw_destroy_plan(plan_);
}

void FftPlan::Execute(Complex* data) const {
    if (plan_ && layout_.outputAlignment < 0)
        fftw_execute_dft(plan_, AsFftw(data), AsFftw(data));
}

void FftPlan::Execute(const Complex* in, Complex* out) const {
    if (plan_ && layout_.outputAlignment >= 0)
        fftw_execute_dft(plan_, AsFftw(const_cast<Complex*>(in)), AsFftw(out));
}

FftPlanCache& FftPlanCache::Instance() {
    static FftPlanCache cache;
    return cache;
}

const FftPlan& FftPlanCache::Plan(const FftLayout& layout) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<FftPlan>& plan = plans_[layout];
    if (!plan)
        plan = std::make_unique<FftPlan>(layout);
    return *plan;
}

std::size_t FftPlanCache::PlanCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plans_.size();
}

void Fft(Span<Complex> data, FftDirection direction) {
    FftRows(data, data.size(), direction);
}

void FftRows(Span<Complex> data, std::size_t size, FftDirection direction) {
    if (size == 0)
        return;
    const std::size_t batch = data.size() / size;
    if (!FitsFftw(size, batch))
        return;
    FftPlanCache::Instance()
        .Plan(FftLayoutFor(data.data(), size, batch, direction))
        .Execute(data.data());
}

void FftRowsInto(Span<const Complex> in, Span<Complex> out, std::size_t size,
                 FftDirection direction) {
    if (size == 0)
        return;
    const std::size_t batch = std::min(in.size(), out.size()) / size;
    if (!FitsFftw(size, batch))
        return;
    FftPlanCache::Instance()
        .Plan(FftLayoutFor(in.data(), out.data(), size, batch, direction))
        .Execute(in.data(), out.data());
}

} // namespace tavrix::dsp
