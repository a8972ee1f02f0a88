#pragma once
// The busy cursor for the life of a scope, where there is a window system (tools without one run
// the same code). While any is alive the program is in the middle of a long operation, and the
// project may be half changed.

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

class BusyCursor {
public:
    BusyCursor() : shown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        ++depth;
        if (shown)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyCursor() {
        --depth;
        if (shown)
            QGuiApplication::restoreOverrideCursor();
    }
    // A long operation is under way (on the GUI thread, which is the only one that makes these).
    static bool active() { return depth > 0; }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    static inline int depth = 0;
    bool shown;
};
