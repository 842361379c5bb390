#pragma once

// The descriptors the board's controller answers with before any program runs: one
// configuration with interface 0 in four alternate settings. Setting 0 reserves no bandwidth
// (every packet size 0); setting 1 has the bulk endpoints the radar streams through (OUT 0x02,
// IN 0x86, 512-byte packets); settings 2 and 3 trade bulk for isochronous endpoints.

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct BoardIdentity {
    std::uint16_t vendorId = 0x04B4;
    std::uint16_t productId = 0x8613;
    std::uint16_t deviceVersion = 0xA001;
    std::string manufacturer = "Velmora";
    std::string product = "Radar Front-End";
    std::string serial = "VR-000001";
};

constexpr int kAltSettings = 4;

struct EndpointInfo {
    std::uint8_t address;
    std::uint8_t attributes; // transfer type in bits 1..0
    std::uint16_t maxPacket; // wMaxPacketSize as in the descriptor
};

// The endpoints of interface 0 in `altSetting` (0..3), in descriptor order.
std::vector<EndpointInfo> endpointsOf(int altSetting, bool highSpeed);

std::vector<std::uint8_t> deviceDescriptor(const BoardIdentity& id);
std::vector<std::uint8_t> deviceQualifier();
// The configuration at `highSpeed`, or the other-speed configuration when false.
std::vector<std::uint8_t> configurationDescriptor(bool highSpeed, bool otherSpeed = false);
// String descriptor `index` (0 = the list of languages: US English only); empty when none.
std::vector<std::uint8_t> stringDescriptor(const BoardIdentity& id, std::uint8_t index);

} // namespace sim
