#pragma once
// main() of a test suite that needs real OpenGL views: the program's GL defaults, then a
// QApplication, then the suite.

#include "gl_defaults.h"

#include <QApplication>
#include <QStandardPaths>
#include <QtTest>

#define OSTRAKIT_GL_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char* argv[]) {                                                                       \
        setProgramGlDefaults();                                                                              \
        QApplication app(argc, argv);                                                                        \
        QStandardPaths::setTestModeEnabled(true); /* recovery files stay out of the user's data */           \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
