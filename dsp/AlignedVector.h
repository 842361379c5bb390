#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace tavrix::dsp {

// Allocator for buffers that FFTW's SIMD code paths read at full speed: 64-byte aligned, so
// that rows of a power-of-two length all share one alignment class and one cached plan.
template <typename T> struct AlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{64};

    AlignedAllocator() = default;
    template <typename U> AlignedAllocator(const AlignedAllocator<U>&) {}

    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), kAlignment));
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kAlignment); }

    template <typename U> bool operator==(const AlignedAllocator<U>&) const { return true; }
    template <typename U> bool operator!=(const AlignedAllocator<U>&) const { return false; }
};

template <typename T> using AlignedVector = std::vector<T, AlignedAllocator<T>>;

} // namespace tavrix::dsp
