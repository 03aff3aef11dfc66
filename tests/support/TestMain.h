#pragma once

#include "TestEnvironment.h"

#include <QTest>

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, with settings and trash in a private folder.
#define TWINFOLD_TEST_MAIN_IMPL(TestObject, AppType, Setup)                                                            \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        TestEnvironment environment;                                                                                   \
        AppType app(argc, argv);                                                                                       \
        Setup;                                                                                                         \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

#define TWINFOLD_GUILESS_TEST_MAIN(TestObject) TWINFOLD_TEST_MAIN_IMPL(TestObject, QCoreApplication, (void)0)

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define TWINFOLD_WIDGETS_TEST_MAIN(TestObject)                                                                         \
    TWINFOLD_TEST_MAIN_IMPL(TestObject, QApplication, QApplication::setAttribute(Qt::AA_DontUseNativeDialogs))
#endif
