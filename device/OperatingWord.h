#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The board reads its operating parameters from a 2048-byte block on bulk OUT 0x02.
constexpr std::size_t kCommandBlockBytes = 2048;

using CommandBlockBytes = std::array<std::uint8_t, kCommandBlockBytes>;

// 0xA000 + sweep-time code * 64 + bandwidth code * 16 + sample-window code * 4 + mode code.
// Each code is a two-bit field; higher bits of an argument are dropped so that no field can
// spill into its neighbour or into the constant high byte.
std::uint16_t OperatingWord(int sweepTimeCode, int bandwidthCode, int sampleWindowCode,
                            int modeCode);

// The operating word repeated 1024 times, least significant byte first.
CommandBlockBytes CommandBlock(std::uint16_t operatingWord);
