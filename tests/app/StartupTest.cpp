#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"

#include <QDockWidget>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <qwt_dial.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_legenditem.h>
#include <qwt_slider.h>
#include <qwt_thermo.h>

#include <gtest/gtest.h>

#include <deque>

namespace {

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    sim::SimUsbDriver noBoards;
    Tavrix window{noBoards};
    Ui::Tavrix& ui = window.ui;
};

TEST_F(Startup, OnlyTheDeviceGroupRespondsBeforeActivation) {
    EXPECT_FALSE(ui.fskGroupBox->isVisible());
    EXPECT_FALSE(ui.radioOperationMode_2->isVisible());
    EXPECT_FALSE(ui.radioOperationMode_2->isEnabled());
    EXPECT_TRUE(ui.filterOptionDCSubtract->isChecked());

    EXPECT_FALSE(ui.groupBox_3->isEnabled());
    EXPECT_FALSE(ui.DisplayProperties->isEnabled());
    EXPECT_TRUE(ui.groupBox_2->isEnabled());
    EXPECT_TRUE(ui.buttonActivateDevice->isCheckable());
    EXPECT_FALSE(ui.buttonActivateDevice->isChecked());
    EXPECT_TRUE(ui.radioOperationMode_1->isChecked());

    window.setDisplayControlsEnabled(true);
    EXPECT_TRUE(ui.groupBox_3->isEnabled());
    EXPECT_TRUE(ui.DisplayProperties->isEnabled());
    window.setDisplayControlsEnabled(false);
    EXPECT_FALSE(ui.groupBox_3->isEnabled());
    EXPECT_FALSE(ui.DisplayProperties->isEnabled());
}

TEST_F(Startup, ToolBoxHasSixPagesInOrderWithTheFirstCurrent) {
    const QStringList pages{"page", "page_2", "page_4", "page_3", "page_6", "page_5"};
    ASSERT_EQ(ui.DisplayProperties->count(), 6);
    const QStringList expectedTitles{"Operating Parameters", "Stream Filtering",
                                     "Display Parameters",   "Export",
                                     "Camera Controls",      "About"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ui.DisplayProperties->widget(i)->objectName(), pages[i]);
        EXPECT_EQ(ui.DisplayProperties->itemText(i), expectedTitles[i]);
    }
    EXPECT_EQ(ui.DisplayProperties->currentIndex(), 0);
}

TEST_F(Startup, DocksAndResources) {
    EXPECT_EQ(window.objectName(), "TavrixClass");
    EXPECT_EQ(window.windowTitle(), "Tavrix");
    EXPECT_TRUE(QFile::exists(":/Tavrix/tavrix.ico"));
    EXPECT_TRUE(QFile::exists(":/Tavrix/velmora_logo.png"));
    EXPECT_FALSE(window.windowIcon().isNull());

    QDockWidget* controls = ui.dockWidget_Controls;
    EXPECT_EQ(controls->windowTitle(), "Radar Controls");
    EXPECT_EQ(window.dockWidgetArea(controls), Qt::LeftDockWidgetArea);
    EXPECT_FALSE(controls->isFloating());
    EXPECT_EQ(controls->features(),
              QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);

    ASSERT_NE(window.cameraDock, nullptr);
    EXPECT_EQ(window.cameraDock->windowTitle(), "Camera");
    EXPECT_EQ(window.dockWidgetArea(window.cameraDock), Qt::LeftDockWidgetArea);
    ASSERT_NE(window.cameraView, nullptr);
    EXPECT_EQ(window.camera, nullptr);
}

