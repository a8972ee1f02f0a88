#pragma once
// The whole content of a mesh file, as the readers see it, and the form of their refusals.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>

// A file's bytes: mapped into memory where the system allows it, else read whole (a special
// file, for example).
class FileBytes {
public:
    // Empty on success, else the problem: "the file does not exist", "the file cannot be opened
    // (why)".
    QString open(const QString& path);

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    QFile file_;
    QByteArray copy_;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// "name: problem", with the file's name (its path when the name is empty), as the readers refuse.
QString fileProblem(const QString& path, const QString& problem);
