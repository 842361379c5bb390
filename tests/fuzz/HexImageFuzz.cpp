// Any text: an image is either refused with no records, or every record it yields is
// loadable and writes the same bytes again after a round trip through the text format.
#include "device/HexImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::string Text(const std::vector<HexRecord>& records) {
    std::string text;
    char pair[3];
    for (const HexRecord& r : records) {
        text += ':';
        for (const std::uint8_t b : r) {
            std::snprintf(pair, sizeof pair, "%02X", b);
            text += pair;
        }
        text += "\r\n";
    }
    return text + ":00000001FF\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const HexImage image = ParseHexImage(text);
    if (!image.ok()) {
        Require(image.records.empty());
        return 0;
    }
    Require(!image.records.empty());
    for (const HexRecord& r : image.records) {
        Require(IsLoadableRecord(r));
        Require(r[0] > 0 && r.size() == 5u + r[0]);
        Require(r[1] * 256u + r[2] + r[0] <= kControllerRamBytes);
    }
    const HexImage again = ParseHexImage(Text(image.records));
    Require(again.ok() && again.records == image.records);
    return 0;
}
