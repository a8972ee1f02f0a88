#pragma once
// The Save dialogs of the file commands. A name typed without a suffix gets the suffix of the
// filter selected in the dialog, so that the file is written as the kind the user chose and the
// dialogs that list files by suffix show it again.

#include <QString>

class QWidget;

// A modal Save dialog titled caption, starting at start (a folder, or a file it proposes) and
// offering filters ("xml (*.xml);;prproj (*.prproj)", the first selected). Returns the chosen
// path, with the first suffix of the selected filter appended when the file name has none (no
// '.'); empty when cancelled.
QString askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                        const QString& filters);
