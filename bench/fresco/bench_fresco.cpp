// Solve at fresco scale, end to end: the time from the start of `ostrakit-cli solve` to its exit,
// the peak memory of that process, and how close its result comes to the true placement.
//
//   bench_fresco [--quick] [--wall RxC]... [--chain N]... [--ring N]... [--sample]
//                [--timeout SECONDS] [--keep] [--cli PATH]
//
// Each case is a real project on disk, made through the graph's own API and saved by the project
// writer: every piece a closed box of 8 corners and 12 triangles written as a binary PLY, thrown by a
// rigid motion with a turn of any angle (uniform over all rotations) about its centre and a shift of
// up to one tile per axis. Walls are rows x cols tiles of 1 x 1 x 0.2; every shared edge carries three
// rubber bands (one point pair each, stiffness 1) spread along the edge and off the wall's middle
// plane, so that no joint is a hinge. Chains are tiles in a row and rings are wedges of a flat ring,
// with four bands per neighbouring pair; the ring closes. Each side of a band is picked with noise of
// 0.3 % of a tile, on the thrown mesh, as a user picks it. The sample vessel of `make-sample` is
// solved as well.
//
// The tool runs as a child process in the case's folder, with a timeout (600 s; 120 s with --quick):
// a run that does not end in time is killed and reported as a timeout. Its "level N: ..." lines give
// the solver's steps, time and final energy (fields added to those lines later are printed as they
// stand). The solved project is read back and compared with the truth: after the best rigid fit of the
// whole solved object onto the true one, the largest and the RMS distance of the pieces' corners (for
// the vessel: of every 97th vertex), in tile widths (1 unit; the vessel is 2 units high).
//
// Without case options: walls of 10x10, 20x25 and 40x50 tiles, a chain and a ring of 100 pieces, and
// the sample; with --quick a 3x3 wall and a chain of 10 only. Case options replace the list.

#include "frag_group.h"
#include "frag_mesh.h"
#include "fragment.h"
#include "mesh_loading.h"
#include "mesh_readers.h"
#include "ply_writer.h"
#include "project_reader.h"
#include "project_writer.h"
#include "quick_mode.h"
#include "rband.h"
#include "sample_vessel.h"
#include "total_graph.h"

#include <Eigen/Geometry>
#include <Eigen/SVD>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef OSTRAKIT_CLI_PATH
#define OSTRAKIT_CLI_PATH "ostrakit-cli"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// ---------------------------------------------------------------------------------------------
// The cases.

