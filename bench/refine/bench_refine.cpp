// Refine after Solve on broken objects whose true assembly is known: every piece but the first is
// thrown by a random rigid motion, each touching pair gets 4 picked point pairs on its shared break
// with noise, the reassembly solver places the pieces from the picks (as the Solve command does),
// then refineBodies fits the break surfaces. Per piece: how far it ends from its true place (the
// largest distance of a vertex, in % of the object's diagonal) after Solve alone and after Refine;
// rounds, time per round and memory.
//
//   bench_refine [--quick] [bottle folder]
//
// The bottle folder holds the six pieces of bottle_fractured_15 (piece_0.obj ... piece_7.obj). Without
// it, and with --quick, only generated blocks broken by rough cuts are run (small ones with --quick);
// the full run also times 8 slabs of about 250,000 triangles each.

#include "coarse_alignment.h"
#include "entity_poses.h"
#include "mesh_loading.h"
#include "mesh_readers.h"
#include "point_pair_set.h"
#include "quick_mode.h"
#include "reassembly_solver.h"
#include "rigid_math.h"
#include "solver/rough_slabs.h"
#include "surface_refine.h"

#include <Eigen/Geometry>

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double peakMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

// Pieces in their true places and the pairs that touch.
struct Assembly {
    std::string name;
    std::vector<FragMesh> meshes;
    std::vector<std::shared_ptr<const TriangleTree>> trees;
    std::vector<std::pair<std::size_t, std::size_t>> touching;
    double diagonal = 0.0;
    double treeSeconds = 0.0;

    void finish() {
        Box3d box;
        const Clock::time_point t0 = Clock::now();
        for (const FragMesh& m : meshes) {
            for (const Point3d& v : m.vertices)
                box.add(v);
            trees.push_back(std::make_shared<const TriangleTree>(TriangleTree::copyOf(m)));
        }
        treeSeconds = secondsSince(t0);
        diagonal = box.diag();
    }
    std::size_t triangles() const {
        std::size_t n = 0;
        for (const FragMesh& m : meshes)
            n += m.faceCount();
        return n;
    }
    // How far piece k lies from its true place under placed: the largest distance of a vertex.
    double offTrue(std::size_t k, const Matrix44d& placed) const {
        double largest = 0.0;
        for (const Point3d& v : meshes[k].vertices)
            largest = std::max(largest, (transformPoint(placed, v) - v).norm());
        return largest;
    }
};

Assembly slabs(int pieces, int grid) {
    Assembly a;
    RoughSlabs shape;
    shape.pieces = pieces;
    shape.grid = grid;
    shape.thickness = 0.25;
    a.name = std::to_string(pieces) + " rough slabs, grid " + std::to_string(grid);
    for (int k = 0; k < pieces; ++k)
        a.meshes.push_back(shape.slab(k));
    for (int k = 0; k + 1 < pieces; ++k)
        a.touching.emplace_back(k, k + 1);
    a.finish();
    return a;
}

bool bottle(const QString& folder, Assembly& a) {
    a.name = "bottle_fractured_15";
    const int files[] = {0, 1, 2, 3, 6, 7};
    for (int f : files) {
        FragMesh m;
        QString error;
        if (!readPreparedMesh(QDir(folder).filePath(QString("piece_%1.obj").arg(f)), m, error)) {
            std::printf("cannot read piece_%d.obj: %s\n", f, qPrintable(error));
            return false;
        }
        a.meshes.push_back(std::move(m));
    }
    // 0-2, 0-6, 0-7, 1-3, 1-6, 2-3, 2-6 by file number; pieces are indexed in file order.
    a.touching = {{0, 2}, {0, 4}, {0, 5}, {1, 3}, {1, 4}, {2, 3}, {2, 4}};
    a.finish();
    return true;
}

Matrix44d randomMotion(std::mt19937& rng, const Point3d& centre, double reach) {
    std::normal_distribution<double> g(0.0, 1.0);
    const Eigen::Quaterniond q = Eigen::Quaterniond(g(rng), g(rng), g(rng), g(rng)).normalized();
    Matrix44d m = Matrix44d::Identity();
    m.topLeftCorner<3, 3>() = q.toRotationMatrix();
    m.topRightCorner<3, 1>() =
        centre - q.toRotationMatrix() * centre + reach * Point3d(g(rng), g(rng), g(rng));
    return m;
}

Point3d randomDirection(std::mt19937& rng) {
    std::normal_distribution<double> g(0.0, 1.0);
    return Point3d(g(rng), g(rng), g(rng)).normalized();
}

// A picked point pair in true coordinates.
struct Pick {
    std::size_t a, b;
    Point3d onA, onB;
};

