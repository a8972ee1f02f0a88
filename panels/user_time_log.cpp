#include "user_time_log.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

bool UserTimeLog::toggle(const QString& fileName) {
    if (measuring)
        stop();
    else
        start(fileName);
    return measuring;
}

void UserTimeLog::start(const QString& fileName) {
    clock.start();
    qDebug() << "inizio misurazione utente";
    openLog(fileName);
    measuring = true;
}

void UserTimeLog::stop() {
    seconds = clock.nsecsElapsed() / 1e9;
    qDebug() << "finito misurazione utente: " << seconds;
    if (stream) {
        *stream << "\\end{tabular}\n\\end{center}";
        writeUserTime(QString::number(seconds, 'g', 6));
        stream->flush();
    }
    stream.reset();
    file.reset();
    measuring = false;
}

void UserTimeLog::openLog(const QString& fileName) {
    stream.reset();
    // Emptied, so that a shorter table never leaves the tail of an older one behind.
    file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning() << "cannot write the user time to" << fileName << ":" << file->errorString();
        file.reset();
        return;
    }
    stream = std::make_unique<QTextStream>(file.get());
    *stream << "\\begin{center}\n"
            << "\\begin{tabular}{|c| p{6cm}|c|c|c|c|}\n"
            << "\\hline\n"
            << "It. & Entities & \\# Constraints & Solver Time & Solver It. & RE\\\\ \\hline\n";
}

void UserTimeLog::writeUserTime(const QString& text) {
    *stream << "\\begin{center}\n\\begin{tabular}{|c|c|}\n"
            << "\\hline\n"
            << "User Time & " << text << "\\\\\n\\hline"
            << "\\end{tabular}\n"
            << "\\end{center}";
}

UserTimeKey::UserTimeKey(QWidget* w, UserTimeLog& l) : QObject(w), window(w), log(l) {
    qApp->installEventFilter(this);
}

namespace {
bool takesText(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w);
}
} // namespace

bool UserTimeKey::reachesWindow(const QWidget* target) const {
    // A dialog or a popup over the window takes the keys, even where the window system still
    // delivers one to the window beneath (without a window manager focus can stay behind).
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return false;
    return target->window() == window && !takesText(target);
}

bool UserTimeKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    auto* target = qobject_cast<QWidget*>(watched);
    if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier || !target ||
        !reachesWindow(target))
        return QObject::eventFilter(watched, event);
    if (!key->isAutoRepeat())
        log.toggle();
    return true;
}
