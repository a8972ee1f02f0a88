#pragma once
// The commands of ostrakit-cli, callable from tests. Results go to out, errors to err (each names
// the file or the cause); the return value is the exit status (0 on success).

#include <QStringList>
#include <cstdio>
#include <vector>

class TotalGraph;

// Every command but "interpenetration", which needs an X server (cli_interpenetration.h).
int runCliCommand(const QStringList& args, std::FILE* out, std::FILE* err);
const char* cliUsage();
// "--help" (or "-h") prints the usage, "--version" the version, and "COMMAND ... --help" that
// command's usage and what it does, each on out with status 0; -1 when args ask none of these.
int cliHelpOrVersion(const QStringList& args, std::FILE* out);

// Reads a project as "Open Project" does (mesh files that cannot be read are warned about on err);
// false, with the reason on err, when the project cannot be read at all.
bool loadCliProject(const QString& path, TotalGraph& graph, std::FILE* err);
// Solve as the window's button runs it: one line per level on out, then one per thing the Solve
// left wrong (see solveDiagnosis); false, with a message on err, when a level's system could not
// be factorised.
bool solveCliProject(TotalGraph& graph, const QString& project, std::FILE* out, std::FILE* err,
                     std::vector<int>* shown = nullptr);
// Refine after a Solve over the objects shown, with the report on out.
void refineCliProject(TotalGraph& graph, const std::vector<int>& shown, std::FILE* out);