TEST_F(Startup, DeviceModelsAndSignalChoices) {
    EXPECT_EQ(itemTexts(ui.device_centerFrequency),
              QStringList({"Alder", "Birch", "Cedar", "Dogwood", "Elm", "Fir", "Ginkgo", "Hazel"}));
    EXPECT_EQ(ui.device_centerFrequency->currentIndex(), 0);

    struct Combo {
        QComboBox* combo;
        QStringList items;
        int current;
    };
    const Combo combos[] = {
        {ui.comboPBandwidth, {"100", "150", "300", "400"}, 0},
        {ui.comboPSampleWindow, {"128", "256", "512", "1024"}, 0},
        {ui.comboPSweepTime, {"0.5", "1", "4", "10"}, 0},
        {ui.WaterfallRasterDataMethod, {"BilinearInterpolation", "NearestNeighbour"}, 1},
        {ui.WaterfallRasterDataColor, {"Standard", "RGB", "B&W", "Jet"}, 3},
    };
    for (const Combo& c : combos) {
        EXPECT_EQ(itemTexts(c.combo), c.items) << c.combo->objectName().toStdString();
        EXPECT_EQ(c.combo->currentIndex(), c.current) << c.combo->objectName().toStdString();
    }
}

TEST_F(Startup, SliderAndSpinBoxRangesAndDefaults) {
    struct Range {
        QAbstractSlider* control;
        int minimum, maximum, step, value;
    };
    // For sliders the step column is the page step, for spin boxes the single step.
    const Range sliders[] = {
        {ui.rangeFilter_Low, 0, 99, 10, 0},           {ui.rangeFilter_High, 0, 99, 10, 99},
        {ui.velocityFilter_Low, 0, 99, 10, 0},        {ui.velocityFilter_High, 0, 99, 10, 99},
        {ui.DynamicRange_Maximum, -150, 150, 20, 50}, {ui.DynamicRange_Minimum, -150, 150, 20, -50},
    };
    for (const Range& r : sliders) {
        const std::string name = r.control->objectName().toStdString();
        EXPECT_EQ(r.control->minimum(), r.minimum) << name;
        EXPECT_EQ(r.control->maximum(), r.maximum) << name;
        EXPECT_EQ(r.control->pageStep(), r.step) << name;
        EXPECT_EQ(r.control->value(), r.value) << name;
    }

    struct Spin {
        QSpinBox* control;
        int minimum, maximum, step, value;
    };
    const Spin spins[] = {
        {ui.spinBoxPUpdateRate, 10, 5000, 10, 100},
        {ui.spinBoxDopplerQueue, 8, 1024, 8, 64},
        {ui.SpectrogramRows, 8, 1024, 8, 64},
        {ui.filterOptionDirectClutterAvgCount, 2, 64, 1, 2},
        {ui.recordTimeSeconds, 1, 1000000, 1, 15},
    };
    for (const Spin& s : spins) {
        const std::string name = s.control->objectName().toStdString();
        EXPECT_EQ(s.control->minimum(), s.minimum) << name;
        EXPECT_EQ(s.control->maximum(), s.maximum) << name;
        EXPECT_EQ(s.control->singleStep(), s.step) << name;
        EXPECT_EQ(s.control->value(), s.value) << name;
    }
    // The chains hold at most 1024 sweeps whatever the user types.
    ui.spinBoxDopplerQueue->setValue(4096);
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 1024);

    // The window mirrors the two values the chains read as members.
    EXPECT_EQ(window.updateIntervalMs, 100u);
    EXPECT_EQ(window.waterfallRows, 64u);
}

TEST_F(Startup, DisplayButtonsAreExclusiveAndNamedByTheirMode) {
    // Visual order; the number at the end of the object name is the display mode.
    const std::pair<QPushButton*, QString> buttons[] = {
        {ui.radioSpectrumDisplay_1, "Range && Time Scope"},
        {ui.radioSpectrumDisplay_2, "Velocity Scope"},
        {ui.radioSpectrumDisplay_3, "Range-Velocity Map"},
        {ui.radioSpectrumDisplay_5, "Range Waterfall"},
        {ui.radioSpectrumDisplay_4, "Velocity Waterfall"},
    };
    auto* layout = ui.groupBox_3->layout();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(layout->itemAt(i)->widget(), buttons[i].first) << i;
        EXPECT_EQ(buttons[i].first->text(), buttons[i].second);
        EXPECT_TRUE(buttons[i].first->isCheckable());
    }
    EXPECT_TRUE(ui.radioSpectrumDisplay_1->isChecked());

    window.setDisplayControlsEnabled(true);
    QTest::mouseClick(ui.radioSpectrumDisplay_5, Qt::LeftButton);
    for (const auto& [button, text] : buttons)
        EXPECT_EQ(button->isChecked(), button == ui.radioSpectrumDisplay_5) << text.toStdString();
    // Clicking the checked button again keeps one mode selected.
    QTest::mouseClick(ui.radioSpectrumDisplay_5, Qt::LeftButton);
    EXPECT_TRUE(ui.radioSpectrumDisplay_5->isChecked());
}

