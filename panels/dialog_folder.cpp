#include "dialog_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
const QString LastFolderKey = QStringLiteral("dialogs/lastFolder");
}

QString dialogStartFolder(const QString& projectFile) {
    if (!projectFile.isEmpty())
        return QFileInfo(projectFile).absolutePath();
    if (const QString last = QSettings().value(LastFolderKey).toString();
        !last.isEmpty() && QDir(last).exists())
        return last;
    const QString working = QDir::currentPath();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QFileInfo(working) == QFileInfo(data) ? QDir::homePath() : working;
}

void rememberDialogChoice(const QString& chosen) {
    if (!chosen.isEmpty())
        QSettings().setValue(LastFolderKey, QFileInfo(chosen).absolutePath());
}
