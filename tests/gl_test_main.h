#pragma once
// main() of a test suite that needs real OpenGL views: the program's GL defaults, then a
// QApplication, then the suite.

#include "gl_defaults.h"

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#define OSTRAKIT_GL_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char* argv[]) {                                                                       \
        setProgramGlDefaults();                                                                              \
        QApplication app(argc, argv);                                                                        \
        QStandardPaths::setTestModeEnabled(true); /* recovery files stay out of the user's data */           \
        QTemporaryDir settings; /* and recent files and folders out of the user's settings */                \
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());                  \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
