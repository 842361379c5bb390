#include "app/Tavrix.h"
#include "sim/SimUsbDriver.h"

#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

class Adjusters : public ::testing::Test {
protected:
    void SetUp() override {
        window.setDisplayControlsEnabled(true);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Clicks like a user: the button's tool-box page is opened first.
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

TEST_F(Adjusters, MaximumDynamicRangeStopsShortOfItsLimits) {
    click(ui.DR_Max_Plus, 49);
    EXPECT_EQ(ui.DynamicRange_Maximum->value(), 148);
    click(ui.DR_Max_Plus);
    EXPECT_EQ(ui.DynamicRange_Maximum->value(), 148) << "150 is not below the maximum";

    ui.DynamicRange_Maximum->setValue(149);
    click(ui.DR_Max_Plus);
    EXPECT_EQ(ui.DynamicRange_Maximum->value(), 149);

    ui.DynamicRange_Maximum->setValue(-146);
    click(ui.DR_Max_Minus, 2);
    EXPECT_EQ(ui.DynamicRange_Maximum->value(), -148);
}

TEST_F(Adjusters, MinimumDynamicRangeStopsShortOfItsLimits) {
    click(ui.DR_Min_Minus, 49);
    EXPECT_EQ(ui.DynamicRange_Minimum->value(), -148);
    click(ui.DR_Min_Minus);
    EXPECT_EQ(ui.DynamicRange_Minimum->value(), -148);

    ui.DynamicRange_Minimum->setValue(-149);
    click(ui.DR_Min_Minus);
    EXPECT_EQ(ui.DynamicRange_Minimum->value(), -149);

    ui.DynamicRange_Minimum->setValue(146);
    click(ui.DR_Min_Plus, 2);
    EXPECT_EQ(ui.DynamicRange_Minimum->value(), 148);
}

TEST_F(Adjusters, WindowSlidersReachBothEndsExactly) {
    struct Window {
        QPushButton* minus;
        QSlider* slider;
        QPushButton* plus;
    };
    const Window windows[] = {
        {ui.rangeFilter_Low_Minus, ui.rangeFilter_Low, ui.rangeFilter_Low_Plus},
        {ui.rangeFilter_High_Minus, ui.rangeFilter_High, ui.rangeFilter_High_Plus},
        {ui.velocityFilter_Low_Minus, ui.velocityFilter_Low, ui.velocityFilter_Low_Plus},
        {ui.velocityFilter_High_Minus, ui.velocityFilter_High, ui.velocityFilter_High_Plus},
    };
    for (const Window& w : windows) {
        const std::string name = w.slider->objectName().toStdString();
        w.slider->setValue(1);
        click(w.minus);
        EXPECT_EQ(w.slider->value(), 0) << name;
        click(w.minus);
        EXPECT_EQ(w.slider->value(), 0) << name;
        click(w.plus, 99);
        EXPECT_EQ(w.slider->value(), 99) << name;
        click(w.plus);
        EXPECT_EQ(w.slider->value(), 99) << name;
    }
}

TEST_F(Adjusters, LowerBoundMayPassTheUpperBound) {
    ui.rangeFilter_High->setValue(50);
    ui.rangeFilter_Low->setValue(98);
    click(ui.rangeFilter_Low_Plus);
    EXPECT_EQ(ui.rangeFilter_Low->value(), 99);
    EXPECT_EQ(ui.rangeFilter_High->value(), 50);

    ui.velocityFilter_Low->setValue(99);
    click(ui.velocityFilter_High_Minus, 99);
    EXPECT_EQ(ui.velocityFilter_High->value(), 0);
    EXPECT_EQ(ui.velocityFilter_Low->value(), 99);
}

// Every step button moves the slider its tool tip names, in the direction it names, and
// nothing else.
TEST_F(Adjusters, EachButtonStepsTheSliderItsTipNames) {
    const std::map<QString, QSlider*> sliderOf{
        {"Maximum Dynamic Range", ui.DynamicRange_Maximum},
        {"Minimum Dynamic Range", ui.DynamicRange_Minimum},
        {"Range Lower-Bound", ui.rangeFilter_Low},
        {"Range Upper-Bound", ui.rangeFilter_High},
        {"Velocity Lower-Bound", ui.velocityFilter_Low},
        {"Velocity Upper-Bound", ui.velocityFilter_High},
    };
    const QList<QPushButton*> buttons{
        ui.DR_Max_Plus,
        ui.DR_Max_Minus,
        ui.DR_Min_Plus,
        ui.DR_Min_Minus,
        ui.rangeFilter_High_Minus,
        ui.rangeFilter_High_Plus,
        ui.rangeFilter_Low_Minus,
        ui.rangeFilter_Low_Plus,
        ui.velocityFilter_High_Minus,
        ui.velocityFilter_High_Plus,
        ui.velocityFilter_Low_Minus,
        ui.velocityFilter_Low_Plus,
    };
    for (QPushButton* button : buttons) {
        const QString tip = button->toolTip();
        const std::string name = button->objectName().toStdString();
        const bool increase = tip.startsWith("Increase ");
        ASSERT_TRUE(increase || tip.startsWith("Decrease ")) << name;
        ASSERT_EQ(button->text(), increase ? "+" : "-") << name;
        const auto target = sliderOf.find(tip.section(' ', 1));
        ASSERT_NE(target, sliderOf.end()) << name << ": " << tip.toStdString();
        QSlider* slider = target->second;

        // Start in the middle so that either direction is allowed.
        slider->setValue((slider->minimum() + slider->maximum()) / 2);
        std::map<QSlider*, int> expected = sliderValues();
        const int step =
            slider == ui.DynamicRange_Maximum || slider == ui.DynamicRange_Minimum ? 2 : 1;
        expected[slider] += increase ? step : -step;

        click(button);
        EXPECT_EQ(sliderValues(), expected) << name;
    }
}

} // namespace
