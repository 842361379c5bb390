// SigMF recordings and the interface both formats share: lossless conversion both ways, what
// the written pair holds, and the refusal of files and samples it cannot take.

#include "record/Sigmf.h"
#include "record/RecordingFile.h"
#include "record/RecordingMove.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

using namespace tavrix::record;
using Samples = std::vector<std::complex<double>>;
namespace fs = std::filesystem;

namespace {

class Sigmf : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-sigmf-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return dir + "/" + name; }
    static std::string contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
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

    std::string dir;
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
        {"fsk", RecordingHeader{5.8e9, 4.0, 256, kFskToneSpacingHz}, "fsk"},
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
        EXPECT_EQ(fs::file_size(sigmf), 4 * samples.size());
    }
    // SigMF to SigMF keeps what only SigMF holds.
    const std::string made = path("made.sigmf-data");
    auto sink = makeSink(made);
    ASSERT_TRUE(
        sink->open(made, std::nullopt, {"fmcw-triangle", "Dogwood", "2026-12-07T19:30:00Z"}));
    ASSERT_TRUE(sink->write(samples.data(), 10));
    ASSERT_TRUE(sink->close()) << sink->error();
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
    const std::string before = isoUtc(std::chrono::system_clock::now());
    ASSERT_TRUE(sink->open(file, RecordingHeader{24e9, 0.5, 1024, 250e6}, {"fmcw", "Alder", ""}))
        << sink->error();
    const std::string after = isoUtc(std::chrono::system_clock::now());
    ASSERT_TRUE(sink->write(samples.data(), samples.size()));
    ASSERT_TRUE(sink->close()) << sink->error();

    // I then Q, little-endian, nothing else.
    EXPECT_EQ(contents(file), std::string("\x34\x12\x06\x05\xff\xff\xff\x7f\x00\x80\x00\x00"
                                          "\xff\x7f\xff\xff\x01\x00\x00\x00",
                                          20));
    const std::string metaText = contents(path("rec.sigmf-meta"));
    EXPECT_EQ(metaText.front(), '{');
    EXPECT_EQ(metaText.back(), '}');
    const QJsonObject top = meta(path("rec.sigmf-meta"));
    const QJsonObject global = top["global"].toObject();
    EXPECT_EQ(global["core:datatype"].toString(), "cu16_le");
    EXPECT_TRUE(std::regex_match(global["core:version"].toString().toStdString(),
                                 std::regex(R"(\d+\.\d+\.\d+)")));
    EXPECT_EQ(global["core:sample_rate"].toDouble(), 2048000.0);
    EXPECT_TRUE(global["core:recorder"].toString().startsWith("Tavrix "));
    EXPECT_TRUE(global["core:hw"].toString().contains("Alder"));
    EXPECT_EQ(global["tavrix:bandwidth_hz"].toDouble(), 250e6);
    EXPECT_FALSE(global.contains("tavrix:tone_spacing_hz"));
    ASSERT_TRUE(top["annotations"].isArray());
    EXPECT_TRUE(top["annotations"].toArray().isEmpty());

    // Every namespace used is core or declared, with the three fields an extension has.
    QStringList declared{"core"};
    for (const QJsonValue& e : global["core:extensions"].toArray()) {
        const QJsonObject extension = e.toObject();
        EXPECT_EQ(extension.keys(), (QStringList{"name", "optional", "version"}));
        EXPECT_TRUE(extension["optional"].isBool());
        declared << extension["name"].toString();
    }
    const QJsonArray captures = top["captures"].toArray();
    ASSERT_EQ(captures.size(), 1);
    const QJsonObject capture = captures[0].toObject();
    for (const QJsonObject& object : {global, capture})
        for (const QString& key : object.keys())
            EXPECT_TRUE(declared.contains(key.section(':', 0, 0))) << key.toStdString();
    EXPECT_EQ(capture["core:sample_start"].toInt(-1), 0);
    EXPECT_EQ(capture["core:frequency"].toDouble(), 24e9);
    const std::string datetime = capture["core:datetime"].toString().toStdString();
    EXPECT_TRUE(std::regex_match(datetime, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << datetime;
    EXPECT_LE(before, datetime);
    EXPECT_LE(datetime, after);

    // Read back in pieces, each replacing the last.
    std::string error;
    const auto source = openSource(path("rec.sigmf-meta"), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().deviceModel, "Alder");
    Samples piece{{9, 9}}, all;
    while (!source->atEnd()) {
        ASSERT_LE(source->read(piece, 2), 2u);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(all, samples);
}

TEST_F(Sigmf, RefusesBrokenRecordingsNamingFileAndPlace) {
    struct Case {
        std::string open, expected;
    };
    const Case cases[] = {
        {put("bad-json.sigmf-meta", "{\"global\": {\"core:datatype\": \"cu16_le\",}}"),
         path("bad-json.sigmf-meta") + ": not valid JSON at byte "},
        {pair("odd", std::string(10, '\0')),
         path("odd.sigmf-data") + ": 10 bytes are not a whole number"},
        {put("nodata.sigmf-meta", contents(path("odd.sigmf-meta"))),
         "Cannot open \"" + path("nodata.sigmf-data") + "\": No such file"},
        {put("nometa.sigmf-data", ""), "Cannot open \"" + path("nometa.sigmf-meta") + "\""},
        {pair("float", "", "", "[]", "cf32_le"), "key global.core:datatype is \"cf32_le\""},
        {pair("hdr", "", R"(, "tavrix:header": {"center_frequency_hz": 24e9, "sweep_time_ms": 1,
             "samples_per_sweep": 1024.5, "mode_value": 0})"),
         "key global.tavrix:header.samples_per_sweep"},
        {pair("when", "", "",
              R"([{"core:sample_start": 0, "core:datetime": "2026-12-07 19:30Z"}])"),
         "key captures[0].core:datetime"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(openSource(c.open, error)) << c.open;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        Recording recording;
        EXPECT_FALSE(readRecording(c.open, recording, error));
    }
    // A well-formed pair with nothing in it is an empty recording, not an error.
    std::string error;
    Recording recording{RecordingHeader{}, Samples{{1, 1}}};
    ASSERT_TRUE(readRecording(pair("empty", ""), recording, error)) << error;
    EXPECT_FALSE(recording.header);
    EXPECT_TRUE(recording.samples.empty());
}

TEST_F(Sigmf, RefusesSamplesOutsideTheDatatypeAndUnwritableFiles) {
    const std::string file = path("r.sigmf-data");
    const Samples good{{1, 2}, {3, 4}};
    for (const auto bad : {std::complex<double>(-1, 0), std::complex<double>(0, 65536),
                           std::complex<double>(1.5, 2), std::complex<double>(std::nan(""), 0)}) {
        SigmfSink sink;
        ASSERT_TRUE(sink.open(file, std::nullopt, {}));
        ASSERT_TRUE(sink.write(good.data(), 2));
        const Samples block{{5, 6}, bad};
        EXPECT_FALSE(sink.write(block.data(), 2)) << bad;
        EXPECT_NE(sink.error().find("sample 3 in \"" + file + "\""), std::string::npos)
            << sink.error();
        EXPECT_FALSE(sink.write(good.data(), 2));
        EXPECT_FALSE(sink.close());
        // What was accepted before the refusal is kept; nothing after it is.
        EXPECT_EQ(fs::file_size(file), 8u);
    }

    // A data file that cannot be created, and metadata that cannot be written.
    SigmfSink sink;
    const std::string missing = path("no/such/x.sigmf-data");
    EXPECT_FALSE(sink.open(missing, std::nullopt, {}));
    EXPECT_NE(sink.error().find(missing), std::string::npos) << sink.error();
    fs::create_directory(path("m.sigmf-meta"));
    EXPECT_FALSE(sink.open(path("m.sigmf-data"), std::nullopt, {}));
    EXPECT_NE(sink.error().find(path("m.sigmf-meta")), std::string::npos) << sink.error();
    EXPECT_FALSE(fs::exists(path("m.sigmf-data")));
    EXPECT_FALSE(sink.open(file, std::nullopt, {"pulse", "", ""}));
    EXPECT_FALSE(sink.open(file, std::nullopt, {"", "", "2026-12-07T25:00:00Z"}));
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
    EXPECT_EQ(fs::directory_iterator(dir)->path().filename(), "a.dat");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Sigmf, NamesAndMovesOfAPair) {
    EXPECT_EQ(formatOf("x.sigmf-data"), FileFormat::Sigmf);
    EXPECT_EQ(formatOf("x.sigmf-meta"), FileFormat::Sigmf);
    EXPECT_EQ(formatOf("/a.b/x.sigmf"), FileFormat::Sigmf);
    EXPECT_EQ(formatOf("x.dat"), FileFormat::Text);
    EXPECT_EQ(formatOf("x.sigmf-data.dat"), FileFormat::Text);
    EXPECT_EQ(recordingFiles("d/x.sigmf"),
              (std::vector<std::string>{"d/x.sigmf-data", "d/x.sigmf-meta"}));

    const std::string part = pair("part", "1234");
    std::string error;
    EXPECT_FALSE(moveRecordingFiles(part, path("missing/x.sigmf-data"), error));
    EXPECT_NE(error.find("missing/x.sigmf-"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(path("part.sigmf-meta")));
    EXPECT_EQ(contents(part), "1234");
    ASSERT_TRUE(moveRecordingFiles(part, path("final.sigmf-data"), error)) << error;
    EXPECT_EQ(contents(path("final.sigmf-data")), "1234");
    EXPECT_TRUE(fs::exists(path("final.sigmf-meta")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}
