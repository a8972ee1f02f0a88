#include "file_bytes.h"

#include <QFileInfo>

QString FileBytes::open(const QString& path) {
    if (!QFileInfo::exists(path))
        return QStringLiteral("the file does not exist");
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be opened (%1)").arg(file_.errorString());
    const qint64 size = file_.size();
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

QString fileProblem(const QString& path, const QString& problem) {
    const QString name = QFileInfo(path).fileName();
    return QStringLiteral("%1: %2").arg(name.isEmpty() ? path : name, problem);
}
