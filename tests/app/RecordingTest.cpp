// Recordings on an emulated board whose samples count up, so the file shows at once whether
// it continues the board's stream without gap or repeat: short ones read at once, long ones
// in parts into a temporary file under a progress dialog.

#include "app/Tavrix.h"
#include "device/DeviceModels.h"
#include "record/RecordingFile.h"
#include "record/RecordingReader.h"
#include "record/Sigmf.h"
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
#include <unistd.h>

namespace {

using tavrix::record::Recording;

std::int64_t residentBytes() {
    std::int64_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
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

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        driver.attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        window = std::make_unique<Tavrix>(watch);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            duringDialogTime = tavrix::record::isoUtc(std::chrono::system_clock::now());
            const QCursor* cursor = QApplication::overrideCursor();
            duringDialog.push_back({window->acquisitionTimer->isActive(),
                                    cursor != nullptr && cursor->shape() == Qt::WaitCursor,
                                    window->ui.recordStatus->text(),
                                    window->statusBar()->currentMessage()});
            if (answers.empty())
                return QString();
            const QString answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
        click(window->ui.buttonActivateDevice);
        ASSERT_TRUE(streaming());
        // 128 samples per 10 ms sweep: a second holds 12800 samples.
        window->ui.comboPSweepTime->setCurrentIndex(3);
        window->ui.recordTimeSeconds->setValue(1);
    }
    void TearDown() override { QDir::setCurrent(startDir); }

    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void record() { click(window->ui.recordButtonStart); }
    // Ten seconds are read in parts.
    void recordLong() {
        window->ui.recordTimeSeconds->setValue(10);
        watch.reads = 0;
        record();
    }
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
    // The samples of "Error, N samples", or -1.
    int errorCount() const {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^Error, (\\d+) samples$"))
                .match(window->ui.recordStatus->text());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
    // Reads the recording back: it must continue the board's stream from a sweep start on,
    // consecutive samples, none lost or repeated.
    Recording expectWholeStream(const QString& file, std::size_t count) const {
        Recording recording;
        std::string error;
        EXPECT_TRUE(tavrix::record::readRecording(file.toStdString(), recording, error)) << error;
        EXPECT_EQ(recording.samples.size(), count);
        if (recording.samples.empty())
            return recording;
        const std::uint64_t first = CounterSource::number(recording.samples[0]);
        EXPECT_EQ(first % 128, 0u);
        for (std::size_t k = 0; k < recording.samples.size(); ++k)
            if (CounterSource::number(recording.samples[k]) != first + k) {
                ADD_FAILURE() << "sample " << k << " breaks the stream";
                break;
            }
        return recording;
    }
    void expectStreamingResumed() const {
        EXPECT_TRUE(streaming());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    void expectStoppedOnError() const {
        EXPECT_FALSE(streaming());
        EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked());
        EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(questions.empty());
        EXPECT_TRUE(files().isEmpty());
    }

    struct Moment {
        bool timerRunning;
        bool waitCursor;
        QString recordStatus;
        QString statusBar;
    };

    QString startDir = QDir::currentPath();
    QTemporaryDir dir;
    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    std::shared_ptr<CounterSource> source = std::make_shared<CounterSource>();
    sim::SimUsbDriver driver;
    StreamWatch watch{driver};
    std::unique_ptr<Tavrix> window;
    std::vector<QString> answers;
    std::vector<Tavrix::SaveFileQuestion> questions;
    std::vector<Moment> duringDialog;
    std::string duringDialogTime;
};

TEST_F(RecordingTest, FileHoldsTheBoardStreamWithTheHeaderOfTheMode) {
    answers = {path("session.dat")};
    const std::size_t wordsBefore = driver.board(0).acquisition().wordsReceived().size();
    record();

    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    // The command block went out again before the read.
    EXPECT_EQ(driver.board(0).acquisition().wordsReceived().size(), wordsBefore + 1024);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption.toStdString(), "Save Recorded Session");
    EXPECT_TRUE(questions[0].confirmOverwrite);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}(-\\d\\d){5}\\.dat$"))
                    .match(questions[0].proposedName)
                    .hasMatch())
        << questions[0].proposedName.toStdString();
    // The stream waits while the user chooses, under the wait cursor.
    EXPECT_FALSE(duringDialog[0].timerRunning);
    EXPECT_TRUE(duringDialog[0].waitCursor);
    expectStreamingResumed();

    const Recording recording = expectWholeStream(path("session.dat"), 12800);
    ASSERT_TRUE(recording.header.has_value());
    EXPECT_DOUBLE_EQ(recording.header->centerFrequencyHz, 2.45e9);
    EXPECT_DOUBLE_EQ(recording.header->sweepTimeMs, 10.0);
    EXPECT_EQ(recording.header->samplesPerSweep, 128);
    EXPECT_DOUBLE_EQ(recording.header->modeValue, 1e8);

    for (const auto& [mode, modeValue] : {std::pair{window->ui.radioOperationMode_4, 6e6},
                                          std::pair{window->ui.radioOperationMode_5, 0.0}}) {
        click(mode);
        const QString name = mode->objectName() + QStringLiteral(".dat");
        answers = {path(name)};
        record();
        const Recording other = expectWholeStream(path(name), 12800);
        ASSERT_TRUE(other.header.has_value());
        EXPECT_DOUBLE_EQ(other.header->modeValue, modeValue) << name.toStdString();
        EXPECT_DOUBLE_EQ(other.header->centerFrequencyHz, window->centerFrequency);
    }
}

