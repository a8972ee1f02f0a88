// Cost of the reassembly solver on generated chains of fragments: assembly, factorisation and solve,
// whole runs, the matrix dump, and the cost of one step against the number of point pairs.
//
//   bench_solver [--quick]   (--quick: small chains and rings only)
//
// Most problems are a row of unit cubes along x; each two neighbours share 4 corresponding points on
// their common face, and every cube is scrambled by a random turn of up to 0.3 rad and a shift of up
// to 0.2. Rings close the row; walls are grids of tiles, 3 noisy pairs per shared edge. The solver's own
// output lines go to /dev/null; the tables go to standard output.

#include "coarse_alignment.h"
#include "point_pair_set.h"
#include "quick_mode.h"
#include "reassembly_solver.h"

#include <Eigen/Geometry>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Where each piece was thrown: a random turn about its centre of up to maxTurn rad and a shift of
// up to 0.2.
class Scramble {
public:
    Scramble(const std::vector<Point3d>& centres, double maxTurn, std::mt19937& rng) {
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (const Point3d& c : centres) {
            const Eigen::Vector3d axis = Eigen::Vector3d(u(rng), u(rng), u(rng)).normalized();
            const Matrix33d r = Eigen::AngleAxisd(maxTurn * u(rng), axis).toRotationMatrix();
            moves.push_back(composeTransform(r, c - r * c + 0.2 * Point3d(u(rng), u(rng), u(rng))));
        }
    }
    Point3d moved(int e, const Point3d& p) const {
        const Matrix44d& T = moves[std::size_t(e)];
        return T.topLeftCorner<3, 3>() * p + T.topRightCorner<3, 1>();
    }

private:
    std::vector<Matrix44d> moves;
};

// Feeds a scrambled chain of `entities` cubes with 4 pairs per neighbouring pair, plus `extra` more
// pairs between the first two cubes.
void feedChain(PointPairSet& set, int entities, int extra, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Point3d> centres;
    for (int e = 0; e < entities; ++e)
        centres.emplace_back(double(e), 0.0, 0.0);
    const Scramble scramble(centres, 0.3, rng);
    set.clear();
    set.poses().reset(entities);
    int id = 0;
    auto share = [&](int e) {
        const Point3d q(e + 0.5, 0.45 * u(rng), 0.45 * u(rng));
        set.addPair(id++, e, e + 1, scramble.moved(e, q), scramble.moved(e + 1, q), 1.0);
    };
    for (int e = 0; e + 1 < entities; ++e)
        for (int k = 0; k < 4; ++k)
            share(e);
    for (int k = 0; k < extra; ++k)
        share(0);
}

// Feeds a wall of rows x cols unit tiles (a fresco): each tile shares 3 points with the tile to its
// right and 3 with the one above, picked on each side with noise of 0.3 % of a tile, every tile
// scrambled by a turn of up to maxTurn. The grid's cycles are what make its factorisation costly.
void feedWall(PointPairSet& set, int rows, int cols, double maxTurn, unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<Point3d> centres;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            centres.emplace_back(double(c), double(r), 0.0);
    const Scramble scramble(centres, maxTurn, rng);
    const auto noise = [&]() -> Point3d { return 0.003 * Point3d(u(rng), u(rng), u(rng)); };
    set.clear();
    set.poses().reset(rows * cols);
    int id = 0;
    const auto share = [&](int a, int b, const Point3d& edgeMid, const Point3d& along) {
        for (int k = 0; k < 3; ++k) {
            const Point3d q = edgeMid + 0.4 * (k - 1) * along + Point3d(0.0, 0.0, 0.1 * u(rng));
            set.addPair(id++, a, b, scramble.moved(a, q + noise()), scramble.moved(b, q + noise()), 1.0);
        }
    };
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int e = r * cols + c;
            if (c + 1 < cols)
                share(e, e + 1, Point3d(c + 0.5, double(r), 0.0), Point3d(0.0, 1.0, 0.0));
            if (r + 1 < rows)
                share(e, e + cols, Point3d(double(c), r + 0.5, 0.0), Point3d(1.0, 0.0, 0.0));
        }
}

