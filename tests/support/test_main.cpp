#include <gtest/gtest.h>

#include <QApplication>

// Widget tests run on the offscreen platform unless the environment chose another one.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the desktop keyring of whoever runs the tests: tests that need one start their own.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Lorvex"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
