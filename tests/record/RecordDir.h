#pragma once

// A fresh directory for each recording test, removed after it, and what the tests need to
// put files there and look at them.

#include "record/RecordingFormat.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using Samples = std::vector<std::complex<double>>;

class RecordDir : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrix-record-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

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
    std::size_t files() const {
        const std::filesystem::directory_iterator all(dir);
        return static_cast<std::size_t>(std::distance(begin(all), end(all)));
    }

    std::string dir;
};

inline auto fields(const tavrix::record::RecordingHeader& h) {
    return std::tuple(h.centerFrequencyHz, h.sweepTimeMs, h.samplesPerSweep, h.modeValue);
}
