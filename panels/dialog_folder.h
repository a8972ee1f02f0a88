#pragma once
// Where the file dialogs start. The folder of the open project comes first, so that its meshes,
// exports and copies are found beside it; without a project file, the folder of the file last
// chosen in any dialog (kept between runs); failing that, the working folder, unless that is the
// program's own data folder (the desktop entry starts the program there), then the home folder.

#include <QString>

QString dialogStartFolder(const QString& projectFile);
// A file chosen in a dialog (opened or written): later dialogs start in its folder.
void rememberDialogChoice(const QString& chosen);
