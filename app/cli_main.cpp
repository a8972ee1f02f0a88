// ostrakit-cli: the reassembly without a window.
//   ostrakit-cli solve PROJECT [--output SOLVED.prproj] [--aln PLACEMENT.aln]
//   ostrakit-cli info FILE
//   ostrakit-cli make-sample DIR

#include "cli_commands.h"

#include <QCoreApplication>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Numbers in files and diagnostics use a decimal point whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Past a file-size limit a write then fails and is reported, and the old files stay, instead
    // of the signal ending the program in the middle of a save.
    std::signal(SIGXFSZ, SIG_IGN);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return runCliCommand(args, stdout, stderr);
}
