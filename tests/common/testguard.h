#pragma once

// Shared start of every test program that could reach an end action or read settings.
//
// WT_REQUIRE_SAFE_SHUTDOWN() stops the test at once, loudly, unless the shutdown command
// has been replaced by a harmless one (CTest sets WAVETRANSMUTER_SHUTDOWN_COMMAND to a
// recorder), and sets WAVETRANSMUTER_TESTING, which makes RunShutdownCommand() refuse the
// machine's real command whatever happens later.
//
// WtIsolateSettings(dir) points HOME, the XDG folders (music included) and
// WAVETRANSMUTER_SETTINGS_FILE into a temporary folder, before anything reads settings.
//
// WT_SAFE_TEST_MAIN(Class) is QTEST_MAIN with both of the above.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QtGlobal>

#define WT_REQUIRE_SAFE_SHUTDOWN()                                                                 \
    do {                                                                                           \
        if (qEnvironmentVariableIsEmpty("WAVETRANSMUTER_SHUTDOWN_COMMAND"))                        \
            qFatal("WAVETRANSMUTER_SHUTDOWN_COMMAND is not set: refusing to run tests that "       \
                   "could shut this machine down. Run them through ctest.");                       \
        qputenv("WAVETRANSMUTER_TESTING", "1");                                                    \
    } while (false)

inline void WtIsolateSettings(const QString &dir)
{
    QDir(dir).mkpath(QStringLiteral("config"));
    qputenv("HOME", QFile::encodeName(dir));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir + QStringLiteral("/cache")));
    qputenv("XDG_MUSIC_DIR", QFile::encodeName(dir + QStringLiteral("/Music")));
    qputenv("WAVETRANSMUTER_SETTINGS_FILE",
            QFile::encodeName(dir + QStringLiteral("/config/ConverInif.ini")));
}

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define WT_TEST_APPLICATION QApplication
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
#define WT_TEST_APPLICATION QGuiApplication
#else
#include <QCoreApplication>
#define WT_TEST_APPLICATION QCoreApplication
#endif

#define WT_SAFE_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        WT_REQUIRE_SAFE_SHUTDOWN();                                                                \
        QTemporaryDir wtHome;                                                                      \
        if (!wtHome.isValid())                                                                     \
            qFatal("no temporary folder for the test's settings");                                 \
        WtIsolateSettings(wtHome.path());                                                          \
        WT_TEST_APPLICATION app(argc, argv);                                                       \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
