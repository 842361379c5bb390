#pragma once

#include <complex>
#include <cstddef>
#include <type_traits>
#include <vector>

namespace tavrix::dsp {

// One raw sample: real part I, imaginary part Q, in the board's counts.
using Complex = std::complex<double>;
using ComplexVector = std::vector<Complex>;

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kSpeedOfLight = 299792458.0; // m/s

// A view of contiguous values (C++17 has no std::span). Vectors convert implicitly, so the
// kernels take a whole block or any stretch of a larger buffer alike.
template <typename T> class Span {
public:
    constexpr Span() = default;
    constexpr Span(T* data, std::size_t size) : data_(size ? data : nullptr), size_(size) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U (*)[], T (*)[]>>>
    Span(std::vector<U>& v) : Span(v.data(), v.size()) {}
    template <typename U, typename = std::enable_if_t<std::is_const_v<T> &&
                                                      std::is_same_v<std::remove_const_t<T>, U>>>
    Span(const std::vector<U>& v) : Span(v.data(), v.size()) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U (*)[], T (*)[]>>>
    constexpr Span(Span<U> other) : Span(other.data(), other.size()) {}

    constexpr T* data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr T& operator[](std::size_t i) const { return data_[i]; }
    constexpr T* begin() const { return data_; }
    constexpr T* end() const { return data_ + size_; }

    // The values [offset, offset + count), clipped to the view.
    constexpr Span subspan(std::size_t offset, std::size_t count) const {
        if (offset >= size_)
            return {};
        return {data_ + offset, count < size_ - offset ? count : size_ - offset};
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tavrix::dsp
