// Giving a finished recording its chosen name: what is replaced, what stays, and what a
// failure leaves behind.

#include "record/RecordingMove.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using tavrix::record::moveRecording;

namespace {

class RecordingMove : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-move-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        // Larger than one copy chunk, so a copy takes several rounds.
        for (int i = 0; text.size() < (3u << 19); ++i)
            text += std::to_string(40000 + i % 7) + "+" + std::to_string(i % 32768) + "i\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string put(const std::string& path, const std::string& contents) const {
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::string dir;
    std::string text;
};

TEST_F(RecordingMove, ReplacesFilesAndWritesThroughLinks) {
    const std::string part = put(dir + "/a.part", text);
    const std::string old = put(dir + "/old.dat", "1+1i\n");
    std::string error;
    ASSERT_TRUE(moveRecording(part, old, error)) << error;
    EXPECT_EQ(contents(old), text);
    EXPECT_FALSE(fs::exists(part));

    // A link the user picked keeps pointing where it did; the recording lands there.
    const std::string target = put(dir + "/target.dat", "2+2i\n");
    fs::create_symlink(target, dir + "/link.dat");
    put(part, text);
    ASSERT_TRUE(moveRecording(part, dir + "/link.dat", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir + "/link.dat"));
    EXPECT_EQ(contents(target), text);
    EXPECT_FALSE(fs::exists(part));
}

TEST_F(RecordingMove, CopiesAcrossFileSystems) {
    // /dev/shm is a file system of its own on most machines; elsewhere this is a rename.
    char pattern[] = "/dev/shm/tavrix-move-XXXXXX";
    if (!::mkdtemp(pattern))
        GTEST_SKIP() << "no /dev/shm";
    const std::string shm = pattern;
    const std::string part = put(shm + "/a.part", text);
    std::string error;
    const bool moved = moveRecording(part, dir + "/far.dat", error);
    const std::string copied = contents(dir + "/far.dat");
    const bool partLeft = fs::exists(part);
    fs::remove_all(shm);
    ASSERT_TRUE(moved) << error;
    EXPECT_EQ(copied, text);
    EXPECT_FALSE(partLeft);
}

TEST_F(RecordingMove, FailureKeepsTheRecordingAndSaysWhy) {
    const std::string part = put(dir + "/a.part", text);
    struct Case {
        std::string to;
        std::string reason;
    };
    const Case cases[] = {
        {dir + "/missing/x.dat", "No such file or directory"},
        // A device that fills up is written to, never replaced; its node stays.
        {"/dev/full", "No space left on device"},
        {dir, "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        std::string error;
        EXPECT_FALSE(moveRecording(part, c.to, error));
        EXPECT_NE(error.find(c.to), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(contents(part), text);
    }
    struct stat node {};
    ASSERT_EQ(::stat("/dev/full", &node), 0);
    EXPECT_TRUE(S_ISCHR(node.st_mode));
}

} // namespace
