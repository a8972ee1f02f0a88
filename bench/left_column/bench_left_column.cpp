// The left column on a project of 200 small fragments (real meshes of 320 triangles) in 20
// groups with 1,000 constraints: the time from "Load" until the tree, the constraint list and
// every thumbnail are ready; then splitting five groups, grouping the 50 fragments they held in
// one step and splitting that group again, each through the tree's menu. Needs an X server.
// Usage: bench_left_column [--quick]   (the run takes a few seconds, so --quick runs it as it is)

#include "frag_group.h"
#include "fragment.h"
#include "gl_defaults.h"
#include "group_moves.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "project_writer.h"
#include "scene_fixtures.h"
#include "thumbnail_store.h"
#include "total_graph.h"
#include "tree_panel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidgetItemIterator>
#include <cmath>
#include <cstdio>
#include <random>

namespace {
// A sphere of 162 vertices and 320 triangles (an icosahedron subdivided twice) around centre.
QString writeSphere(const QString& path, const Point3d& centre) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Point3d> v{{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                           {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    std::vector<std::array<int, 3>> f{{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                      {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                      {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                      {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int round = 0; round < 2; ++round) {
        std::map<std::pair<int, int>, int> middle;
        auto mid = [&](int a, int b) {
            const auto key = std::minmax(a, b);
            if (auto it = middle.find(key); it != middle.end())
                return it->second;
            v.push_back((v[std::size_t(a)] + v[std::size_t(b)]) / 2);
            return middle[key] = int(v.size()) - 1;
        };
        std::vector<std::array<int, 3>> finer;
        for (const auto& [a, b, c] : f) {
            const int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
            finer.insert(finer.end(), {{a, ab, ca}, {b, bc, ab}, {c, ca, bc}, {ab, bc, ca}});
        }
        f = finer;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QTextStream out(&file);
    out << "ply\nformat ascii 1.0\nelement vertex " << v.size()
        << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << f.size()
        << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (const Point3d& p : v) {
        const Point3d q = centre + p.normalized();
        out << q.x() << ' ' << q.y() << ' ' << q.z() << '\n';
    }
    for (const auto& t3 : f)
        out << "3 " << t3[0] << ' ' << t3[1] << ' ' << t3[2] << '\n';
    return path;
}

QString writeProject(const QString& folder) {
    TotalGraph g;
    std::mt19937 rng(5);
    std::vector<FragGroup*> wrappers;
    for (int i = 0; i < 200; ++i) {
        const QString mesh =
            writeSphere(folder + QStringLiteral("/piece_%1.ply").arg(i), {3.0 * (i % 20), 3.0 * (i / 20), 0});
        FragGroup* w = FragGroup::wrapFragment(&g, mesh);
        g.addObject(w);
        wrappers.push_back(w);
    }
    std::uniform_int_distribution<int> any(0, 199);
    for (int c = 0; c < 1000; ++c) { // picked on the fragments they join
        FragGroup* a = wrappers[std::size_t(any(rng))];
        FragGroup* b = wrappers[std::size_t(any(rng))];
        if (a == b)
            b = wrappers[std::size_t((a->id() + 1) % 200)];
        addBand(g, a, b, a->currentCentroid(), b->currentCentroid());
    }
    for (int k = 0; k < 20; ++k) {
        auto* grp = new FragGroup(&g);
        grp->objId().id = g.nextFreeId();
        grp->setColor(g.objectColor(grp->objId()));
        g.addObject(grp);
        moveIntoGroup(*grp,
                      std::vector<GeometrObj*>(wrappers.begin() + k * 10, wrappers.begin() + k * 10 + 10));
        grp->setVisible(true); // shown in the solved area, so that its members can be regrouped
    }
    const QString path = folder + QStringLiteral("/bench.prproj");
    QString error;
    if (!saveProjectFile(path, g, error)) {
        std::fprintf(stderr, "cannot write the project: %s\n", qPrintable(error));
        return {};
    }
    return path;
}

// Runs a menu entry of the tree on the current selection; seconds taken, -1 if it was not there.
double runEntry(MainWindow& w, const QString& text) {
    TreePanel& panel = *w.widgets().listPans->treePanel();
    std::unique_ptr<QMenu> menu = panel.makeMenu();
    for (QAction* a : menu ? menu->actions() : QList<QAction*>())
        if (a->text() == text && a->isEnabled()) {
            QElapsedTimer clock;
            clock.start();
            a->trigger();
            QCoreApplication::processEvents();
            return clock.nsecsElapsed() / 1e9;
        }
    return -1;
}
} // namespace

int main(int argc, char* argv[]) {
    setProgramGlDefaults();
    QApplication app(argc, argv);
    installMeshReaders();
    QTemporaryDir dir;
    const QString project = writeProject(dir.path());
    if (project.isEmpty())
        return 1;

    MainWindow w;
    w.show();
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    if (!w.openProject(project))
        return 1;
    QCoreApplication::processEvents();
    const double open = clock.nsecsElapsed() / 1e9;
    QTreeWidget& tree = w.widgets().listPans->treePanel()->contentWidget();
    int items = 0, pictures = 0;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it, ++items)
        pictures += !thumbnailImage(thumbnailName(dynamic_cast<MyTreeWidgetItem*>(*it)->object()->imageKey()))
                         .isNull();
    std::printf("open 200 fragments, 20 groups, 1000 constraints: %.3f s (%d tree items, %d with a picture, "
                "%d rows)\n",
                open, items, pictures, w.widgets().listPans->constraintListPanel()->contentWidget().count());

    double splits = 0;
    for (int k = 0; k < 5; ++k) {
        tree.clearSelection();
        tree.topLevelItem(0)->setSelected(true);
        splits += runEntry(w, QStringLiteral("Split"));
    }
    std::printf("split a group of 10: %.3f s each (mean of 5)\n", splits / 5);
    tree.clearSelection();
    int selected = 0;
    for (int i = 0; i < tree.topLevelItemCount() && selected < 50; ++i)
        if (auto* item = dynamic_cast<MyTreeWidgetItem*>(tree.topLevelItem(i)); item && item->isFragment()) {
            item->setSelected(true);
            ++selected;
        }
    const double group = runEntry(w, QStringLiteral("Group"));
    std::printf("group %d top-level fragments: %.3f s\n", selected, group);
    tree.clearSelection();
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        if (auto* item = dynamic_cast<MyTreeWidgetItem*>(tree.topLevelItem(i)))
            if (auto* g = dynamic_cast<FragGroup*>(item->object()); g && g->childCount() == selected)
                item->setSelected(true);
    const double split = runEntry(w, QStringLiteral("Split"));
    std::printf("split the group of %d: %.3f s\n", selected, split);
    const QStringList problems = w.projectGraph()->validate();
    std::printf("graph consistent: %s\n", problems.isEmpty() ? "yes" : qPrintable(problems.join("; ")));
    return 0;
}
