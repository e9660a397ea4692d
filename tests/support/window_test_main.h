#pragma once

#include "app/startup.h"

#include <QApplication>
#include <QTest>

// Window tests run headless and, like the program, may run as root.
#define QINGHE_WINDOW_TEST_MAIN(TestClass)                         \
    int main(int argc, char* argv[])                               \
    {                                                              \
        qputenv("QT_QPA_PLATFORM", "offscreen");                   \
        qinghe::prepareProcessForWebViews();                       \
        QApplication app(argc, argv);                              \
        QApplication::setQuitOnLastWindowClosed(false);            \
        TestClass test;                                            \
        return QTest::qExec(&test, argc, argv);                    \
    }
