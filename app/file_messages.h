#pragma once
// The message boxes that say what went wrong with a file.

#include "project_reader.h"

#include <QString>

class QWidget;

// text, then on the next line the file and why it failed (when path is given).
void showFileError(QWidget* parent, const QString& title, const QString& text,
                   const QString& path = QString(), const QString& reason = QString());
// Each mesh that could not be read, with why, and the folders where it was looked for; then the
// images of meshes read without them.
void warnAboutMissingMeshes(QWidget* parent, const ProjectReadReport& report);
