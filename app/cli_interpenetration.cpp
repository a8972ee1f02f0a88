#include "cli_interpenetration.h"

#include "cli_commands.h"
#include "error_marks.h"
#include "error_view.h"
#include "exact_marks.h"
#include "fragment.h"
#include "mesh_readers.h"
#include "project_writer.h"
#include "solve_driver.h"
#include "staged_file.h"
#include "total_graph.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <optional>

namespace {
enum class MarkMethod { Exact, Peeling };

struct InterpenetrationOptions {
    QString project;
    QString marksFile;
    MarkMethod method = MarkMethod::Exact;
    std::optional<double> tolerance; // in the method's units; the method's default when absent
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
            o.tolerance = t;
        } else if (a == QLatin1String("--method") && i + 1 < args.size()) {
            const QString m = args[++i];
            if (m == QLatin1String("exact"))
                o.method = MarkMethod::Exact;
            else if (m == QLatin1String("peeling"))
                o.method = MarkMethod::Peeling;
            else
                return std::nullopt;
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

// The marks file: the tolerance, per fragment its mesh, face count and marked faces, and (exact
// method) per pair of fragments that interpenetrate, their figures.
QByteArray marksJson(const std::vector<Fragment*>& fragments, const QDir& projectFolder, MarkMethod method,
                     double tolerance, const InterpenetrationResult* exact) {
    QJsonArray list;
    for (const Fragment* f : fragments) {
        QJsonArray marked;
        const std::vector<std::uint8_t>& faces = f->mesh().marked;
        for (std::size_t k = 0; k < faces.size(); ++k)
            if (faces[k])
                marked.append(qint64(k));
        list.append(QJsonObject{{QStringLiteral("mesh"), writtenMeshPath(*f, projectFolder)},
                                {QStringLiteral("faces"), qint64(f->mesh().faceCount())},
                                {QStringLiteral("marked"), marked}});
    }
    QJsonArray pairs;
    if (exact)
        for (const OverlapFigures& p : exact->pairs)
            pairs.append(
                QJsonObject{{QStringLiteral("first"), writtenMeshPath(*fragments[p.first], projectFolder)},
                            {QStringLiteral("second"), writtenMeshPath(*fragments[p.second], projectFolder)},
                            {QStringLiteral("faces"), qint64(p.faces)},
                            {QStringLiteral("area"), p.area},
                            {QStringLiteral("depth"), p.greatestDepth}});
    const QJsonObject root{{QStringLiteral("method"), method == MarkMethod::Exact
                                                          ? QStringLiteral("exact")
                                                          : QStringLiteral("peeling")},
                           {QStringLiteral("tolerance"), tolerance},
                           {QStringLiteral("fragments"), list},
                           {QStringLiteral("pairs"), pairs}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QByteArray nativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit();
}

void printFragments(const std::vector<Fragment*>& fragments, std::FILE* out) {
    for (const Fragment* f : fragments)
        std::fprintf(out, "fragment %s: %zu faces, %zu marked\n", nativePath(f->meshPath()).constData(),
                     f->mesh().faceCount(), markedFaceCount(f->mesh()));
}

void printExactReport(const std::vector<Fragment*>& fragments, const InterpenetrationResult& r,
                      double seconds, std::FILE* out) {
    printFragments(fragments, out);
    for (const OverlapFigures& p : r.pairs)
        std::fprintf(out, "pair %s - %s: %zu faces, area %.6g, greatest depth %.6g\n",
                     nativePath(fragments[p.first]->meshPath()).constData(),
                     nativePath(fragments[p.second]->meshPath()).constData(), p.faces, p.area,
                     p.greatestDepth);
    std::size_t triangles = 0, bytes = 0;
    for (const auto& tree : r.trees) {
        triangles += tree->triangleCount();
        bytes += tree->memoryBytes();
    }
    std::fprintf(out,
                 "trees %.3f s, %.1f bytes per triangle\nqueries %.3f s, %zu faces tested\ntotal %.3f s\n",
                 r.buildSeconds, triangles ? double(bytes) / double(triangles) : 0.0, r.querySeconds,
                 r.testedFaces, seconds);
}

void printPeelingReport(const std::vector<Fragment*>& fragments, const ErrorReport& report, std::FILE* out) {
    printFragments(fragments, out);
    static const char* const Names[3] = {"+x", "+y", "+z"};
    for (std::size_t d = 0; d < report.directions.size(); ++d) {
        const DirectionReport& r = report.directions[d];
        std::fprintf(out, "direction %s: %d passes, %.3f s%s\n", Names[d], r.passes, r.seconds,
                     r.stoppedByBound ? " (stopped at the pass bound)" : "");
    }
    std::fprintf(out, "read-back %.3f s\ntotal %.3f s\n", report.readBackSeconds, report.totalSeconds);
}

// The marks by depth peeling, through OpenGL. False (after a message) when they could not be made.
bool peelingMarks(TotalGraph& graph, const std::vector<int>& ids, float tolerance, std::FILE* out,
                  std::FILE* err) {
    ErrorView view;
    if (!view.ensureContext()) {
        std::fprintf(err, "ostrakit-cli: no usable OpenGL context for the interpenetration view: %s\n",
                     view.contextProblem().toLocal8Bit().constData());
        return false;
    }
    const ErrorReport report = view.update(&graph, ids, tolerance);
    if (!report.computed) {
        std::fprintf(err, "ostrakit-cli: the interpenetration view was not computed: %s\n",
                     report.refusal.toLocal8Bit().constData());
        return false;
    }
    printPeelingReport(fragmentsOf(&graph, ids), report, out);
    return true;
}
} // namespace

int runInterpenetration(const QStringList& args, std::FILE* out, std::FILE* err) {
    QElapsedTimer clock;
    clock.start();
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

    const std::vector<int> ids = shownObjects(graph);
    const std::vector<Fragment*> fragments = fragmentsOf(&graph, ids);
    std::optional<InterpenetrationResult> exact;
    double tolerance = 0.0;
    if (options->method == MarkMethod::Exact) {
        tolerance = options->tolerance.value_or(defaultContactTolerance(fragmentsDiagonal(&graph, ids)));
        exact = computeExactMarksNow(&graph, ids, tolerance);
        printExactReport(fragments, *exact, double(clock.nsecsElapsed()) * 1e-9, out);
    } else {
        tolerance = options->tolerance.value_or(SolvedAreaAccess::DefaultTolerance);
        if (!peelingMarks(graph, ids, float(tolerance), out, err))
            return 1;
    }
    if (!options->marksFile.isEmpty()) {
        QString error;
        const QDir folder = QFileInfo(options->project).absoluteDir();
        const QByteArray json =
            marksJson(fragments, folder, options->method, tolerance, exact ? &*exact : nullptr);
        if (!writeFileAtomically(options->marksFile, json, error)) {
            std::fprintf(err, "ostrakit-cli: couldn't write %s: %s\n",
                         nativePath(options->marksFile).constData(), error.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
