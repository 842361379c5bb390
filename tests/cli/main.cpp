#include <QCoreApplication>

#include <gtest/gtest.h>

// The commands' help names the program through the application object, as in tavrix-cli.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
