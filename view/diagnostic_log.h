#pragma once
// The program's small diagnostic log, "LogError.txt" in the working directory, written by the GL
// code that has no user to talk to (frame buffer set-up, shader compilation, peeling bounds), and
// the reading of small text files such as shader sources.

#include <QByteArray>
#include <optional>

// Appends text and a line break to "LogError.txt" and flushes. The first message of a run empties
// the file; it stays open until the program ends.
void logMessage(const char* text);
// The same with one int formatted into format by the C rules; a result longer than the message
// buffer (1,024 bytes with its terminator) is cut.
void logMessage(const char* format, int value);

// Largest text file readTextFile accepts.
constexpr qint64 MaxTextFileBytes = 65536;
// The whole file, or nothing when it cannot be opened or is longer than MaxTextFileBytes.
std::optional<QByteArray> readTextFile(const char* path);
