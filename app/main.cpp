#include "main_window.h"
#include "mesh_readers.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char* argv[]) {
    // Fixed-function OpenGL 2.1 (Mesa gives a compatibility context); 24-bit depth for picking.
    // Thumbnails render in a context that shares with the views.
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QApplication app(argc, argv);
    installMeshReaders();

    MainWindow window;
    window.show();
    return app.exec();
}
