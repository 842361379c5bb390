#include "device/OperatingWord.h"

std::uint16_t OperatingWord(int sweepTimeCode, int bandwidthCode, int sampleWindowCode,
                            int modeCode) {
    const unsigned word = 0xA000u + (static_cast<unsigned>(sweepTimeCode) & 3u) * 64u +
                          (static_cast<unsigned>(bandwidthCode) & 3u) * 16u +
                          (static_cast<unsigned>(sampleWindowCode) & 3u) * 4u +
                          (static_cast<unsigned>(modeCode) & 3u);
    return static_cast<std::uint16_t>(word);
}

CommandBlockBytes CommandBlock(std::uint16_t operatingWord) {
    CommandBlockBytes block;
    for (std::size_t i = 0; i < block.size(); i += 2) {
        block[i] = static_cast<std::uint8_t>(operatingWord & 0xFF);
        block[i + 1] = static_cast<std::uint8_t>(operatingWord >> 8);
    }
    return block;
}
