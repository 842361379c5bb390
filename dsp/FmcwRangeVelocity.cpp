#include "dsp/FmcwRangeVelocity.h"

#include "dsp/Blocks.h"
#include "dsp/DynamicRange.h"
#include "dsp/FastDecibels.h"
#include "dsp/Fft.h"
#include "dsp/Window.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavrix::dsp {

namespace {

// Rows transformed together by one batched plan. A block of 16 rows stays in the
// second-level cache; for the sweeps it also means that each Doppler row receives 16
// neighbouring values (256 bytes) at a time.
constexpr std::size_t kSweepBlock = 16;
constexpr std::size_t kHalfDoppler = kDopplerBins / 2;
constexpr std::size_t kSweepBlocks = kMaxSweepCount / kSweepBlock;

// Asks for the line a page past `at`: the hardware's own prefetching stops at each 4 kB page,
// and at the largest map the sweep block and the Doppler matrix come from memory, not from
// the caches.
inline void PrefetchPageAhead(const Complex* at) {
#ifdef __SSE2__
    constexpr std::uintptr_t kPage = 4096;
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) + kPage),
                 _MM_HINT_T0);
#else
    (void)at;
#endif
}

// Writes a value of the (aligned) Doppler matrix past the caches: the matrix, 8 MB, is far
// larger than them, so a normal store would first read in every line it fills.
inline void StoreAround(Complex* to, Complex value) {
#ifdef __SSE2__
    _mm_stream_pd(reinterpret_cast<double*>(to), _mm_set_pd(value.imag(), value.real()));
#else
    *to = value;
#endif
}

// Orders the stores past the caches before the matrix is read by another thread.
inline void FinishStoresAround() {
#ifdef __SSE2__
    _mm_sfence();
#endif
}

} // namespace

FmcwBurstScales ComputeFmcwBurstScales(std::uint32_t samplesPerSweep, double sweepTimeMs,
                                       std::uint32_t sweeps) {
    FmcwBurstScales s;
    const double T = sweepTimeMs * 0.001;
    s.sampleRate = samplesPerSweep / T;
    s.sampleCount = TruncateToInt32(static_cast<double>(sweeps) * samplesPerSweep);
    const double timeout = s.sampleCount / s.sampleRate * 2000.0 + 1000.0;
    // Parameters from the form are always finite; anything else gets the plain second.
    s.timeoutMs =
        std::isfinite(timeout) && timeout < 9.0e18 ? static_cast<std::int64_t>(timeout) : 1000;
    return s;
}

