// SigMF recordings and the interface both formats share: lossless conversion both ways, what
// the written pair holds, and the refusal of files and samples it cannot take.

#include "record/Sigmf.h"
#include "record/RecordingFile.h"
#include "record/RecordingMove.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "tests/record/RecordDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <random>

using namespace tavrix::record;
namespace fs = std::filesystem;

namespace {

class Sigmf : public RecordDir {
protected:
    static QJsonObject meta(const std::string& file) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(contents(file))).object();
    }
    // A pair named `name` whose metadata holds `extra` in its global object.
    std::string pair(const std::string& name, const std::string& data,
                     const std::string& extra = "", const std::string& captures = "[]",
                     const std::string& datatype = "cu16_le") const {
        put(name + ".sigmf-meta", R"({"global": {"core:datatype": ")" + datatype +
                                      R"(", "core:version": "1.2.0")" + extra +
                                      R"(}, "captures": )" + captures + R"(, "annotations": []})");
        return put(name + ".sigmf-data", data);
    }
};

// Raw counts across the whole range of both converters, with their extremes.
Samples counts(std::size_t n) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> i(0, 65535), q(0, 32767);
    Samples s(n);
    for (auto& v : s)
        v = {double(i(random)), double(q(random))};
    s[1] = {65535, 32767};
    s[2] = {0, 0};
    return s;
}

} // namespace

TEST_F(Sigmf, TextToSigmfToTextIsByteForByte) {
    const Samples samples = counts(150000); // several chunks of conversion
    struct Case {
        const char* name;
        std::optional<RecordingHeader> header;
        const char* mode; // what SigMF makes of the header
    } cases[] = {
        {"fmcw", RecordingHeader{24.125e9, 0.5, 1024, 250e6}, "fmcw"},
        {"cw", RecordingHeader{9812345678.123456, 12345.678901, 128, 0.0}, "cw"},
        {"triangle", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = path(std::string(c.name) + ".dat");
        const std::string sigmf = path(std::string(c.name) + ".sigmf-data");
        const std::string back = path(std::string(c.name) + "-back.dat");
        std::string error;
        ASSERT_TRUE(writeRecording(text, c.header, samples, error)) << error;
        ASSERT_TRUE(convertRecording(text, sigmf, error)) << error;
        ASSERT_TRUE(convertRecording(sigmf, back, error)) << error;
        EXPECT_TRUE(contents(back) == contents(text));

        const auto source = openSource(sigmf, error);
        ASSERT_TRUE(source) << error;
        EXPECT_EQ(source->info().operatingMode, c.mode);
        EXPECT_EQ(source->header().has_value(), c.header.has_value());
    }
    // SigMF to SigMF keeps what only SigMF holds.
    const std::string made = path("made.sigmf-data");
    auto sink = makeSink(made);
    ASSERT_TRUE(
        sink->open(made, std::nullopt, {"fmcw-triangle", "Dogwood", "2026-12-07T19:30:00Z"}));
    ASSERT_TRUE(sink->write(samples.data(), 10) && sink->close()) << sink->error();
    std::string error;
    ASSERT_TRUE(convertRecording(path("made.sigmf-meta"), path("copy.sigmf"), error)) << error;
    const auto copy = openSource(path("copy.sigmf-data"), error);
    ASSERT_TRUE(copy) << error;
    EXPECT_EQ(copy->info().operatingMode, "fmcw-triangle");
    EXPECT_EQ(copy->info().deviceModel, "Dogwood");
    EXPECT_EQ(copy->info().datetime, "2026-12-07T19:30:00Z");
}

TEST_F(Sigmf, WrittenPairFollowsTheSigmfRules) {
    // Pairs either side of the middle of the range, where the packing moves its bias.
    const Samples samples{{0x1234, 0x0506}, {65535, 32767}, {32768, 0}, {32767, 65535}, {1, 0}};
    const std::string file = path("rec.sigmf-data");
    auto sink = makeSink(file);
    ASSERT_TRUE(sink->open(file, RecordingHeader{24e9, 0.5, 1024, 250e6}, {"fmcw", "Alder", ""}))
        << sink->error();
    ASSERT_TRUE(sink->write(samples.data(), samples.size()) && sink->close()) << sink->error();

    // I then Q, little-endian, nothing else.
    EXPECT_EQ(contents(file), std::string("\x34\x12\x06\x05\xff\xff\xff\x7f\x00\x80\x00\x00"
                                          "\xff\x7f\xff\xff\x01\x00\x00\x00",
                                          20));
    const QJsonObject top = meta(path("rec.sigmf-meta"));
    const QJsonObject global = top["global"].toObject();
    EXPECT_EQ(global["core:datatype"].toString(), "cu16_le");
    EXPECT_EQ(global["core:sample_rate"].toDouble(), 2048000.0);
    EXPECT_EQ(global["tavrix:bandwidth_hz"].toDouble(), 250e6);
    const QJsonArray captures = top["captures"].toArray();
    ASSERT_EQ(captures.size(), 1);
    EXPECT_EQ(captures[0].toObject()["core:frequency"].toDouble(), 24e9);
}

TEST_F(Sigmf, RefusesBrokenRecordingsNamingFileAndPlace) {
    const std::pair<std::string, std::string> cases[] = {
        {put("bad-json.sigmf-meta", "{\"global\": {\"core:datatype\": \"cu16_le\",}}"),
         path("bad-json.sigmf-meta") + ": not valid JSON at byte "},
        {pair("odd", std::string(10, '\0')),
         path("odd.sigmf-data") + ": 10 bytes are not a whole number"},
        {put("nodata.sigmf-meta", contents(path("odd.sigmf-meta"))),
         "Cannot open \"" + path("nodata.sigmf-data") + "\": No such file"},
        {pair("float", "", "", "[]", "cf32_le"), "key global.core:datatype is \"cf32_le\""},
        {pair("hdr", "", R"(, "tavrix:header": {"center_frequency_hz": 24e9, "sweep_time_ms": 1,
             "samples_per_sweep": 1024.5, "mode_value": 0})"),
         "key global.tavrix:header.samples_per_sweep"},
    };
    for (const auto& [open, expected] : cases) {
        std::string error;
        EXPECT_FALSE(openSource(open, error)) << open;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        Recording recording;
        EXPECT_FALSE(readRecording(open, recording, error));
    }
    // A well-formed pair with nothing in it is an empty recording, not an error.
    std::string error;
    Recording recording{RecordingHeader{}, Samples{{1, 1}}};
    ASSERT_TRUE(readRecording(pair("empty", ""), recording, error)) << error;
    EXPECT_FALSE(recording.header);
    EXPECT_TRUE(recording.samples.empty());
}

