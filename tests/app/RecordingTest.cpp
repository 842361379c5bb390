#include "app/Tavrix.h"
#include "record/RecordingReader.h"
#include "sim/SimUsbDriver.h"
#include "tests/app/ForwardingDriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using tavrix::record::Recording;

// Keeps the bytes of the last completed read of the sample stream, as they came off the wire.
class StreamTap : public ForwardingDriver {
public:
    using ForwardingDriver::ForwardingDriver;

    std::vector<std::uint8_t> lastRead;

    UsbBegin beginTransfer(UsbHandle handle, std::uint8_t endpoint, std::uint8_t* data,
                           std::uint32_t length, std::uint32_t isoPacketSize) override {
        const UsbBegin begin =
            ForwardingDriver::beginTransfer(handle, endpoint, data, length, isoPacketSize);
        if (endpoint == 0x86 && begin.id != kNoUsbTransfer)
            buffers[begin.id] = data;
        return begin;
    }
    UsbTransferResult finishTransfer(UsbTransferId id, UsbIsoPacket* isoPackets) override {
        const UsbTransferResult result = ForwardingDriver::finishTransfer(id, isoPackets);
        const auto it = buffers.find(id);
        if (it != buffers.end()) {
            lastRead.assign(it->second, it->second + result.bytes);
            buffers.erase(it);
        }
        return result;
    }

private:
    std::map<UsbTransferId, std::uint8_t*> buffers;
};

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                                           std::make_shared<sim::VirtualClock>()));
        window = std::make_unique<Tavrix>(tap);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            duringDialog.push_back({window->acquisitionTimer->isActive(),
                                    QApplication::overrideCursor() != nullptr &&
                                        QApplication::overrideCursor()->shape() == Qt::WaitCursor,
                                    window->ui.recordStatus->text(),
                                    window->statusBar()->currentMessage()});
            const QString answer = answers.empty() ? QString() : answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return answer;
        };
        click(window->ui.buttonActivateDevice);
        ASSERT_TRUE(streaming());
        // 128 samples per 10 ms sweep: a one-second recording holds 12800 samples.
        window->ui.comboPSweepTime->setCurrentIndex(3);
        window->ui.recordTimeSeconds->setValue(1);
    }

    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void record() { click(window->ui.recordButtonStart); }
    bool streaming() const {
        return window->acquisitionTimer != nullptr && window->acquisitionTimer->isActive();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString status() const { return window->statusBar()->currentMessage(); }
    std::string recordStatus() const { return window->ui.recordStatus->text().toStdString(); }
    Recording readBack(const QString& name) const {
        Recording recording;
        std::string error;
        EXPECT_TRUE(tavrix::record::readRecording(path(name).toStdString(), recording, error))
            << error;
        return recording;
    }

    struct Moment {
        bool timerRunning;
        bool waitCursor;
        QString recordStatus;
        QString statusBar;
    };

    QTemporaryDir dir;
    sim::SimUsbDriver driver;
    StreamTap tap{driver};
    std::unique_ptr<Tavrix> window;
    std::vector<QString> answers;
    std::vector<Tavrix::SaveFileQuestion> questions;
    std::vector<Moment> duringDialog;
};

TEST_F(RecordingTest, FileHoldsTheBoardStreamFromASweepStart) {
    answers = {path("session.dat")};
    const std::size_t wordsBefore = driver.board(0).acquisition().wordsReceived().size();
    record();

    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    // The command block went out again before the read.
    EXPECT_EQ(driver.board(0).acquisition().wordsReceived().size(), wordsBefore + 1024);

    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption.toStdString(), "Save Recorded Session");
    EXPECT_EQ(questions[0].filter.toStdString(), "Complex Samples (*.dat)");
    EXPECT_TRUE(questions[0].confirmOverwrite);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}(-\\d\\d){5}\\.dat$"))
                    .match(questions[0].proposedName)
                    .hasMatch())
        << questions[0].proposedName.toStdString();
    // The stream waits while the user chooses, under the wait cursor; both come back after.
    EXPECT_FALSE(duringDialog[0].timerRunning);
    EXPECT_TRUE(duringDialog[0].waitCursor);
    EXPECT_TRUE(streaming());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    const Recording recording = readBack("session.dat");
    ASSERT_TRUE(recording.header.has_value());
    EXPECT_DOUBLE_EQ(recording.header->centerFrequencyHz, 2.45e9);
    EXPECT_DOUBLE_EQ(recording.header->sweepTimeMs, 10.0);
    EXPECT_EQ(recording.header->samplesPerSweep, 128);
    EXPECT_DOUBLE_EQ(recording.header->modeValue, 1e8);
    ASSERT_EQ(recording.samples.size(), 12800u);

    // The wire carries word pairs, Q with the frame flag in bit 15, then I; a read skips the
    // first 2048 words and starts at the first flag after them.
    const std::vector<std::uint8_t>& bytes = tap.lastRead;
    auto word = [&](std::size_t i) {
        return static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    };
    std::size_t start = 2048;
    while (2 * start + 1 < bytes.size() && !(word(start) & 0x8000))
        ++start;
    ASSERT_GE(bytes.size(), 2 * (start + 2 * 12800));
    for (std::size_t k = 0; k < 12800; ++k) {
        const std::uint16_t q = word(start + 2 * k);
        const std::uint16_t i = word(start + 2 * k + 1);
        ASSERT_EQ(recording.samples[k], std::complex<double>(i, q & 0x7FFF)) << "sample " << k;
        ASSERT_EQ((q & 0x8000) != 0, k % 128 == 0) << "sweep boundary at sample " << k;
    }
}