// Corners of a hexahedron: bit 0, 1 and 2 of the index choose the side along the first, second and
// third direction (x, y, z for a box), so that these triangles face outwards.
const std::vector<FragMesh::Face> HexahedronFaces{{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6},
                                                  {0, 1, 5}, {0, 5, 4}, {2, 6, 7}, {2, 7, 3},
                                                  {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
using Corners = std::array<Point3d, 8>;

constexpr double TileThickness = 0.2;
constexpr double PickNoise = 0.003; // of a tile, per coordinate and side

Corners tileCorners(const Point3d& centre) {
    Corners c;
    for (int i = 0; i < 8; ++i)
        c[std::size_t(i)] =
            centre + Point3d((i & 1) ? 0.5 : -0.5, (i & 2) ? 0.5 : -0.5, (i & 4) ? 0.1 : -0.1);
    return c;
}

// A band as the user picks it: the true place of each side (the shared point plus the picking
// noise), on pieces a and b.
struct Band {
    int a = 0, b = 0;
    Point3d onA, onB;
};

// Which points of a piece's mesh are compared with their true places after the solve.
struct CheckPoints {
    std::vector<std::uint32_t> vertices;
    std::vector<Point3d> truth;
};

struct Problem {
    std::string label;
    // Made by the benchmark: the true corners and the bands. Empty for the sample.
    std::vector<Corners> pieces;
    std::vector<Band> bands;
    // By mesh file name.
    std::map<QString, CheckPoints> checks;
    double trueEnergy = 0.0; // of the bands at the true placement: the picking noise
    QString projectPath;
    double makeSeconds = 0.0; // meshes, graph and project file
    std::string makeDetail;
};

QString tileName(int k) {
    return QStringLiteral("tile_%1.ply").arg(k, 5, 10, QLatin1Char('0'));
}

// Three bands on the edge from mid - along/2 to mid + along/2 between pieces a and b: at a fifth,
// the middle and four fifths of the edge, the middle one below the wall's middle plane and the others
// above it.
void shareEdge(Problem& p, int a, int b, const Point3d& mid, const Point3d& along, int count,
               std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const auto noise = [&]() -> Point3d { return PickNoise * Point3d(u(rng), u(rng), u(rng)); };
    for (int k = 0; k < count; ++k) {
        const double t = (k + 0.5) / count - 0.5; // along the edge, in (-0.5, 0.5)
        const double off = (k % 2 == 0 ? 0.35 : -0.35) * TileThickness + 0.1 * TileThickness * u(rng);
        const Point3d q = mid + 0.8 * t * along + Point3d(0.0, 0.0, off);
        p.bands.push_back({a, b, q + noise(), q + noise()});
    }
}

Problem wall(int rows, int cols, unsigned seed = 3) {
    Problem p;
    p.label = std::to_string(rows) + "x" + std::to_string(cols) + " wall";
    std::mt19937 rng(seed);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            p.pieces.push_back(tileCorners(Point3d(c, r, 0.0)));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int e = r * cols + c;
            if (c + 1 < cols)
                shareEdge(p, e, e + 1, Point3d(c + 0.5, r, 0.0), Point3d(0.0, 1.0, 0.0), 3, rng);
            if (r + 1 < rows)
                shareEdge(p, e, e + cols, Point3d(c, r + 0.5, 0.0), Point3d(1.0, 0.0, 0.0), 3, rng);
        }
    return p;
}

Problem chain(int count, unsigned seed = 1) {
    Problem p;
    p.label = std::to_string(count) + " chain";
    std::mt19937 rng(seed);
    for (int e = 0; e < count; ++e)
        p.pieces.push_back(tileCorners(Point3d(e, 0.0, 0.0)));
    for (int e = 0; e + 1 < count; ++e)
        shareEdge(p, e, e + 1, Point3d(e + 0.5, 0.0, 0.0), Point3d(0.0, 1.0, 0.0), 4, rng);
    return p;
}

// A flat ring of count wedges 1 wide, its middle circle count long; wedge e spans the angles from
// e to e + 1 (in steps of 2 pi / count). Its corners' bit 0 chooses the radius and bit 1 the angle,
// which keeps the triangles facing outwards.
Problem ring(int count, unsigned seed = 2) {
    Problem p;
    p.label = std::to_string(count) + " ring";
    std::mt19937 rng(seed);
    const double radius = count / (2.0 * M_PI);
    const auto at = [&](double r, double step, double z) {
        const double a = 2.0 * M_PI * step / count;
        return Point3d(r * std::cos(a), r * std::sin(a), z);
    };
    for (int e = 0; e < count; ++e) {
        Corners c;
        for (int i = 0; i < 8; ++i)
            c[std::size_t(i)] = at(radius + ((i & 1) ? 0.5 : -0.5), e + ((i & 2) ? 1 : 0),
                                   (i & 4) ? TileThickness / 2 : -TileThickness / 2);
        p.pieces.push_back(c);
    }
    for (int e = 0; e < count; ++e) {
        const Point3d inner = at(radius - 0.5, e + 1, 0.0), outer = at(radius + 0.5, e + 1, 0.0);
        shareEdge(p, e, (e + 1) % count, (inner + outer) / 2.0, outer - inner, 4, rng);
    }
    return p;
}

// A uniformly random rotation (from a unit quaternion) about the piece's centre and a shift of up to
// one tile per axis.
std::vector<Matrix44d> throwPieces(const std::vector<Corners>& pieces, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> shift(-1.0, 1.0);
    std::vector<Matrix44d> motions;
    for (const Corners& corners : pieces) {
        Point3d centre = Point3d::Zero();
        for (const Point3d& c : corners)
            centre += c / 8.0;
        Eigen::Quaterniond q(gauss(rng), gauss(rng), gauss(rng), gauss(rng));
        q.normalize();
        const Eigen::Matrix3d r = q.toRotationMatrix();
        Matrix44d m = Matrix44d::Identity();
        m.topLeftCorner<3, 3>() = r;
        m.topRightCorner<3, 1>() = centre - r * centre + Point3d(shift(rng), shift(rng), shift(rng));
        motions.push_back(m);
    }
    return motions;
}

// Writes the thrown meshes and the project into folder through the program's own graph and writers.
bool makeProject(Problem& p, const QString& folder, QString& error) {
    const Clock::time_point t0 = Clock::now();
    const QDir dir(folder);
    const std::vector<Matrix44d> motions = throwPieces(p.pieces, 7);
    QStringList paths;
    for (std::size_t k = 0; k < p.pieces.size(); ++k) {
        FragMesh mesh;
        for (const Point3d& c : p.pieces[k])
            mesh.vertices.push_back(transformPoint(motions[k], c));
        mesh.faces = HexahedronFaces;
        paths << dir.filePath(tileName(int(k)));
        if (!writeBinaryPly(paths.back(), mesh, error))
            return false;
        CheckPoints& check = p.checks[tileName(int(k))];
        for (std::uint32_t i = 0; i < 8; ++i) {
            check.vertices.push_back(i);
            check.truth.push_back(p.pieces[k][i]);
        }
    }
    const double meshSeconds = secondsSince(t0);

    // The meshes are read and prepared as the program reads them, then each becomes a fragment.
    Clock::time_point t = Clock::now();
    std::vector<MeshLoad> loads;
    for (const QString& path : paths)
        loads.push_back(MeshLoad{QStringList{path}, nullptr, -1, {}});
    loadMeshes(loads);
    TotalGraph graph;
    std::vector<FragGroup*> wrappers;
    for (std::size_t k = 0; k < loads.size(); ++k) {
        if (!loads[k].mesh) {
            error = loads[k].error;
            return false;
        }
        FragGroup* w = graph.addFragment(paths[qsizetype(k)], std::move(loads[k].mesh), error);
        if (!w)
            return false;
        w->wrappedFragment()->setPathRelativeToProject(true);
        wrappers.push_back(w);
    }
    const double fragmentSeconds = secondsSince(t);

    t = Clock::now();
    for (const Band& b : p.bands) {
        FragGroup* wa = wrappers[std::size_t(b.a)];
        FragGroup* wb = wrappers[std::size_t(b.b)];
        RBand::join(
            graph, {wa, transformPoint(motions[std::size_t(b.a)], b.onA), &wa->wrappedFragment()->objId()},
            {wb, transformPoint(motions[std::size_t(b.b)], b.onB), &wb->wrappedFragment()->objId()}, 1);
        p.trueEnergy += (b.onA - b.onB).norm();
    }
    const double bandSeconds = secondsSince(t);

    t = Clock::now();
    p.projectPath = dir.filePath(QStringLiteral("project.prproj"));
    if (!saveProjectFile(p.projectPath, graph, error))
        return false;
    const double saveSeconds = secondsSince(t);
    p.makeSeconds = secondsSince(t0);
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "meshes written %.2f s, fragments added %.2f s, bands joined %.2f s, saved %.2f s",
                  meshSeconds, fragmentSeconds, bandSeconds, saveSeconds);
    p.makeDetail = detail;
    return true;
}