// Four well-spread vertices of a that lie on b's surface (the shared break), each side moved off by
// noise (a fraction of the diagonal, in a random direction).
std::vector<Pick> picksOnBreaks(const Assembly& s, double noise, std::mt19937& rng) {
    std::vector<Pick> picks;
    for (const auto& [a, b] : s.touching) {
        const TriangleTree& tb = *s.trees[b];
        const Matrix44d localB = tb.worldFromLocal(s.meshes[b].placement).inverse();
        std::vector<Point3d> shared;
        for (const Point3d& v : s.meshes[a].vertices)
            if (tb.closestPoint(transformPoint(localB, v).cast<float>(), float(1e-6 * s.diagonal)))
                shared.push_back(v);
        if (shared.empty()) {
            std::printf("  pieces %zu and %zu share no vertex\n", a, b);
            continue;
        }
        // The farthest point from those chosen, four times, from a random start.
        std::vector<Point3d> chosen{
            shared[std::uniform_int_distribution<std::size_t>(0, shared.size() - 1)(rng)]};
        while (chosen.size() < 4) {
            const auto far =
                std::max_element(shared.begin(), shared.end(), [&](const Point3d& x, const Point3d& y) {
                    const auto nearest = [&](const Point3d& p) {
                        double d = 1e300;
                        for (const Point3d& c : chosen)
                            d = std::min(d, (p - c).norm());
                        return d;
                    };
                    return nearest(x) < nearest(y);
                });
            chosen.push_back(*far);
        }
        for (const Point3d& p : chosen)
            picks.push_back({a, b, p + noise * s.diagonal * randomDirection(rng),
                             p + noise * s.diagonal * randomDirection(rng)});
    }
    return picks;
}

// The solver's printf lines are sent to /dev/null while fn runs.
template <class Fn> void quietly(Fn fn) {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    fn();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
}

// The placement a Solve gives from the picks, as the Solve command computes it (first placement along
// the pairs, then the reassembly solver's steps), piece 0 held: a motion per piece on top of thrown.
std::vector<Matrix44d> solveFromPicks(std::size_t pieces, const std::vector<Pick>& picks,
                                      const std::vector<Matrix44d>& thrown) {
    EntityPoses poses;
    poses.reset(int(pieces));
    PointPairSet set(poses);
    int id = 0;
    for (const Pick& p : picks)
        set.addPair(id++, int(p.a), int(p.b), transformPoint(thrown[p.a], p.onA),
                    transformPoint(thrown[p.b], p.onB), 1.0);
    ReassemblySolver solver(set);
    solver.resetTransforms();
    solver.findParts();
    const std::vector<Matrix44d> start = coarseAlignment(set, int(pieces), solver.anchored());
    for (PointRecord& r : set.records())
        r.initial = r.current = transformPoint(start[std::size_t(r.entity)], r.initial);
    solver.resetTransforms();
    std::vector<Matrix33d> rotations;
    std::vector<Point3d> translations;
    bool failed = false;
    quietly([&] { solver.iterate(rotations, translations, failed, 0.0); });
    std::vector<Matrix44d> motions(pieces, Matrix44d::Identity());
    if (failed)
        std::printf("  the solver failed\n");
    for (std::size_t k = 0; k < pieces && !failed; ++k)
        motions[k] = composeTransform(rotations[k], translations[k]) * start[k];
    return motions;
}

struct Outcome {
    double worstSolve = 0.0, worstRefine = 0.0;
};

