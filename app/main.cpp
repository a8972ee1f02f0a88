#include "gl_defaults.h"
#include "main_window.h"
#include "mesh_readers.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
    setProgramGlDefaults();

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ostrakit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTRAKIT_VERSION));
    // Desktops find the installed entry, its name and icon, for the window by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("ostrakit"));
    // Numbers in files and diagnostics use a decimal point whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Past a file-size limit a save then fails with a message and the old file stays, instead of
    // the signal ending the program in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    installMeshReaders();

    // The per-user data folder holds the recovery file; with --in-data-folder (the desktop entry's
    // way of starting) it is also the working folder, so that the files the program writes there
    // do not land in the home folder. A desktop entry cannot name a per-user folder itself.
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataFolder);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool inDataFolder = args.removeAll(QStringLiteral("--in-data-folder")) > 0;
    if (!args.isEmpty())
        args.front() = QFileInfo(args.front()).absoluteFilePath(); // before the working folder changes
    if (inDataFolder && !QDir::setCurrent(dataFolder))
        std::fprintf(stderr, "Cannot work in %s; staying in %s.\n", qPrintable(dataFolder),
                     qPrintable(QDir::currentPath()));

    MainWindow window;
    window.show();
    // One optional argument: a project to open, as "Load" would (file managers pass it this way).
    if (args.size() > 1)
        std::fprintf(stderr,
                     "Usage: ostrakit [--in-data-folder] [PROJECT]\nOnly the first file is opened.\n");
    // Work a crash left unsaved comes first; the file named is not opened over it.
    if (window.offerRecovery()) {
        if (!args.isEmpty())
            std::fprintf(stderr, "Restored the unsaved project; %s was not opened.\n",
                         qPrintable(args.front()));
    } else if (!args.isEmpty()) {
        window.openProject(args.front());
    }
    return app.exec();
}
