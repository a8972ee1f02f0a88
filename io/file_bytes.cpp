#include "file_bytes.h"

#include "frag_mesh.h"
#include "large_arrays.h"

#include <QFileInfo>

QString FileBytes::open(const QString& path, Access access) {
    if (!QFileInfo::exists(path))
        return QStringLiteral("the file does not exist");
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be opened (%1)").arg(file_.errorString());
    const qint64 size = file_.size();
    if (size > 0 && access == Access::Copy && !file_.isSequential())
        return readWhole();
    if (size > 0)
        data_ = reinterpret_cast<const char*>(file_.map(0, size));
    if (data_) {
        size_ = std::size_t(size);
        return {};
    }
    copy_ = file_.readAll();
    data_ = copy_.constData();
    size_ = std::size_t(copy_.size());
    return {};
}

QString FileBytes::readWhole() {
    const auto size = std::size_t(file_.size());
    bigCopy_.reset(new char[size]);
    large_arrays::adviseHugePages(bigCopy_.get(), size);
    std::size_t done = 0;
    while (done < size) {
        const qint64 n = file_.read(bigCopy_.get() + done, qint64(size - done));
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    if (done != size) {
        bigCopy_.reset();
        return QStringLiteral("the file cannot be read (%1)").arg(file_.errorString());
    }
    data_ = bigCopy_.get();
    size_ = size;
    return {};
}

QString fileProblem(const QString& path, const QString& problem) {
    const QString name = QFileInfo(path).fileName();
    return QStringLiteral("%1: %2").arg(name.isEmpty() ? path : name, problem);
}

bool readMeshBytes(const QString& path, FragMesh& mesh, QString& error, FileBytes::Access access,
                   const std::function<QString(const char* data, std::size_t size)>& parse) {
    mesh.clear();
    FileBytes file;
    QString problem = file.open(path, access);
    if (problem.isEmpty()) {
        try {
            problem = parse(file.data(), file.size());
        } catch (const std::bad_alloc&) {
            problem = QStringLiteral("not enough memory to read the mesh");
        }
    }
    if (!problem.isEmpty()) {
        mesh.clear();
        error = fileProblem(path, problem);
        return false;
    }
    mesh.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
    return true;
}
