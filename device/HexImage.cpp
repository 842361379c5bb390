#include "device/HexImage.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

HexImage Refuse(std::string why) {
    HexImage image;
    image.error = std::move(why);
    return image;
}

} // namespace

std::string CheckHexRecord(const HexRecord& record) {
    if (record.size() < 5)
        return "record shorter than its head and checksum";
    const unsigned count = record[0];
    if (record.size() != 5 + count)
        return "record length does not match its count";
    unsigned sum = 0;
    for (const std::uint8_t b : record)
        sum += b;
    if ((sum & 0xFF) != 0)
        return "bad checksum";
    const std::uint8_t type = record[3];
    if (type == kHexEndRecord)
        return count == 0 ? std::string() : "end record carries data";
    if (type != kHexDataRecord)
        return "unknown record type";
    const unsigned address = record[1] * 256u + record[2];
    if (address + count > kControllerRamBytes)
        return "data outside controller RAM";
    return {};
}

bool IsLoadableRecord(const HexRecord& record) {
    return CheckHexRecord(record).empty() && record[3] == kHexDataRecord;
}

HexImage ParseHexImage(std::string_view text) {
    HexImage image;
    bool ended = false;
    std::size_t start = 0;
    for (int line = 0;; ++line) {
        const std::size_t colon = text.find(':', start);
        const std::string_view token =
            text.substr(start, colon == std::string_view::npos ? colon : colon - start);
        start = colon + 1;
        const bool last = colon == std::string_view::npos;

        if (line == 0) {
            // Whatever precedes the first colon is not a record; allow only a few stray bytes.
            if (token.size() > 3)
                return Refuse("text before the first record");
            if (last)
                break;
            continue;
        }
        const std::string where = "line " + std::to_string(line) + ": ";
        if (token.size() < 2 || token.substr(token.size() - 2) != "\r\n")
            return Refuse(where + "not ended by CR LF");
        const std::string_view digits = token.substr(0, token.size() - 2);
        if (digits.size() % 2 != 0)
            return Refuse(where + "odd number of hex digits");

        HexRecord record;
        record.reserve(digits.size() / 2);
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int hi = HexDigit(digits[i]);
            const int lo = HexDigit(digits[i + 1]);
            if (hi < 0 || lo < 0)
                return Refuse(where + "not a hex digit");
            record.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        const std::string problem = CheckHexRecord(record);
        if (!problem.empty())
            return Refuse(where + problem);
        if (ended)
            return Refuse(where + "record after the end record");
        if (record[3] == kHexEndRecord)
            ended = true;
        else if (record[0] > 0)
            image.records.push_back(std::move(record));
        if (last)
            break;
    }
    if (!ended)
        return Refuse("no end record");
    if (image.records.empty())
        return Refuse("no data to load");
    return image;
}
