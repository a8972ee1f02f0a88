// The group operations of the fragment tree in the real window: the context menu per selection,
// grouping and splitting the solved sample (tree, solved area, constraint rows, and the project
// text restored byte for byte), excluding from a nested group (no vertex moves, constraints kept),
// renaming across Save and Load, an empty group, dragging an item onto a working area, and
// deleting the last constraint of a placed object.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "group_moves.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "project_writer.h"
#include "sample_vessel.h"
#include "total_graph.h"
#include "tree_panel.h"
#include "wa_container.h"
#include "wgl_area.h"
#include "window_fixtures.h"

#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QtTest>

namespace {
MyTreeWidgetItem* item(QTreeWidgetItem* i) {
    return dynamic_cast<MyTreeWidgetItem*>(i);
}

QStringList menuEntries(TreePanel& panel, bool enabledOnly = false) {
    QStringList texts;
    if (std::unique_ptr<QMenu> menu = panel.makeMenu())
        for (QAction* a : menu->actions())
            if (!enabledOnly || a->isEnabled())
                texts << a->text();
    return texts;
}

QTreeWidgetItem* findItem(QTreeWidget& tree, const QString& text) {
    const QList<QTreeWidgetItem*> found = tree.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

std::vector<Point3d> verticesOf(GeometrObj* wrapper) {
    return dynamic_cast<FragGroup*>(wrapper)->wrappedFragment()->mesh().vertices;
}
} // namespace

class TestGroupTree : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SampleVessel sample;
    QString nestedProject;

    static TreePanel& panel(MainWindow& w) { return *w.widgets().listPans->treePanel(); }

    static bool validates(MainWindow& w) {
        const QStringList problems = w.projectGraph()->validate();
        if (!problems.isEmpty())
            qWarning() << problems;
        return problems.isEmpty();
    }

    // outer { inner { a, b }, c } and d at top level; bands a-b, b-c, a-d, each picked on the
    // fragments it names.
    QString writeNestedProject() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "b.ply", {2, 0, 0}));
        FragGroup* c = addFragment(graph, writeTetrahedron(dir, "c.ply", {4, 0, 0}));
        FragGroup* d = addFragment(graph, writeTetrahedron(dir, "d.ply", {0, 3, 0}));
        addBand(graph, a, b, {0.5, 0.1, 0}, {2.0, 0.1, 0});
        addBand(graph, b, c, {2.5, 0.1, 0}, {4.0, 0.1, 0});
        addBand(graph, a, d, {0.1, 0.5, 0}, {0.1, 3.0, 0});
        FragGroup* inner = addGroup(graph);
        moveIntoGroup(*inner, {a, b});
        FragGroup* outer = addGroup(graph);
        moveIntoGroup(*outer, {inner, c});
        return savedProject(graph, dir.filePath("nested.prproj"));
    }

