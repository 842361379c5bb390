// Input: a chunk size byte, two bytes of shift, a line number byte, then a recording's text.
// The reader works through a 64 KiB window, so the text is read twice with the same sample
// lines put in after its line k: once short and whole, once in chunks and padded with leading
// zeros so that the rest straddles the window's edge at the shift. Both reads must come to the
// same header, samples and verdict; and random access to the short one reads what it did.
#include "record/RecordingCursor.h"
#include "record/RecordingReader.h"
#include "tests/fuzz/Fuzz.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

using namespace tavrix::record;

namespace {

// Writes file `k` of this process; the files go when it ends.
std::string Write(char k, const std::string& text) {
    static const std::string prefix = "/tmp/tavrix-fuzz-" + std::to_string(getpid()) + "-";
    static const bool removing = !std::atexit([] {
        for (const char f : {'0', '1'})
            std::remove((prefix + f).c_str());
    });
    const std::string path = prefix + k;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Require(removing && f && std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
            !std::fclose(f));
    return path;
}

// 140 lines of "0+0i" taking `bytes` bytes in all, the extra as leading zeros.
std::string Filler(std::size_t bytes) {
    std::string text;
    const std::size_t extra = bytes > 700 ? bytes - 700 : 0;
    for (std::size_t i = 0; i < 140; ++i)
        text.append(extra / 140 + (i < extra % 140) + 1, '0') += "+0i\n";
    return text;
}

// What a read comes to: the header, the samples (none after a fault) and the error without
// the file's name and the excerpt of the line, which the padding changes.
auto Outcome(const std::string& path, const Recording& r, std::string error) {
    error = error.rfind(path, 0) == 0 ? error.substr(path.size()) : error;
    const RecordingHeader h = r.header.value_or(RecordingHeader{-1, -1, -1, -1});
    return std::tuple(error.substr(0, error.find(" (\"")), h.centerFrequencyHz, h.sweepTimeMs,
                      h.samplesPerSweep, h.modeValue, r.samples);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    std::size_t at = 0;
    for (int k = 0; k < data[3] % 6; ++k) // after line k, at the start when there is none
        at = text.find('\n', at) + 1;
    const std::size_t edge = (1 << 16) - Le16(data, 1) % 1024;
    const std::string plain = Write('0', text.substr(0, at) + Filler(0) + text.substr(at));
    const std::string padded =
        Write('1', text.substr(0, at) + Filler(edge > at ? edge - at : 0) + text.substr(at));
    Recording a, b;
    std::string error;
    const bool ok = readRecording(plain, a, error);
    Require(ok || (!error.empty() && a.samples.empty() && !a.header));

    RecordingReader reader;
    const std::size_t chunk = data[0] + 1u;
    const bool opened = reader.open(padded);
    b.header = reader.header();
    while (opened && !reader.atEnd() && !reader.failed()) {
        const std::size_t before = b.samples.size(), got = reader.read(b.samples, chunk);
        Require(got <= chunk && b.samples.size() == before + got &&
                (got == chunk || reader.atEnd() || reader.failed()));
    }
    Require(ok == (opened && !reader.failed()));
    if (!ok)
        b = Recording{};
    Require(Outcome(plain, a, error) == Outcome(padded, b, reader.error()));

    std::string cursorError;
    const auto cursor = RecordingCursor::open(plain, cursorError);
    std::vector<std::complex<double>> part;
    if (ok) {
        Require(cursor && cursor->sampleCount() == a.samples.size());
        if (!a.samples.empty()) {
            const std::size_t first = Le16(data, 1) % a.samples.size();
            Require(cursor->read(first, chunk, part) &&
                    part.size() == std::min(chunk, a.samples.size() - first) &&
                    std::equal(part.begin(), part.end(), a.samples.begin() + first));
        }
    } else if (cursor && cursor->sampleCount() > 0) {
        // A fault somewhere in the file: reading all of it fails, and says why.
        Require(!cursor->read(0, cursor->sampleCount(), part) && !cursor->error().empty());
    }
    return 0;
}