TEST_F(Startup, PlotsAndFskInstruments) {
    for (QwtPlot* plot : {ui.qwtPlotScope_1, ui.qwtPlotScope_2}) {
        EXPECT_EQ(plot->canvasBackground().color(), QColor(56, 56, 56));
        const QwtPlotItemList legends = plot->itemList(QwtPlotItem::Rtti_PlotLegend);
        ASSERT_EQ(legends.size(), 1);
        const auto* legend = static_cast<const QwtPlotLegendItem*>(legends.front());
        EXPECT_EQ(legend->maxColumns(), 1u);
        EXPECT_EQ(legend->alignment(), Qt::AlignRight | Qt::AlignTop);
    }

    EXPECT_DOUBLE_EQ(ui.counterFSKDetectionThreshold->lowerBound(), 0.0);
    EXPECT_DOUBLE_EQ(ui.counterFSKDetectionThreshold->upperBound(), 80.0);
    EXPECT_DOUBLE_EQ(ui.counterFSKDetectionThreshold->value(), 8.0);
    EXPECT_TRUE(ui.thermFSKMaxDetectedValue->alarmEnabled());
    EXPECT_DOUBLE_EQ(ui.thermFSKMaxDetectedValue->alarmLevel(), 50.0);

    EXPECT_DOUBLE_EQ(ui.dialFSKRange->lowerBound(), 0.0);
    EXPECT_DOUBLE_EQ(ui.dialFSKRange->upperBound(), 100.0);
    EXPECT_DOUBLE_EQ(ui.dialFSKVelocity->lowerBound(), -50.0);
    EXPECT_DOUBLE_EQ(ui.dialFSKVelocity->upperBound(), 50.0);
    for (QwtDial* dial : {ui.dialFSKRange, ui.dialFSKVelocity}) {
        EXPECT_DOUBLE_EQ(dial->value(), 50.0);
        EXPECT_TRUE(dial->isReadOnly());
        EXPECT_DOUBLE_EQ(dial->minScaleArc(), 45.0);
        EXPECT_DOUBLE_EQ(dial->maxScaleArc(), 315.0);
    }
}

TEST_F(Startup, DisplayRateRetimesOnlyAnActiveStream) {
    auto* timer = new QTimer(&window);
    timer->start(100);
    window.acquisitionTimer = timer;

    ui.spinBoxPUpdateRate->setValue(250);
    EXPECT_EQ(window.updateIntervalMs, 250u);
    EXPECT_EQ(timer->interval(), 100) << "a stopped device keeps its old timer period";

    ui.buttonActivateDevice->setChecked(true);
    ui.spinBoxPUpdateRate->setValue(40);
    EXPECT_EQ(window.updateIntervalMs, 40u);
    EXPECT_EQ(timer->interval(), 40);
    EXPECT_TRUE(timer->isActive());
}

struct CountedCurve : QwtPlotCurve {
    explicit CountedCurve(int& deleted) : deleted(deleted) {}
    ~CountedCurve() override { ++deleted; }
    int& deleted;
};

TEST(Teardown, DeletesEachOwnedItemExactlyOnce) {
    int attachedDeleted = 0;
    int detachedDeleted = 0;
    {
        sim::SimUsbDriver noBoards;
        Tavrix window(noBoards);
        window.curveTopI = new CountedCurve(attachedDeleted);
        window.curveTopI->attach(window.ui.qwtPlotScope_1);
        // An item no plot holds is released by the window alone.
        window.curveBottom = new CountedCurve(detachedDeleted);
        window.clutterPrevious = new Tavrix::SampleBlock(128);
        window.clutterHistory = new std::deque<Tavrix::SampleBlock>(4, Tavrix::SampleBlock(128));
    }
    EXPECT_EQ(attachedDeleted, 1);
    EXPECT_EQ(detachedDeleted, 1);
}

} // namespace