// The vessel of make-sample (the same function with the same options); its pieces are compared at
// every 97th vertex with where that vertex was before the pieces were thrown.
bool makeSample(Problem& p, const QString& folder, QString& error) {
    const Clock::time_point t0 = Clock::now();
    p.label = "sample";
    SampleVessel sample;
    if (!writeSampleVessel(folder, sample, error))
        return false;
    for (std::size_t k = 0; k < sample.meshPaths.size(); ++k) {
        FragMesh mesh;
        if (!readMeshFile(sample.meshPaths[k], mesh, error))
            return false;
        const Matrix44d back = sample.motions[k].inverse();
        CheckPoints& check = p.checks[QFileInfo(sample.meshPaths[k]).fileName()];
        for (std::uint32_t i = 0; i < mesh.vertices.size(); i += 97) {
            check.vertices.push_back(i);
            check.truth.push_back(transformPoint(back, mesh.vertices[i]));
        }
    }
    p.projectPath = sample.projectPath;
    p.pieces.resize(sample.meshPaths.size());
    p.bands.resize(std::size_t(sample.constraintCount));
    p.trueEnergy = std::numeric_limits<double>::quiet_NaN();
    p.makeSeconds = secondsSince(t0);
    p.makeDetail = "written by the sample code";
    return true;
}

