// The app tests need a QApplication (widgets, clipboard, event loop) for their whole run.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zarvel::test {
// The child half of the crash-recovery test (RecoveryTests.cpp).
bool isRecoveryChild();
int runRecoveryChild();
} // namespace zarvel::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    if (zarvel::test::isRecoveryChild()) return zarvel::test::runRecoveryChild();
    // Recovery records of the tests never mix with the user's own.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    // Nor do the recent files, folders and window places the tests leave behind.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