TEST_F(RecordingTest, SigmfChoiceSavesThePairWithTheModeAndModel) {
    window->ui.recordFormat->setCurrentIndex(1);
    answers = {path("session")}; // a name without ending gets the data file's
    const std::string before = tavrix::record::isoUtc(std::chrono::system_clock::now());
    record();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}(-\\d\\d){5}\\.sigmf-data$"))
                    .match(questions[0].proposedName)
                    .hasMatch())
        << questions[0].proposedName.toStdString();
    EXPECT_TRUE(questions[0].filter.contains(QStringLiteral("(*.sigmf-data)")));
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    EXPECT_EQ(files(), (QStringList{"session.sigmf-data", "session.sigmf-meta"}));
    expectWholeStream(path("session.sigmf-data"), 12800);
    std::string error;
    const auto source = tavrix::record::openSource(path("session.sigmf").toStdString(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().operatingMode, "fmcw");
    EXPECT_EQ(source->info().deviceModel,
              deviceModel(window->ui.device_centerFrequency->currentIndex()).name);
    // The time of the first sample, taken before the dialog.
    EXPECT_LE(before, source->info().datetime);
    EXPECT_LE(source->info().datetime, duringDialogTime);
    ASSERT_TRUE(source->header());
    EXPECT_DOUBLE_EQ(source->header()->sweepTimeMs, 10.0);

    // In parts: the temporary pair moves as a whole, or stays whole and named.
    answers = {path("long.sigmf-data")};
    recordLong();
    EXPECT_EQ(recordStatus(), "Good, 128000 samples");
    EXPECT_EQ(files(), (QStringList{"long.sigmf-data", "long.sigmf-meta", "session.sigmf-data",
                                    "session.sigmf-meta"}));
    expectWholeStream(path("long.sigmf-data"), 128000);
    answers = {path("missing/long")};
    recordLong();
    const QStringList parts = files().filter(QStringLiteral(".part.sigmf-"));
    ASSERT_EQ(parts.size(), 2) << files().join(' ').toStdString();
    EXPECT_NE(recordStatus().find(path(parts[0]).toStdString()), std::string::npos)
        << recordStatus();
    expectWholeStream(path(parts[1]), 128000);
}

TEST_F(RecordingTest, UnwritableFileIsReportedAndTheDialogComesBackUntilCancelled) {
    const QString missing = path("missing/session.dat");
    answers = {missing, path("session.dat")};
    record();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1].proposedName, missing);
    for (const QString& report : {duringDialog[1].recordStatus, duringDialog[1].statusBar}) {
        EXPECT_TRUE(report.contains(missing)) << report.toStdString();
        EXPECT_TRUE(report.contains("No such file or directory")) << report.toStdString();
    }
    EXPECT_TRUE(duringDialog[1].recordStatus.startsWith("Not saved, 12800 samples"));
    expectWholeStream(path("session.dat"), 12800);
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    expectStreamingResumed();

    // A device that fills up keeps its node; giving up after that says what was lost.
    questions.clear();
    duringDialog.clear();
    answers = {QStringLiteral("/dev/full")};
    record();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_TRUE(duringDialog[1].statusBar.contains("No space left on device"))
        << duringDialog[1].statusBar.toStdString();
    EXPECT_TRUE(QFile::exists(QStringLiteral("/dev/full")));
    EXPECT_EQ(recordStatus(), "Not saved, 12800 samples discarded");
    EXPECT_EQ(files(), QStringList{QStringLiteral("session.dat")});
    expectStreamingResumed();
}

TEST_F(RecordingTest, FailedWriteLeavesNoPartialFile) {
    // A sample no line can hold makes the writer stop half-way through the file.
    Tavrix::SampleBlock block(200000, {1.0, 2.0});
    block.back() = {1e12, 0.0};
    EXPECT_FALSE(window->WriteRecording(block, path("partial.dat")));
    EXPECT_FALSE(QFile::exists(path("partial.dat")));
    EXPECT_EQ(recordStatus().rfind("Not saved, 200000 samples", 0), 0u) << recordStatus();
}

TEST_F(RecordingTest, ShortReadEndsStreaming) {
    driver.board(0).faults.shortRead = 4096 + 4 * 500;
    record();
    EXPECT_GT(errorCount(), 0) << recordStatus();
    EXPECT_LE(errorCount(), 500);
    EXPECT_EQ(status(), "Error: Interface cound not be set!");
    expectStoppedOnError();
    EXPECT_EQ(window->ui.comboDevices->itemText(0).toStdString(), "Velmora USB SDR");
}

