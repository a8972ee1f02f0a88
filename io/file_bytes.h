#pragma once
// The whole content of a mesh file, as the readers see it, and the form of their refusals.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

struct FragMesh;

// A file's bytes: mapped into memory where the system allows it, else read whole (a special
// file, for example).
class FileBytes {
public:
    enum class Access {
        Map,
        // Read whole into memory backed by huge pages: costs a copy, but a reader that walks a large
        // file several times, or jumps about in it, then misses the address cache far less often
        // than in a file mapped in small pages.
        Copy
    };

    // Empty on success, else the problem: "the file does not exist", "the file cannot be opened
    // (why)", "the file cannot be read (why)".
    QString open(const QString& path, Access access = Access::Map);

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    QString readWhole();

    QFile file_;
    QByteArray copy_;
    std::unique_ptr<char[]> bigCopy_;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// "name: problem", with the file's name (its path when the name is empty), as the readers refuse.
QString fileProblem(const QString& path, const QString& problem);

// Reads a mesh file as the readers do: clears mesh, opens the file with access and runs
// parse(data, size), which fills mesh or returns the problem (a std::bad_alloc it throws is "not
// enough memory to read the mesh"). On a problem, leaves mesh empty, sets error as fileProblem does
// and returns false; else marks everything in mesh as changed.
bool readMeshBytes(const QString& path, FragMesh& mesh, QString& error, FileBytes::Access access,
                   const std::function<QString(const char* data, std::size_t size)>& parse);
