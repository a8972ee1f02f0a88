#pragma once
// Runs an ostrakit-cli command in the test process and collects its exit status and output.

#include <QString>
#include <QStringList>
#include <cstdio>

struct CliRun {
    int status = 0;
    QString out, err;
};

inline QString readStream(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return QString::fromLocal8Bit(bytes);
}

using CliCommand = int (*)(const QStringList&, std::FILE*, std::FILE*);

inline CliRun runCli(CliCommand command, const QStringList& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CliRun r;
    r.status = command(args, out, err);
    r.out = readStream(out);
    r.err = readStream(err);
    std::fclose(out);
    std::fclose(err);
    return r;
}