TEST_F(RecordingTest, DisplaysFollowTheSampleRate) {
    struct Case {
        int sampleWindow; // 0..3: 128, 256, 512, 1024 samples per sweep
        int seconds;
        double rate, total;
    };
    for (const Case& c :
         {Case{3, 15, 1024000, 15360000}, Case{0, 1, 12850, 12928}, Case{0, 15, 0, 0}}) {
        window->ui.comboPSampleWindow->setCurrentIndex(c.sampleWindow);
        window->ui.recordTimeSeconds->setValue(c.seconds);
        window->UpdateRecordData(c.rate);
        EXPECT_DOUBLE_EQ(window->ui.recordLCDSampleRate->value(), c.rate);
        EXPECT_DOUBLE_EQ(window->ui.recordTotalSamples->value(), c.total);
    }
}

TEST_F(RecordingTest, LongRecordingIsOneUnbrokenFileUnderTheChosenName) {
    answers = {path("long.dat")};
    // A slow disk: a third of a second passes on the board after every request, far more
    // than its FIFO holds. From the eighth on, the board flags no sweep start: one flag at the
    // start is all it promises.
    QString label;
    watch.afterRead = [&](int reads) {
        clock->advance(0.3);
        driver.board(0).faults.noFrameFlag = reads >= 8;
        if (reads == 10 && progress() && progress()->isVisible())
            label = progress()->labelText();
    };
    recordLong();

    EXPECT_EQ(recordStatus(), "Good, 128000 samples");
    EXPECT_GT(watch.reads, 20);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Recording: \\d s of 10 s$")).match(label).hasMatch())
        << label.toStdString();
    EXPECT_FALSE(progress() && progress()->isVisible());
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")}); // the temporary file moved
    const Recording recording = expectWholeStream(path("long.dat"), 128000);
    ASSERT_TRUE(recording.header.has_value());
    EXPECT_DOUBLE_EQ(recording.header->sweepTimeMs, 10.0);
    expectStreamingResumed();

    // Cancelling the save dialog removes the temporary file.
    driver.board(0).faults.noFrameFlag = false;
    recordLong();
    EXPECT_EQ(recordStatus(), "Good, 128000 samples");
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")});
    expectStreamingResumed();
}

TEST_F(RecordingTest, LongRecordingThatCannotBeSavedIsKeptAndNamed) {
    const QString missing = path("missing/long.dat");
    answers = {missing};
    recordLong();

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
    expectWholeStream(kept, 128000);
    expectStreamingResumed();
}

TEST_F(RecordingTest, CancelledLongRecordingKeepsNothing) {
    watch.afterRead = [&](int reads) {
        if (reads != 5)
            return;
        ASSERT_TRUE(progress() && progress()->isVisible());
        auto* cancel = progress()->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        click(cancel);
    };
    recordLong();

    EXPECT_EQ(recordStatus(), "Cancelled, nothing kept");
    EXPECT_NE(status().find("nothing was kept"), std::string::npos) << status();
    EXPECT_LT(watch.reads, 10);
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(files().isEmpty());
    expectStreamingResumed();
}

TEST_F(RecordingTest, ABoardFailureMidWayThroughALongRecordingKeepsNothing) {
    watch.afterRead = [&](int reads) {
        if (reads == 8)
            driver.board(0).faults.shortRead = 1000;
    };
    recordLong();

    const int got = errorCount();
    EXPECT_GT(got, 0) << recordStatus();
    EXPECT_LT(got, 128000);
    EXPECT_EQ(status(), "Error: Interface cound not be set! Recording failed after " +
                            std::to_string(got) +
                            " samples, nothing was kept: the board ended a transfer early (1000 "
                            "of 16384 bytes)");
    expectStoppedOnError();
}

TEST_F(RecordingTest, AFullDiskStopsALongRecordingAndKeepsWhatWasWritten) {
    // Files of this process may grow to 256 KiB; a write beyond fails with EFBIG.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 256 << 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    answers = {path("never.dat")};
    recordLong();
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
    EXPECT_GT(QFile(kept).size(), 0);
    EXPECT_TRUE(streaming());
}

TEST_F(RecordingTest, MemoryStaysBoundedWhateverTheSize) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer quarantines freed memory, so resident size says nothing";
#endif
    // 1024 samples per 0.5 ms sweep: two seconds are 4096000 samples, 62.5 MiB as complex
    // doubles, read in parts once above a lowered limit.
    window->ui.comboPSampleWindow->setCurrentIndex(3);
    window->ui.comboPSweepTime->setCurrentIndex(0);
    window->ui.recordTimeSeconds->setValue(2);
    window->recordingLimits.partedAboveSamples = 1 << 20;
    window->recordingLimits.requestBytes = 64 << 10;
    answers = {path("big.dat")};

    const std::int64_t base = residentBytes();
    std::int64_t peak = base;
    watch.afterRead = [&](int) { peak = std::max(peak, residentBytes()); };
    record();
    peak = std::max(peak, residentBytes());

    EXPECT_EQ(recordStatus(), "Good, 4096000 samples");
    QFile file(path("big.dat")); // four header lines and one line per sample
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
