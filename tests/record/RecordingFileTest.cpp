// The text recording format, the numbers around it, and giving a finished recording its name.

#include "record/RecordingMove.h"
#include "record/RecordingReader.h"
#include "record/RecordingWriter.h"
#include "tests/record/RecordDir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

using namespace tavrix::record;
namespace fs = std::filesystem;

namespace {

class RecordingFile : public RecordDir {};
class RecordingMove : public RecordDir {
protected:
    // Larger than one copy chunk, so a copy takes several rounds.
    std::string text = std::string((3u << 19) - 1, '7') + "\n";
};

const RecordingHeader kSawtooth{24e9, 1.0, 1024, 250e6};

} // namespace

TEST_F(RecordingFile, HeaderFollowsTheModeAndSamplesAreTruncated) {
    // The extremes of int survive.
    const Samples samples{
        {40000.0, 12.0}, {1.9, 2.99}, {-1.7, -0.5}, {-2147483648.0, 2147483647.0}};
    const Samples truncated{{40000, 12}, {1, 2}, {-1, 0}, {-2147483648.0, 2147483647.0}};
    const std::string body = "40000+12i\n1+2i\n-1+0i\n-2147483648+2147483647i\n";
    // The fourth number: bandwidth in FMCW sawtooth, tone spacing in FSK, 0 in CW; the
    // triangle and unknown modes have no header at all.
    const std::pair<unsigned, std::string> modes[] = {
        {0, "24125000000.000000\n0.500000\n128\n2000000000.000000\n"},
        {2, "24125000000.000000\n0.500000\n128\n6000000.000000\n"},
        {3, "24125000000.000000\n0.500000\n128\n0.000000\n"},
        {1, ""}};
    for (const auto& [mode, header] : modes) {
        const std::string file = path("mode" + std::to_string(mode) + ".dat");
        const auto written = headerForMode(mode, 24.125e9, 0.5, 128, 2e9);
        std::string error;
        ASSERT_TRUE(writeRecording(file, written, samples, error)) << error;
        EXPECT_EQ(contents(file), header + body) << "mode " << mode;

        Recording back;
        ASSERT_TRUE(readRecording(file, back, error)) << error;
        ASSERT_EQ(back.header.has_value(), !header.empty());
        if (back.header) {
            EXPECT_EQ(fields(*back.header), fields(*written));
        }
        EXPECT_EQ(back.samples, truncated);
    }
}

TEST_F(RecordingFile, ReadsWindowsLineEndsAndRejectsMalformedFilesNamingTheLine) {
    Recording rec;
    std::string error;
    ASSERT_TRUE(
        readRecording(put("crlf.dat", "2.4e10\r\n1\r\n256\r\n0\r\n3+-4i\r\n5+6i\r\n"), rec, error))
        << error;
    EXPECT_EQ(rec.header.value().samplesPerSweep, 256);
    EXPECT_EQ(rec.samples, (Samples{{3, -4}, {5, 6}}));

    const std::string header = "24000000000.000000\n1.000000\n1024\n250000000.000000\n";
    const std::pair<std::string, int> cases[] = {
        {"24e9\n1\n", 3},                              // file ends inside the header
        {header + "1+2i\n2147483648+0i\n", 6},         // beyond int
        {"1+2i\n" + std::string(2000, '7') + "\n", 2}, // absurdly long line
        {"1+2i\n3+4i\n5+6i\n24e9\n1\n1024\n0\n", 4},   // header after samples
    };
    for (const auto& [text, line] : cases) {
        const std::string file = put("bad.dat", text);
        rec = Recording{RecordingHeader{}, Samples{{1, 1}}};
        EXPECT_FALSE(readRecording(file, rec, error)) << text;
        EXPECT_NE(error.find(file + ": line " + std::to_string(line) + ":"), std::string::npos)
            << "text: " << text.substr(0, 60) << "\nerror: " << error;
        EXPECT_FALSE(rec.header);
        EXPECT_TRUE(rec.samples.empty());
    }
}

