#include "staged_file.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// Unbuffered, every write reaches the system at once, so a write that stops short is followed by
// one that fails with the system's reason (a buffered device can lose it in its final flush).
bool writeEverything(QSaveFile& file, const QByteArray& data) {
    for (qint64 done = 0; done < data.size();) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
} // namespace

QString StagedFile::reason() const {
    if (file.error() != QFileDevice::NoError && !file.errorString().isEmpty())
        return file.errorString();
    return QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
}

bool StagedFile::fail(QString& error) {
    error = reason();
    file.cancelWriting();
    return false;
}

bool StagedFile::stage(const QByteArray& data, QString& error) {
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(error);
    if (!writeEverything(file, data) || !file.flush())
        return fail(error);
    // The commit syncs too but ignores a failure; data that cannot reach the disk is an error.
    if (::fsync(file.handle()) != 0)
        return fail(error);
    return true;
}

bool StagedFile::commit(QString& error) {
    errno = 0;
    if (!file.commit()) {
        error = reason();
        return false;
    }
    return true;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString& error) {
    StagedFile file(path);
    return file.stage(data, error) && file.commit(error);
}
