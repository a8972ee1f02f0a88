#pragma once
// Where the views get their OpenGL entry points: the fixed-function OpenGL 2.1 functions of a
// context, looked up in one place so that every view refuses the same contexts.

#include <QOpenGLFunctions_2_1>

class QOpenGLContext;
class QOpenGLExtraFunctions;

// The fixed-function OpenGL 2.1 functions of ctx, ready to call (Qt keeps them with the
// context); null without a context, for a core profile context (which cannot draw fixed-function
// OpenGL) and for one that does not offer them.
QOpenGLFunctions_2_1* fixedFunctionsOf(QOpenGLContext* ctx);
// Those of the current context.
QOpenGLFunctions_2_1* currentFixedFunctions();

// The fixed-function and the framebuffer-object entry points of the current context.
struct GlFunctions {
    QOpenGLFunctions_2_1* fixed = nullptr;
    QOpenGLExtraFunctions* extra = nullptr;

    // Those of the current context; both null when none is current or it cannot draw
    // fixed-function OpenGL 2.1.
    static GlFunctions current();
    bool valid() const { return fixed && extra; }
};