TEST_F(Sigmf, RefusesSamplesOutsideTheDatatypeKeepingWhatCameBefore) {
    const std::string file = path("r.sigmf-data");
    const Samples good{{1, 2}, {3, 4}}, block{{5, 6}, {0, 65536}};
    SigmfSink sink;
    ASSERT_TRUE(sink.open(file, std::nullopt, {}));
    ASSERT_TRUE(sink.write(good.data(), 2));
    EXPECT_FALSE(sink.write(block.data(), 2));
    EXPECT_NE(sink.error().find("sample 3 in \"" + file + "\""), std::string::npos) << sink.error();
    EXPECT_FALSE(sink.write(good.data(), 2));
    EXPECT_FALSE(sink.close());
    EXPECT_EQ(fs::file_size(file), 8u);
}

TEST_F(Sigmf, ConversionNeverOverwritesItsInputAndLeavesNothingOnFailure) {
    std::string error;
    ASSERT_TRUE(writeRecording(path("a.dat"), std::nullopt, {{1, 2}, {-3, 4}}, error));
    const std::string before = contents(path("a.dat"));
    EXPECT_FALSE(convertRecording(path("a.dat"), path("a.dat"), error));
    EXPECT_EQ(contents(path("a.dat")), before);
    // -3 has no cu16_le form: the half-written pair goes.
    EXPECT_FALSE(convertRecording(path("a.dat"), path("a.sigmf-data"), error));
    EXPECT_NE(error.find("sample 1"), std::string::npos) << error;
    EXPECT_EQ(files(), 1u);
}

TEST_F(Sigmf, APairMovesWholeOrNotAtAll) {
    const std::string part = pair("part", "1234");
    std::string error;
    EXPECT_FALSE(moveRecordingFiles(part, path("missing/x.sigmf-data"), error));
    EXPECT_NE(error.find("missing/x.sigmf-"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(path("part.sigmf-meta")));
    EXPECT_EQ(contents(part), "1234");
    ASSERT_TRUE(moveRecordingFiles(part, path("final.sigmf-data"), error)) << error;
    EXPECT_EQ(contents(path("final.sigmf-data")), "1234");
    EXPECT_TRUE(fs::exists(path("final.sigmf-meta")));
    EXPECT_EQ(files(), 2u);
}
