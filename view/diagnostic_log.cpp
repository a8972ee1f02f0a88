#include "diagnostic_log.h"

#include <QFile>
#include <cstdio>

namespace {
std::FILE* logFile() {
    // Opened (and emptied) by the first message of the run, on purpose never closed: messages
    // may come from anywhere until exit.
    static std::FILE* file = std::fopen("LogError.txt", "w");
    return file;
}
} // namespace

void logMessage(const char* text) {
    if (std::FILE* f = logFile()) {
        std::fprintf(f, "%s\n", text);
        std::fflush(f);
    }
}

void logMessage(const char* format, int value) {
    char message[1024];
    std::snprintf(message, sizeof message, format, value);
    logMessage(message);
}

std::optional<QByteArray> readTextFile(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > MaxTextFileBytes)
        return std::nullopt;
    QByteArray text = file.read(MaxTextFileBytes + 1);
    if (text.size() > MaxTextFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return text;
}
