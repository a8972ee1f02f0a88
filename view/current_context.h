#pragma once
// Makes a context current for the life of the scope; the context current before (if another) is
// current again afterwards, and with none before, none is. Views draw into their own contexts
// between the calls of Qt, so work done in a context of ours must not leave it current.

#include <QOpenGLContext>
#include <QSurface>

class CurrentContextScope {
public:
    CurrentContextScope(QOpenGLContext& context, QSurface& surface)
        : own(context), previous(QOpenGLContext::currentContext()),
          previousSurface(previous ? previous->surface() : nullptr), made(own.makeCurrent(&surface)) {}
    ~CurrentContextScope() {
        if (previous == &own)
            return; // it was current before and stays so
        if (previous && previousSurface)
            previous->makeCurrent(previousSurface);
        else if (QOpenGLContext::currentContext() == &own)
            own.doneCurrent();
    }
    CurrentContextScope(const CurrentContextScope&) = delete;
    CurrentContextScope& operator=(const CurrentContextScope&) = delete;

    bool isCurrent() const { return made; }

private:
    QOpenGLContext& own;
    QOpenGLContext* previous;
    QSurface* previousSurface;
    bool made;
};
