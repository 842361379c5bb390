#include <QApplication>

#include <gtest/gtest.h>

// The window needs one application object for the whole run. Test discovery runs this
// binary outside CTest's environment, so fall back to the offscreen platform here too.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
