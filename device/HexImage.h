#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One Intel HEX line as bytes: count, address high, address low, record type, the data bytes,
// checksum.
using HexRecord = std::vector<std::uint8_t>;

constexpr std::uint8_t kHexDataRecord = 0x00;
constexpr std::uint8_t kHexEndRecord = 0x01;

// Program and data RAM of the controller's 8051 core that a download may write.
constexpr unsigned kControllerRamBytes = 0x4000;

struct HexImage {
    std::vector<HexRecord> records; // data records with at least one byte, in file order
    std::string error;              // empty when the whole image is sound

    bool ok() const { return error.empty(); }
};

// Empty when `record` is a complete data or end record with a valid checksum whose data lie
// inside controller RAM; otherwise why not.
std::string CheckHexRecord(const HexRecord& record);

// A record the loader may write: sound and of the data type.
bool IsLoadableRecord(const HexRecord& record);

// Splits the text at every ':' and converts each line (ended by CR LF) to bytes. Records
// without data and the end record are dropped. The whole image is refused, with no records,
// when any line is malformed, has a bad checksum, an unknown type or an address outside RAM,
// when data follow the end record, when the end record is missing or when nothing would be
// loaded.
HexImage ParseHexImage(std::string_view text);
