#include "gl_defaults.h"
#include "main_window.h"
#include "mesh_readers.h"

#include <QApplication>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
    setProgramGlDefaults();

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ostrakit"));
    // Numbers in files and diagnostics use a decimal point whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Past a file-size limit a save then fails with a message and the old file stays, instead of
    // the signal ending the program in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    installMeshReaders();

    MainWindow window;
    window.show();
    // One optional argument: a project to open, as "Load" would (file managers pass it this way).
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2)
        std::fprintf(stderr, "Usage: ostrakit [PROJECT]\nOnly the first file is opened.\n");
    // Work a crash left unsaved comes first; the file named is not opened over it.
    if (window.offerRecovery()) {
        if (args.size() > 1)
            std::fprintf(stderr, "Restored the unsaved project; %s was not opened.\n",
                         qPrintable(args.at(1)));
    } else if (args.size() > 1) {
        window.openProject(args.at(1));
    }
    return app.exec();
}
