// Recordings read in parts, end to end on an emulated board whose samples count up: the file
// continues the stream without gap or repeat, a stream that loses its alignment or a board
// that fails keeps nothing, the progress dialog cancels, the temporary file is moved to the
// chosen name or kept when it cannot be, and memory stays bounded.

#include "app/Tavrix.h"
#include "record/RecordingReader.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"
#include "tests/device/CounterSource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <sys/resource.h>

namespace {

using tavrix::record::Recording;

// Bytes of resident memory now.
std::int64_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            std::int64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

// Lets a test act after each completed read of the sample stream.
class StreamWatch : public ForwardingDriver {
public:
    using ForwardingDriver::ForwardingDriver;

    int reads = 0;
    std::function<void(int reads)> afterRead;

    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override {
        const UsbBegin begin =
            ForwardingDriver::beginTransfer(handle, endpoint, data, length, isoPacketSize);
        if (endpoint == 0x86 && begin.id != kNoUsbTransfer)
            streamReads.insert(begin.id);
        return begin;
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override {
        const UsbTransferResult result = ForwardingDriver::finishTransfer(id, isoPackets);
        if (streamReads.erase(id) > 0 && result.succeeded() && afterRead)
            afterRead(++reads);
        return result;
    }

private:
    std::set<UsbTransferId> streamReads;
};

class LongRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        driver.attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        window = std::make_unique<Tavrix>(watch);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            return answer;
        };
        QTest::mouseClick(window->ui.buttonActivateDevice, Qt::LeftButton);
        ASSERT_TRUE(streaming());
        // 128 samples per 10 ms sweep: ten seconds, read in parts, hold 128000 samples.
        window->ui.comboPSweepTime->setCurrentIndex(3);
        window->ui.recordTimeSeconds->setValue(10);
        watch.reads = 0;
    }
    void TearDown() override { QDir::setCurrent(startDir); }

    void record() { QTest::mouseClick(window->ui.recordButtonStart, Qt::LeftButton); }
    bool streaming() const {
        return window->acquisitionTimer != nullptr && window->acquisitionTimer->isActive();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }
    std::string recordStatus() const { return window->ui.recordStatus->text().toStdString(); }
    std::string status() const { return window->statusBar()->currentMessage().toStdString(); }
    QProgressDialog* progress() const {
        return window->findChild<QProgressDialog*>(QStringLiteral("recordProgress"));
    }
    Recording readBack(const QString& file) const {
        Recording recording;
        std::string error;
        EXPECT_TRUE(tavrix::record::readRecording(file.toStdString(), recording, error)) << error;
        return recording;
    }

    // The recording continues the board's stream from a sweep start on: consecutive
    // samples, none lost or repeated at the part boundaries.
    static void expectWholeStream(const Recording& recording, std::size_t count) {
        ASSERT_EQ(recording.samples.size(), count);
        const std::uint64_t first = CounterSource::number(recording.samples[0]);
        EXPECT_EQ(first % 128, 0u);
        for (std::size_t k = 0; k < count; ++k)
            ASSERT_EQ(CounterSource::number(recording.samples[k]), first + k) << "sample " << k;
    }

    QString startDir = QDir::currentPath();
    QTemporaryDir dir;
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    std::shared_ptr<CounterSource> source = std::make_shared<CounterSource>();
    sim::SimUsbDriver driver;
    StreamWatch watch{driver};
    std::unique_ptr<Tavrix> window;
    QString answer;
    std::vector<Tavrix::SaveFileQuestion> questions;
};

TEST_F(LongRecordingTest, PartsFormOneUnbrokenFileUnderTheChosenName) {
    answer = path("long.dat");
    // A slow disk: a third of a second passes on the board after every request, far more
    // than its FIFO holds.
    bool progressShown = false;
    QString label;
    watch.afterRead = [&](int reads) {
        clock->advance(0.3);
        if (reads == 10 && progress()) {
            progressShown = progress()->isVisible();
            label = progress()->labelText();
        }
    };
    record();

    EXPECT_EQ(recordStatus(), "Good, 128000 samples");
    EXPECT_GT(watch.reads, 20);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Recording: \\d s of 10 s$")).match(label).hasMatch())
        << label.toStdString();
    EXPECT_FALSE(progress() && progress()->isVisible());
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption.toStdString(), "Save Recorded Session");
    EXPECT_EQ(questions[0].filter.toStdString(), "Complex Samples (*.dat)");
    EXPECT_TRUE(questions[0].confirmOverwrite);
    // The temporary file became the chosen one.
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")});

    const Recording recording = readBack(answer);
    ASSERT_TRUE(recording.header.has_value());
    EXPECT_DOUBLE_EQ(recording.header->sweepTimeMs, 10.0);
    EXPECT_EQ(recording.header->samplesPerSweep, 128);
    expectWholeStream(recording, 128000);
    EXPECT_TRUE(streaming());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Cancelling the save dialog removes the temporary file.
    answer.clear();
    record();
    EXPECT_EQ(recordStatus(), "Good, 128000 samples");
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")});
    EXPECT_TRUE(streaming());
}