Outcome run(const Assembly& s, double noise, unsigned seed, bool verbose) {
    std::mt19937 rng(seed);
    const std::size_t n = s.meshes.size();
    std::vector<Matrix44d> thrown(n, Matrix44d::Identity());
    for (std::size_t k = 1; k < n; ++k)
        thrown[k] = randomMotion(rng, s.meshes[k].bbox.center(), 0.5 * s.diagonal);
    const std::vector<Pick> picks = picksOnBreaks(s, noise, rng);

    const Clock::time_point solveStart = Clock::now();
    const std::vector<Matrix44d> solved = solveFromPicks(n, picks, thrown);
    const double solveSeconds = secondsSince(solveStart);

    std::vector<RefineBody> bodies;
    for (std::size_t k = 0; k < n; ++k)
        bodies.push_back(
            {{s.trees[k]}, {solved[k] * thrown[k] * s.trees[k]->worldFromLocal(s.meshes[k].placement)}});
    std::vector<RefinePointPair> pairs;
    for (const Pick& p : picks)
        pairs.push_back({p.a, p.b, transformPoint(solved[p.a] * thrown[p.a], p.onA),
                         transformPoint(solved[p.b] * thrown[p.b], p.onB), 1.0});
    RefineOptions options;
    options.contactDistance = 0.005 * s.diagonal;
    const Clock::time_point refineStart = Clock::now();
    const RefineResult r = refineBodies(bodies, s.touching, pairs, options);
    const double refineSeconds = secondsSince(refineStart);

    Outcome o;
    std::vector<double> afterSolve(n), afterRefine(n);
    for (std::size_t k = 0; k < n; ++k) {
        afterSolve[k] = s.offTrue(k, solved[k] * thrown[k]) / s.diagonal;
        afterRefine[k] = s.offTrue(k, r.motions[k] * solved[k] * thrown[k]) / s.diagonal;
        o.worstSolve = std::max(o.worstSolve, afterSolve[k]);
        o.worstRefine = std::max(o.worstRefine, afterRefine[k]);
    }
    double slowest = 0.0, total = 0.0;
    for (double t : r.roundSeconds) {
        slowest = std::max(slowest, t);
        total += t;
    }
    std::printf(
        "%-28s noise %5.2f%% seed %u: solve %.3f s, refine %.3f s (%d rounds, %.3f s per round, slowest "
        "%.3f s), %zu matches, gap mean %.2e -> %.2e, largest %.2e -> %.2e (gaps in diagonals)\n",
        s.name.c_str(), 100 * noise, seed, solveSeconds, refineSeconds, r.rounds,
        r.rounds ? total / r.rounds : 0.0, slowest, r.matches.size(), r.meanBefore / s.diagonal,
        r.meanAfter / s.diagonal, r.largestBefore / s.diagonal, r.largestAfter / s.diagonal);
    if (verbose) {
        std::printf("    piece:          ");
        for (std::size_t k = 0; k < n; ++k)
            std::printf(" %8zu", k);
        std::printf("\n    after Solve  %%: ");
        for (double v : afterSolve)
            std::printf(" %8.4f", 100 * v);
        std::printf("\n    after Refine %%: ");
        for (double v : afterRefine)
            std::printf(" %8.4f", 100 * v);
        std::printf("\n");
    }
    for (std::size_t k : r.strayed)
        std::printf("    piece %zu strayed from its picks: refined without its contacts\n", k);
    for (const auto& [a, b] : r.withoutContact)
        std::printf("    no contact found between %zu and %zu\n", a, b);
    std::printf("    worst piece: %.4f %% after Solve, %.4f %% after Refine%s\n", 100 * o.worstSolve,
                100 * o.worstRefine, o.worstRefine > o.worstSolve + 1e-6 ? "  (WORSE THAN SOLVE)" : "");
    return o;
}

void runAll(const Assembly& s, const std::vector<double>& noises, const std::vector<unsigned>& seeds) {
    std::size_t treeBytes = 0;
    for (const auto& t : s.trees)
        treeBytes += t->memoryBytes();
    std::printf("\n== %s: %zu pieces, %zu triangles, diagonal %.4g, trees built in %.3f s (%.1f MB)\n",
                s.name.c_str(), s.meshes.size(), s.triangles(), s.diagonal, s.treeSeconds,
                treeBytes / 1048576.0);
    for (double noise : noises) {
        Outcome worst;
        for (unsigned seed : seeds) {
            const Outcome o = run(s, noise, seed, true);
            worst.worstSolve = std::max(worst.worstSolve, o.worstSolve);
            worst.worstRefine = std::max(worst.worstRefine, o.worstRefine);
        }
        std::printf("  noise %.2f%% over %zu throws: worst piece %.4f %% after Solve, %.4f %% after Refine\n",
                    100 * noise, seeds.size(), 100 * worst.worstSolve, 100 * worst.worstRefine);
    }
    std::printf("  peak memory of the process so far: %.0f MB\n", peakMegabytes());
}
} // namespace

int main(int argc, char* argv[]) {
    const bool quick = quickMode(argc, argv);
    installMeshReaders();
    QString folder;
    for (int k = 1; k < argc; ++k)
        if (std::string(argv[k]) != "--quick")
            folder = QString::fromLocal8Bit(argv[k]);
    char tmpl[] = "/tmp/bench_refine_XXXXXX"; // the solver writes matrix.txt where it runs
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0)
        return 1;

    if (quick) {
        runAll(slabs(3, 24), {0.0, 0.003}, {1});
        return 0;
    }
    const std::vector<unsigned> seeds = {1, 2, 3};
    if (!folder.isEmpty()) {
        Assembly b;
        if (bottle(folder, b))
            runAll(b, {0.0, 0.003, 0.01}, seeds);
    }
    runAll(slabs(4, 60), {0.0, 0.003, 0.01}, seeds);
    runAll(slabs(8, 250), {0.003, 0.01}, {1});
    return 0;
}