private slots:
    void initTestCase() {
        const QString error = setUpSampleFolder(dir, sample);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        nestedProject = writeNestedProject();
        QVERIFY(!nestedProject.isEmpty());
    }

    void theMenuOffersWhatTheSelectionAllows() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(nestedProject));
        QTreeWidget& items = fragmentTree(w);
        items.expandAll();
        QCOMPARE(items.topLevelItemCount(), 2);
        QTreeWidgetItem* outer = findItem(items, "Group: 1");
        QTreeWidgetItem* inner = findItem(items, "Group: 0");
        QTreeWidgetItem* a = findItem(items, "a.ply");
        QTreeWidgetItem* d = findItem(items, "d.ply");
        QVERIFY(outer && inner && a && d);
        QCOMPARE(inner->parent(), outer);

        QCOMPARE(menuEntries(panel(w)), QStringList());
        select(items, {outer});
        QCOMPARE(menuEntries(panel(w)),
                 (QStringList{"Split", "Export Group", "Delete Geometries", "Change Item Name"}));
        select(items, {inner});
        QCOMPARE(menuEntries(panel(w)),
                 (QStringList{"Split", "Export Group", "Exclude", "Delete Geometries", "Change Item Name"}));
        select(items, {a});
        QCOMPARE(menuEntries(panel(w)), (QStringList{"Exclude", "Delete Geometries", "Change Item Name"}));
        select(items, {d});
        QCOMPARE(menuEntries(panel(w)), (QStringList{"Delete Geometries", "Change Item Name"}));

        // Several items: "Group", usable only for siblings in a reassembly the solved area shows.
        select(items, {a, findItem(items, "b.ply")});
        QCOMPARE(menuEntries(panel(w)), QStringList{"Group"});
        QCOMPARE(menuEntries(panel(w), true), QStringList());
        w.solve();
        QCOMPARE(menuEntries(panel(w), true), QStringList{"Group"});
        select(items, {a, d});
        QCOMPARE(menuEntries(panel(w), true), QStringList());

        // A right click opens the menu at the item; Escape closes it without doing anything.
        select(items, {d});
        QTimer::singleShot(50, [] {
            QWidget* popup = QApplication::activePopupWidget();
            QVERIFY(qobject_cast<QMenu*>(popup));
            QCOMPARE(qobject_cast<QMenu*>(popup)->actions().size(), 2);
            QTest::keyClick(popup, Qt::Key_Escape);
        });
        const QPoint at = items.visualItemRect(d).center();
        emit items.customContextMenuRequested(at);
        QCOMPARE(items.topLevelItemCount(), 2);
    }

    // Grouping two placed pieces of the solved sample and splitting the group again.
    void groupThenSplitRestoresTheProject() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(sample.projectPath));
        w.solve();
        TotalGraph& graph = *w.projectGraph();
        const QByteArray before = projectFileText(graph, QDir(dir.path()));
        QTreeWidget& items = fragmentTree(w);
        QCOMPARE(items.topLevelItemCount(), 8);
        QTreeWidgetItem* first = items.topLevelItem(0);
        QTreeWidgetItem* second = items.topLevelItem(1);
        GeometrObj* a = actionObject(item(first));
        GeometrObj* b = actionObject(item(second));
        QVERIFY(w.isInSolvedArea(a->id()) && w.isInSolvedArea(b->id()));

        select(items, {first, second});
        QVERIFY(runEntry(panel(w), "Group"));
        QVERIFY(validates(w));
        QCOMPARE(items.topLevelItemCount(), 7);
        QTreeWidgetItem* groupItem = nullptr;
        for (int i = 0; i < items.topLevelItemCount(); ++i)
            if (!item(items.topLevelItem(i))->isFragment())
                groupItem = items.topLevelItem(i);
        QVERIFY(groupItem);
        GeometrObj* group = item(groupItem)->object();
        QCOMPARE(groupItem->text(0), QStringLiteral("Group: %1").arg(graph.entityIndexOf(group->id())));
        QCOMPARE(groupItem->childCount(), 2);
        QVERIFY(first->parent() == groupItem && second->parent() == groupItem);
        QCOMPARE(first->foreground(0).color(), toQColor(group->getColor()));
        QCOMPARE(a->parentId(), group->id());
        QCOMPARE(b->parentId(), group->id());
        QVERIFY(!w.isInSolvedArea(a->id()) && !w.isInSolvedArea(b->id()));
        QVERIFY(w.isInSolvedArea(group->id()));
        QVERIFY(groupItem->toolTip(0).contains("image:" + group->imageKey()));
        // The bands from the two pieces to the others now name the group in their rows.
        int naming = 0;
        for (int i = 0; i < constraintRows(w).count(); ++i)
            naming += constraintRows(w).item(i)->text().contains(groupItem->text(0));
        QVERIFY(naming > 0);

        const int groupId = group->id();
        select(items, {groupItem});
        QVERIFY(runEntry(panel(w), "Split"));
        QVERIFY(validates(w));
        QVERIFY(!graph.getObject(groupId));
        QCOMPARE(items.topLevelItemCount(), 8);
        for (int i = 0; i < items.topLevelItemCount(); ++i) {
            GeometrObj* o = actionObject(item(items.topLevelItem(i)));
            QVERIFY(o->isTopLevel() && w.isInSolvedArea(o->id()));
            QCOMPARE(items.topLevelItem(i)->foreground(0).color(), toQColor(graph.objectColor(o->objId())));
        }
        for (int i = 0; i < constraintRows(w).count(); ++i)
            QVERIFY(!constraintRows(w).item(i)->text().contains("Group"));
        QCOMPARE(projectFileText(graph, QDir(dir.path())), before);
    }

    // Excluding a fragment from a nested group of the solved project.
    void excludingKeepsPlacementAndConstraints() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(nestedProject));
        w.solve();
        TotalGraph& graph = *w.projectGraph();
        QTreeWidget& items = fragmentTree(w);
        QTreeWidgetItem* a = findItem(items, "a.ply");
        GeometrObj* wrapper = actionObject(item(a));
        const std::vector<Point3d> placed = verticesOf(wrapper);
        const std::size_t constraints = graph.constraintTable().size();

        select(items, {a});
        QVERIFY(runEntry(panel(w), "Exclude"));
        QVERIFY(validates(w));
        QVERIFY(wrapper->isTopLevel());
        QVERIFY(!a->parent());
        QCOMPARE(items.topLevelItemCount(), 3);
        QCOMPARE(a->foreground(0).color(), toQColor(graph.objectColor(wrapper->objId())));
        QVERIFY(verticesOf(wrapper) == placed);
        QCOMPARE(graph.constraintTable().size(), constraints);
        // Its bands to b (inside the outer group) and to d now end at it.
        QCOMPARE(wrapper->constraintCount(), 2);
        QVERIFY(w.isInSolvedArea(wrapper->id()));
        for (int i = 0; i < constraintRows(w).count(); ++i)
            if (constraintRows(w).item(i)->text().contains("a.ply"))
                QVERIFY(!constraintRows(w).item(i)->text().contains("Group: 0"));
    }

    // A renamed fragment keeps its name through Save and Load, in the tree and in the rows.
    void aNameSurvivesSaveAndLoad() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(nestedProject));
        QTreeWidgetItem* d = findItem(fragmentTree(w), "d.ply");
        QVERIFY(panel(w).renameItem(item(d), "Handle"));
        QTreeWidgetItem* inner = findItem(fragmentTree(w), "Group: 0");
        QVERIFY(panel(w).renameItem(item(inner), "Neck"));
        const QString saved = dir.filePath("renamed.prproj");
        QVERIFY(w.saveProject(saved));
        QVERIFY(w.openProject(saved));
        QVERIFY(findItem(fragmentTree(w), "Handle") && findItem(fragmentTree(w), "Neck"));
        QStringList texts;
        for (int i = 0; i < constraintRows(w).count(); ++i)
            texts << constraintRows(w).item(i)->text();
        QVERIFY2(texts.join('\n').contains("Handle") && texts.join('\n').contains("Neck"),
                 qPrintable(texts.join('\n')));
    }

    void anEmptyGroupComesFirst() {
        MainWindow w;
        QVERIFY(w.openProject(nestedProject));
        const int before = w.projectGraph()->objectCount();
        w.widgets().listPans->AddEmptyGroup();
        QVERIFY(validates(w));
        QCOMPARE(w.projectGraph()->objectCount(), before + 1);
        MyTreeWidgetItem* top = item(fragmentTree(w).topLevelItem(0));
        QVERIFY(!top->isFragment());
        QCOMPARE(top->text(0),
                 QStringLiteral("Group: %1").arg(w.projectGraph()->entityIndexOf(top->object()->id())));
    }

    // Dropping a dragged item on a working area shows its object there, as "Put in Working area".
    void draggingAnItemOntoAWorkingAreaPutsItThere() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(nestedProject));
        QTreeWidget& items = fragmentTree(w);
        auto drop = [&w, &items](QTreeWidgetItem* dragged, int area) {
            std::unique_ptr<QMimeData> data(panel(w).contentWidget().mimeData({dragged}));
            WGLArea& target = w.widgets().wacont->area(area);
            const QPointF at(target.width() / 2.0, target.height() / 2.0);
            QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(&target, &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(&target, &dropped);
            return dropped.isAccepted();
        };
        QTreeWidgetItem* d = findItem(items, "d.ply");
        QVERIFY(drop(d, 1));
        QCOMPARE(w.widgets().wacont->content(1), actionObject(item(d)));
        QVERIFY(item(d)->isHighlighted() && d->font(0).underline());
        QTreeWidgetItem* outer = findItem(items, "Group: 1");
        QVERIFY(drop(outer, 1));
        QCOMPARE(w.widgets().wacont->content(1), item(outer)->object());
        QVERIFY(!item(d)->isHighlighted() && item(outer)->isHighlighted());
        // A drag from elsewhere is refused.
        QMimeData text;
        text.setText("3");
        QDragEnterEvent foreign(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w.widgets().wacont->area(0), &foreign);
        QVERIFY(!foreign.isAccepted());
        QVERIFY(!w.widgets().wacont->content(0));
    }

    // Deleting the only band of a placed piece with the Delete key: row, constraint and band go,
    // and the piece goes back to where its mesh was read.
    void deletingTheLastBandOfAPlacedPieceSendsItBack() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(nestedProject));
        TotalGraph& graph = *w.projectGraph();
        GeometrObj* d = actionObject(item(findItem(fragmentTree(w), "d.ply")));
        const std::vector<Point3d> read = verticesOf(d);
        // Moved off where it was read, whichever piece the solve keeps still.
        const Matrix44d away = translation(0, 0, 1);
        d->applyTransform(&away);
        w.solve();
        QVERIFY(verticesOf(d) != read);
        QVERIFY(w.isInSolvedArea(d->id()));
        QListWidget& list = constraintRows(w);
        int row = -1;
        for (int i = 0; i < list.count(); ++i)
            if (list.item(i)->text().contains("d.ply"))
                row = i;
        QVERIFY(row >= 0);
        const int count = list.count();
        list.setCurrentRow(row);
        QApplication::setActiveWindow(&w);
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_Delete);
        QCOMPARE(list.count(), count - 1);
        QCOMPARE(int(graph.constraintTable().size()), count - 1);
        QVERIFY(!w.isInSolvedArea(d->id()));
        const std::vector<Point3d> back = verticesOf(d);
        QCOMPARE(back.size(), read.size());
        for (std::size_t i = 0; i < read.size(); ++i)
            QVERIFY((back[i] - read[i]).norm() < 1e-9);
        QVERIFY(validates(w));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestGroupTree)
#include "test_group_tree.moc"
