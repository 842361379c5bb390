// What a streaming window saves. Recordings on an emulated board whose samples count up, so
// the file shows at once whether it continues the board's stream without gap or repeat: short
// ones read at once, long ones in parts into a temporary file under a progress dialog. Plot
// exports in each format and view, and their failures.

#include "app/Tavrix.h"
#include "record/RecordingReader.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"
#include "tests/device/CounterSource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <sys/resource.h>

namespace {

using tavrix::record::Recording;

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
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        driver.attach(std::make_shared<sim::EmulatedBoard>(source, clock));
        window = std::make_unique<Tavrix>(watch);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            const QCursor* cursor = QApplication::overrideCursor();
            duringDialog.push_back({window->acquisitionTimer->isActive(),
                                    cursor != nullptr && cursor->shape() == Qt::WaitCursor,
                                    window->ui.recordStatus->text(),
                                    window->statusBar()->currentMessage()});
            if (answers.empty())
                return acceptProposed ? question.proposedName : QString();
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
    static QByteArray head(const QString& name, int bytes) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
    }
    QProgressDialog* progress() const {
        return window->findChild<QProgressDialog*>(QStringLiteral("recordProgress"));
    }
    // The samples of "Error, N samples", or -1.
    int errorCount() const {
        int count = -1;
        std::sscanf(recordStatus().c_str(), "Error, %d samples", &count);
        return count;
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
    // Both reports name `what`.
    void expectReported(const std::string& what) const {
        for (const std::string& report : {recordStatus(), status()})
            EXPECT_NE(report.find(what), std::string::npos) << report;
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
    bool acceptProposed = false; // the answer once `answers` ran out; else cancelled
    std::vector<Tavrix::SaveFileQuestion> questions;
    std::vector<Moment> duringDialog;
};

TEST_F(RecordingTest, FileHoldsTheBoardStreamWithTheHeaderOfTheMode) {
    answers = {path("session.dat")};
    const std::size_t wordsBefore = driver.board(0).acquisition().wordsReceived().size();
    record();
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    // The command block went out again before the read.
    EXPECT_EQ(driver.board(0).acquisition().wordsReceived().size(), wordsBefore + 1024);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].confirmOverwrite);
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
}

// The samples exist only in memory: a missing folder and a full device bring the dialog back
// with the reason, until a file takes them.
TEST_F(RecordingTest, UnwritableFileOrFullDiskBringsTheDialogBackUntilSaved) {
    const QString missing = path("missing/session.dat");
    answers = {missing, QStringLiteral("/dev/full"), path("session.dat")};
    record();
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_EQ(questions[1].proposedName, missing);
    for (const QString& report : {duringDialog[1].recordStatus, duringDialog[1].statusBar}) {
        EXPECT_TRUE(report.contains(missing)) << report.toStdString();
        EXPECT_TRUE(report.contains("No such file or directory")) << report.toStdString();
    }
    EXPECT_TRUE(duringDialog[1].recordStatus.startsWith("Not saved, 12800 samples"));
    EXPECT_TRUE(duringDialog[2].statusBar.contains("No space left on device"))
        << duringDialog[2].statusBar.toStdString();
    EXPECT_TRUE(QFile::exists(QStringLiteral("/dev/full")));
    expectWholeStream(path("session.dat"), 12800);
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    expectStreamingResumed();
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
    EXPECT_TRUE(QRegularExpression("^Recording: \\d s of 10 s$").match(label).hasMatch())
        << label.toStdString();
    EXPECT_FALSE(progress() && progress()->isVisible());
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")}); // the temporary file moved
    const Recording recording = expectWholeStream(path("long.dat"), 128000);
    ASSERT_TRUE(recording.header.has_value());
    EXPECT_DOUBLE_EQ(recording.header->sweepTimeMs, 10.0);
    expectStreamingResumed();

    // Cancel in the progress dialog ends the reads at once and keeps nothing.
    watch.afterRead = [&](int reads) {
        if (reads == 5 && progress() && progress()->findChild<QPushButton*>())
            click(progress()->findChild<QPushButton*>());
    };
    driver.board(0).faults.noFrameFlag = false;
    recordLong();
    EXPECT_EQ(recordStatus(), "Cancelled, nothing kept");
    EXPECT_LT(watch.reads, 10);
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(files(), QStringList{QStringLiteral("long.dat")});
    expectStreamingResumed();
    watch.afterRead = nullptr;

    // A name in a missing folder: the temporary SigMF pair stays whole and is named.
    window->ui.recordFormat->setCurrentIndex(1);
    answers = {path("missing/long")};
    recordLong();
    const QStringList parts = files().filter(QStringLiteral(".part.sigmf-"));
    ASSERT_EQ(parts.size(), 2) << files().join(' ').toStdString();
    expectReported(path(parts[0]).toStdString());
    expectReported(path("missing/long").toStdString());
    expectReported("No such file or directory");
    EXPECT_EQ(recordStatus().rfind("Not saved, 128000 samples", 0), 0u) << recordStatus();
    expectWholeStream(path(parts[1]), 128000);
    expectStreamingResumed();
}

