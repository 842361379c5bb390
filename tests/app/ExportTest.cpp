#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Exports propose names without a directory: they land in the working directory.
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        driver.attach(std::make_shared<sim::EmulatedBoard>(sim::defaultScene(),
                                                           std::make_shared<sim::VirtualClock>()));
        window = std::make_unique<Tavrix>(driver);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            questions.push_back(question);
            timerRunningDuringDialog = window->acquisitionTimer->isActive();
            // Without an answer of its own the test accepts the proposed name.
            return answer ? *answer : question.proposedName;
        };
        click(window->ui.buttonActivateDevice);
        ASSERT_TRUE(window->acquisitionTimer->isActive());
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    static QByteArray head(const QString& name, int bytes) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
    }
    QString status() const { return window->statusBar()->currentMessage(); }

    QTemporaryDir dir;
    QString previousDir;
    sim::SimUsbDriver driver;
    std::unique_ptr<Tavrix> window;
    std::optional<QString> answer;
    std::vector<Tavrix::SaveFileQuestion> questions;
    bool timerRunningDuringDialog = true;
};

TEST_F(ExportTest, EachFormatAndViewWritesItsFile) {
    struct Format {
        QAbstractButton* button;
        const char* suffix;
        QByteArray magic;
    };
    const Format formats[] = {
        {window->ui.captureFormat_1, "pdf", "%PDF"},
        {window->ui.captureFormat_2, "jpg", "\xFF\xD8\xFF"},
        {window->ui.captureFormat_3, "png", "\x89PNG"},
    };
    // An earlier export of the same view and format is replaced.
    QFile old(QStringLiteral("Tavrix_TopView.pdf"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older export");
    old.close();
    for (const Format& format : formats) {
        click(format.button);
        for (const auto& [view, base] : {std::pair{window->ui.captureViewTop, "Tavrix_TopView"},
                                         {window->ui.captureViewBottom, "Tavrix_BottomView"}}) {
            const QString name = QStringLiteral("%1.%2").arg(base, format.suffix);
            SCOPED_TRACE(name.toStdString());
            questions.clear();
            timerRunningDuringDialog = true;
            click(view);
            ASSERT_EQ(questions.size(), 1u);
            // In the working directory at first, then in the folder of the last export.
            EXPECT_EQ(QFileInfo(questions[0].proposedName).absoluteFilePath(),
                      QFileInfo(dir.filePath(name)).absoluteFilePath());
            EXPECT_FALSE(questions[0].confirmOverwrite);
            EXPECT_TRUE(questions[0].filter.contains(QStringLiteral("*.") + format.suffix));
            EXPECT_FALSE(timerRunningDuringDialog);
            EXPECT_TRUE(window->acquisitionTimer->isActive());
            EXPECT_TRUE(head(dir.filePath(name), 4).startsWith(format.magic));
        }
    }

    // The page is fixed in millimetres and dots per inch, whatever the plot's size on screen.
    window->ui.qwtPlotScope_2->resize(300, 120);
    click(window->ui.captureViewBottom);
    const QImage image(dir.filePath(QStringLiteral("Tavrix_BottomView.png")));
    EXPECT_NEAR(image.width(), 1004, 2);
    EXPECT_NEAR(image.height(), 669, 2);

    // Any name the user gives picks the format by its extension.
    answer = dir.filePath(QStringLiteral("chosen.svg"));
    click(window->ui.captureViewTop);
    EXPECT_TRUE(head(*answer, 64).contains("<?xml"));
    EXPECT_EQ(window->exportStatus, nullptr);
}

TEST_F(ExportTest, FailuresAreReportedUntilAnExportSucceeds) {
    answer = QString(); // cancelled
    click(window->ui.captureViewTop);
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    answer.reset();
    click(window->ui.captureFormat_3);
    // A directory where the image should go cannot be written, even by root.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tavrix_BottomView.png")));
    const QString target = dir.filePath(QStringLiteral("Tavrix_BottomView.png"));
    click(window->ui.captureViewBottom);

    EXPECT_TRUE(status().startsWith("Error: Plot not exported to " + target))
        << status().toStdString();
    ASSERT_NE(window->exportStatus, nullptr);
    EXPECT_FALSE(window->exportStatus->isHidden());
    EXPECT_EQ(window->exportStatus->text(), status());
    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_TRUE(window->acquisitionTimer->isActive());

    // A name without a known format is refused before anything is created.
    answer = dir.filePath(QStringLiteral("notes.txt2"));
    click(window->ui.captureViewTop);
    EXPECT_TRUE(status().contains("txt2")) << status().toStdString();
    EXPECT_FALSE(QFile::exists(*answer));

    answer = dir.filePath(QStringLiteral("plot.png"));
    click(window->ui.captureViewTop);
    EXPECT_TRUE(window->exportStatus->isHidden());
    EXPECT_TRUE(head(*answer, 4).startsWith("\x89PNG"));
}

} // namespace
