#include "main_window.h"
#include "mesh_readers.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <cstdio>

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
    // One optional argument: a project to open, as "Load" would (file managers pass it this way).
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2)
        std::fprintf(stderr, "Usage: ostrakit [PROJECT]\nOnly the first file is opened.\n");
    if (args.size() > 1)
        window.openProject(args.at(1));
    return app.exec();
}