unsigned DefaultMapperThreads() {
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// Helper threads that sleep until a round of work is handed to them. std primitives only:
// the mapper runs on the acquisition worker as well as on a test's thread.
class FmcwRangeVelocityMapper::Helpers {
public:
    explicit Helpers(std::size_t count) {
        try {
            for (std::size_t i = 0; i < count; ++i)
                threads_.emplace_back(&Helpers::Loop, this, i + 1);
        } catch (...) {
            Stop();
            throw;
        }
    }
    ~Helpers() { Stop(); }
    Helpers(const Helpers&) = delete;
    Helpers& operator=(const Helpers&) = delete;

    // work(0) on the calling thread, work(1..count) on the helpers; returns when all have
    // returned, passing on the first exception any of them threw.
    void Run(const std::function<void(std::size_t)>& work) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            work_ = &work;
            busy_ = threads_.size();
            failure_ = nullptr;
            ++round_;
        }
        wake_.notify_all();
        std::exception_ptr failure;
        try {
            work(0);
        } catch (...) {
            failure = std::current_exception();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        // The helpers use `work` until they report back, even when this thread failed.
        finished_.wait(lock, [this] { return busy_ == 0; });
        if (!failure)
            failure = failure_;
        lock.unlock();
        if (failure)
            std::rethrow_exception(failure);
    }

private:
    void Loop(std::size_t lane) {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || round_ != seen; });
            if (stop_)
                return;
            seen = round_;
            const std::function<void(std::size_t)>* work = work_;
            lock.unlock();
            std::exception_ptr failure;
            try {
                (*work)(lane);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            if (failure && !failure_)
                failure_ = failure;
            if (--busy_ == 0)
                finished_.notify_one();
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
        threads_.clear();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void(std::size_t)>* work_ = nullptr;
    std::uint64_t round_ = 0;
    std::size_t busy_ = 0;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

FmcwRangeVelocityMapper::FmcwRangeVelocityMapper(unsigned threads)
    : lanes_(std::max(threads, 1u)), doppler_(kRangeBins * kDopplerBins),
      blockSums_(kSweepBlocks * kRangeBins) {
    for (Lane& lane : lanes_) {
        lane.scratch.resize(kSweepBlock * kFmcwFftSize);
        lane.sweeps.resize(kSweepBlock * kFmcwFftSize);
        lane.power.resize(kDopplerBins);
    }
}

FmcwRangeVelocityMapper::~FmcwRangeVelocityMapper() = default;

template <typename Work>
void FmcwRangeVelocityMapper::ForEachBlock(std::size_t blocks, Work&& work) {
    if (lanes_.size() > 1 && !helpers_) {
        try {
            helpers_ = std::make_unique<Helpers>(lanes_.size() - 1);
        } catch (const std::system_error&) {
            lanes_.resize(1); // no threads to be had: this one does it all
        }
    }
    if (!helpers_ || blocks < 2) {
        for (std::size_t b = 0; b < blocks; ++b)
            work(lanes_[0], b);
        return;
    }
    // The blocks are handed out one at a time: a helper that wakes late or a core that is
    // busy elsewhere only moves blocks to the other thread. What a block computes does not
    // depend on the thread that takes it.
    std::atomic<std::size_t> next{0};
    const std::function<void(std::size_t)> round = [&](std::size_t lane) {
        for (std::size_t b; (b = next.fetch_add(1, std::memory_order_relaxed)) < blocks;)
            work(lanes_[lane], b);
    };
    helpers_->Run(round);
}

void FmcwRangeVelocityMapper::CleanSweep(const Complex* sweep, std::size_t n,
                                         const RangeVelocityOptions& options, Complex* row) const {
    // One pass copies, windows and sums; the window comes before the DC and amplitude
    // corrections in this chain. Two partial sums per part keep the additions from queueing
    // behind one another.
    const double* w = options.hammingWindow ? window_.data() : nullptr;
    double sumRe0 = 0.0, sumRe1 = 0.0, sumIm0 = 0.0, sumIm1 = 0.0;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        PrefetchPageAhead(sweep + i);
        const double w0 = w ? w[i] : 1.0, w1 = w ? w[i + 1] : 1.0;
        const double re0 = sweep[i].real() * w0, im0 = sweep[i].imag() * w0;
        const double re1 = sweep[i + 1].real() * w1, im1 = sweep[i + 1].imag() * w1;
        row[i] = Complex(re0, im0);
        row[i + 1] = Complex(re1, im1);
        sumRe0 += re0;
        sumIm0 += im0;
        sumRe1 += re1;
        sumIm1 += im1;
    }
    if (i < n) {
        const double w0 = w ? w[i] : 1.0;
        row[i] = Complex(sweep[i].real() * w0, sweep[i].imag() * w0);
        sumRe0 += row[i].real();
        sumIm0 += row[i].imag();
    }
    if (options.subtractDC) {
        const double meanRe = (sumRe0 + sumRe1) / static_cast<double>(n);
        const double meanIm = (sumIm0 + sumIm1) / static_cast<double>(n);
        for (std::size_t j = 0; j < n; ++j)
            row[j] = Complex(row[j].real() - meanRe, row[j].imag() - meanIm);
    }
    if (options.correctAmplitude)
        CorrectAmplitude(Span<Complex>(row, n), static_cast<std::uint32_t>(n), 1);
}