TEST_F(RecordingTest, HeaderFollowsTheOperatingMode) {
    struct Case {
        QAbstractButton* mode;
        double modeValue;
    };
    const Case cases[] = {{window->ui.radioOperationMode_4, 6e6},
                          {window->ui.radioOperationMode_5, 0.0}};
    for (const Case& c : cases) {
        click(c.mode);
        const QString name = c.mode->objectName() + QStringLiteral(".dat");
        answers = {path(name)};
        record();
        const Recording recording = readBack(name);
        ASSERT_TRUE(recording.header.has_value());
        EXPECT_DOUBLE_EQ(recording.header->modeValue, c.modeValue) << name.toStdString();
        EXPECT_DOUBLE_EQ(recording.header->centerFrequencyHz, window->centerFrequency);
        EXPECT_EQ(recording.samples.size(), 12800u);
    }
}

TEST_F(RecordingTest, CancelledDialogWritesNothingAndStreamingResumes) {
    record();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_TRUE(streaming());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(RecordingTest, UnwritableFileIsReportedAndTheDialogComesBack) {
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
    EXPECT_EQ(readBack("session.dat").samples.size(), 12800u);
    EXPECT_EQ(recordStatus(), "Good, 12800 samples");
    EXPECT_TRUE(streaming());

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
    EXPECT_TRUE(streaming());
}

TEST_F(RecordingTest, FailedWriteLeavesNoPartialFile) {
    // A sample no line can hold makes the writer stop half-way through the file.
    Tavrix::SampleBlock block(200000, {1.0, 2.0});
    block.back() = {1e12, 0.0};
    EXPECT_FALSE(window->WriteRecording(block, path("partial.dat")));
    EXPECT_FALSE(QFile::exists(path("partial.dat")));
    EXPECT_TRUE(window->ui.recordStatus->text().startsWith("Not saved, 200000 samples"));
}

TEST_F(RecordingTest, ShortReadEndsStreaming) {
    driver.board(0).faults.shortRead = 4096 + 4 * 500;
    record();

    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^Error, (\\d+) samples$"))
            .match(window->ui.recordStatus->text());
    ASSERT_TRUE(match.hasMatch()) << recordStatus();
    EXPECT_GT(match.captured(1).toInt(), 0);
    EXPECT_LE(match.captured(1).toInt(), 500);
    EXPECT_EQ(status().toStdString(), "Error: Interface cound not be set!");
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(streaming());
    EXPECT_FALSE(window->ui.buttonActivateDevice->isChecked());
    EXPECT_FALSE(window->ui.DisplayProperties->isEnabled());
    EXPECT_FALSE(window->ui.groupBox_3->isEnabled());
    EXPECT_EQ(window->ui.comboDevices->itemText(0).toStdString(), "Velmora USB SDR");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(RecordingTest, DisplaysFollowTheSampleRate) {
    struct Case {
        int sampleWindow; // 0..3: 128, 256, 512, 1024 samples per sweep
        int seconds;
        double rate;
        double total;
    };
    const Case cases[] = {
        {3, 15, 1024000, 15360000}, {0, 1, 12800, 12800},          {3, 1, 2048000, 2048000},
        {0, 1, 12850, 12928},       {3, 60, 2048000, 122880000.0}, {0, 15, 0, 0},
    };
    QLCDNumber* const rate = window->ui.recordLCDSampleRate;
    QLCDNumber* const total = window->ui.recordTotalSamples;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        window->ui.comboPSampleWindow->setCurrentIndex(c.sampleWindow);
        window->ui.recordTimeSeconds->setValue(c.seconds);
        window->UpdateRecordData(c.rate);
        EXPECT_DOUBLE_EQ(rate->value(), c.rate);
        EXPECT_DOUBLE_EQ(total->value(), c.total);
    }
}

} // namespace
