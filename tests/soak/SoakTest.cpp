// The whole program on an unpaced emulated board for thousands of acquisition cycles, with
// the user changing controls at random between cycles and the board, the cable and the USB
// stack failing at random. Every failure must end in the message the program defines for it
// and in the idle state, a board plugged back in must stream again, nothing may be used after
// it was deleted (the sanitizer build) and resident memory must not creep.
//
// TAVRIX_SOAK_TICKS sets the number of cycles (20000 by default), TAVRIX_SOAK_SEED the seed.
#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <qwt_slider.h>

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// Resident memory in bytes, after handing freed heap back to the system so that only what
// is still allocated counts.
double residentBytes() {
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Tells the soak when the program looks at the bus: whether it has done so since a board
// was plugged in or out, and whether it could read the board when it did.
class SoakDriver : public ForwardingDriver {
public:
    using ForwardingDriver::ForwardingDriver;
    int enumerations = 0;
    std::function<void()> enumerating;
    int countDevices() override {
        ++enumerations;
        if (enumerating)
            enumerating();
        return ForwardingDriver::countDevices();
    }
};

enum Fault { Unplug, Timeout, ShortRead, NoFrameFlag, FailControl, FailWrite, RefuseInterface };
constexpr int kFaultKinds = 7;
constexpr const char* kFaultNames[kFaultKinds] = {
    "unplug", "time-out", "short read", "no frame flag", "control", "write", "alternate setting"};

const QString kInterfaceError = QStringLiteral("Error: Interface cound not be set!");
const QStringList kFailureA = {kInterfaceError, QStringLiteral("Error: Could not find endpoint 2!"),
                               QStringLiteral("Error: Could not find endpoint 6!")};
const QStringList kFailureB = {QStringLiteral("Error: Firmware Update Failed!"),
                               QStringLiteral("Error: Unable to set operating parameters")};

class Soak {
public:
    Soak(std::uint64_t seed) : rng(seed) {
        board = &driver.attach(std::make_shared<sim::EmulatedBoard>(
            sim::defaultScene(), std::make_shared<sim::VirtualClock>()));
        // The handle an enumeration leaves behind reads nothing when the board could not
        // be opened: gone, or refusing the descriptor requests.
        forwarding.enumerating = [this] {
            boardLost = !board->plugged() || board->faults.failControlRequests;
        };
        window = std::make_unique<Tavrix>(forwarding);
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                         [this](const QString& m) { messages << m; });
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& q) {
            const QString answer = answers.empty() ? QString() : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer.isEmpty() || !answer.endsWith(QLatin1Char('.'))
                       ? answer
                       : answer + QFileInfo(q.proposedName).suffix();
        };
    }

    // One step: perhaps a fault comes or goes, the user does a thing or two, and the
    // acquisition timer ticks if it runs.
    void step() {
        ++steps;
        updateFaults();
        const int actions = pick(0, 2);
        for (int i = 0; i < actions; ++i)
            userAction();
        for (int i = 0; i < 4 && !streaming(); ++i)
            userAction();
        if (streaming())
            tick();
        if (steps % 64 == 0)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Brings the program to one fixed state by way of every mode at its largest, so that
    // plans, buffers and histories have reached their working size. Memory is compared
    // between two such states, before and after the random run.
    void settle() {
        clearFaults();
        for (int i = 0; i < 3 && !streaming(); ++i)
            activateFresh();
        ASSERT_TRUE(streaming()) << where();
        act("settle");
        Ui::Tavrix& ui = window->ui;
        for (QComboBox* c : {ui.device_centerFrequency, ui.comboPBandwidth, ui.comboPSweepTime,
                             ui.WaterfallRasterDataColor, ui.WaterfallRasterDataMethod})
            c->setCurrentIndex(0);
        for (QCheckBox* c :
             {ui.filterOptionDCSubtract, ui.filterOptionHammingWindow, ui.filterOptionIQAmplitude,
              ui.isRangeWeighting, ui.DynamicRange_Maximum_EN, ui.DynamicRange_Minimum_EN})
            c->setChecked(true);
        ui.filterOptionDirectClutterAverage->setChecked(true);
        ui.filterOptionDirectClutterAvgCount->setValue(16);
        ui.spinBoxPUpdateRate->setValue(100);
        ui.spinBoxDopplerQueue->setValue(kMaxSweeps);
        ui.SpectrogramRows->setValue(ui.SpectrogramRows->maximum());
        for (QRadioButton* mode :
             {ui.radioOperationMode_1, ui.radioOperationMode_4, ui.radioOperationMode_5}) {
            click(mode);
            for (int samples = 0; samples < 4; ++samples) {
                ui.comboPSampleWindow->setCurrentIndex(samples);
                for (QAbstractButton* display :
                     {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2,
                      ui.radioSpectrumDisplay_3, ui.radioSpectrumDisplay_4,
                      ui.radioSpectrumDisplay_5}) {
                    click(display);
                    for (int k = 0; k < 3 && streaming(); ++k)
                        tick();
                }
            }
        }
        EXPECT_TRUE(streaming()) << where();
        record();
        exportPlot();
        click(ui.radioOperationMode_1);
        click(ui.radioSpectrumDisplay_3);
        tick();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void summary(std::optional<double> growthMb) const {
        char growth[64] = "not measured (sanitizer build)";
        if (growthMb)
            std::snprintf(growth, sizeof growth, "%.2f MB", *growthMb);
        std::string faults;
        for (int k = 0; k < kFaultKinds; ++k)
            faults +=
                std::string(k ? ", " : "") + kFaultNames[k] + " " + std::to_string(injected[k]);
        std::printf("soak: %llu ticks, %llu steps; faults injected: %s; failures handled: %d "
                    "(%d in cycles, %d in recordings, %d in activations); activations %d, of "
                    "which %d after a re-plug; %d recordings, %d exports; resident memory "
                    "growth %s\n",
                    static_cast<unsigned long long>(ticks), static_cast<unsigned long long>(steps),
                    faults.c_str(), cycleFailures + recordFailures + activationFailures,
                    cycleFailures, recordFailures, activationFailures, activations, reactivations,
                    recordings, exports, growth);
        std::fflush(stdout);
    }

    std::uint64_t ticks = 0;

private:
    static constexpr int kMaxSweeps = 256;

    // --- Random choices ----------------------------------------------------------------------
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
    template <typename T> T oneOf(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(pick(0, static_cast<int>(items.size()) - 1))];
    }

    // --- Faults -------------------------------------------------------------------------------
    void setFault(int kind, bool on) {
        active[kind] = on ? pick(1, 12) : 0;
        switch (kind) {
        case Unplug:
            on ? board->unplug() : board->plug();
            enumerationsAtPlug = forwarding.enumerations;
            replugged = replugged || !on;
            break;
        case Timeout:
            board->faults.noData = on;
            break;
        case ShortRead:
            // Too little for even the smallest frame after the 4096 bytes every read skips.
            board->faults.shortRead =
                on ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(pick(0, 4607)))
                   : std::nullopt;
            break;
        case NoFrameFlag:
            board->faults.noFrameFlag = on;
            break;
        case FailControl:
            board->faults.failControlRequests = on;
            break;
        case FailWrite:
            forwarding.refuseTransfer =
                on ? std::function<bool(std::uint8_t)>([](std::uint8_t ep) { return ep == 0x02; })
                   : nullptr;
            break;
        case RefuseInterface:
            board->faults.refuseAltSetting = on;
            break;
        }
        if (on)
            ++injected[kind];
        note(std::string(on ? "+" : "-") + kFaultNames[kind]);
    }
    void updateFaults() {
        for (int k = 0; k < kFaultKinds; ++k)
            if (active[k] > 0 && --active[k] == 0)
                setFault(k, false);
        if (chance(0.03)) {
            const int kind = pick(0, kFaultKinds - 1);
            if (!active[kind])
                setFault(kind, true);
        }
    }
    void clearFaults() {
        for (int k = 0; k < kFaultKinds; ++k)
            if (active[k])
                setFault(k, false);
    }
    bool on(int kind) const { return active[kind] > 0; }
    // Faults under which no frame can be read.
    bool readsFail() const {
        return on(Unplug) || on(Timeout) || on(ShortRead) || on(NoFrameFlag) || boardLost;
    }
    // A board whose command block got lost streams with the parameters it had: a read sized
    // and timed for the new ones may fail.
    bool readsMayFail() const { return readsFail() || on(FailWrite); }
    std::string faultList() const {
        std::string s;
        for (int k = 0; k < kFaultKinds; ++k)
            if (on(k))
                s += std::string(s.empty() ? "" : ", ") + kFaultNames[k];
        if (boardLost)
            s += std::string(s.empty() ? "" : ", ") + "board not open";
        return s.empty() ? "none" : s;
    }

    // --- State -----------------------------------------------------------------------------------
    bool streaming() const {
        return window->acquisitionTimer != nullptr && window->acquisitionTimer->isActive();
    }
    bool controlsEnabled() const {
        return window->ui.groupBox_3->isEnabled() && window->ui.DisplayProperties->isEnabled();
    }
    QString shown() const { return window->statusBar()->currentMessage(); }
    bool reachable(QWidget* w) const { return w->isEnabled() && w->isVisibleTo(window.get()); }
    static void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    std::string where() const {
        std::string recent;
        for (const std::string& e : events)
            recent += (recent.empty() ? "" : "; ") + e;
        return "step " + std::to_string(steps) + ", tick " + std::to_string(ticks) + ", action \"" +
               lastAction + "\", faults: " + faultList() + ", messages: [" +
               messages.join(QStringLiteral(" | ")).toStdString() + "], before: " + recent;
    }
    void act(const std::string& action) {
        lastAction = action;
        note(action);
    }
    // What happened lately, for the report of a broken invariant.
    void note(const std::string& event) {
        events.push_back(std::to_string(steps) + ": " + event);
        if (events.size() > 24)
            events.pop_front();
    }
    // The message shown by the cycle's chain when its frame read fails; none for the empty
    // triangle chain.
    QString chainFailure() const {
        switch (window->operatingMode) {
        case 0:
            if (window->displayMode == 1 || window->displayMode == 5)
                return QStringLiteral("Error: Did not receive requested number of samples.");
            if (window->displayMode >= 2 && window->displayMode <= 4)
                return QStringLiteral("Error: Did not receive the proper number of samples.");
            return {};
        case 2:
            return QStringLiteral("Error: Received wrong number of samples from radar.");
        case 3:
            return kInterfaceError;
        default:
            return {};
        }
    }
    // Idle after a failed read: stopped, "Activate" unchecked, the controls off, the device
    // list showing what is on the bus now.
    void expectStoppedAfterFailure(const QString& message) {
        // The reader's own message comes first; only the cycle time may follow it.
        EXPECT_EQ(messages.value(0).toStdString(), message.toStdString()) << where();
        EXPECT_FALSE(streaming()) << where();
        EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked()) << where();
        EXPECT_FALSE(controlsEnabled()) << where();
        // A board that stalls every control request cannot tell who it is.
        const bool listed = board->plugged() && !on(FailControl);
        EXPECT_EQ(window->ui.comboDevices->itemText(0).toStdString(),
                  listed ? "Velmora USB SDR" : "No Devices Found")
            << where();
        EXPECT_EQ(window->ui.buttonActivateDevice->isEnabled(), listed) << where();
    }

    // --- The acquisition cycle -------------------------------------------------------------
    void tick() {
        const QString failure = chainFailure();
        const bool mustFail = readsFail() && !failure.isEmpty();
        messages.clear();
        act("tick");
        window->ReadStream();
        ++ticks;
        if (streaming()) {
            EXPECT_TRUE(shown().startsWith("Update Time: ")) << where();
            EXPECT_FALSE(mustFail) << "a cycle read a frame it cannot have had; " << where();
            EXPECT_TRUE(window->ui.buttonActivateDevice->isChecked() && controlsEnabled())
                << where();
            return;
        }
        EXPECT_TRUE(readsMayFail()) << "a cycle failed without a fault; " << where();
        EXPECT_FALSE(failure.isEmpty()) << where();
        EXPECT_EQ(shown().toStdString(), failure.toStdString()) << where(); // not the cycle time
        expectStoppedAfterFailure(failure);
        ++cycleFailures;
    }

    // --- Activation ----------------------------------------------------------------------------
    void activateFresh() {
        if (!reachable(window->ui.buttonActivateDevice) ||
            forwarding.enumerations == enumerationsAtPlug)
            clickRefresh();
        clickActivate();
    }
    void clickRefresh() {
        act("refresh");
        click(window->ui.buttonRefreshDeviceList);
    }
    void clickActivate() {
        QPushButton* button = window->ui.buttonActivateDevice;
        if (!button->isEnabled())
            return;
        act(button->isChecked() ? "deactivate" : "activate");
        messages.clear();
        const bool wasChecked = button->isChecked();
        const bool fresh =
            forwarding.enumerations > enumerationsAtPlug && board->plugged() && !boardLost;
        click(button);
        if (wasChecked) {
            EXPECT_EQ(shown().toStdString(), "Device disabled") << where();
            EXPECT_FALSE(streaming() || button->isChecked() || controlsEnabled()) << where();
            EXPECT_EQ(window->ui.DisplayProperties->currentIndex(), 4) << where();
            return;
        }
        ++activations;
        const QString last = shown();
        if (streaming()) {
            EXPECT_TRUE(messages.contains(QStringLiteral("Device Streaming...")) &&
                        button->isChecked() && controlsEnabled())
                << where();
            if (replugged) {
                ++reactivations;
                replugged = false;
            }
        } else if (button->isChecked()) {
            EXPECT_TRUE(kFailureB.contains(last)) << where();
            EXPECT_FALSE(controlsEnabled()) << where();
            ++activationFailures;
        } else {
            EXPECT_TRUE(kFailureA.contains(last)) << where();
            EXPECT_FALSE(controlsEnabled()) << where();
            ++activationFailures;
        }
        if (!fresh)
            return; // a stale handle may fail in any of the defined ways
        if (on(RefuseInterface)) {
            EXPECT_EQ(last.toStdString(), kInterfaceError.toStdString()) << where();
        } else if (on(FailControl)) {
            EXPECT_TRUE(last == kInterfaceError || last == kFailureB[0]) << where();
        } else if (on(FailWrite)) {
            EXPECT_EQ(last.toStdString(), kFailureB[1].toStdString()) << where();
        } else {
            EXPECT_TRUE(streaming()) << "a plugged-in board did not stream; " << where();
        }
    }

    // --- Recording and export --------------------------------------------------------------
    void record() {
        if (!reachable(window->ui.recordButtonStart) && !switchTo(window->ui.recordButtonStart))
            return;
        act("record");
        window->ui.recordTimeSeconds->setValue(1);
        const QString good = files.filePath("recording.dat");
        answers.clear();
        switch (pick(0, 3)) {
        case 0:
            break; // cancelled
        case 1:
            answers = {good};
            break;
        case 2:
            answers = {files.filePath("missing/recording.dat"), good};
            break;
        default:
            answers = {files.filePath("missing/recording.dat")};
            break;
        }
        const bool saves = !answers.empty() && answers.back() == good;
        const bool kept = saves || answers.empty(); // saved, or cancelled before any failure
        const bool mustFail = readsFail();
        const bool mayFail = readsMayFail();
        messages.clear();
        ++recordings;
        click(window->ui.recordButtonStart);
        const QString status = window->ui.recordStatus->text();
        if (!streaming()) {
            EXPECT_TRUE(mayFail) << "a recording failed without a fault; " << where();
            EXPECT_TRUE(status.startsWith("Error, ")) << status.toStdString() << "; " << where();
            expectStoppedAfterFailure(kInterfaceError);
            ++recordFailures;
            return;
        }
        EXPECT_FALSE(mustFail) << "a recording read what it cannot have had; " << where();
        EXPECT_EQ(QFileInfo::exists(good), saves) << where();
        EXPECT_TRUE(status.startsWith(kept ? "Good, " : "Not saved, "))
            << status.toStdString() << "; " << where();
        QFile::remove(good);
        answers.clear();
    }
    void exportPlot() {
        Ui::Tavrix& ui = window->ui;
        QAbstractButton* view = chance(0.5) ? ui.captureViewTop : ui.captureViewBottom;
        if (!reachable(view) && !switchTo(view))
            return;
        act("export");
        click(
            oneOf<QAbstractButton*>({ui.captureFormat_1, ui.captureFormat_2, ui.captureFormat_3}));
        const QString good = files.filePath("plot.");
        const int answer = pick(0, 2);
        answers.clear();
        if (answer == 1)
            answers = {good};
        else if (answer == 2)
            answers = {files.filePath("missing/plot.")};
        const bool wasStreaming = streaming();
        ++exports;
        click(view);
        EXPECT_EQ(streaming(), wasStreaming) << where();
        const QFileInfoList written = QDir(files.path()).entryInfoList({"plot.*"}, QDir::Files);
        EXPECT_EQ(written.size(), answer == 1 ? 1 : 0) << where();
        for (const QFileInfo& f : written) {
            EXPECT_GT(f.size(), 0) << where();
            QFile::remove(f.filePath());
        }
        const bool reported = window->exportStatus != nullptr && !window->exportStatus->isHidden();
        if (answer != 0) {
            EXPECT_EQ(reported, answer == 2) << where();
        }
        answers.clear();
    }
    // Opens the tool-box page holding `w`, as the user would before using it.
    bool switchTo(QWidget* w) {
        QToolBox* box = window->ui.DisplayProperties;
        if (!box->isEnabled())
            return false;
        for (int i = 0; i < box->count(); ++i)
            if (box->widget(i)->isAncestorOf(w)) {
                box->setCurrentIndex(i);
                return reachable(w);
            }
        return false;
    }

    // --- The user --------------------------------------------------------------------------------
    void userAction() {
        Ui::Tavrix& ui = window->ui;
        if (!streaming() && chance(0.7)) {
            // Mostly the user wants the stream back.
            if (ui.buttonActivateDevice->isChecked() || chance(0.5))
                clickActivate();
            else
                clickRefresh();
            return;
        }
        switch (pick(0, 14)) {
        case 0:
            clickActivate();
            break;
        case 1:
            clickRefresh();
            break;
        case 2:
        case 3: {
            QAbstractButton* b = oneOf<QAbstractButton*>(
                {ui.radioOperationMode_1, ui.radioOperationMode_4, ui.radioOperationMode_5});
            use(b, "operating mode", [&] { click(b); });
            break;
        }
        case 4:
        case 5: {
            QAbstractButton* b = oneOf<QAbstractButton*>(
                {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2, ui.radioSpectrumDisplay_3,
                 ui.radioSpectrumDisplay_4, ui.radioSpectrumDisplay_5});
            use(b, "display mode", [&] { click(b); });
            break;
        }
        case 6: {
            QComboBox* c =
                oneOf<QComboBox*>({ui.comboPBandwidth, ui.comboPSampleWindow, ui.comboPSweepTime,
                                   ui.device_centerFrequency, ui.WaterfallRasterDataColor,
                                   ui.WaterfallRasterDataMethod});
            use(c, "combo", [&] { c->setCurrentIndex(pick(0, c->count() - 1)); });
            break;
        }
        case 7: {
            QSlider* s = oneOf<QSlider*>({ui.DynamicRange_Maximum, ui.DynamicRange_Minimum,
                                          ui.rangeFilter_High, ui.rangeFilter_Low,
                                          ui.velocityFilter_High, ui.velocityFilter_Low});
            use(s, "slider", [&] { s->setValue(pick(s->minimum(), s->maximum())); });
            QwtSlider* t = ui.counterFSKDetectionThreshold;
            if (chance(0.2))
                use(t, "threshold", [&] {
                    t->setValue(std::uniform_real_distribution<double>(t->lowerBound(),
                                                                       t->upperBound())(rng));
                });
            break;
        }
        case 8: {
            // Sweep counts and durations are bounded so that the run stays within minutes.
            struct Spin {
                QSpinBox* box;
                int low, high;
            };
            const Spin s = oneOf<Spin>({{ui.SpectrogramRows, 8, 1024},
                                        {ui.filterOptionDirectClutterAvgCount, 2, 64},
                                        {ui.spinBoxDopplerQueue, 8, kMaxSweeps},
                                        {ui.spinBoxPUpdateRate, 10, 5000},
                                        {ui.recordTimeSeconds, 1, 1}});
            const int step = s.box->singleStep();
            use(s.box, "spin box",
                [&] { s.box->setValue(pick(s.low / step, s.high / step) * step); });
            break;
        }
        case 9:
        case 10: {
            QAbstractButton* b = oneOf<QAbstractButton*>(
                {ui.DR_Max_Minus, ui.DR_Max_Plus, ui.DR_Min_Minus, ui.DR_Min_Plus,
                 ui.rangeFilter_High_Minus, ui.rangeFilter_High_Plus, ui.rangeFilter_Low_Minus,
                 ui.rangeFilter_Low_Plus, ui.velocityFilter_High_Minus, ui.velocityFilter_High_Plus,
                 ui.velocityFilter_Low_Minus, ui.velocityFilter_Low_Plus});
            use(b, "step button", [&] { click(b); });
            break;
        }
        case 11: {
            QAbstractButton* b = oneOf<QAbstractButton*>(
                {ui.filterOptionDCSubtract, ui.filterOptionHammingWindow,
                 ui.filterOptionIQAmplitude, ui.isRangeWeighting, ui.DynamicRange_Maximum_EN,
                 ui.DynamicRange_Minimum_EN, ui.filterOptionDirectClutter,
                 ui.filterOptionDirectClutterAverage, ui.filterOptionDirectClutterDisabled});
            use(b, "filter", [&] { click(b); });
            break;
        }
        case 12:
            if (ui.DisplayProperties->isEnabled()) {
                act("tool-box page");
                ui.DisplayProperties->setCurrentIndex(pick(0, ui.DisplayProperties->count() - 1));
            }
            break;
        case 13:
            if (chance(0.08))
                record();
            break;
        default:
            if (chance(0.08))
                exportPlot();
            break;
        }
    }
    // Uses a control the way a user can: only when it is shown and enabled, opening its
    // tool-box page first when needed.
    void use(QWidget* w, const char* what, const std::function<void()>& action) {
        if (!reachable(w) && !(chance(0.5) && switchTo(w)))
            return;
        act(std::string(what) + " " + w->objectName().toStdString());
        action();
    }

    std::mt19937_64 rng;
    sim::SimUsbDriver driver;
    SoakDriver forwarding{driver};
    sim::EmulatedBoard* board = nullptr;
    std::unique_ptr<Tavrix> window;
    QTemporaryDir files;
    std::deque<QString> answers;
    QStringList messages;
    std::string lastAction;
    std::deque<std::string> events;

    std::array<int, kFaultKinds> active{};
    std::array<int, kFaultKinds> injected{};
    int enumerationsAtPlug = 0;
    bool boardLost = false;
    bool replugged = false;
    std::uint64_t steps = 0;
    int activations = 0;
    int reactivations = 0;
    int recordings = 0;
    int exports = 0;
    int cycleFailures = 0;
    int recordFailures = 0;
    int activationFailures = 0;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false; // the sanitizer's quarantine holds freed memory
#else
constexpr bool kMeasureMemory = true;
#endif

TEST(Soak, SurvivesRandomUseAndFaults) {
    const std::uint64_t ticks = envNumber("TAVRIX_SOAK_TICKS", 20000);
    Soak soak(envNumber("TAVRIX_SOAK_SEED", 13));
    soak.settle();
    const double before = kMeasureMemory ? residentBytes() : 0;
    const std::uint64_t first = soak.ticks;
    while (soak.ticks - first < ticks && !::testing::Test::HasFailure())
        soak.step();
    soak.settle();
    std::optional<double> growthMb;
    if (kMeasureMemory)
        growthMb = (residentBytes() - before) / (1024.0 * 1024.0);
    soak.summary(growthMb);
    if (growthMb) {
        EXPECT_LT(*growthMb, 5.0);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    // Qt's pool threads end when idle for a while; one ending while LeakSanitizer stops the
    // world at exit makes it fail. They are ended here instead.
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
