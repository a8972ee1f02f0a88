#pragma once
// Replacing a file as a whole: the new bytes go to a temporary file beside it, which takes the
// file's place only on commit(). Until then, and after any failed step, the old file is untouched,
// and a temporary file that is not committed is removed.

#include <QSaveFile>
#include <QString>

class StagedFile {
public:
    explicit StagedFile(const QString& path) : file(path) {}

    // Writes every byte of data and forces it to the disk. False, with the system's reason in
    // error, as soon as one byte cannot be written; the temporary file is then discarded.
    bool stage(const QByteArray& data, QString& error);
    // Puts the staged file in place of the old one (an atomic rename).
    bool commit(QString& error);

private:
    // The device's message, or the system's when the device has none.
    QString reason() const;
    bool fail(QString& error);

    QSaveFile file;
};

// stage() and commit() at once.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString& error);
