// ostrakit-cli: the reassembly without a window.
//   ostrakit-cli solve PROJECT [--output SOLVED.prproj] [--aln PLACEMENT.aln]
//   ostrakit-cli info FILE
//   ostrakit-cli make-sample DIR

#include "cli_commands.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return runCliCommand(args, stdout, stderr);
}
