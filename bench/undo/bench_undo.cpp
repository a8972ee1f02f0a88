// Undo and redo on a project of 8 fragments of about 250,000 triangles each: the time to undo and
// redo a Solve with the views repainted, the resident memory an undo stack of 50 steps adds when
// no object was deleted, and what an undone deletion keeps. Needs an X server.
// Usage: bench_undo [around up]   (vertices around the vessel and rings; default 1250 800)
//        bench_undo --quick         (a vessel of 16 x 8; the 100 solves and repaints still take about 10 s)

#include "frag_group.h"
#include "fragment.h"
#include "gl_defaults.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "project_history.h"
#include "quick_mode.h"
#include "sample_vessel.h"
#include "solved_container.h"
#include "total_graph.h"
#include "tree_panel.h"
#include "wa_container.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

namespace {
// Resident memory of this process in MiB.
double residentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return 0;
}

// Lets every view repaint what changed.
void settle() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// What the undo steps hold beyond the project in use.
double heldMiB(const MainWindow& w) {
    std::set<const FragMesh*> live;
    for (const auto& [id, o] : w.projectGraph()->objectTable())
        if (auto* g = dynamic_cast<FragGroup*>(o); g && g->wrappedFragment())
            live.insert(&g->wrappedFragment()->mesh());
    return double(w.projectHistory().heldBytes(live)) / (1024.0 * 1024.0);
}

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) * 1e-9;
}
} // namespace

int main(int argc, char* argv[]) {
    setProgramGlDefaults();
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the recovery file stays out of the user's data
    installMeshReaders();
    SampleVesselOptions options;
    const bool quick = quickMode(argc, argv);
    options.around = quick ? 16 : argc > 2 ? std::atoi(argv[1]) : 1250;
    options.up = quick ? 8 : argc > 2 ? std::atoi(argv[2]) : 800;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    SampleVessel sample;
    QString error;
    if (!writeSampleVessel(dir.path(), sample, error, options)) {
        std::fprintf(stderr, "cannot write the sample: %s\n", qPrintable(error));
        return 1;
    }
    std::size_t triangles = 0;
    for (std::size_t n : sample.pieceTriangles)
        triangles += n;
    std::printf("project: %zu fragments, %zu triangles\n", sample.pieceTriangles.size(), triangles);

    MainWindow w;
    w.show();
    settle();
    if (!w.openProject(sample.projectPath))
        return 1;
    settle();
    const double opened = residentMiB();
    std::printf("resident after opening: %.0f MiB\n", opened);

    QElapsedTimer t;
    t.start();
    w.solve();
    settle();
    std::printf("solve: %.3f s\n", seconds(t));
    for (int round = 0; round < 3; ++round) {
        t.restart();
        w.undo();
        settle();
        const double undone = seconds(t);
        t.restart();
        w.redo();
        settle();
        std::printf("undo Solve: %.3f s   redo Solve: %.3f s\n", undone, seconds(t));
    }

    // For comparison: repainting the solved views alone, nothing undone.
    t.restart();
    w.updateSolvedArea();
    w.widgets().wacont->updateAll();
    settle();
    std::printf("repaint alone: %.3f s\n", seconds(t));

    TreePanel& tree = *w.widgets().listPans->treePanel();
    QTreeWidget& items = tree.contentWidget();
    // 50 changes with no step kept, for comparison: what the changes themselves (solver,
    // interpenetration marks, allocator) add.
    const double controlBefore = residentMiB();
    for (int i = 0; i < 50; ++i) {
        if (i % 5 == 0)
            w.solve();
        else
            tree.renameItem(
                dynamic_cast<MyTreeWidgetItem*>(items.topLevelItem(i % items.topLevelItemCount())),
                QStringLiteral("piece %1").arg(i + 100));
        w.projectHistory().startOver();
        settle();
    }
    const double controlAfter = residentMiB();
    std::printf("50 changes with no step kept: %.0f MiB -> %.0f MiB resident (+%.1f %%)\n", controlBefore,
                controlAfter, 100.0 * (controlAfter - controlBefore) / controlBefore);

    // The same kind of changes kept as 50 steps (no deletion).
    const double before = residentMiB();
    for (int i = 0; w.projectHistory().stack().count() < 50; ++i) {
        if (i % 5 == 0)
            w.solve();
        else
            tree.renameItem(
                dynamic_cast<MyTreeWidgetItem*>(items.topLevelItem(i % items.topLevelItemCount())),
                QStringLiteral("piece %1").arg(i));
        settle();
    }
    const double after = residentMiB();
    std::printf("undo stack of %d steps: %.0f MiB -> %.0f MiB resident (+%.1f %%); the steps hold %.2f MiB\n",
                w.projectHistory().stack().count(), before, after, 100.0 * (after - before) / before,
                heldMiB(w));

    // A deletion keeps the mesh as long as a step refers to it.
    items.clearSelection();
    items.topLevelItem(0)->setSelected(true);
    auto* first =
        dynamic_cast<FragGroup*>(actionObject(dynamic_cast<MyTreeWidgetItem*>(items.topLevelItem(0))));
    const double kept = first && first->wrappedFragment()
                            ? double(first->wrappedFragment()->mesh().memoryBytes()) / (1024.0 * 1024.0)
                            : 0.0;
    const double beforeDelete = residentMiB();
    w.widgets().listPans->DeleteGroup();
    settle();
    std::printf("deleting a fragment whose mesh holds %.1f MiB: %.0f MiB -> %.0f MiB resident; the steps "
                "hold %.2f MiB\n",
                kept, beforeDelete, residentMiB(), heldMiB(w));
    t.restart();
    w.undo();
    settle();
    std::printf("undo Delete Geometries: %.3f s\n", seconds(t));
    return 0;
}