TEST_F(LongRecordingTest, AFileThatCannotBeSavedIsKeptAndNamed) {
    const QString missing = path("missing/long.dat");
    answer = missing;
    record();

    const QStringList left = files();
    ASSERT_EQ(left.size(), 1);
    const QString kept = path(left[0]);
    EXPECT_TRUE(kept.endsWith(QStringLiteral(".part")));
    for (const std::string& report : {recordStatus(), status()}) {
        EXPECT_NE(report.find(missing.toStdString()), std::string::npos) << report;
        EXPECT_NE(report.find("No such file or directory"), std::string::npos) << report;
        EXPECT_NE(report.find(kept.toStdString()), std::string::npos) << report;
    }
    EXPECT_EQ(recordStatus().rfind("Not saved, 128000 samples", 0), 0u) << recordStatus();
    expectWholeStream(readBack(kept), 128000);
    EXPECT_TRUE(streaming());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LongRecordingTest, CancelKeepsNothing) {
    watch.afterRead = [&](int reads) {
        if (reads != 5)
            return;
        ASSERT_NE(progress(), nullptr);
        ASSERT_TRUE(progress()->isVisible());
        auto* cancel = progress()->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
    };
    record();

    EXPECT_EQ(recordStatus(), "Cancelled, nothing kept");
    EXPECT_NE(status().find("nothing was kept"), std::string::npos) << status();
    EXPECT_LT(watch.reads, 10);
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(files().isEmpty());
    EXPECT_TRUE(streaming());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LongRecordingTest, BoardFailuresMidWayKeepNothingAndEndStreaming) {
    struct Case {
        const char* what;
        std::function<void(sim::BoardFaults&)> fault;
        const char* reason;
    };
    const Case cases[] = {
        {"frame flags stop", [](sim::BoardFaults& f) { f.noFrameFlag = true; },
         "alignment lost: no frame flag at sample"},
        {"short read", [](sim::BoardFaults& f) { f.shortRead = 1000; },
         "the board ended a transfer early (1000 of 16384 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!streaming()) {
            driver.board(0).faults = {};
            QTest::mouseClick(window->ui.buttonActivateDevice, Qt::LeftButton);
            ASSERT_TRUE(streaming());
        }
        watch.reads = 0;
        watch.afterRead = [&](int reads) {
            if (reads == 8)
                c.fault(driver.board(0).faults);
        };
        record();

        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Error, (\\d+) samples$"))
                .match(window->ui.recordStatus->text());
        ASSERT_TRUE(match.hasMatch()) << recordStatus();
        const int got = match.captured(1).toInt();
        EXPECT_GT(got, 0);
        EXPECT_LT(got, 128000);
        EXPECT_EQ(status().rfind("Error: Recording failed after " + std::to_string(got) +
                                     " samples, nothing was kept: " + c.reason,
                                 0),
                  0u)
            << status();
        EXPECT_TRUE(questions.empty());
        EXPECT_TRUE(files().isEmpty());
        EXPECT_FALSE(streaming());
        EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked());
        EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(LongRecordingTest, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
    // Files of this process may grow to 256 KiB; a write beyond fails with EFBIG.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 256 << 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    answer = path("never.dat");
    record();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    const QStringList left = files();
    ASSERT_EQ(left.size(), 1);
    const QString kept = path(left[0]);
    EXPECT_TRUE(kept.endsWith(QStringLiteral(".part")));
    EXPECT_EQ(recordStatus().rfind("Incomplete, ", 0), 0u) << recordStatus();
    for (const std::string& report : {recordStatus(), status()}) {
        EXPECT_NE(report.find("File too large"), std::string::npos) << report;
        EXPECT_NE(report.find(kept.toStdString()), std::string::npos) << report;
    }
    EXPECT_TRUE(questions.empty());
    EXPECT_LE(QFile(kept).size(), 256 << 10);
    EXPECT_GT(QFile(kept).size(), 0);
    EXPECT_TRUE(streaming());
}

TEST_F(LongRecordingTest, MemoryStaysBoundedWhateverTheSize) {
    // 1024 samples per 0.5 ms sweep: two seconds are 4096000 samples, 62.5 MiB as complex
    // doubles, read in parts once above a lowered limit.
    window->ui.comboPSampleWindow->setCurrentIndex(3);
    window->ui.comboPSweepTime->setCurrentIndex(0);
    window->ui.recordTimeSeconds->setValue(2);
    window->recordingLimits.partedAboveSamples = 1 << 20;
    window->recordingLimits.requestBytes = 64 << 10;
    answer = path("big.dat");

    const std::int64_t base = residentBytes();
    std::int64_t peak = base;
    watch.afterRead = [&](int) { peak = std::max(peak, residentBytes()); };
    record();
    peak = std::max(peak, residentBytes());

    EXPECT_EQ(recordStatus(), "Good, 4096000 samples");
    // Four header lines and one line per sample.
    QFile file(answer);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::int64_t lines = 0;
    while (!file.atEnd())
        lines += file.read(1 << 20).count('\n');
    EXPECT_EQ(lines, 4 + 4096000);
    const std::int64_t growth = peak - base;
    RecordProperty("rss_growth_bytes", std::to_string(growth));
    EXPECT_LT(growth, 8 << 20) << "resident memory grew by " << growth << " bytes";
}

} // namespace
