#include "recovery_file.h"

#include "project_writer.h"
#include "staged_file.h"
#include "xml_text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QXmlStreamReader>

namespace {
const QLatin1String SavedAsTag("RecoveredFrom");
}

QString RecoveryFile::defaultPath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("recovery.prproj"));
}

RecoveryFile::RecoveryFile(QString path) : file(std::move(path)) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    lock = std::make_unique<QLockFile>(file + QStringLiteral(".lock"));
    lock->setStaleLockTime(0); // stale only when its program is gone, however long it ran
    owned = lock->tryLock(0);
}

bool RecoveryFile::exists() const {
    return owned && QFileInfo(file).isFile();
}

bool RecoveryFile::write(const TotalGraph& graph, const QString& projectFile, QString& error) const {
    if (!owned)
        return true; // another running program keeps its own work there
    const QDir folder = QFileInfo(file).absoluteDir();
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        error = QStringLiteral("cannot make the folder %1").arg(folder.path());
        return false;
    }
    // Mesh paths as the project file names them, so that the restored project saves the same.
    const QDir meshFolder = projectFile.isEmpty() ? QDir::current() : QFileInfo(projectFile).absoluteDir();
    QByteArray text = projectFileText(graph, meshFolder);
    const QByteArray savedAs =
        QStringLiteral("<%1 path=\"%2\" folder=\"%3\" />")
            .arg(SavedAsTag, escapeAttribute(projectFile), escapeAttribute(meshFolder.absolutePath()))
            .toUtf8();
    const QByteArray opening("<Project>");
    if (text.startsWith(opening))
        text.insert(opening.size(), savedAs);
    return writeFileAtomically(file, text, error);
}

void RecoveryFile::remove() const {
    if (owned)
        QFile::remove(file);
}

ProjectReadReport RecoveryFile::read(TotalGraph& graph, QString& projectFile) const {
    projectFile.clear();
    QString meshFolder;
    QFile in(file);
    if (in.open(QIODevice::ReadOnly)) {
        // The element comes first, right after the opening tag.
        QXmlStreamReader xml(&in);
        for (int k = 0; k < 3 && !xml.atEnd(); ++k)
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == SavedAsTag) {
                projectFile = xml.attributes().value(QLatin1String("path")).toString();
                meshFolder = xml.attributes().value(QLatin1String("folder")).toString();
                break;
            }
    }
    const QDir folder(meshFolder);
    ProjectReadReport report = readProjectFile(file, graph, meshFolder.isEmpty() ? nullptr : &folder);
    if (!report.ok())
        projectFile.clear();
    return report;
}

QString RecoveryFile::setAside() const {
    const QString aside = file + QStringLiteral(".unreadable-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::rename(file, aside) ? aside : QString();
}