template <typename SweepAt>
void FmcwRangeVelocityMapper::TransformSweeps(Lane& lane, const SweepAt& sweepAt, std::size_t block,
                                              std::size_t q, std::size_t n,
                                              const RangeVelocityOptions& options) {
    const std::size_t first = block * kSweepBlock;
    const std::size_t count = std::min(kSweepBlock, q - first);
    // Cleaned into the scratch block and transformed from there: out of place, the
    // transform skips the buffering that it does in place.
    for (std::size_t i = 0; i < count; ++i) {
        Complex* row = lane.scratch.data() + i * kFmcwFftSize;
        CleanSweep(sweepAt(first + i, row), n, options, row);
        std::fill(row + n, row + kFmcwFftSize, Complex());
    }
    FftRowsInto(Span<const Complex>(lane.scratch.data(), count * kFmcwFftSize),
                Span<Complex>(lane.sweeps.data(), count * kFmcwFftSize), kFmcwFftSize);

    // Scatter range bins 0..512 into the Doppler rows (sweep index = slow-time position),
    // summing each bin over the block's sweeps on the way for its mean.
    const bool filter = !options.rangeFilter.empty();
    const bool weights = !options.rangeWeights.empty();
    Complex* sums = blockSums_.data() + block * kRangeBins;
    for (std::size_t k = 0; k < kRangeBins; ++k) {
        Complex* out = doppler_.data() + k * kDopplerBins + first;
        const Complex* in = lane.sweeps.data() + k;
        const Complex f = filter ? options.rangeFilter[k] : Complex(1.0, 0.0);
        const Complex w = weights ? options.rangeWeights[k] : Complex(1.0, 0.0);
        double sumRe = 0.0, sumIm = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            Complex x = in[i * kFmcwFftSize];
            if (filter)
                x = Multiply(x, f);
            if (weights)
                x = Multiply(x, w);
            StoreAround(out + i, x);
            sumRe += x.real();
            sumIm += x.imag();
        }
        sums[k] = Complex(sumRe, sumIm);
    }
    FinishStoresAround();
}

void FmcwRangeVelocityMapper::TransformBins(Lane& lane, std::size_t block, std::size_t q,
                                            const RangeVelocityOptions& options, Span<double> map) {
    const std::size_t first = block * kSweepBlock;
    const std::size_t count = std::min(kSweepBlock, kRangeBins - first);
    const std::size_t sweepBlocks = (q + kSweepBlock - 1) / kSweepBlock;
    for (std::size_t k = first; k < first + count; ++k) {
        Complex* row = doppler_.data() + k * kDopplerBins;
        if (options.subtractDC) {
            // What stands still: the bin's mean over the sweeps, its block sums added in
            // block order whichever thread made them.
            Complex sum;
            for (std::size_t b = 0; b < sweepBlocks; ++b)
                sum += blockSums_[b * kRangeBins + k];
            const double meanRe = sum.real() / static_cast<double>(q);
            const double meanIm = sum.imag() / static_cast<double>(q);
            for (std::size_t s = 0; s < q; ++s) {
                PrefetchPageAhead(row + s);
                row[s] = Complex(row[s].real() - meanRe, row[s].imag() - meanIm);
            }
        }
        std::fill(row + q, row + kDopplerBins, Complex());
    }
    FftRowsInto(Span<const Complex>(doppler_.data() + first * kDopplerBins, count * kDopplerBins),
                Span<Complex>(lane.scratch.data(), count * kDopplerBins), kDopplerBins);

    const bool velocityFilter = !options.velocityFilter.empty();
    for (std::size_t k = first; k < first + count; ++k) {
        const Complex* row = lane.scratch.data() + (k - first) * kDopplerBins;
        // Doppler bin d goes to column (d + 512) mod 1024: negative velocities first.
        for (std::size_t d = 0; d < kDopplerBins; ++d) {
            Complex x = row[d];
            if (velocityFilter)
                x = Multiply(x, options.velocityFilter[d]);
            lane.power[(d + kHalfDoppler) % kDopplerBins] =
                x.real() * x.real() + x.imag() * x.imag();
        }
        const std::size_t mapRow = options.rows == MapRows::FarFirst ? kRangeBins - 1 - k : k;
        double* values = map.data() + mapRow * kDopplerBins;
        DecibelsFromPower(lane.power.data(), values, kDopplerBins);
        if (options.rowWritten)
            options.rowWritten(mapRow, Span<const double>(values, kDopplerBins));
    }
}

