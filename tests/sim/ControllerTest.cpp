// The board streams only once the controller runs the FIFO set-up program, loaded while the
// core was held in reset.

#include "BoardHelpers.h"

#include <gtest/gtest.h>

using namespace simtest;

namespace {

const std::uint16_t kWord = OperatingWord(0, 1, 0, 0);

bool streams(sim::EmulatedBoard& board) {
    return command(board, kWord) && read(board, 8704).size() == 4352;
}

} // namespace

TEST(SimController, StreamsOnlyAfterTheProgramRunsFromInsideTheHeldCore) {
    Bench bench(quietScene(0, {}), false);
    sim::EmulatedBoard& board = *bench.board;
    EXPECT_FALSE(command(board, kWord)) << "endpoint 2 must NAK without a program";
    std::uint8_t cpucs = 0;
    ASSERT_TRUE(board.control({0xC0, 0xA0, 0xE600, 0, 1}, &cpucs));
    EXPECT_EQ(cpucs, 0x03) << "held in reset at power-on";

    // Released with garbage, then written under the running core: still no stream.
    cpucs = 0x02;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &cpucs));
    for (HexRecord r : program())
        board.control({0x40, 0xA0, static_cast<std::uint16_t>(r[1] << 8 | r[2]), 0, r[0]},
                      r.data() + 4);
    EXPECT_FALSE(streams(board)) << "written under a running core";

    ASSERT_EQ(bench.device.DownloadFirmware(program()), static_cast<int>(program().size()));
    EXPECT_TRUE(board.controller().fifosReady()) << board.controller().diagnosis();
    EXPECT_TRUE(streams(board));
    EXPECT_EQ(board.acquisition().wordsReceived().back(), kWord);
    // Only the reset bit answers a CPUCS write: the program's clock bits stay.
    std::uint8_t probe = 0xFE;
    ASSERT_TRUE(board.control({0x40, 0xA0, 0xE600, 0, 1}, &probe));
    EXPECT_EQ(board.controller().reg(0xE600), 0x12);

    // A later corrupted download stops the stream again.
    ASSERT_GT(bench.device.DownloadFirmware(program(0x00B2, 0x00)), 0); // PA7 no chip select
    EXPECT_FALSE(streams(board));
}

TEST(SimController, CorruptedProgramsDoNotStreamAndSayWhy) {
    std::vector<HexRecord> missingStart = program();
    missingStart.erase(missingStart.begin() + 1); // the record at 0x00B8
    const std::tuple<const char*, std::vector<HexRecord>, const char*> cases[] = {
        {"endpoint 6 set up as OUT", program(0x0029, 0xA0), "endpoint 6"},
        {"a no-op turned into an unknown instruction", program(0x0009, 0xA5), "0xA5 at 0x0009"},
        {"the start-up record missing", missingStart, "at 0x00B8"},
    };
    for (const auto& [what, records, diagnosis] : cases) {
        Bench bench(quietScene(0, {}), false);
        ASSERT_GT(bench.device.DownloadFirmware(records), 0) << what;
        const std::string why = bench.board->controller().diagnosis();
        EXPECT_NE(why.find(diagnosis), std::string::npos) << what << ": " << why;
        EXPECT_FALSE(streams(*bench.board)) << what;
    }
}

TEST(SimController, EndpointZeroRequestsReachOnlyWhatTheBoardHas) {
    Bench bench(quietScene(0, {}), false);
    sim::EmulatedBoard& board = *bench.board;
    std::uint8_t buf[16] = {1, 2, 3};
    EXPECT_TRUE(board.control({0x40, 0xA0, 0x3FF0, 0, 16}, buf));
    EXPECT_FALSE(board.control({0x40, 0xA0, 0x3FF8, 0, 16}, buf)) << "runs past RAM";
    EXPECT_FALSE(board.control({0x40, 0xA1, 0x0000, 0, 1}, buf)) << "unknown vendor request";
    board.faults.failControlRequests = true;
    EXPECT_FALSE(board.control({0xC0, 0xA0, 0x0000, 0, 1}, buf));
}
