#include "record/RecordingCopy.h"

#include "record/RecordingMove.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace tavrix::record {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1 << 16;

// As playback reads a header: the fourth number is the FSK tone spacing, 0 in CW, otherwise
// the FMCW sawtooth's bandwidth.
std::string modeOfHeader(const RecordingHeader& header) {
    if (header.modeValue == kFskToneSpacingHz)
        return "fsk";
    return header.modeValue == 0.0 ? "cw" : "fmcw";
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

} // namespace

bool writesOverInput(const std::string& in, const std::string& out, const std::string& what,
                     std::string& error) {
    for (const std::string& written : recordingFiles(out))
        for (const std::string& read : recordingFiles(in))
            if (sameFile(written, read)) {
                error = what + ": \"" + written + "\" is part of both";
                return true;
            }
    return false;
}

bool copyRecording(RecordingSource& source, const std::string& out, RecordingInfo info,
                   std::string& error) {
    info.stampNow = false;
    if (info.operatingMode.empty() && source.header())
        info.operatingMode = modeOfHeader(*source.header());
    const std::unique_ptr<RecordingSink> sink = makeSink(out);
    const bool opened = sink->open(out, source.header(), info);
    bool ok = opened;
    std::vector<std::complex<double>> chunk;
    while (ok && !source.atEnd() && !source.failed()) {
        source.read(chunk, kChunk);
        ok = sink->write(chunk.data(), chunk.size());
    }
    if (source.failed()) {
        ok = false;
        error = source.error();
    } else if (!ok) {
        error = sink->error();
    }
    if (!sink->close() && ok) {
        ok = false;
        error = sink->error();
    }
    if (!ok && opened) {
        // A partial copy would pass for a shorter recording; links and devices stay.
        for (const std::string& file : recordingFiles(out)) {
            std::error_code ec;
            if (fs::is_regular_file(fs::symlink_status(file, ec)))
                fs::remove(file, ec);
        }
    }
    return ok;
}

} // namespace tavrix::record
