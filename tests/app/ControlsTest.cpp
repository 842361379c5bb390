#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"

#include <QTest>
#include <QTimer>

#include <qwt_plot_curve.h>

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace {

// The window without a board, shown so that clicks land as a user's would.
class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Opens the button's tool-box page first, as a user must.
    void click(QPushButton* button, int times = 1) {
        for (int i = 0; i < ui.DisplayProperties->count(); ++i) {
            if (ui.DisplayProperties->widget(i)->isAncestorOf(button))
                ui.DisplayProperties->setCurrentIndex(i);
        }
        for (int i = 0; i < times; ++i)
            QTest::mouseClick(button, Qt::LeftButton);
    }
    std::map<QSlider*, int> sliderValues() {
        std::map<QSlider*, int> values;
        for (QSlider* s : {ui.DynamicRange_Maximum, ui.DynamicRange_Minimum, ui.rangeFilter_Low,
                           ui.rangeFilter_High, ui.velocityFilter_Low, ui.velocityFilter_High})
            values[s] = s->value();
        return values;
    }

    sim::SimUsbDriver noBoards;
    Tavrix window{noBoards};
    Ui::Tavrix& ui = window.ui;
};

TEST_F(Controls, OnlyTheDeviceGroupRespondsBeforeActivation) {
    EXPECT_FALSE(ui.fskGroupBox->isVisible());
    EXPECT_FALSE(ui.groupBox_3->isEnabled());
    EXPECT_FALSE(ui.DisplayProperties->isEnabled());
    EXPECT_TRUE(ui.groupBox_2->isEnabled());

    // Display buttons are exclusive; clicking the checked one again keeps one mode.
    window.setDisplayControlsEnabled(true);
    click(ui.radioSpectrumDisplay_5, 2);
    for (QPushButton* b : {ui.radioSpectrumDisplay_1, ui.radioSpectrumDisplay_2,
                           ui.radioSpectrumDisplay_3, ui.radioSpectrumDisplay_4})
        EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
    EXPECT_TRUE(ui.radioSpectrumDisplay_5->isChecked());
}

TEST_F(Controls, DisplayRateRetimesOnlyAnActiveStreamAndTheSweepQueueStaysBounded) {
    auto* timer = new QTimer(&window);
    timer->start(100);
    window.acquisitionTimer = timer;
    ui.spinBoxPUpdateRate->setValue(250);
    EXPECT_EQ(window.updateIntervalMs, 250u);
    EXPECT_EQ(timer->interval(), 100) << "a stopped device keeps its old timer period";
    ui.buttonActivateDevice->setChecked(true);
    ui.spinBoxPUpdateRate->setValue(40);
    EXPECT_EQ(timer->interval(), 40);
    EXPECT_TRUE(timer->isActive());

    ui.spinBoxDopplerQueue->setValue(4096); // the chains hold at most 1024 sweeps
    EXPECT_EQ(ui.spinBoxDopplerQueue->value(), 1024);
}

// Every step button moves its own slider and nothing else: the dynamic range by 2, strictly
// inside its limits, the windows by 1 up to theirs, a lower bound past the upper one.
TEST_F(Controls, EachStepButtonMovesItsOwnSliderUpToItsLimit) {
    window.setDisplayControlsEnabled(true);
    struct Case {
        QPushButton* button;
        QSlider* slider;
        int from, clicks, to;
    };
    const Case cases[] = {
        {ui.DR_Max_Plus, ui.DynamicRange_Maximum, 50, 50, 148},
        {ui.DR_Max_Plus, ui.DynamicRange_Maximum, 149, 1, 149},
        {ui.DR_Max_Minus, ui.DynamicRange_Maximum, -146, 2, -148},
        {ui.DR_Min_Minus, ui.DynamicRange_Minimum, -50, 50, -148},
        {ui.DR_Min_Plus, ui.DynamicRange_Minimum, 146, 2, 148},
        {ui.rangeFilter_Low_Minus, ui.rangeFilter_Low, 1, 2, 0},
        {ui.rangeFilter_Low_Plus, ui.rangeFilter_Low, 40, 3, 43},
        {ui.rangeFilter_High_Minus, ui.rangeFilter_High, 1, 2, 0},
        {ui.rangeFilter_High_Plus, ui.rangeFilter_High, 0, 100, 99},
        {ui.velocityFilter_Low_Minus, ui.velocityFilter_Low, 50, 3, 47},
        {ui.velocityFilter_Low_Plus, ui.velocityFilter_Low, 0, 100, 99},
        {ui.velocityFilter_High_Plus, ui.velocityFilter_High, 98, 2, 99},
        {ui.velocityFilter_High_Minus, ui.velocityFilter_High, 99, 100, 0},
    };
    for (const Case& c : cases) {
        c.slider->setValue(c.from);
        std::map<QSlider*, int> expected = sliderValues();
        expected[c.slider] = c.to;
        click(c.button, c.clicks);
        EXPECT_EQ(sliderValues(), expected) << c.button->objectName().toStdString();
    }
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
    }
    EXPECT_EQ(attachedDeleted, 1);
    EXPECT_EQ(detachedDeleted, 1);
}

} // namespace
