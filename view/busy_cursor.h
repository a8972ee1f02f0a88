#pragma once
// The busy cursor for the life of a scope, where there is a window system (tools without one run
// the same code).

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

class BusyCursor {
public:
    BusyCursor() : shown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (shown)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyCursor() {
        if (shown)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool shown;
};
