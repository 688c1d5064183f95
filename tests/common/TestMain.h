#pragma once

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

// Runs a Qt Test class with the environment every test of the suite relies on: the offscreen
// platform, the C locale and a fresh temporary HOME (so settings and per-user data never leak
// between tests or into the developer's profile).
#define ORV_TEST_MAIN(TestClass)                                                   \
    int main(int argc, char **argv)                                                \
    {                                                                              \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                   \
        QTemporaryDir home;                                                        \
        qputenv("HOME", home.path().toLocal8Bit());                                \
        qunsetenv("XDG_CONFIG_HOME");                                              \
        qunsetenv("XDG_DATA_HOME");                                                \
        QLocale::setDefault(QLocale::c());                                         \
        QApplication app(argc, argv);                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                   \
        TestClass tc;                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                 \
        return QTest::qExec(&tc, argc, argv);                                      \
    }
