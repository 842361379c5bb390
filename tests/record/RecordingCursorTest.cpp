// Random access to recordings of both formats, files that change under it, and clips.

#include "record/RecordingCursor.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "record/Sigmf.h"
#include "tests/record/RecordDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <random>

using namespace tavrix::record;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kStride = RecordingCursor::kIndexStride;
const RecordingHeader kHeader{24e9, 0.5, 1024, 250e6}; // 2.048 MHz
constexpr char kStart[] = "2026-12-07T19:30:00Z";

class Cursor : public RecordDir {
protected:
    // Several index strides and a part of one, in counts both formats hold.
    Cursor() : samples(3 * kStride + 123) {
        std::mt19937 random(11);
        std::uniform_int_distribution<int> count(0, 32767);
        for (auto& s : samples)
            s = {double(count(random) * 2), double(count(random))};
    }

    std::string text(const std::string& name, const std::optional<RecordingHeader>& header) {
        std::string error;
        EXPECT_TRUE(writeRecording(path(name), header, samples, error)) << error;
        return path(name);
    }
    std::string sigmf(const std::string& name) {
        const std::string file = path(name + ".sigmf-data");
        SigmfSink sink;
        EXPECT_TRUE(sink.open(file, kHeader, {"fmcw", "Alder", kStart}));
        EXPECT_TRUE(sink.write(samples.data(), samples.size()) && sink.close()) << sink.error();
        return file;
    }
    std::unique_ptr<RecordingCursor> open(const std::string& file) {
        std::string error;
        auto cursor = RecordingCursor::open(file, error);
        EXPECT_TRUE(cursor) << error;
        return cursor;
    }
    Samples slice(std::uint64_t first, std::uint64_t count) const {
        return Samples(samples.begin() + first, samples.begin() + first + count);
    }

    Samples samples;
};

} // namespace

TEST_F(Cursor, RandomReadsMatchTheSequentialOnesInEveryForm) {
    const std::string crlf = path("crlf.dat");
    std::string windows;
    for (const char c : contents(text("lf.dat", kHeader)))
        windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    put("crlf.dat", windows);
    const std::string files[] = {path("lf.dat"), crlf, text("bare.dat", std::nullopt),
                                 sigmf("pair")};
    const std::uint64_t n = samples.size();
    // Index entries and the samples either side of them, the end, backwards and onwards.
    const std::pair<std::uint64_t, std::size_t> reads[] = {{0, 10},
                                                           {kStride - 1, 2},
                                                           {kStride, 1},
                                                           {2 * kStride + 1, kStride + 5},
                                                           {n - 1, 1},
                                                           {n - 50, 1000},
                                                           {5, 3},
                                                           {8, 2 * kStride},
                                                           {2 * kStride + 8, 77},
                                                           {kStride + 17, kStride}};
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        double fraction = 0.0;
        std::string error;
        const auto cursor = RecordingCursor::open(file, error, [&](double f) {
            EXPECT_GE(f, fraction);
            fraction = f;
            return true;
        });
        ASSERT_TRUE(cursor) << error;
        EXPECT_EQ(fraction, 1.0);
        EXPECT_EQ(cursor->sampleCount(), n);
        EXPECT_EQ(cursor->header().has_value(), file != path("bare.dat"));
        Samples out;
        for (const auto& [first, count] : reads) {
            ASSERT_TRUE(cursor->read(first, count, out)) << cursor->error();
            EXPECT_TRUE(out == slice(first, std::min<std::uint64_t>(count, n - first)))
                << first << " +" << count;
        }
        EXPECT_FALSE(cursor->read(n, 1, out));
        EXPECT_NE(cursor->error().find("beyond the end"), std::string::npos) << cursor->error();
        EXPECT_TRUE(out.empty());
    }
    std::string error;
    EXPECT_FALSE(RecordingCursor::open(path("lf.dat"), error, [](double) { return false; }));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
}