TEST_F(RecordingFile, AFullDiskAndSamplesWithoutAnIntegerFormFailTheWrite) {
    // A long recording fails while it is written, not only at the end.
    RecordingWriter full;
    ASSERT_TRUE(full.open("/dev/full", kSawtooth));
    EXPECT_FALSE(full.write(Samples(100000, {65535.0, 32767.0})));
    EXPECT_NE(full.error().find(std::strerror(ENOSPC)), std::string::npos) << full.error();
    EXPECT_FALSE(full.close());

    RecordingWriter writer;
    ASSERT_TRUE(writer.open(path("nan.dat"), std::nullopt));
    ASSERT_TRUE(writer.write(Samples{{1, 2}}));
    EXPECT_FALSE(writer.write(Samples{{3, 4}, {std::nan(""), 0}}));
    EXPECT_FALSE(writer.close());
    EXPECT_NE(writer.error().find("nan.dat"), std::string::npos);
    // What was accepted before the refusal is kept; nothing of the refused block is.
    EXPECT_EQ(contents(path("nan.dat")), "1+2i\n");
}

TEST(RecordingNumbers, SampleCountCoversTheDurationInWholeSweepsAndNamesAreLocalTime) {
    EXPECT_EQ(recordedSampleCount(15, 1024000, 1024), 15360000);
    EXPECT_EQ(recordedSampleCount(1.0, 1000.0, 128), 1024); // rounds up to a whole sweep
    EXPECT_EQ(recordedSampleCount(1e6, 2048000, 1024), 2048000000000LL); // beyond 32 bits
    const std::tuple<double, double, std::uint32_t> absurd[] = {
        {0, 1024000, 1024}, {std::nan(""), 1e6, 1024}, {1e12, 1024000, 1024}};
    for (const auto& [seconds, rate, perSweep] : absurd)
        EXPECT_FALSE(recordedSampleCount(seconds, rate, perSweep)) << seconds << ", " << rate;

    // An offset of +05:45 (POSIX rule, no time-zone database needed) exposes any use of UTC.
    ::setenv("TZ", "XNT-5:45", 1);
    ::tzset();
    std::tm local{};
    ASSERT_TRUE(::strptime("2026-12-05 16:33:07", "%Y-%m-%d %H:%M:%S", &local));
    local.tm_isdst = -1;
    EXPECT_EQ(defaultRecordingName(std::mktime(&local)), "2026-12-05-16-33-07.dat");
}

TEST_F(RecordingMove, ReplacesFilesWritesThroughLinksAndCopiesAcrossFileSystems) {
    const std::string part = put("a.part", text), old = put("old.dat", "1+1i\n");
    std::string error;
    ASSERT_TRUE(moveRecording(part, old, error)) << error;
    EXPECT_EQ(contents(old), text);
    EXPECT_FALSE(fs::exists(part));

    // A link the user picked keeps pointing where it did; the recording lands there.
    const std::string target = put("target.dat", "2+2i\n");
    fs::create_symlink(target, path("link.dat"));
    put("a.part", text);
    ASSERT_TRUE(moveRecording(part, path("link.dat"), error)) << error;
    EXPECT_TRUE(fs::is_symlink(path("link.dat")));
    EXPECT_EQ(contents(target), text);
    EXPECT_FALSE(fs::exists(part));

    // /dev/shm is a file system of its own on most machines; elsewhere this is a rename.
    char pattern[] = "/dev/shm/tavrix-move-XXXXXX";
    if (!::mkdtemp(pattern))
        GTEST_SKIP() << "no /dev/shm";
    const std::string shm = std::string(pattern) + "/a.part";
    std::ofstream(shm, std::ios::binary) << text;
    const bool moved = moveRecording(shm, path("far.dat"), error);
    const bool partLeft = fs::exists(shm);
    fs::remove_all(pattern);
    ASSERT_TRUE(moved) << error;
    EXPECT_EQ(contents(path("far.dat")), text);
    EXPECT_FALSE(partLeft);
}

TEST_F(RecordingMove, FailureKeepsTheRecordingAndSaysWhy) {
    const std::string part = put("a.part", text);
    const std::pair<std::string, std::string> cases[] = {
        {path("missing/x.dat"), "No such file or directory"},
        // A device that fills up is written to, never replaced; its node stays.
        {"/dev/full", "No space left on device"},
        {dir, "Is a directory"},
    };
    for (const auto& [to, reason] : cases) {
        std::string error;
        EXPECT_FALSE(moveRecording(part, to, error));
        EXPECT_NE(error.find(to), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(contents(part), text);
    }
    struct stat node {};
    EXPECT_TRUE(::stat("/dev/full", &node) == 0 && S_ISCHR(node.st_mode));
}
