#include "cli_interpenetration.h"

#include "cli_commands.h"
#include "error_view.h"
#include "fragment.h"
#include "mesh_readers.h"
#include "project_writer.h"
#include "solve_driver.h"
#include "staged_file.h"
#include "total_graph.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <optional>

namespace {
struct InterpenetrationOptions {
    QString project;
    QString marksFile;
    float tolerance = SolvedAreaAccess::DefaultTolerance;
    bool solveFirst = false;
};

std::optional<InterpenetrationOptions> parseOptions(const QStringList& args) {
    InterpenetrationOptions o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--solve")) {
            o.solveFirst = true;
        } else if (a == QLatin1String("--tolerance") && i + 1 < args.size()) {
            bool ok = false;
            const double t = args[++i].toDouble(&ok);
            if (!ok || !std::isfinite(t) || t < 0)
                return std::nullopt;
            o.tolerance = float(t);
        } else if (a == QLatin1String("--marks") && i + 1 < args.size()) {
            o.marksFile = args[++i];
        } else if (!a.startsWith(QLatin1String("--")) && o.project.isEmpty()) {
            o.project = a;
        } else {
            return std::nullopt;
        }
    }
    if (o.project.isEmpty())
        return std::nullopt;
    return o;
}

// What the solved view shows after the project is opened: every visible top-level object.
std::vector<int> shownObjects(const TotalGraph& graph) {
    std::vector<int> ids;
    for (const auto& [id, o] : graph.objectTable())
        if (o->isTopLevel() && o->isVisible())
            ids.push_back(id);
    return ids;
}

QByteArray marksJson(const ErrorReport& report, const QDir& projectFolder, float tolerance) {
    QJsonArray fragments;
    for (const FragmentMarks& m : report.fragments) {
        QJsonArray marked;
        const std::vector<std::uint8_t>& faces = m.fragment->mesh().marked;
        for (std::size_t k = 0; k < faces.size(); ++k)
            if (faces[k])
                marked.append(qint64(k));
        fragments.append(QJsonObject{{QStringLiteral("mesh"), writtenMeshPath(*m.fragment, projectFolder)},
                                     {QStringLiteral("faces"), qint64(m.faces)},
                                     {QStringLiteral("marked"), marked}});
    }
    const QJsonObject root{{QStringLiteral("tolerance"), double(tolerance)},
                           {QStringLiteral("fragments"), fragments}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

void printReport(const ErrorReport& report, std::FILE* out) {
    for (const FragmentMarks& m : report.fragments)
        std::fprintf(out, "fragment %s: %zu faces, %zu marked\n",
                     QDir::toNativeSeparators(m.fragment->meshPath()).toLocal8Bit().constData(), m.faces,
                     m.markedFaces);
    static const char* const Names[3] = {"+x", "+y", "+z"};
    for (std::size_t d = 0; d < report.directions.size(); ++d) {
        const DirectionReport& r = report.directions[d];
        std::fprintf(out, "direction %s: %d passes, %.3f s%s\n", Names[d], r.passes, r.seconds,
                     r.stoppedByBound ? " (stopped at the pass bound)" : "");
    }
    std::fprintf(out, "read-back %.3f s\ntotal %.3f s\n", report.readBackSeconds, report.totalSeconds);
}
} // namespace

int runInterpenetration(const QStringList& args, std::FILE* out, std::FILE* err) {
    installMeshReaders();
    const std::optional<InterpenetrationOptions> options = parseOptions(args);
    if (!options) {
        std::fputs(cliUsage(), err);
        return 2;
    }
    TotalGraph graph;
    if (!loadCliProject(options->project, graph, err))
        return 1;
    if (options->solveFirst && !solveCliProject(graph, options->project, out, err))
        return 1;

    ErrorView view;
    if (!view.ensureContext()) {
        std::fprintf(err, "ostrakit-cli: no usable OpenGL context for the interpenetration view: %s\n",
                     view.contextProblem().toLocal8Bit().constData());
        return 1;
    }
    const ErrorReport report = view.update(&graph, shownObjects(graph), options->tolerance);
    if (!report.computed) {
        std::fprintf(err, "ostrakit-cli: the interpenetration view was not computed: %s\n",
                     report.refusal.toLocal8Bit().constData());
        return 1;
    }
    printReport(report, out);
    if (!options->marksFile.isEmpty()) {
        QString error;
        const QDir folder = QFileInfo(options->project).absoluteDir();
        if (!writeFileAtomically(options->marksFile, marksJson(report, folder, options->tolerance), error)) {
            std::fprintf(err, "ostrakit-cli: couldn't write %s: %s\n",
                         QDir::toNativeSeparators(options->marksFile).toLocal8Bit().constData(),
                         error.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
