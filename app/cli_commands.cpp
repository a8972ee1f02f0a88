#include "cli_commands.h"

#include "frag_group.h"
#include "fragment.h"
#include "mesh_formats.h"
#include "mesh_readers.h"
#include "mesh_texture.h"
#include "placement_export.h"
#include "project_reader.h"
#include "project_writer.h"
#include "reassembly.h"
#include "refine_driver.h"
#include "sample_vessel.h"
#include "solve_diagnosis.h"
#include "solve_driver.h"
#include "staged_file.h"
#include "total_graph.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <memory>
#include <set>
#include <string>

namespace {
// Each command with its line of the usage and what it does.
struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* description;
};
constexpr CommandHelp Commands[] = {
    {"solve", "  ostrakit-cli solve PROJECT [--refine] [--output SOLVED.prproj] [--aln PLACEMENT.aln]\n",
     "Solves the project's constraints as the window's Solve does (then Refine with --refine) and\n"
     "writes the solved project and the placement of every fragment when asked.\n"},
    {"info", "  ostrakit-cli info FILE\n",
     "Reads a mesh (ply, obj, stl, off) or a project and prints its counts, reading times and textures.\n"},
    {"make-sample", "  ostrakit-cli make-sample DIR\n",
     "Writes the generated sample vessel, its fragments and its project into DIR.\n"},
    {"interpenetration",
     "  ostrakit-cli interpenetration PROJECT [--method exact|peeling] [--tolerance T] [--solve]\n"
     "                                       [--marks FILE]\n",
     "Marks the faces that lie inside another fragment and prints the figures of each pair; peeling\n"
     "needs an X server.\n"},
};

const std::string Usage = [] {
    std::string text = "usage:\n";
    for (const CommandHelp& c : Commands)
        text += c.synopsis;
    return text + "  ostrakit-cli --help | --version | COMMAND --help\n";
}();

QByteArray native(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit();
}

bool isProjectFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("prproj") || suffix == QLatin1String("xml");
}

// The folders where missing meshes were looked for, one line each after prefix.
void printMeshFolders(std::FILE* to, const char* prefix, const ProjectReadReport& report) {
    for (const QString& folder : report.meshFolders)
        std::fprintf(to, "%s%s\n", prefix, native(folder).constData());
}

bool loadProject(const QString& path, TotalGraph& graph, ProjectReadReport& report, std::FILE* err) {
    report = readProjectFile(path, graph);
    if (report.status == ProjectReadReport::CannotOpen) {
        std::fprintf(err, "ostrakit-cli: couldn't open the project %s: %s\n", native(path).constData(),
                     report.detail.toLocal8Bit().constData());
        return false;
    }
    if (report.status == ProjectReadReport::BadlyWritten) {
        std::fprintf(err, "ostrakit-cli: badly written project file %s: %s\n", native(path).constData(),
                     report.detail.toLocal8Bit().constData());
        return false;
    }
    return true;
}

// One line for the texture coordinates, then one per material: its image and size, or why it has
// none.
void printTexture(std::FILE* out, const MeshTexture* texture) {
    if (!texture) {
        std::fprintf(out, "texture none\n");
        return;
    }
    std::fprintf(out, "texture %zu materials, %zu drawn vertices (%zu seam copies)\n",
                 texture->materials.size(), texture->drawnVertexCount(), texture->seamCopies.size());
    for (const TextureMaterial& m : texture->materials) {
        const QByteArray name = m.name.isEmpty() ? QByteArray("(unnamed)") : m.name.toLocal8Bit();
        if (m.image)
            std::fprintf(out, "material %s: image %s, %d x %d pixels\n", name.constData(),
                         m.imageName.toLocal8Bit().constData(), m.image->width(), m.image->height());
        else if (!m.problem.isEmpty())
            std::fprintf(out, "material %s: no image: %s\n", name.constData(),
                         m.problem.toLocal8Bit().constData());
        else
            std::fprintf(out, "material %s: no image\n", name.constData());
    }
}