// Feeds a broken ring of `entities` pieces on a circle of circumference about `entities`: piece e
// shares 4 points with piece e + 1 (the last with the first), on the plane between them.
void feedRing(PointPairSet& set, int entities, unsigned seed = 2) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double radius = entities / (2.0 * M_PI);
    auto centre = [&](double e) -> Point3d {
        const double a = 2.0 * M_PI * e / entities;
        return Point3d(radius * std::cos(a), radius * std::sin(a), 0.0);
    };
    std::vector<Point3d> centres;
    for (int e = 0; e < entities; ++e)
        centres.push_back(centre(e));
    const Scramble scramble(centres, 0.3, rng);
    set.clear();
    set.poses().reset(entities);
    int id = 0;
    for (int e = 0; e < entities; ++e) {
        const int next = (e + 1) % entities;
        const Point3d mid = centre(e + 0.5);
        const Point3d radial = mid.normalized();
        for (int k = 0; k < 4; ++k) {
            const Point3d q = mid + 0.45 * u(rng) * radial + 0.45 * u(rng) * Point3d(0, 0, 1);
            set.addPair(id++, e, next, scramble.moved(e, q), scramble.moved(next, q), 1.0);
        }
    }
}

// Moves the fed points by the first placement a Solve makes before it iterates.
void placeRoughly(PointPairSet& set) {
    const std::vector<Matrix44d> start = coarseAlignment(set, set.poses().count());
    for (PointRecord& r : set.records())
        r.initial = r.current = start[std::size_t(r.entity)].topLeftCorner<3, 3>() * r.initial +
                                start[std::size_t(r.entity)].topRightCorner<3, 1>();
}

// The solver's printf lines are sent to /dev/null while fn runs.
template <class Fn> double quietly(Fn fn) {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    const Clock::time_point t0 = Clock::now();
    fn();
    const double s = secondsSince(t0);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return s;
}