// ---------------------------------------------------------------------------------------------
// The child process.

struct ChildRun {
    bool started = false;
    bool timedOut = false;
    int status = 0;     // as wait4 gives it
    double seconds = 0; // from fork to the end of wait4
    long peakKib = 0;   // the child's largest resident set
    std::string out, err;
};

std::string readWhole(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Runs program with args in folder, its output in files there; kills it after timeout seconds.
ChildRun runChild(const std::vector<std::string>& args, const std::string& folder, double timeout) {
    ChildRun run;
    const std::string outPath = folder + "/cli.out", errPath = folder + "/cli.err";
    sigset_t childSignal, previous;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignal, &previous);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const Clock::time_point t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir(folder.c_str()) != 0)
            _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return run;
    }
    run.started = true;
    struct rusage usage {};
    for (;;) {
        const double left = timeout - secondsSince(t0);
        pid_t done = 0;
        if (left > 0) {
            timespec wait{};
            wait.tv_sec = time_t(left);
            wait.tv_nsec = long((left - double(wait.tv_sec)) * 1e9);
            if (sigtimedwait(&childSignal, nullptr, &wait) < 0 && errno != EAGAIN && errno != EINTR)
                break;
            done = wait4(pid, &run.status, WNOHANG, &usage);
            if (done == pid || (done < 0 && errno != EINTR))
                break;
            continue;
        }
        run.timedOut = true;
        kill(pid, SIGKILL);
        wait4(pid, &run.status, 0, &usage);
        break;
    }
    run.seconds = secondsSince(t0);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    run.peakKib = usage.ru_maxrss;
    run.out = readWhole(outPath);
    run.err = readWhole(errPath);
    return run;
}

// ---------------------------------------------------------------------------------------------
// The tool's report lines: "level N: E entities, P point pairs, S steps, energy X, T s", perhaps with
// more fields and " (failed)".

struct LevelLine {
    int level = -1, entities = -1, pairs = -1, steps = -1;
    double energy = std::numeric_limits<double>::quiet_NaN();
    double seconds = std::numeric_limits<double>::quiet_NaN();
    bool failed = false;
    std::vector<std::string> others; // fields this benchmark does not know, as written
};

