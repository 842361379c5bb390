// Whole acquisition ticks of the main window, each chain in its display modes: ReadStream on
// raw words recorded from the emulated board beforehand (so the board's synthesis is not
// timed), then the paint the tick asks for, on a window shown offscreen at a laptop's size.

#include "app/Tavrix.h"
#include "sim/Scene.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr std::uint8_t kStreamEndpoint = 0x86;

// Serves reads of the sample stream from recordings of earlier reads of the same length,
// in turn, once recording is over; every other request goes to the emulated board.
class ReplayDriver : public ForwardingDriver {
public:
    explicit ReplayDriver(UsbDriver& board) : ForwardingDriver(board) {}

    bool replaying = false;

    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override {
        if (endpoint != kStreamEndpoint)
            return ForwardingDriver::beginTransfer(handle, endpoint, data, length, isoPacketSize);
        Reads& reads = recorded[length];
        if (replaying && !reads.words.empty()) {
            const std::vector<std::uint8_t>& read = reads.words[reads.next++ % reads.words.size()];
            std::memcpy(data, read.data(), read.size());
            const UsbTransferId id = nextReplayId++;
            replayed[id] = static_cast<std::uint32_t>(read.size());
            return {UsbBeginState::Completed, id};
        }
        const UsbBegin begin =
            ForwardingDriver::beginTransfer(handle, endpoint, data, length, isoPacketSize);
        pending[begin.id] = {data, length};
        return begin;
    }
    UsbWait waitTransfer(UsbTransferId id, std::uint32_t timeoutMs) override {
        if (replayed.count(id))
            return UsbWait::Completed;
        return ForwardingDriver::waitTransfer(id, timeoutMs);
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override {
        if (const auto r = replayed.find(id); r != replayed.end()) {
            UsbTransferResult result;
            result.collected = true;
            result.bytes = r->second;
            replayed.erase(r);
            return result;
        }
        const UsbTransferResult result = ForwardingDriver::finishTransfer(id, isoPackets);
        if (const auto p = pending.find(id); p != pending.end()) {
            if (result.succeeded())
                recorded[p->second.length].words.emplace_back(p->second.data,
                                                              p->second.data + result.bytes);
            pending.erase(p);
        }
        return result;
    }

private:
    struct Reads {
        std::vector<std::vector<std::uint8_t>> words;
        std::size_t next = 0;
    };
    struct Pending {
        std::uint8_t* data;
        std::uint32_t length;
    };
    std::map<std::uint32_t, Reads> recorded;
    std::map<UsbTransferId, Pending> pending;
    std::map<UsbTransferId, std::uint32_t> replayed;
    UsbTransferId nextReplayId = UsbTransferId{1} << 62;
};

struct Settings {
    QRadioButton* Ui::Tavrix::*operatingMode;
    QPushButton* Ui::Tavrix::*displayMode;
    int sampleWindow = -1; // index of the samples-per-sweep list, -1 as it starts
    int sweepCount = 0;    // of the range-velocity chains, 0 as it starts
};

// Distinct reads to cycle through, so that clutter cancellation sees a changing scene.
constexpr int kRecordedTicks = 4;

void Tick(benchmark::State& state, Settings settings) {
    auto board = sim::SimUsbDriver::withBoard(sim::defaultScene(), false);
    ReplayDriver driver(*board);
    Tavrix window(driver);
    window.resize(1366, 768);
    window.show();
    Ui::Tavrix& ui = window.ui;
    const auto click = [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); };
    click(ui.buttonActivateDevice);
    click(ui.*settings.operatingMode);
    if (settings.sampleWindow >= 0)
        ui.comboPSampleWindow->setCurrentIndex(settings.sampleWindow);
    if (settings.sweepCount > 0)
        ui.spinBoxDopplerQueue->setValue(settings.sweepCount);
    click(ui.*settings.displayMode);
    if (!ui.buttonActivateDevice->isChecked() || !window.acquisitionTimer) {
        state.SkipWithError("the window did not start streaming");
        return;
    }
    window.acquisitionTimer->stop(); // ticks come from the benchmark loop only
    const auto tick = [&window] {
        window.ReadStream();
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < kRecordedTicks; ++i)
        tick();
    driver.replaying = true;
    for (auto _ : state)
        tick();
    if (!ui.buttonActivateDevice->isChecked())
        state.SkipWithError("a read failed");
}

using U = Ui::Tavrix;
const Settings kFmcwRange{&U::radioOperationMode_1, &U::radioSpectrumDisplay_1};
const Settings kFmcwRangeWaterfall{&U::radioOperationMode_1, &U::radioSpectrumDisplay_5};
const Settings kFmcwMap{&U::radioOperationMode_1, &U::radioSpectrumDisplay_3};
const Settings kFmcwMapLargest{&U::radioOperationMode_1, &U::radioSpectrumDisplay_3, 3, 1024};
const Settings kFmcwVelocityWaterfall{&U::radioOperationMode_1, &U::radioSpectrumDisplay_4};
const Settings kCwScope{&U::radioOperationMode_5, &U::radioSpectrumDisplay_2};
const Settings kCwWaterfall{&U::radioOperationMode_5, &U::radioSpectrumDisplay_4};
const Settings kFskScope{&U::radioOperationMode_4, &U::radioSpectrumDisplay_2};
const Settings kFskWaterfall{&U::radioOperationMode_4, &U::radioSpectrumDisplay_4};

constexpr int kRepetitions = 5;

} // namespace

#define TAVRIX_TICK(name, settings)                                                                \
    BENCHMARK_CAPTURE(Tick, name, settings)                                                        \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->Repetitions(kRepetitions)                                                                \
        ->ReportAggregatesOnly(true)

TAVRIX_TICK(FmcwRangeScope, kFmcwRange);
TAVRIX_TICK(FmcwRangeWaterfall, kFmcwRangeWaterfall);
TAVRIX_TICK(FmcwRangeVelocityMap, kFmcwMap);
TAVRIX_TICK(FmcwRangeVelocityMapLargest, kFmcwMapLargest);
TAVRIX_TICK(FmcwVelocityWaterfall, kFmcwVelocityWaterfall);
TAVRIX_TICK(CwVelocityScope, kCwScope);
TAVRIX_TICK(CwVelocityWaterfall, kCwWaterfall);
TAVRIX_TICK(FskVelocityScope, kFskScope);
TAVRIX_TICK(FskVelocityWaterfall, kFskWaterfall);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
