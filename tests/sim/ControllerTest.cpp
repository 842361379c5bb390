// The board streams only once the controller runs the FIFO set-up program, loaded while the
// core was held in reset.

#include "BoardHelpers.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

sim::Scene scene() {
    return quietScene(0, {{"t", 10, 0, 1000, 1, 90}});
}

bool streams(sim::EmulatedBoard& board) {
    if (!command(board, word(0, 0)))
        return false;
    return read(board, 8704).size() == 4352;
}

std::vector<Record> patched(std::uint16_t address, std::uint8_t value) {
    std::vector<Record> records = controllerProgram();
    for (Record& r : records)
        if (address >= r.address && address < r.address + r.bytes.size())
            r.bytes[address - r.address] = value;
    return records;
}

} // namespace

TEST(SimController, StreamsOnlyAfterTheProgramRuns) {
    Bench bench(scene(), false);
    sim::EmulatedBoard& board = *bench.board;
    EXPECT_TRUE(board.controller().inReset());
    EXPECT_FALSE(command(board, word(0, 0))) << "endpoint 2 must NAK without a program";
    EXPECT_TRUE(read(board, 8704).empty());

    download(board, controllerProgram());
    EXPECT_TRUE(board.controller().fifosReady()) << board.controller().diagnosis();
    EXPECT_EQ(board.controller().ep6BufferBytes(), 2048u);
    // The program's own register writes, as the core executed them.
    EXPECT_EQ(board.controller().reg(0xE600), 0x12);
    EXPECT_EQ(board.controller().reg(0xE601), 0xCB);
    EXPECT_EQ(board.controller().reg(0xE604), 0x00);
    EXPECT_EQ(board.controller().reg(0xE670), 0x40);
    EXPECT_TRUE(streams(board));
    EXPECT_EQ(board.acquisition().wordsReceived().back(), word(0, 0));

    // The host's CPUCS read-modify-write: only the reset bit answers it.
    const auto& log = board.vendorRequests();
    ASSERT_GE(log.size(), 16u);
    EXPECT_EQ(log.front().setup.requestType, 0xC0);
    EXPECT_EQ(log.front().data, std::vector<std::uint8_t>{0x03});
    std::uint8_t probe = 0xFE;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &probe));
    EXPECT_EQ(board.controller().reg(0xE600), 0x12);
}

TEST(SimController, CorruptedOrMisloadedProgramsDoNotStream) {
    struct Case {
        const char* what;
        std::vector<Record> records;
        const char* diagnosis;
    };
    std::vector<Record> missingClear = controllerProgram();
    missingClear.erase(missingClear.begin() + 1); // the record at 0x00B8
    std::vector<Record> truncated = controllerProgram();
    truncated.back().bytes.pop_back(); // the RET
    const std::vector<Case> cases{
        {"endpoint 6 set up as OUT", patched(0x0029, 0xA0), "endpoint 6"},
        {"FIFO reset left refusing transfers", patched(0x005E, 0x00), "refuse"},
        {"a no-op turned into an unknown instruction", patched(0x0009, 0xA5), "0xA5 at 0x0009"},
        {"the start-up record missing", missingClear, "at 0x00B8"},
        {"the return missing", truncated, "at 0x00B7"},
    };
    for (const Case& c : cases) {
        Bench bench(scene(), false);
        download(*bench.board, c.records);
        EXPECT_FALSE(bench.board->controller().fifosReady()) << c.what;
        EXPECT_NE(bench.board->controller().diagnosis().find(c.diagnosis), std::string::npos)
            << c.what << ": " << bench.board->controller().diagnosis();
        EXPECT_FALSE(streams(*bench.board)) << c.what;
    }
}

TEST(SimController, ProgramMustBeLoadedWhileTheCoreIsHeld) {
    Bench bench(scene(), false);
    sim::EmulatedBoard& board = *bench.board;
    std::uint8_t run = 0x02;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &run)); // released with garbage
    EXPECT_FALSE(board.controller().fifosReady());
    for (Record r : controllerProgram())
        board.control({0x40, 0xA0, r.address, 0, static_cast<std::uint16_t>(r.bytes.size())},
                      r.bytes.data());
    EXPECT_FALSE(streams(board)) << "written under a running core";

    // A good download recovers, and a later corrupted one stops the stream again.
    download(board, controllerProgram());
    EXPECT_TRUE(streams(board));
    download(board, patched(0x00B2, 0x00)); // PORTACFG without the chip select
    EXPECT_FALSE(streams(board));
}

TEST(SimController, FirmwareRequestsReachOnlyRamAndCpucs) {
    Bench bench(scene(), false);
    sim::EmulatedBoard& board = *bench.board;
    std::uint8_t buf[16] = {1, 2, 3};
    EXPECT_TRUE(board.control({0x40, 0xA0, 0x3FF0, 0, 16}, buf));
    EXPECT_TRUE(board.control({0xC0, 0xA0, 0xE1F0, 0, 16}, buf));
    EXPECT_FALSE(board.control({0x40, 0xA0, 0x3FF8, 0, 16}, buf)) << "runs past RAM";
    EXPECT_FALSE(board.control({0xC0, 0xA0, 0xE601, 0, 1}, buf)) << "not CPUCS";
    EXPECT_FALSE(board.control({0xC0, 0xA0, 0xE600, 0, 2}, buf));
    EXPECT_FALSE(board.control({0x40, 0xA1, 0x0000, 0, 1}, buf)) << "unknown vendor request";
    board.faults.failControlRequests = true;
    EXPECT_FALSE(board.control({0xC0, 0xA0, 0x0000, 0, 1}, buf));
}