// Best of `reps` timings of fn.
template <class Fn> double best(int reps, Fn fn) {
    double b = 1e300;
    for (int k = 0; k < reps; ++k)
        b = std::min(b, quietly(fn));
    return b;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool quick = quickMode(argc, argv);
    EntityPoses poses;
    PointPairSet set(poses);
    ReassemblySolver solver(set);
    char tmpl[] = "/tmp/bench_solver_XXXXXX";
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0)
        return 1;

    std::printf("Chains with 4 point pairs per neighbouring pair (best of 5; times in ms)\n");
    std::printf("%9s %7s %7s %10s %10s %10s %6s %10s %10s\n", "entities", "pairs", "N", "full asm",
                "step solve", "one step", "steps", "whole run", "dump");
    for (const int entities : quick ? std::vector<int>{10, 26} : std::vector<int>{10, 26, 100, 500}) {
        feedChain(set, entities, 0);
        solver.resetTransforms();
        solver.computeCentroids();
        solver.buildLinks();
        const double assembly = best(5, [&] {
            solver.assembleSystem();
            solver.system().matrix(); // additions summed into the compressed matrix
        });
        const double assembleSolve = best(5, [&] { solver.assembleAndSolve(); });
        const double dump = best(3, [&] { solver.system().dumpMatrix(); });
        const double oneStep = best(5, [&] {
            solver.resetTransforms();
            solver.step();
        });
        double run = 1e300;
        int steps = 0;
        for (int k = 0; k < 3; ++k) {
            run = std::min(run, quietly([&] {
                               std::vector<Matrix33d> r;
                               std::vector<Point3d> t;
                               bool failed = false;
                               solver.resetTransforms();
                               solver.iterate(r, t, failed, 0.0);
                           }));
            steps = solver.lastRunSteps();
        }
        char dumpText[32] = "skipped";
        if (solver.unknownCount() <= SparseSystem::kMaxDenseDumpSize)
            std::snprintf(dumpText, sizeof dumpText, "%.2f", 1e3 * dump);
        std::printf("%9d %7zu %7d %10.3f %10.3f %10.3f %6d %10.2f %10s\n", entities, set.pairs().size(),
                    solver.unknownCount(), 1e3 * assembly, 1e3 * assembleSolve, 1e3 * oneStep, steps,
                    1e3 * run, dumpText);
    }
    std::printf(
        "(full asm = assembly of the N x N saddle-point system, done only for the dump; step solve =\n"
        " assembly, AMD ordering, LL^T factorisation and solve of the 6n entity system; one step =\n"
        " step solve, polar rounds, application and energy; whole run = resetTransforms + iterate including "
        "the matrix\n"
        " dump rule: dense file up to N = %d, one skip line above)\n\n",
        SparseSystem::kMaxDenseDumpSize);

    // The driver's typical large case, as a chain with 4 more pairs between its first two pieces and
    // as a broken ring (a rim of 100 pieces, each sharing 4 points with the next, the last with the first).
    const int large = quick ? 10 : 100;
    for (const bool ring : {false, true}) {
        if (ring)
            feedRing(set, large);
        else
            feedChain(set, large, 4);
        double run = 1e300;
        for (int k = 0; k < 3; ++k)
            run = std::min(run, quietly([&] {
                               std::vector<Matrix33d> r;
                               std::vector<Point3d> t;
                               bool failed = false;
                               solver.resetTransforms();
                               solver.iterate(r, t, failed, 0.0);
                           }));
        std::printf("%d entities, %zu point pairs (N = %d), %s: whole solve %.1f ms in %d steps, %.2f ms per "
                    "step (target < 500 ms)\n",
                    large, set.pairs().size(), solver.unknownCount(), ring ? "ring " : "chain", 1e3 * run,
                    solver.lastRunSteps(), 1e3 * run / solver.lastRunSteps());
    }
    std::printf("\n");

    // Walls: grids, not chains, so the factorisation meets the cycles of a fresco. Tiles turned by any
    // angle, then placed roughly as a Solve does before it iterates.
    std::printf(
        "Walls of tiles turned by any angle, 3 noisy point pairs per shared edge (one run; times in ms)\n");
    std::printf("%9s %7s %7s %9s %6s %10s %10s %10s %10s %12s\n", "tiles", "pairs", "N", "6n", "steps",
                "factor", "per step", "rough", "whole run", "final energy");
    const std::vector<std::pair<int, int>> walls =
        quick ? std::vector<std::pair<int, int>>{{3, 3}}
              : std::vector<std::pair<int, int>>{{5, 5}, {10, 10}, {20, 25}, {40, 50}};
    for (const auto& [rows, cols] : walls) {
        feedWall(set, rows, cols, M_PI);
        const double rough = quietly([&] { placeRoughly(set); });
        std::vector<Matrix33d> r;
        std::vector<Point3d> t;
        bool failed = false;
        const double run = quietly([&] {
            solver.resetTransforms();
            solver.iterate(r, t, failed, 0.0);
        });
        const int steps = std::max(1, solver.lastRunSteps());
        std::printf("%4dx%-4d %7zu %7d %9d %6d %10.2f %10.2f %10.1f %10.1f %12.6g%s%s\n", rows, cols,
                    set.pairs().size(), solver.unknownCount(), 6 * solver.entityCount(),
                    solver.lastRunSteps(), 1e3 * solver.lastRunFactorSeconds() / steps, 1e3 * run / steps,
                    1e3 * rough, 1e3 * run, solver.energy(), failed ? " (failed)" : "",
                    solver.lastRunHitStepBound() ? " (step bound)" : "");
        std::printf("%9s factor of the entity system: %.1f MB\n", "", solver.lastRunFactorBytes() / 1e6);
    }
    std::printf("(factor = ordering and LL^T factorisation of the 6n entity system, per step; rough = the\n"
                " first placement by best rigid fits along the pairs)\n\n");

    std::printf("Cost of one step against the number of point pairs (best of 5)\n");
    std::printf("%7s %9s %8s %11s %14s\n", "pairs", "entities", "N", "step ms", "us per pair");
    for (const int pairs :
         quick ? std::vector<int>{100, 200} : std::vector<int>{100, 200, 400, 800, 1600, 3200, 6400}) {
        feedChain(set, pairs / 4 + 1, 0);
        const double s = best(5, [&] {
            solver.resetTransforms();
            solver.step();
        });
        std::printf("%7zu %9d %8d %11.3f %14.2f\n", set.pairs().size(), poses.count(), solver.unknownCount(),
                    1e3 * s, 1e6 * s / double(set.pairs().size()));
    }
    unlink("matrix.txt");
    rmdir(tmpl);
    return 0;
}
