#include "gl_functions.h"

#include <QOpenGLContext>
#include <QOpenGLVersionFunctionsFactory>

QOpenGLFunctions_2_1* fixedFunctionsOf(QOpenGLContext* ctx) {
    if (!ctx || ctx->format().profile() == QSurfaceFormat::CoreProfile)
        return nullptr;
    auto* gl = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(ctx);
    return gl && gl->initializeOpenGLFunctions() ? gl : nullptr;
}

QOpenGLFunctions_2_1* currentFixedFunctions() {
    return fixedFunctionsOf(QOpenGLContext::currentContext());
}

GlFunctions GlFunctions::current() {
    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    QOpenGLFunctions_2_1* fixed = fixedFunctionsOf(ctx);
    if (!fixed)
        return {};
    return {fixed, ctx->extraFunctions()};
}
