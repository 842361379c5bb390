// Input: a chunk size byte, two bytes of shift, a line number byte, then the text of a
// recording. The reader works through a 64 KiB window, so the same text is read twice with
// identical sample lines put in after its line k: once short, once padded with leading zeros
// so that the rest of the text straddles the window's edge at the given shift. Both reads must
// come to the same header, samples and verdict; whatever is read must survive being written
// and read again.
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tavrix::record;

namespace {

constexpr std::size_t kWindow = 1 << 16;
constexpr int kFillerLines = 140;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

const char* const kFiles[] = {"plain.dat", "padded.dat", "copy.dat"};

// A directory of this process for the files it reads, removed when the process ends.
char dir[] = "/tmp/tavrix-fuzz-XXXXXX";

void RemoveFiles() {
    for (const char* file : kFiles)
        std::remove((std::string(dir) + "/" + file).c_str());
    rmdir(dir);
}

const std::string& Dir() {
    static const std::string path = [] {
        Require(mkdtemp(dir) != nullptr);
        std::atexit(RemoveFiles);
        return std::string(dir);
    }();
    return path;
}

std::string Write(const char* name, const std::string& text) {
    const std::string path = Dir() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Require(f && std::fwrite(text.data(), 1, text.size(), f) == text.size());
    Require(std::fclose(f) == 0);
    return path;
}

// `lines` lines of "0+0i" taking `bytes` bytes in all, the extra as leading zeros.
std::string Filler(std::size_t bytes) {
    std::string text;
    const std::size_t minimal = 5 * kFillerLines;
    const std::size_t extra = bytes > minimal ? bytes - minimal : 0;
    for (int i = 0; i < kFillerLines; ++i) {
        const std::size_t zeros = extra / kFillerLines + (i < int(extra % kFillerLines) ? 1 : 0);
        text.append(zeros, '0');
        text += "0+0i\n";
    }
    return text;
}

// The error without the file's name and the excerpt of the offending line, which the padding
// changes.
std::string Verdict(const std::string& error, const std::string& path) {
    const std::string rest =
        error.compare(0, path.size(), path) == 0 ? error.substr(path.size()) : error;
    return rest.substr(0, rest.find(" (\""));
}

struct Outcome {
    bool ok = false;
    Recording recording;
    std::string error;
};

Outcome ReadInChunks(const std::string& path, std::size_t chunk) {
    Outcome o;
    RecordingReader reader;
    if (!reader.open(path)) {
        o.error = reader.error();
        return o;
    }
    o.recording.header = reader.header();
    while (!reader.atEnd() && !reader.failed()) {
        const std::size_t before = o.recording.samples.size();
        const std::size_t got = reader.read(o.recording.samples, chunk);
        Require(got <= chunk && o.recording.samples.size() == before + got);
        Require(got == chunk || reader.atEnd() || reader.failed());
    }
    o.ok = !reader.failed();
    o.error = reader.error();
    if (!o.ok)
        o.recording = Recording{}; // what came before the fault is not a recording
    return o;
}

bool SameHeader(const std::optional<RecordingHeader>& a, const std::optional<RecordingHeader>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a ||
           (a->centerFrequencyHz == b->centerFrequencyHz && a->sweepTimeMs == b->sweepTimeMs &&
            a->samplesPerSweep == b->samplesPerSweep && a->modeValue == b->modeValue);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const std::size_t chunk = data[0] + 1u;
    const std::size_t shift = (data[1] | (data[2] << 8)) % 1024;
    const int afterLine = data[3] % 6;
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);

    std::size_t at = 0;
    for (int k = 0; k < afterLine && at != std::string::npos; ++k) {
        at = text.find('\n', at);
        if (at != std::string::npos)
            ++at;
    }
    if (at == std::string::npos)
        return 0;

    const std::string plain = text.substr(0, at) + Filler(0) + text.substr(at);
    const std::size_t edge = kWindow - shift;
    const std::string padded =
        text.substr(0, at) + Filler(edge > at ? edge - at : 0) + text.substr(at);

    const std::string plainPath = Write(kFiles[0], plain);
    const std::string paddedPath = Write(kFiles[1], padded);
    Outcome a;
    a.ok = readRecording(plainPath, a.recording, a.error);
    const Outcome b = ReadInChunks(paddedPath, chunk);
    Require(a.ok == b.ok && Verdict(a.error, plainPath) == Verdict(b.error, paddedPath));
    Require(SameHeader(a.recording.header, b.recording.header));
    Require(a.recording.samples == b.recording.samples);
    if (!a.ok) {
        Require(!a.error.empty() && a.recording.samples.empty() && !a.recording.header);
        return 0;
    }
    Require(a.recording.samples.size() >= static_cast<std::size_t>(kFillerLines));

    std::string error;
    const std::string copy = Dir() + "/" + kFiles[2];
    Require(writeRecording(copy, std::nullopt, a.recording.samples, error));
    Recording again;
    Require(readRecording(copy, again, error));
    Require(!again.header && again.samples == a.recording.samples);
    return 0;
}
