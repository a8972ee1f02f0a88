#pragma once
// "ostrakit-cli interpenetration": the marks of the solved view without a window, exact by default.
// The depth-peeling method ("--method peeling") draws with OpenGL, so it runs inside a
// QGuiApplication on an X server; without a usable OpenGL context it fails with a message.

#include <QStringList>
#include <cstdio>

// args are the command's own (after "interpenetration"). Returns the exit status.
int runInterpenetration(const QStringList& args, std::FILE* out, std::FILE* err);
