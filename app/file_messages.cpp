#include "file_messages.h"

#include "mesh_read_progress.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

void showFileError(QWidget* parent, const QString& title, const QString& text, const QString& path,
                   const QString& reason) {
    const QString message = path.isEmpty() ? text
                                           : QCoreApplication::translate("MainWindow", "%1\n%2: %3")
                                                 .arg(text, QDir::toNativeSeparators(path), reason);
    QMessageBox::critical(parent, title, message, QMessageBox::Ok);
}

void warnAboutMissingMeshes(QWidget* parent, const ProjectReadReport& report) {
    warnAboutMissingTextures(parent, report.missingTextures);
    if (report.missingMeshes.isEmpty())
        return;
    QStringList folders;
    for (const QString& folder : report.meshFolders)
        folders << QDir::toNativeSeparators(folder);
    QMessageBox::warning(
        parent, QCoreApplication::translate("MainWindow", "Missing meshes"),
        QCoreApplication::translate(
            "MainWindow", "These mesh files could not be read; their fragments have no geometry:\n\n%1"
                          "\n\nThe meshes were looked for in:\n%2")
            .arg(report.missingMeshes.join(QLatin1Char('\n')), folders.join(QLatin1Char('\n'))));
}
