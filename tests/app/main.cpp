#include <QApplication>
#include <QThreadPool>

#include <gtest/gtest.h>

// Widget tests need one application object for the whole run. Test discovery runs this
// binary outside CTest's environment, so fall back to the offscreen platform here too.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    // Qt's pool threads end when idle for a while; one ending while LeakSanitizer stops the
    // world at exit makes it fail. They are ended here instead.
    QThreadPool::globalInstance()->waitForDone();
    return failed;
}
