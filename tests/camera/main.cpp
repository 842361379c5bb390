#include <QApplication>

#include <gtest/gtest.h>

// The window under test needs an application object for its widgets; no display is needed,
// also when the binary is run by hand or listed by CTest.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
