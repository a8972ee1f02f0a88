// Saving and reopening a project of 200 fragments (in 20 groups) and 1,000 constraints, meshes
// excluded: the fragments name mesh files that do not exist, so only the project file is timed.
// Then reading files of 2,000, 20,000 and 80,000 empty top-level groups, whose times should grow
// with the count, not its square. Prints the median of several runs. With --quick: 20 fragments,
// 100 constraints, and 200 and 2,000 groups.

#include "frag_group.h"
#include "fragment.h"
#include "mesh_readers.h"
#include "project_reader.h"
#include "project_writer.h"
#include "quick_mode.h"
#include "rband.h"
#include "total_graph.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {
// fragments (a multiple of 10) in groups of ten, with five constraints per fragment.
void buildProject(TotalGraph& g, const QString& folder, int fragments) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> any(-100.0, 100.0);
    std::vector<FragGroup*> wrappers;
    for (int i = 0; i < fragments; ++i) {
        FragGroup* w = FragGroup::wrapFragment(&g, folder + QStringLiteral("/piece_%1.ply").arg(i));
        g.addObject(w);
        Matrix44d m = Matrix44d::Identity();
        m(0, 3) = any(rng);
        m(1, 3) = any(rng);
        m(2, 3) = any(rng) * 1e4; // georeferenced: needs more than 6 digits
        w->applyTransform(&m);
        wrappers.push_back(w);
    }
    for (int c = 0; c < 5 * fragments; ++c) {
        FragGroup* a = wrappers[static_cast<std::size_t>(c % fragments)];
        FragGroup* b = wrappers[static_cast<std::size_t>((c * 7 + 1) % fragments)];
        if (a == b)
            b = wrappers[static_cast<std::size_t>((c + 1) % fragments)];
        auto* band = new RBand(c, &a->objId(), &b->objId());
        band->addLeafFrag(&a->wrappedFragment()->objId());
        band->addLeafFrag(&b->wrappedFragment()->objId());
        band->addPoint(&a->objId(), {any(rng), any(rng), any(rng)});
        band->addPoint(&b->objId(), {any(rng), any(rng), any(rng)});
        g.addConstraint(band);
        a->attachConstraint(band);
        b->attachConstraint(band);
    }
    // Group every ten wrappers, as users do with the pieces of one region.
    for (int k = 0; k < fragments / 10; ++k) {
        auto* grp = new FragGroup(&g);
        grp->objId().id = g.nextFreeId();
        g.addObject(grp);
        for (int j = 0; j < 10; ++j)
            grp->addChild(wrappers[static_cast<std::size_t>(k * 10 + j)]);
    }
}

// A file of n visible top-level groups without members.
QByteArray manyGroups(int n) {
    QByteArray text = "<Project><Graph><Fragments>";
    for (int i = 0; i < n; ++i)
        text += "<FragGroup id=\"-1:" + QByteArray::number(i) +
                "\" ><Hidden value=\"0\" /><Visible value=\"0\" /></FragGroup>";
    return text + "</Fragments><Constraints></Constraints></Graph></Project>";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    installMeshReaders();
    const bool quick = quickMode(argc, argv);
    const int fragments = quick ? 20 : 200;
    QTemporaryDir dir;
    TotalGraph project;
    buildProject(project, dir.path(), fragments);
    const QString path = dir.filePath(QStringLiteral("bench.prproj"));

    std::vector<double> saveMs, openMs;
    for (int run = 0; run < 9; ++run) {
        QElapsedTimer t;
        t.start();
        QString error;
        if (!saveProjectFile(path, project, error)) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
            return 1;
        }
        saveMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        TotalGraph back;
        const ProjectReadReport report = readProjectFile(path, back);
        openMs.push_back(t.nsecsElapsed() / 1e6);
        if (!report.ok() || back.constraintTable().size() != std::size_t(5 * fragments)) {
            std::fprintf(stderr, "reopen failed: %s\n", qPrintable(report.detail));
            return 1;
        }
    }
    std::printf("project: %d fragments in %d groups, %d constraints, file %lld bytes\n", fragments,
                fragments / 10, 5 * fragments, static_cast<long long>(QFileInfo(path).size()));
    std::printf("save (text + atomic write): median %.2f ms\n", median(saveMs));
    std::printf("open (parse + checks, meshes missing): median %.2f ms\n", median(openMs));

    for (int n : quick ? std::vector<int>{200, 2000} : std::vector<int>{2000, 20000, 80000}) {
        const QString groups = dir.filePath(QStringLiteral("groups.prproj"));
        QFile file(groups);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(manyGroups(n)) < 0)
            return 1;
        file.close();
        std::vector<double> ms;
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer t;
            t.start();
            TotalGraph back;
            if (!readProjectFile(groups, back).ok() || back.objectCount() != n)
                return 1;
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("open %d top-level groups: median %.1f ms (%.2f us per group)\n", n, median(ms),
                    median(ms) * 1e3 / n);
    }
    return 0;
}
