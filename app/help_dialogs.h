#pragma once
// The Help menu's two windows. "Keyboard and mouse" is built from the window's own actions and
// shortcuts and from the views' trackball, so it says what the program does, not what it once did.
// "About Ostrakit" names the version and what it runs on, for a report of a fault.

#include <QList>
#include <QString>

class QDialog;
class QOpenGLWidget;
class QWidget;

struct HelpRow {
    QString keys; // as the user presses them, in the platform's words
    QString what;
};

// Every action and shortcut inside window that has a key, in the order they were made; each key
// of an action with several gets its own row. extra: keys the window reads itself.
QList<HelpRow> keyboardRows(const QWidget& window, const QList<HelpRow>& extra);
// What each button and modifier does in a 3D view, from the trackball's own mapping.
QList<HelpRow> mouseRows();
// Modal; the table's rows are keyboardRows then mouseRows.
void showKeyboardAndMouse(QWidget* window, const QList<HelpRow>& extra);

// The program's version, Qt's, and the OpenGL renderer and version of view's context.
QString aboutText(QOpenGLWidget& view);
void showAbout(QWidget* window, QOpenGLWidget& view);
