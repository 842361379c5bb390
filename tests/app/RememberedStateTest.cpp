// What the window remembers between runs, through a settings file of the test's own.
#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class RememberedStateTest : public ::testing::Test {
protected:
    std::unique_ptr<Tavrix> makeWindow() {
        auto window = std::make_unique<Tavrix>(driver);
        window->saveFileDialog = [this](const Tavrix::SaveFileQuestion& question) {
            proposed.push_back(question.proposedName);
            return dir.filePath(QStringLiteral("exports/view.png"));
        };
        return window;
    }

    QTemporaryDir dir;
    QSettings store{dir.filePath(QStringLiteral("tavrix.ini")), QSettings::IniFormat};
    sim::SimUsbDriver driver;
    QStringList proposed;
};

} // namespace

TEST_F(RememberedStateTest, WindowComesBackAsItWasLeftAndTheFormKeepsItsDefaults) {
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("exports")));
    {
        auto first = makeWindow();
        EXPECT_FALSE(first->rememberStateIn(&store)); // nothing remembered yet
        first->ui.device_centerFrequency->setCurrentIndex(5);
        first->ui.comboPSampleWindow->setCurrentIndex(3);
        first->ui.dockWidget_Controls->hide();
        // The detector, as the Detections dock sets it: on, OS, 12 training cells.
        first->findChild<QCheckBox*>(QStringLiteral("detectorEnabled"))->setChecked(true);
        first->findChild<QComboBox*>(QStringLiteral("detectorVariant"))->setCurrentIndex(1);
        first->findChild<QSpinBox*>(QStringLiteral("detectorTraining"))->setValue(12);
        first->setGeometry(40, 50, 900, 700);
        first->show();
        first->exportPlotImageTop();
        first->close();
    }
    auto second = makeWindow();
    ASSERT_TRUE(second->rememberStateIn(&store));
    second->show();
    EXPECT_EQ(second->ui.device_centerFrequency->currentIndex(), 5);
    EXPECT_EQ(second->ui.comboPSampleWindow->currentIndex(), 0); // operating controls as documented
    EXPECT_EQ(second->size(), QSize(900, 700));
    EXPECT_FALSE(second->ui.dockWidget_Controls->isVisible());
    const tavrix::radar::DetectorSettings detector = second->currentSettings().detector;
    EXPECT_TRUE(detector.enabled);
    EXPECT_EQ(detector.variant, tavrix::radar::DetectorSettings::OS);
    EXPECT_EQ(detector.training, 12);
    second->exportPlotImageTop();
    ASSERT_EQ(proposed.size(), 2);
    EXPECT_EQ(QFileInfo(proposed[1]).absolutePath().toStdString(),
              dir.filePath(QStringLiteral("exports")).toStdString());

    second->findChild<QAction*>(QStringLiteral("actionResetLayout"))->trigger();
    EXPECT_TRUE(second->ui.dockWidget_Controls->isVisible());
}
