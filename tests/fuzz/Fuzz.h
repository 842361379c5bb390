#pragma once

// A broken property stops the run on the input at hand, which libFuzzer then keeps.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline void Require(bool condition) {
    if (!condition)
        std::abort();
}

inline std::uint16_t Le16(const std::uint8_t* bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