std::string trimmed(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t\r");
    const std::size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The number that makes up all of text, if it does.
std::optional<double> number(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return v;
}

std::optional<LevelLine> parseLevelLine(const std::string& line) {
    if (line.rfind("level ", 0) != 0)
        return std::nullopt;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    LevelLine l;
    const auto level = number(line.substr(6, colon - 6));
    if (!level)
        return std::nullopt;
    l.level = int(*level);
    std::string rest = line.substr(colon + 1);
    if (const std::size_t f = rest.find("(failed)"); f != std::string::npos) {
        l.failed = true;
        rest.erase(f, 8);
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t comma = rest.find(',', start);
        if (comma == std::string::npos)
            comma = rest.size();
        const std::string field = trimmed(rest.substr(start, comma - start));
        start = comma + 1;
        if (field.empty())
            continue;
        const auto counted = [&](const std::string& name, int& into) {
            if (!endsWith(field, " " + name))
                return false;
            const auto v = number(field.substr(0, field.size() - name.size() - 1));
            if (v)
                into = int(*v);
            return bool(v);
        };
        if (counted("entities", l.entities) || counted("point pairs", l.pairs) || counted("steps", l.steps))
            continue;
        if (field.rfind("energy ", 0) == 0)
            if (const auto v = number(field.substr(7))) {
                l.energy = *v;
                continue;
            }
        if (endsWith(field, " s") && std::isnan(l.seconds))
            if (const auto v = number(field.substr(0, field.size() - 2))) {
                l.seconds = *v;
                continue;
            }
        l.others.push_back(field);
    }
    return l;
}

std::vector<LevelLine> levelLines(const std::string& out) {
    std::vector<LevelLine> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        if (const auto l = parseLevelLine(out.substr(start, end - start)))
            lines.push_back(*l);
        start = end + 1;
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// The result against the truth.

struct Placement {
    bool read = false;
    std::string why;
    double largest = 0, rms = 0;
};

// Best rigid fit of solved onto truth (least squares), then the distances that remain.
void compare(const std::vector<Point3d>& solved, const std::vector<Point3d>& truth, Placement& out) {
    const std::size_t n = solved.size();
    Point3d sc = Point3d::Zero(), tc = Point3d::Zero();
    for (std::size_t i = 0; i < n; ++i) {
        sc += solved[i] / double(n);
        tc += truth[i] / double(n);
    }
    Eigen::Matrix3d h = Eigen::Matrix3d::Zero();
    for (std::size_t i = 0; i < n; ++i)
        h += (solved[i] - sc) * (truth[i] - tc).transpose();
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
    d(2, 2) = (svd.matrixV() * svd.matrixU().transpose()).determinant() < 0 ? -1.0 : 1.0;
    const Eigen::Matrix3d r = svd.matrixV() * d * svd.matrixU().transpose();
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double e = (r * (solved[i] - sc) + tc - truth[i]).norm();
        out.largest = std::max(out.largest, e);
        sum += e * e;
    }
    out.rms = std::sqrt(sum / double(std::max<std::size_t>(n, 1)));
}

// Reads the solved project as the program opens it and compares every piece's check points.
Placement placementOf(const QString& solvedPath, const Problem& p) {
    Placement result;
    TotalGraph graph;
    const ProjectReadReport report = readProjectFile(solvedPath, graph);
    if (!report.ok()) {
        result.why = "unreadable: " + report.detail.toStdString();
        return result;
    }
    std::vector<Point3d> solved, truth;
    std::size_t found = 0;
    for (const auto& [id, o] : graph.objectTable()) {
        const auto* w = dynamic_cast<const FragGroup*>(o);
        const Fragment* f = w ? w->wrappedFragment() : nullptr;
        if (!f)
            continue;
        const auto check = p.checks.find(f->fileName());
        if (check == p.checks.end())
            continue;
        ++found;
        const CheckPoints& c = check->second;
        for (std::size_t i = 0; i < c.vertices.size(); ++i) {
            if (c.vertices[i] >= f->mesh().vertices.size()) {
                result.why = "a solved mesh lacks vertices";
                return result;
            }
            solved.push_back(f->mesh().vertices[c.vertices[i]]);
            truth.push_back(c.truth[i]);
        }
    }
    if (found != p.checks.size()) {
        result.why = "pieces missing in the solved project";
        return result;
    }
    compare(solved, truth, result);
    result.read = true;
    return result;
}

// ---------------------------------------------------------------------------------------------

struct Options {
    bool quick = false, keep = false, sample = false;
    double timeout = 0;
    std::string cli = OSTRAKIT_CLI_PATH;
    std::vector<std::pair<int, int>> walls;
    std::vector<int> chains, rings;
    bool anyCase() const { return sample || !walls.empty() || !chains.empty() || !rings.empty(); }
};

bool parseOptions(int argc, char* argv[], Options& o) {
    o.quick = quickMode(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--quick")
            continue;
        if (a == "--keep") {
            o.keep = true;
        } else if (a == "--sample") {
            o.sample = true;
        } else if (a == "--wall" && hasValue) {
            int rows = 0, cols = 0;
            if (std::sscanf(argv[++i], "%dx%d", &rows, &cols) != 2 || rows < 1 || cols < 1 || rows * cols < 2)
                return false;
            o.walls.emplace_back(rows, cols);
        } else if ((a == "--chain" || a == "--ring") && hasValue) {
            const int n = std::atoi(argv[++i]);
            if (n < (a == "--ring" ? 3 : 2))
                return false;
            (a == "--chain" ? o.chains : o.rings).push_back(n);
        } else if (a == "--timeout" && hasValue) {
            o.timeout = std::atof(argv[++i]);
        } else if (a == "--cli" && hasValue) {
            o.cli = argv[++i];
        } else {
            return false;
        }
    }
    if (!(o.timeout > 0))
        o.timeout = o.quick ? 120.0 : 600.0;
    if (!o.anyCase()) {
        if (o.quick) {
            o.walls = {{3, 3}};
            o.chains = {10};
        } else {
            o.walls = {{10, 10}, {20, 25}, {40, 50}};
            o.chains = {100};
            o.rings = {100};
            o.sample = true;
        }
    }
    return true;
}

// "12.3", or text for what could not be measured.
std::string figure(double v, const char* format, const char* otherwise = "-") {
    if (std::isnan(v))
        return otherwise;
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Makes the case, solves it with the tool and prints its row; false when the case could not be made
// or the tool did not run as it should (a timeout counts as a measurement).
bool runCase(Problem p, bool isSample, const Options& o, std::vector<std::string>& notes) {
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench_fresco_XXXXXX"));
    dir.setAutoRemove(!o.keep);
    QString error;
    if (!dir.isValid() ||
        !(isSample ? makeSample(p, dir.path(), error) : makeProject(p, dir.path(), error))) {
        std::fprintf(stderr, "bench_fresco: couldn't make the %s: %s\n", p.label.c_str(), qPrintable(error));
        return false;
    }
    const QString output = dir.filePath(QStringLiteral("solved.prproj"));
    const ChildRun run =
        runChild({o.cli, "solve", p.projectPath.toStdString(), "--output", output.toStdString()},
                 dir.path().toStdString(), o.timeout);
    const std::vector<LevelLine> levels = levelLines(run.out);
    int steps = 0;
    double solverSeconds = 0, energy = NaN;
    bool failed = false;
    for (const LevelLine& l : levels) {
        steps += std::max(l.steps, 0);
        solverSeconds += std::isnan(l.seconds) ? 0.0 : l.seconds;
        energy = l.energy;
        failed = failed || l.failed;
        for (const std::string& other : l.others)
            notes.push_back(p.label + ", level " + std::to_string(l.level) + ": " + other);
    }
    const bool exited = run.started && !run.timedOut && WIFEXITED(run.status);
    const bool ok = exited && WEXITSTATUS(run.status) == 0;
    Placement placement;
    if (ok)
        placement = placementOf(output, p);

    std::string wall = figure(run.seconds, "%.2f");
    if (run.timedOut)
        wall = "timeout";
    else if (!ok)
        wall = "failed";
    const bool measured = ok && !levels.empty();
    std::printf("%-12s %6zu %7zu %8.2f %9s %8s %8s %6s %8s %8s %9s %9s %10s %10s\n", p.label.c_str(),
                p.pieces.size(), p.bands.size(), p.makeSeconds, wall.c_str(),
                figure(measured ? solverSeconds : NaN, "%.2f").c_str(),
                figure(measured ? run.seconds - solverSeconds : NaN, "%.2f").c_str(),
                measured ? std::to_string(steps).c_str() : "-",
                figure(measured && steps > 0 ? solverSeconds / steps : NaN, "%.3f").c_str(),
                figure(run.started ? run.peakKib / 1024.0 : NaN, "%.1f").c_str(),
                figure(placement.read ? placement.largest : NaN, "%.2e").c_str(),
                figure(placement.read ? placement.rms : NaN, "%.2e").c_str(), figure(energy, "%.4g").c_str(),
                figure(p.trueEnergy, "%.4g").c_str());
    std::fflush(stdout);
    notes.push_back(p.label + " made: " + p.makeDetail);
    if (!placement.read && !placement.why.empty())
        notes.push_back(p.label + ": " + placement.why);
    if (failed)
        notes.push_back(p.label + ": the tool reports a failed level");
    if (run.timedOut)
        notes.push_back(p.label + ": killed after " + figure(o.timeout, "%g") + " s");
    if (!run.timedOut && !ok) {
        const std::string tail = run.err.size() > 400 ? run.err.substr(run.err.size() - 400) : run.err;
        notes.push_back(p.label + ": the tool failed (status " + std::to_string(run.status) + "): " + tail);
    }
    if (o.keep)
        notes.push_back(p.label + " kept in " + dir.path().toStdString());
    return run.timedOut || measured;
}

} // namespace

int main(int argc, char* argv[]) {
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: bench_fresco [--quick] [--wall RxC]... [--chain N]... [--ring N]... "
                             "[--sample] [--timeout SECONDS] [--keep] [--cli PATH]\n");
        return 2;
    }
    if (access(o.cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench_fresco: no ostrakit-cli at %s (give it with --cli)\n", o.cli.c_str());
        return 1;
    }
    installMeshReaders();
    std::signal(SIGCHLD, SIG_DFL); // the child is waited for, not reaped away
    std::printf("ostrakit-cli solve PROJECT --output OUT, start to exit (timeout %.0f s), %s\n", o.timeout,
                o.cli.c_str());
    std::printf("%-12s %6s %7s %8s %9s %8s %8s %6s %8s %8s %9s %9s %10s %10s\n", "case", "pieces", "bands",
                "made s", "run s", "solver s", "other s", "steps", "s/step", "peak MB", "err max", "err rms",
                "energy", "E truth");
    std::vector<std::string> notes;
    bool allRan = true;
    for (const auto& [rows, cols] : o.walls)
        allRan = runCase(wall(rows, cols), false, o, notes) && allRan;
    for (const int n : o.chains)
        allRan = runCase(chain(n), false, o, notes) && allRan;
    for (const int n : o.rings)
        allRan = runCase(ring(n), false, o, notes) && allRan;
    if (o.sample)
        allRan = runCase(Problem{}, true, o, notes) && allRan;
    std::printf(
        "\n(made = meshes, graph and project file written by this benchmark; run = the tool from start\n"
        " to exit; solver = the times of its level lines, other = run - solver; s/step = solver / steps;\n"
        " peak = the tool's largest resident set; err = distance of the pieces' check points from the\n"
        " truth after the best rigid fit, in tile widths; E truth = the bands' energy at the true\n"
        " placement, from the picking noise: an energy below it means the bands are met better than\n"
        " by the truth, and what error remains is the noise's, large where joints bend easily, as\n"
        " across the 0.2 thick joints of a chain)\n");
    for (const std::string& n : notes)
        std::printf("  %s\n", n.c_str());
    return allRan ? 0 : 1;
}
