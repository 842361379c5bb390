#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace tavrix::record;
using Samples = std::vector<std::complex<double>>;

namespace {

class RecordingFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-record-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    static std::string contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string put(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }

    std::string dir_;
};

const RecordingHeader kSawtooth{24e9, 1.0, 1024, 250e6};

} // namespace

TEST_F(RecordingFile, WritesHeaderAndTruncatedSamples) {
    const Samples samples{{40000.0, 12.0}, {1.9, 2.99}, {-1.7, -0.5}, {0.0, 32767.0}};
    std::string error;
    ASSERT_TRUE(writeRecording(path("a.dat"), kSawtooth, samples, error)) << error;
    EXPECT_EQ(contents(path("a.dat")), "24000000000.000000\n"
                                       "1.000000\n"
                                       "1024\n"
                                       "250000000.000000\n"
                                       "40000+12i\n"
                                       "1+2i\n"
                                       "-1+0i\n"
                                       "0+32767i\n");
}

TEST_F(RecordingFile, HeaderFollowsTheOperatingMode) {
    const Samples one{{7.0, 8.0}};
    struct Case {
        unsigned mode;
        const char* expected;
    } cases[] = {
        {0, "24125000000.000000\n0.500000\n128\n2000000000.000000\n7+8i\n"},
        {2, "24125000000.000000\n0.500000\n128\n6000000.000000\n7+8i\n"},
        {3, "24125000000.000000\n0.500000\n128\n0.000000\n7+8i\n"},
        {1, "7+8i\n"},
    };
    for (const Case& c : cases) {
        const std::string file = path("mode" + std::to_string(c.mode) + ".dat");
        std::string error;
        ASSERT_TRUE(
            writeRecording(file, headerForMode(c.mode, 24.125e9, 0.5, 128, 2e9), one, error));
        EXPECT_EQ(contents(file), c.expected) << "mode " << c.mode;

        Recording back;
        ASSERT_TRUE(readRecording(file, back, error)) << error;
        EXPECT_EQ(back.header.has_value(), c.mode != 1);
        EXPECT_EQ(back.samples, one);
    }
}

TEST_F(RecordingFile, RoundTripsLargeRecordingsInPieces) {
    // Large enough to cross the writer's and the reader's internal buffers many times.
    std::mt19937 random(42);
    std::uniform_int_distribution<int> i(0, 65535), q(0, 32767);
    Samples samples(200000);
    for (auto& s : samples)
        s = {double(i(random)), double(q(random))};
    samples[5] = {-2147483648.0, 2147483647.0}; // the extremes of int survive

    RecordingWriter writer;
    ASSERT_TRUE(writer.open(path("big.dat"), kSawtooth));
    for (std::size_t at = 0; at < samples.size(); at += 30001)
        ASSERT_TRUE(
            writer.write(samples.data() + at, std::min<std::size_t>(30001, samples.size() - at)));
    ASSERT_TRUE(writer.close()) << writer.error();

    RecordingReader reader;
    ASSERT_TRUE(reader.open(path("big.dat"))) << reader.error();
    ASSERT_TRUE(reader.header());
    EXPECT_EQ(reader.header()->centerFrequencyHz, 24e9);
    EXPECT_EQ(reader.header()->sweepTimeMs, 1.0);
    EXPECT_EQ(reader.header()->samplesPerSweep, 1024);
    EXPECT_EQ(reader.header()->modeValue, 250e6);
    Samples back;
    while (!reader.atEnd() && !reader.failed())
        EXPECT_LE(reader.read(back, 777), 777u);
    EXPECT_FALSE(reader.failed()) << reader.error();
    EXPECT_EQ(back, samples);
}

TEST_F(RecordingFile, ReadsWindowsLineEndsAndEmptyFiles) {
    Recording rec;
    std::string error;
    ASSERT_TRUE(
        readRecording(put("crlf.dat", "2.4e10\r\n1\r\n256\r\n0\r\n3+-4i\r\n5+6i\r\n"), rec, error))
        << error;
    ASSERT_TRUE(rec.header);
    EXPECT_EQ(rec.header->samplesPerSweep, 256);
    EXPECT_EQ(rec.samples, (Samples{{3, -4}, {5, 6}}));

    ASSERT_TRUE(readRecording(put("empty.dat", ""), rec, error)) << error;
    EXPECT_FALSE(rec.header);
    EXPECT_TRUE(rec.samples.empty());
}