template <typename SweepAt>
void FmcwRangeVelocityMapper::Map(const SweepAt& sweepAt, std::size_t n, std::size_t q,
                                  const RangeVelocityOptions& options, Span<double> map) {
    if (options.hammingWindow && windowLength_ != n) {
        window_ = HammingWindow(static_cast<std::uint32_t>(n));
        windowLength_ = n;
    }

    // Fast time: every sweep to its range profile, straight into the Doppler rows.
    ForEachBlock((q + kSweepBlock - 1) / kSweepBlock, [&](Lane& lane, std::size_t block) {
        TransformSweeps(lane, sweepAt, block, q, n, options);
    });
    // Slow time, once every sweep is in: every range bin to its Doppler spectrum, then to one
    // row of the map; the bins go through the transform in blocks, like the sweeps.
    ForEachBlock((kRangeBins + kSweepBlock - 1) / kSweepBlock, [&](Lane& lane, std::size_t block) {
        TransformBins(lane, block, q, options, map);
    });
}

bool FmcwRangeVelocityMapper::Accepts(std::uint32_t samplesPerSweep, std::uint32_t sweeps,
                                      const RangeVelocityOptions& options, Span<double> map) {
    return samplesPerSweep >= 1 && samplesPerSweep <= kFmcwFftSize && sweeps >= 1 &&
           sweeps <= kMaxSweepCount && map.size() == kMapValues &&
           (options.rangeFilter.empty() || options.rangeFilter.size() >= kFmcwFftSize) &&
           (options.rangeWeights.empty() || options.rangeWeights.size() >= kRangeBins) &&
           (options.velocityFilter.empty() || options.velocityFilter.size() >= kDopplerBins);
}

bool FmcwRangeVelocityMapper::Process(Span<const Complex> burst, std::uint32_t samplesPerSweep,
                                      std::uint32_t sweeps, const RangeVelocityOptions& options,
                                      Span<double> map) {
    const std::size_t n = samplesPerSweep;
    if (!Accepts(samplesPerSweep, sweeps, options, map) || burst.size() < n * sweeps)
        return false;
    Map([&](std::size_t index, Complex*) { return burst.data() + index * n; }, n, sweeps, options,
        map);
    return true;
}

bool FmcwRangeVelocityMapper::Process(const SweepReader& read, std::uint32_t samplesPerSweep,
                                      std::uint32_t sweeps, const RangeVelocityOptions& options,
                                      Span<double> map) {
    if (!read || !Accepts(samplesPerSweep, sweeps, options, map))
        return false;
    Map(
        [&](std::size_t index, Complex* row) {
            read(index, row);
            return static_cast<const Complex*>(row);
        },
        samplesPerSweep, sweeps, options, map);
    return true;
}

bool VelocityProfile(Span<const double> farFirstMap, Span<double> profile) {
    if (farFirstMap.size() != kMapValues || profile.size() < kDopplerBins)
        return false;
    // The scale applies to every range bin alike. Counting the farthest bin in full, as a
    // bare "first row + scaled rest" would, lets that one bin's noise drown the profile.
    constexpr double kScale = 0.0009765625; // 1/1024
    std::fill(profile.begin(), profile.begin() + kDopplerBins, 0.0);
    for (std::size_t r = 0; r < kRangeBins; ++r) {
        const double* row = farFirstMap.data() + r * kDopplerBins;
        for (std::size_t j = 0; j < kDopplerBins; ++j)
            profile[j] += row[j];
    }
    for (std::size_t j = 0; j < kDopplerBins; ++j)
        profile[j] *= kScale;
    profile[kHalfDoppler - 1] = profile[kHalfDoppler];
    return true;
}

} // namespace tavrix::dsp