int meshInfo(const QString& path, std::FILE* out, std::FILE* err) {
    FragMesh mesh;
    QString error;
    QElapsedTimer timer;
    timer.start();
    const bool ok = readMeshFile(path, mesh, error);
    const double readSeconds = timer.nsecsElapsed() / 1e9;
    if (!ok) {
        std::fprintf(err, "ostrakit-cli: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    timer.restart();
    mesh.allocateAttributes();
    mesh.updateBoundingBox();
    mesh.updateNormals();
    mesh.updateFaceFaceAdjacency();
    const double prepareSeconds = timer.nsecsElapsed() / 1e9;
    std::fprintf(out, "mesh %s\n", native(path).constData());
    std::fprintf(out, "vertices %zu\nfaces %zu\ncolours %s\n", mesh.vertexCount(), mesh.faceCount(),
                 mesh.hasVertexColors ? "yes" : "no");
    std::fprintf(out, "read %.3f s\nprepare for drawing %.3f s\n", readSeconds, prepareSeconds);
    printTexture(out, mesh.texture.get());
    return 0;
}

int projectInfo(const QString& path, std::FILE* out, std::FILE* err) {
    TotalGraph graph;
    ProjectReadReport report;
    if (!loadProject(path, graph, report, err))
        return 1;
    int fragments = 0;
    for (const auto& [id, o] : graph.objectTable())
        if (auto* g = dynamic_cast<FragGroup*>(o); g && g->wrappedFragment())
            ++fragments;
    std::fprintf(out, "project %s\n", native(path).constData());
    std::fprintf(out, "objects %d (%d fragments, %d groups)\n", graph.objectCount(), fragments,
                 graph.objectCount() - fragments);
    std::fprintf(out, "tree depth %d\n", graph.objectTable().empty() ? 0 : graph.maxLevel() + 1);
    for (const auto& [id, o] : graph.objectTable())
        if (auto* g = dynamic_cast<FragGroup*>(o); g && g->wrappedFragment()) {
            const Fragment* f = g->wrappedFragment();
            std::fprintf(out, "fragment %d %s: %zu vertices, %zu faces%s\n", id,
                         native(f->meshPath()).constData(), f->mesh().vertexCount(), f->mesh().faceCount(),
                         f->hasMesh() ? "" : " (mesh not read)");
        }
    for (const QString& m : report.missingMeshes)
        std::fprintf(out, "missing mesh %s\n", m.toLocal8Bit().constData());
    printMeshFolders(out, "meshes looked for in ", report);
    std::fprintf(out, "constraints %zu\n", graph.constraintTable().size());
    for (const auto& [id, c] : graph.constraintTable()) {
        QString text;
        graph.constraintDescription(text, c);
        std::fprintf(out, "%s\n", text.toLocal8Bit().constData());
    }
    return 0;
}

int info(const QStringList& args, std::FILE* out, std::FILE* err) {
    if (args.size() != 1) {
        std::fputs(Usage.c_str(), err);
        return 2;
    }
    return isProjectFile(args[0]) ? projectInfo(args[0], out, err) : meshInfo(args[0], out, err);
}

// The solved area of a run without a window: starts empty, remembers what the solve shows.
class HeadlessSolvedArea : public SolvedAreaAccess {
public:
    std::vector<int> shownObjects() const override { return {shown.begin(), shown.end()}; }
    bool isShown(int objId) const override { return shown.count(objId) != 0; }
    void show(int objId) override { shown.insert(objId); }
    void refitAndRecomputeErrors(float) override {}
    void repaint() override {}
    void makeThumbnail(GeometrObj*) override {}
    void repaintWorkingAreas() override {}
    float tolerance() const override { return DefaultTolerance; }

private:
    std::set<int> shown;
};

// Writes every file or none: all are staged (every byte on the disk) before any is put in place.
bool writeAll(const std::vector<std::pair<QString, QByteArray>>& files, std::FILE* err) {
    std::vector<std::unique_ptr<StagedFile>> staged;
    QString error;
    auto refuse = [&](const QString& path) {
        std::fprintf(err, "ostrakit-cli: couldn't write %s: %s\n", native(path).constData(),
                     error.toLocal8Bit().constData());
        return false;
    };
    for (const auto& [path, data] : files) {
        staged.push_back(std::make_unique<StagedFile>(path));
        if (!staged.back()->stage(data, error))
            return refuse(path); // the staged files are discarded with their objects
    }
    for (std::size_t i = 0; i < staged.size(); ++i)
        if (!staged[i]->commit(error))
            return refuse(files[i].first);
    return true;
}

int solve(const QStringList& args, std::FILE* out, std::FILE* err) {
    QString project, output, aln;
    bool refine = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--refine"))
            refine = true;
        else if ((a == QLatin1String("--output") || a == QLatin1String("--aln")) && i + 1 < args.size())
            (a == QLatin1String("--output") ? output : aln) = args[++i];
        else if (!a.startsWith(QLatin1String("--")) && project.isEmpty())
            project = a;
        else {
            std::fputs(Usage.c_str(), err);
            return 2;
        }
    }
    if (project.isEmpty()) {
        std::fputs(Usage.c_str(), err);
        return 2;
    }
    TotalGraph graph;
    std::vector<int> shown;
    if (!loadCliProject(project, graph, err) || !solveCliProject(graph, project, out, err, &shown))
        return 1;
    if (refine)
        refineCliProject(graph, shown, out);
    std::vector<std::pair<QString, QByteArray>> files;
    if (!output.isEmpty())
        files.emplace_back(output, projectFileText(graph, QFileInfo(output).absoluteDir()));
    if (!aln.isEmpty()) {
        QByteArray text;
        {
            QTextStream stream(&text, QIODevice::WriteOnly);
            writeAln(stream, graph, QFileInfo(aln).absoluteDir());
        }
        files.emplace_back(aln, text);
    }
    return writeAll(files, err) ? 0 : 1;
}

} // namespace

