#include "sim/Descriptors.h"

namespace sim {

namespace {

void put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}

} // namespace

std::vector<EndpointInfo> endpointsOf(int alt, bool highSpeed) {
    const std::uint16_t bulk = highSpeed ? 512 : 64;
    const std::uint16_t iso = highSpeed ? 512 : 1023;
    switch (alt) {
    case 0:
        return {{0x01, 0x03, 0}, {0x81, 0x03, 0}, {0x02, 0x02, 0},
                {0x04, 0x02, 0}, {0x86, 0x02, 0}, {0x88, 0x02, 0}};
    case 1:
        return {{0x01, 0x03, 64},   {0x81, 0x03, 64},   {0x02, 0x02, bulk},
                {0x04, 0x02, bulk}, {0x86, 0x02, bulk}, {0x88, 0x02, bulk}};
    case 2:
        return {{0x01, 0x03, 64},   {0x81, 0x03, 64},  {0x02, 0x01, iso},
                {0x04, 0x02, bulk}, {0x86, 0x01, iso}, {0x88, 0x02, bulk}};
    case 3: {
        // Three 1024-byte packets per microframe at high speed.
        const std::uint16_t wide = highSpeed ? 0x1400 : 1023;
        return {{0x01, 0x03, 64},   {0x81, 0x03, 64},   {0x02, 0x01, wide},
                {0x04, 0x02, bulk}, {0x86, 0x01, wide}, {0x88, 0x02, bulk}};
    }
    default:
        return {};
    }
}

std::vector<std::uint8_t> deviceDescriptor(const BoardIdentity& id) {
    std::vector<std::uint8_t> d{18, 1};
    put16(d, 0x0200);
    d.insert(d.end(), {0xFF, 0xFF, 0xFF, 64});
    put16(d, id.vendorId);
    put16(d, id.productId);
    put16(d, id.deviceVersion);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

std::vector<std::uint8_t> deviceQualifier() {
    std::vector<std::uint8_t> d{10, 6};
    put16(d, 0x0200);
    d.insert(d.end(), {0xFF, 0xFF, 0xFF, 64, 1, 0});
    return d;
}

std::vector<std::uint8_t> configurationDescriptor(bool highSpeed, bool otherSpeed) {
    std::vector<std::uint8_t> d{
        9, static_cast<std::uint8_t>(otherSpeed ? 7 : 2), 0, 0, 1, 1, 0, 0x80, 50};
    for (int alt = 0; alt < kAltSettings; ++alt) {
        const auto eps = endpointsOf(alt, highSpeed);
        d.insert(d.end(), {9, 4, 0, static_cast<std::uint8_t>(alt),
                           static_cast<std::uint8_t>(eps.size()), 0xFF, 0x00, 0x00, 0});
        for (const EndpointInfo& e : eps) {
            d.insert(d.end(), {7, 5, e.address, e.attributes});
            put16(d, e.maxPacket);
            // Polling interval: a microframe for interrupt and isochronous, none for bulk.
            d.push_back((e.attributes & 3) == 2 ? 0 : 1);
        }
    }
    d[2] = static_cast<std::uint8_t>(d.size());
    d[3] = static_cast<std::uint8_t>(d.size() >> 8);
    return d;
}

std::vector<std::uint8_t> stringDescriptor(const BoardIdentity& id, std::uint8_t index) {
    if (index == 0)
        return {4, 3, 0x09, 0x04};
    const std::string* text = index == 1   ? &id.manufacturer
                              : index == 2 ? &id.product
                              : index == 3 ? &id.serial
                                           : nullptr;
    if (!text)
        return {};
    std::vector<std::uint8_t> d{0, 3};
    for (char c : *text) {
        if (d.size() + 2 > 254)
            break;
        put16(d, static_cast<std::uint8_t>(c));
    }
    d[0] = static_cast<std::uint8_t>(d.size());
    return d;
}

} // namespace sim
