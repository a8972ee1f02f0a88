// ostrakit-cli: the reassembly without a window.
//   ostrakit-cli --help | --version | COMMAND --help
//   ostrakit-cli solve PROJECT [--output SOLVED.prproj] [--aln PLACEMENT.aln]
//   ostrakit-cli info FILE
//   ostrakit-cli make-sample DIR
//   ostrakit-cli interpenetration PROJECT [--method exact|peeling] [--tolerance T] [--solve] [--marks FILE]

#include "cli_commands.h"
#include "cli_interpenetration.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {
bool wantsInterpenetration(int argc, char* argv[]) {
    return argc > 1 && QByteArray(argv[1]) == "interpenetration";
}

// Only the depth-peeling marks draw, with OpenGL.
bool wantsPeeling(int argc, char* argv[]) {
    for (int i = 2; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--method" && QByteArray(argv[i + 1]) == "peeling")
            return true;
    return false;
}
} // namespace

int main(int argc, char* argv[]) {
    // The depth-peeling marks draw with OpenGL and need a window system; without an X server the
    // off-screen platform takes over, so that the missing context is reported instead of the
    // program aborting at start.
    const bool interpenetration = wantsInterpenetration(argc, argv);
    const bool gui = interpenetration && wantsPeeling(argc, argv);
    if (gui && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    std::unique_ptr<QCoreApplication> app =
        gui ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    // Numbers in files and diagnostics use a decimal point whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Past a file-size limit a write then fails and is reported, and the old files stay, instead
    // of the signal ending the program in the middle of a save.
    std::signal(SIGXFSZ, SIG_IGN);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (const int status = cliHelpOrVersion(args, stdout); status >= 0)
        return status;
    if (interpenetration)
        return runInterpenetration(args.mid(1), stdout, stderr);
    return runCliCommand(args, stdout, stderr);
}