TEST_F(Cursor, FilesCutShortOrMalformedFailTheReadNamingFileAndLine) {
    for (const std::string& file : {text("cut.dat", kHeader), sigmf("cut")}) {
        const auto cursor = open(file);
        fs::resize_file(file, fs::file_size(file) / 2);
        Samples out;
        EXPECT_FALSE(cursor->read(samples.size() - 10, 5, out));
        EXPECT_NE(cursor->error().find(file + ": holds fewer samples"), std::string::npos)
            << cursor->error();
        EXPECT_TRUE(out.empty());
    }

    // Sample 5000 is line 5005 after the header.
    std::string bad = contents(text("bad.dat", kHeader));
    std::size_t at = 0;
    for (int line = 0; line < 5004; ++line)
        at = bad.find('\n', at) + 1;
    bad.insert(at, "12+x");
    const auto cursor = open(put("bad.dat", bad));
    Samples out;
    EXPECT_FALSE(cursor->read(4990, 20, out));
    EXPECT_NE(cursor->error().find(path("bad.dat") + ": line 5005:"), std::string::npos)
        << cursor->error();
    // The rest of the file stays readable.
    ASSERT_TRUE(cursor->read(5001, 3, out)) << cursor->error();
    EXPECT_EQ(out, slice(5001, 3));

    // A last line without its line end counts as a sample, so that reading it names it.
    std::string unfinished = contents(text("open.dat", kHeader));
    unfinished.pop_back();
    const auto openEnded = open(put("open.dat", unfinished));
    EXPECT_EQ(openEnded->sampleCount(), samples.size());
    EXPECT_FALSE(openEnded->read(samples.size() - 1, 1, out));
    EXPECT_NE(openEnded->error().find(path("open.dat") + ": line "), std::string::npos)
        << openEnded->error();
}

TEST_F(Cursor, ClipsHoldTheRegionWithTheirOwnStartTimeAndLabel) {
    const std::uint64_t first = 2 * kStride + 1024, count = kStride / 2 + 7; // first at 4.5 ms
    const std::string pair = sigmf("in"), plain = text("in.dat", kHeader);
    std::string error;
    ASSERT_TRUE(writeClip(pair, path("clip.sigmf"), first, count, "passing car", error)) << error;
    ASSERT_TRUE(writeClip(plain, path("clip.dat"), first, count, "", error)) << error;
    ASSERT_TRUE(writeClip(plain, path("plain.sigmf"), first, count, "", error)) << error;

    for (const char* clip : {"clip.sigmf-data", "clip.dat", "plain.sigmf-data"}) {
        Recording back;
        ASSERT_TRUE(readRecording(path(clip), back, error)) << error;
        EXPECT_EQ(fields(back.header.value()), fields(kHeader)) << clip;
        EXPECT_TRUE(back.samples == slice(first, count)) << clip;
    }
    const auto source = openSource(path("clip.sigmf"), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().datetime, "2026-12-07T19:30:00.0045Z");
    EXPECT_EQ(source->info().deviceModel, "Alder");
    ASSERT_EQ(source->info().annotations.size(), 1u);
    const Annotation& a = source->info().annotations[0];
    EXPECT_EQ(std::tuple(a.sampleStart, a.sampleCount, a.label),
              std::tuple(std::uint64_t(0), count, std::string("passing car")));
    // A text recording kept no time: its clip gets none rather than the time of cutting.
    const auto plainMeta =
        QJsonDocument::fromJson(QByteArray::fromStdString(contents(path("plain.sigmf-meta"))));
    EXPECT_FALSE(plainMeta["captures"][0].toObject().contains("core:datetime"));
    EXPECT_TRUE(plainMeta["annotations"].toArray().isEmpty());

    EXPECT_EQ(isoUtcPlus("2026-12-31T23:59:59.999Z", 0.0015L), "2027-01-01T00:00:00.0005Z");
    EXPECT_EQ(isoUtcPlus("2024-02-28T12:00:00.5Z", 86400.5L), "2024-02-29T12:00:01.000Z");
}

TEST_F(Cursor, ClipsRefuseEmptyOrOutsideRegionsAndTheirOwnInputLeavingNothing) {
    const std::string plain = text("in.dat", kHeader), pair = sigmf("in");
    const std::string plainBefore = contents(plain), pairBefore = contents(pair);
    const std::uint64_t n = samples.size();
    const std::tuple<std::string, std::string, std::uint64_t, std::uint64_t, std::string> cases[] =
        {{plain, path("out.dat"), 10, 0, "region is empty"},
         {plain, path("out.dat"), n, 1, "holds only"},
         {pair, path("out.dat"), n - 5, 6, "holds only"},
         {plain, plain, 0, 10, "part of both"},
         {pair, path("in.sigmf-meta"), 0, 10, "part of both"}};
    for (const auto& [in, out, first, count, why] : cases) {
        std::string error;
        EXPECT_FALSE(writeClip(in, out, first, count, "x", error)) << out;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    EXPECT_EQ(contents(plain), plainBefore);
    EXPECT_EQ(contents(pair), pairBefore);

    // A malformed line inside the region fails the clip, and the part written goes.
    put("bad.dat", plainBefore + "7+7\n");
    std::string error;
    EXPECT_FALSE(writeClip(path("bad.dat"), path("out.sigmf"), n - 2, 3, "", error));
    EXPECT_NE(error.find("line " + std::to_string(n + 5)), std::string::npos) << error;
    EXPECT_EQ(files(), 4u); // in.dat, the pair, bad.dat
}
