#include "record/RecordingFile.h"

#include "record/RecordingMove.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "record/Sigmf.h"

#include <filesystem>
#include <system_error>

namespace tavrix::record {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1 << 16;

class TextSink final : public RecordingSink {
public:
    // A text file has no place for the mode, model or time.
    bool open(const std::string& path, const std::optional<RecordingHeader>& header,
              const RecordingInfo&) override {
        return writer.open(path, header);
    }
    bool write(const std::complex<double>* samples, std::size_t count) override {
        return writer.write(samples, count);
    }
    bool close() override { return writer.close(); }
    const std::string& error() const override { return writer.error(); }

private:
    RecordingWriter writer;
};

class TextSource final : public RecordingSource {
public:
    bool open(const std::string& path) { return reader.open(path); }
    const std::optional<RecordingHeader>& header() const override { return reader.header(); }
    const RecordingInfo& info() const override { return none; }
    std::size_t read(std::vector<std::complex<double>>& out, std::size_t maxSamples) override {
        out.clear();
        return reader.read(out, maxSamples);
    }
    bool atEnd() const override { return reader.atEnd(); }
    bool failed() const override { return reader.failed(); }
    const std::string& error() const override { return reader.error(); }

private:
    RecordingReader reader;
    RecordingInfo none;
};

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

FileFormat formatOf(const std::string& path) {
    return sigmfBase(path).size() != path.size() ? FileFormat::Sigmf : FileFormat::Text;
}

std::unique_ptr<RecordingSink> makeSink(const std::string& path) {
    if (formatOf(path) == FileFormat::Sigmf)
        return std::make_unique<SigmfSink>();
    return std::make_unique<TextSink>();
}

std::unique_ptr<RecordingSource> openSource(const std::string& path, std::string& error) {
    if (formatOf(path) == FileFormat::Sigmf) {
        auto source = std::make_unique<SigmfSource>();
        if (source->open(path))
            return source;
        error = source->error();
        return nullptr;
    }
    auto source = std::make_unique<TextSource>();
    if (source->open(path))
        return source;
    error = source->error();
    return nullptr;
}

bool convertRecording(const std::string& in, const std::string& out, std::string& error) {
    const std::unique_ptr<RecordingSource> source = openSource(in, error);
    if (!source)
        return false;
    // Opening the output truncates it, which would destroy the very samples to be copied.
    for (const std::string& written : recordingFiles(out))
        for (const std::string& read : recordingFiles(in))
            if (sameFile(written, read)) {
                error = "Cannot convert \"" + in + "\" into \"" + out + "\": \"" + written +
                        "\" is part of both";
                return false;
            }

    RecordingInfo info = source->info();
    info.stampNow = false; // a text recording kept no start time: none is made up
    if (info.operatingMode.empty() && source->header())
        info.operatingMode = modeOfHeader(*source->header());
    const std::unique_ptr<RecordingSink> sink = makeSink(out);
    const bool opened = sink->open(out, source->header(), info);
    bool ok = opened;
    std::vector<std::complex<double>> chunk;
    while (ok && !source->atEnd() && !source->failed()) {
        source->read(chunk, kChunk);
        ok = sink->write(chunk.data(), chunk.size());
    }
    if (source->failed()) {
        ok = false;
        error = source->error();
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

bool readRecording(const std::string& path, Recording& recording, std::string& error) {
    recording = Recording{};
    const std::unique_ptr<RecordingSource> source = openSource(path, error);
    if (!source)
        return false;
    recording.header = source->header();
    std::vector<std::complex<double>> chunk;
    while (!source->atEnd() && !source->failed()) {
        source->read(chunk, kChunk);
        recording.samples.insert(recording.samples.end(), chunk.begin(), chunk.end());
    }
    if (source->failed()) {
        error = source->error();
        recording = Recording{};
        return false;
    }
    return true;
}

} // namespace tavrix::record
