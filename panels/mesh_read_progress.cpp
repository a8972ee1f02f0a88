#include "mesh_read_progress.h"

#include <QCoreApplication>
#include <QMessageBox>

MeshReadProgress::MeshReadProgress(QWidget* parent, bool cancellable)
    : dialog(tr("Reading meshes"), cancellable ? tr("Cancel") : QString(), 0, 1, parent) {
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(500);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
}

MeshLoadOptions MeshReadProgress::options() {
    MeshLoadOptions o;
    o.progress = [this](int done, int total) {
        dialog.setMaximum(std::max(total, 1));
        dialog.setLabelText(tr("Reading meshes: %1 of %2 read").arg(done).arg(total));
        dialog.setValue(done);
        QCoreApplication::processEvents();
        return !dialog.wasCanceled();
    };
    return o;
}

void warnAboutMissingTextures(QWidget* parent, const QStringList& problems) {
    if (problems.isEmpty())
        return;
    QMessageBox::warning(
        parent, MeshReadProgress::tr("Missing textures"),
        MeshReadProgress::tr("These meshes were read without some of their images; their faces "
                             "show in the fragment's colour:\n\n%1")
            .arg(problems.join(QLatin1Char('\n'))));
}
