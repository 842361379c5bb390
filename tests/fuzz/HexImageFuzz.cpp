// Any text: an image is either refused with no records, or every record it yields is
// loadable and fits the controller's RAM.
#include "device/HexImage.h"
#include "tests/fuzz/Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const HexImage image = ParseHexImage({reinterpret_cast<const char*>(data), size});
    Require(image.ok() != image.records.empty());
    for (const HexRecord& r : image.records)
        Require(IsLoadableRecord(r) && r[0] > 0 && r.size() == 5u + r[0] &&
                r[1] * 256u + r[2] + r[0] <= kControllerRamBytes);
    return 0;
}
