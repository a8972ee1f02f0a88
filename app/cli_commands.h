#pragma once
// The commands of ostrakit-cli, callable from tests. Results go to out, errors to err (each names
// the file or the cause); the return value is the exit status (0 on success).

#include <QStringList>
#include <cstdio>

int runCliCommand(const QStringList& args, std::FILE* out, std::FILE* err);
