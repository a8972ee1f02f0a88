#include "gl_defaults.h"

#include <QCoreApplication>
#include <QSurfaceFormat>

void setProgramGlDefaults() {
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