TEST_F(RecordingFile, RejectsMalformedFilesNamingTheLine) {
    const std::string header = "24000000000.000000\n1.000000\n1024\n250000000.000000\n";
    struct Case {
        std::string text;
        int line;
    } cases[] = {
        {"hello\n", 1},
        {"24e9\n1\n", 3},                              // file ends inside the header
        {"24e9\nfast\n1024\n0\n", 2},                  // sweep time not a number
        {"24e9\n1\n1024.5\n0\n", 3},                   // samples per sweep not an integer
        {"24e9\n1\n0\n0\n", 3},                        // no sweep holds no samples
        {"24e9\n1\n1024\nnan\n", 4},                   // mode value not finite
        {"-24e9\n1\n1024\n0\n", 1},                    // negative frequency
        {header + "1+2i\n3+4\n", 6},                   // missing 'i'
        {header + "1+2i\n\n5+6i\n", 6},                // empty line
        {header + "1+2i\n2147483648+0i\n", 6},         // beyond int
        {header + "1+2i\n1.5+2i\n", 6},                // not an integer
        {header + "1+2i\n1+2", 6},                     // file cut inside a line
        {header + "1+2i\n1+2i", 6},                    // last line without its end
        {"1+2i\n" + std::string(2000, '7') + "\n", 2}, // absurdly long line
        {"1+2i\n3+4i\n5+6i\n24e9\n1\n1024\n0\n", 4},   // header after samples
    };
    for (const Case& c : cases) {
        const std::string file = put("bad.dat", c.text);
        Recording rec{RecordingHeader{}, Samples{{1, 1}}};
        std::string error;
        EXPECT_FALSE(readRecording(file, rec, error)) << c.text;
        EXPECT_NE(error.find(file + ": line " + std::to_string(c.line) + ":"), std::string::npos)
            << "text: " << c.text.substr(0, 60) << "\nerror: " << error;
        EXPECT_FALSE(rec.header);
        EXPECT_TRUE(rec.samples.empty());
    }

    std::string error;
    Recording rec;
    EXPECT_FALSE(readRecording(path("missing.dat"), rec, error));
    EXPECT_NE(error.find("missing.dat"), std::string::npos) << error;
}

TEST_F(RecordingFile, ReportsFilesThatCannotBeWritten) {
    const Samples samples(1000, {1.0, 2.0});
    std::string error;

    const std::string noDir = path("no/such/dir/x.dat");
    EXPECT_FALSE(writeRecording(noDir, kSawtooth, samples, error));
    EXPECT_NE(error.find(noDir), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;

    // A full disk only shows when the buffered data is finally written.
    EXPECT_FALSE(writeRecording("/dev/full", kSawtooth, samples, error));
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    // A long recording fails while it is written, not only at the end.
    RecordingWriter writer;
    ASSERT_TRUE(writer.open("/dev/full", kSawtooth));
    EXPECT_FALSE(writer.write(Samples(100000, {65535.0, 32767.0})));
    EXPECT_NE(writer.error().find(std::strerror(ENOSPC)), std::string::npos) << writer.error();
    EXPECT_FALSE(writer.close());
}

TEST_F(RecordingFile, RefusesSamplesThatHaveNoIntegerForm) {
    RecordingWriter writer;
    ASSERT_TRUE(writer.open(path("nan.dat"), std::nullopt));
    ASSERT_TRUE(writer.write(Samples{{1, 2}}));
    EXPECT_FALSE(writer.write(Samples{{3, 4}, {std::nan(""), 0}}));
    EXPECT_FALSE(writer.write(Samples{{5, 6}}));
    EXPECT_FALSE(writer.close());
    EXPECT_NE(writer.error().find("nan.dat"), std::string::npos);
    // What was accepted before the refusal is kept; nothing of the refused block is.
    EXPECT_EQ(contents(path("nan.dat")), "1+2i\n");

    for (const auto bad : {std::complex<double>(0, 3e9), std::complex<double>(-3e9, 0),
                           std::complex<double>(0, HUGE_VAL)}) {
        RecordingWriter other;
        ASSERT_TRUE(other.open(path("big.dat"), std::nullopt));
        EXPECT_FALSE(other.write(&bad, 1)) << bad;
    }
}