bool loadCliProject(const QString& path, TotalGraph& graph, std::FILE* err) {
    ProjectReadReport report;
    if (!loadProject(path, graph, report, err))
        return false;
    for (const QString& m : report.missingMeshes)
        std::fprintf(err, "ostrakit-cli: warning: mesh not read, its fragment has no geometry: %s\n",
                     m.toLocal8Bit().constData());
    printMeshFolders(err, "ostrakit-cli: meshes looked for in ", report);
    return true;
}

bool solveCliProject(TotalGraph& graph, const QString& project, std::FILE* out, std::FILE* err,
                     std::vector<int>* shown) {
    HeadlessSolvedArea area;
    Reassembly reassembly(graph, area);
    SolveDriver& driver = reassembly.driver();
    driver.solve();
    for (const SolveLevelReport& r : driver.lastReports())
        std::fprintf(
            out,
            "level %d: %d entities, %d point pairs, %d steps, energy %.9g, %.3f s, factorisation %.3f s, "
            "factor %.1f MB%s\n",
            r.level, r.entities, r.pointPairs, r.steps, r.energy, r.seconds, r.factorSeconds,
            double(r.peakBytes) / 1e6, r.failed ? " (failed)" : "");
    if (driver.lastReports().empty())
        std::fprintf(out, "nothing to solve: no constraint waits to be fed\n");
    for (const QString& sentence : solveDiagnosis(driver.lastReports(), graph))
        std::fprintf(out, "%s\n", sentence.toLocal8Bit().constData());
    if (driver.anyLevelFailed()) {
        std::fprintf(
            err,
            "ostrakit-cli: the linear system of %s could not be factorised (singular); nothing written\n",
            native(project).constData());
        return false;
    }
    if (shown)
        *shown = area.shownObjects();
    return true;
}

void refineCliProject(TotalGraph& graph, const std::vector<int>& shown, std::FILE* out) {
    const RefineJob job = prepareRefine(graph, shown);
    const RefineOutcome outcome = runRefine(job);
    const int moved = applyRefine(graph, job, outcome);
    for (const QString& line : refineReport(job, outcome, moved))
        std::fprintf(out, "%s\n", line.toLocal8Bit().constData());
    for (std::size_t s = 0; s < outcome.stages.size(); ++s) {
        const RefineResult& r = outcome.stages[s];
        double seconds = 0;
        for (double t : r.roundSeconds)
            seconds += t;
        std::fprintf(out, "refine stage %zu: %zu bodies, %d rounds, %.3f s\n", s,
                     job.stages[s].objects.size(), r.rounds, seconds);
    }
    std::fprintf(out, "refine %.3f s\n", outcome.seconds);
}

namespace {
int makeSample(const QStringList& args, std::FILE* out, std::FILE* err) {
    if (args.size() != 1) {
        std::fputs(Usage.c_str(), err);
        return 2;
    }
    const QString folder = args[0];
    if (!QDir().mkpath(folder)) {
        std::fprintf(err, "ostrakit-cli: couldn't create the folder %s\n", native(folder).constData());
        return 1;
    }
    SampleVessel sample;
    QString error;
    if (!writeSampleVessel(folder, sample, error)) {
        std::fprintf(err, "ostrakit-cli: couldn't write the sample into %s: %s\n", native(folder).constData(),
                     error.toLocal8Bit().constData());
        return 1;
    }
    std::size_t triangles = 0;
    for (std::size_t n : sample.pieceTriangles)
        triangles += n;
    std::fprintf(out, "sample %s: %zu pieces, %zu triangles, %d constraints\n",
                 native(sample.projectPath).constData(), sample.meshPaths.size(), triangles,
                 sample.constraintCount);
    return 0;
}
} // namespace

const char* cliUsage() {
    return Usage.c_str();
}

int cliHelpOrVersion(const QStringList& args, std::FILE* out) {
    if (args.isEmpty())
        return -1;
    if (args[0] == QLatin1String("--version")) {
        std::fprintf(out, "ostrakit-cli %s (Qt %s)\n", OSTRAKIT_VERSION, qVersion());
        return 0;
    }
    if (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        std::fputs(Usage.c_str(), out);
        return 0;
    }
    if (!args.contains(QLatin1String("--help")))
        return -1;
    for (const CommandHelp& c : Commands)
        if (args[0] == QLatin1String(c.name)) {
            std::fprintf(out, "usage:\n%s\n%s", c.synopsis, c.description);
            return 0;
        }
    return -1;
}

int runCliCommand(const QStringList& args, std::FILE* out, std::FILE* err) {
    installMeshReaders();
    if (args.isEmpty()) {
        std::fputs(Usage.c_str(), err);
        return 2;
    }
    const QString command = args[0];
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("solve"))
        return solve(rest, out, err);
    if (command == QLatin1String("info"))
        return info(rest, out, err);
    if (command == QLatin1String("make-sample"))
        return makeSample(rest, out, err);
    std::fprintf(err, "ostrakit-cli: unknown command %s\n%s", command.toLocal8Bit().constData(),
                 Usage.c_str());
    return 2;
}
