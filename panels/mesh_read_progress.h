#pragma once
// The progress dialog shown while meshes are read on all cores: the workers read, the window's
// thread repaints the dialog (and the window behind it) until they are done.

#include "mesh_loading.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QStringList>

// Tells the user which images of the meshes just read were missing or refused (each line "mesh:
// image: reason"); those faces show in their fragment's colour. Nothing when problems is empty.
void warnAboutMissingTextures(QWidget* parent, const QStringList& problems);

class MeshReadProgress {
    Q_DECLARE_TR_FUNCTIONS(MeshReadProgress)

public:
    // A window-modal dialog over parent, shown when reading lasts more than half a second. Without
    // cancel, the reading always runs to its end.
    MeshReadProgress(QWidget* parent, bool cancellable);

    // Options for loadMeshes (or the project reader) that report here.
    MeshLoadOptions options();
    bool wasCanceled() const { return dialog.wasCanceled(); }

private:
    QProgressDialog dialog;
};
