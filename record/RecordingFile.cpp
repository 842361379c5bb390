#include "record/RecordingFile.h"

#include "record/RecordingCopy.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "record/Sigmf.h"

namespace tavrix::record {

namespace {

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
    if (!source ||
        writesOverInput(in, out, "Cannot convert \"" + in + "\" into \"" + out + "\"", error))
        return false;
    return copyRecording(*source, out, source->info(), error);
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