// A fragment of unknown worth is not kept.
TEST_F(RecordingTest, ABoardFailureStopsTheStreamAndKeepsNothing) {
    driver.board(0).faults.shortRead = 4096 + 4 * 500;
    record();
    EXPECT_GT(errorCount(), 0) << recordStatus();
    EXPECT_LE(errorCount(), 500);
    EXPECT_EQ(status(), "Error: Interface cound not be set!");
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
    expectReported("File too large");
    expectReported(kept.toStdString());
    EXPECT_TRUE(questions.empty());
    EXPECT_GT(QFile(kept).size(), 0);
    EXPECT_TRUE(streaming());
}

using ExportTest = RecordingTest;

// Each format from its own button; a scaled page; failures reported
// until an export succeeds.
TEST_F(ExportTest, EachFormatWritesItsFileAndFailuresAreReportedUntilOneSucceeds) {
    acceptProposed = true;
    const struct {
        QAbstractButton* button;
        const char* suffix;
        QByteArray magic;
    } formats[] = {{window->ui.captureFormat_1, "pdf", "%PDF"},
                   {window->ui.captureFormat_2, "jpg", "\xFF\xD8\xFF"},
                   {window->ui.captureFormat_3, "png", "\x89PNG"}};
    for (const auto& format : formats) {
        const QString name = path(QStringLiteral("Tavrix_TopView.") + format.suffix);
        click(format.button);
        questions.clear();
        click(window->ui.captureViewTop);
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_TRUE(questions[0].filter.contains(QStringLiteral("*.") + format.suffix));
        EXPECT_TRUE(head(name, 4).startsWith(format.magic)) << format.suffix;
    }
    // The page is fixed in millimetres and dots per inch, whatever the plot's size on screen.
    window->ui.qwtPlotScope_2->resize(300, 120);
    click(window->ui.captureViewBottom);
    const QImage image(path(QStringLiteral("Tavrix_BottomView.png")));
    EXPECT_NEAR(image.width(), 1004, 2);
    EXPECT_NEAR(image.height(), 669, 2);

    // A directory where the image should go cannot be written, even by root.
    const QString target = path(QStringLiteral("folder.png"));
    ASSERT_TRUE(QDir().mkdir(target));
    answers = {target};
    click(window->ui.captureViewTop);
    EXPECT_EQ(status().rfind("Error: Plot not exported to " + target.toStdString(), 0), 0u)
        << status();
    ASSERT_NE(window->exportStatus, nullptr);
    EXPECT_FALSE(window->exportStatus->isHidden());
    EXPECT_EQ(window->exportStatus->text().toStdString(), status());
    EXPECT_TRUE(streaming());
    // The name's extension picks the format.
    answers = {path("chosen.svg")};
    click(window->ui.captureViewTop);
    EXPECT_TRUE(head(path("chosen.svg"), 64).contains("<?xml"));
    EXPECT_TRUE(window->exportStatus->isHidden());
}

} // namespace
