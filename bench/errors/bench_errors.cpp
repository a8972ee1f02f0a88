// The interpenetration view on large fragments: two overlapping spheres of 1 million triangles
// each, two of 100,000, and a ring of eight of 250,000 each overlapping their neighbours. For each
// case: passes per direction, time per pass, read-back time, total time of the first computation
// (GPU buffers uploaded) and of a second one (buffers kept), and the marked faces.
// Needs an X server (run under xvfb-run -a -s "-screen 0 1280x1024x24").
//
//   bench_errors [--repeat N] [--case "2 x 1M"]
//   bench_errors --quick        (two spheres of 2,000 triangles)

#include "closed_shapes.h"
#include "error_view.h"
#include "gl_defaults.h"
#include "quick_mode.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

struct Case {
    const char* name;
    int pieces;
    std::size_t trianglesEach;
};

// Spheres of radius 1 on a circle, each overlapping its neighbours by a third of a radius (two
// pieces: side by side).
void buildCase(TotalGraph& graph, const Case& c, std::vector<int>& ids) {
    // 2 slices (stacks - 1) triangles with slices = 2 stacks.
    const int stacks = int(std::lround(std::sqrt(double(c.trianglesEach) / 4.0)));
    const double step = 2.0 - 1.0 / 3.0; // centre distance
    const double ringRadius = c.pieces > 2 ? step / (2.0 * std::sin(M_PI / c.pieces)) : step / 2.0;
    for (int i = 0; i < c.pieces; ++i) {
        const double angle = 2.0 * M_PI * i / c.pieces;
        const Point3d centre(ringRadius * std::cos(angle), 0.3 * i / c.pieces, ringRadius * std::sin(angle));
        FragGroup* g =
            addSphere(graph, centre, 1.0, 2 * stacks, stacks, QStringLiteral("piece_%1.ply").arg(i));
        ids.push_back(g->id());
    }
}

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The figures of one computation; the CPU times tell what a loaded machine hides (the drawing
// thread's time is close to the wall time on an idle machine).
void printReport(const char* label, const ErrorReport& r, double threadCpu, double processCpu) {
    std::printf(
        "  %s: total %.3f s (CPU: this thread %.3f s, all threads %.3f s), read-back %.3f s, %d passes",
        label, r.totalSeconds, threadCpu, processCpu, r.readBackSeconds, r.totalPasses());
    std::size_t faces = 0;
    for (const FragmentMarks& f : r.fragments)
        faces += f.faces;
    std::printf(", %zu of %zu faces marked\n", r.totalMarkedFaces(), faces);
    const char* axes[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i) {
        const DirectionReport& d = r.directions[std::size_t(i)];
        std::printf("    direction %s: %d passes, %.3f s (%.1f ms per pass)%s\n", axes[i], d.passes,
                    d.seconds, d.passes ? 1000.0 * d.seconds / d.passes : 0.0,
                    d.stoppedByBound ? ", stopped by the bound" : "");
    }
}

} // namespace

int main(int argc, char* argv[]) {
    setProgramGlDefaults();
    QGuiApplication app(argc, argv);
    int repeat = 2;
    const char* only = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--case") == 0)
            only = argv[i + 1];
    }
    const std::vector<Case> cases =
        quickMode(argc, argv)
            ? std::vector<Case>{{"2 x 2k", 2, 2000}}
            : std::vector<Case>{{"2 x 100k", 2, 100000}, {"2 x 1M", 2, 1000000}, {"8 x 250k", 8, 250000}};
    ErrorView view;
    if (!view.ensureContext()) {
        std::fprintf(stderr, "bench_errors: %s\n", view.contextProblem().toLocal8Bit().constData());
        return 1;
    }
    for (const Case& c : cases) {
        if (only && std::strcmp(only, c.name) != 0)
            continue;
        TotalGraph graph;
        std::vector<int> ids;
        buildCase(graph, c, ids);
        std::printf("%s\n", c.name);
        for (int i = 0; i < repeat; ++i) {
            const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID),
                         process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
            const ErrorReport r = view.update(&graph, ids, 1e-5f);
            printReport(i == 0 ? "first (uploads)" : "again (buffers kept)", r,
                        cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0,
                        cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0);
        }
        std::fflush(stdout);
    }
    return 0;
}
