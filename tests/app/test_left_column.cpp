// The left column in the real window: the fragment tree mirrors the project (items, names, tool
// tips, focus, underlines of the working areas' objects, deleting a group with one of its
// members selected), the constraint list mirrors its constraints (texts, focus, deletion by
// button and by the Delete key, rows dropped with their objects, New), and the option dialog
// answers as the user chose. Adding meshes needs no window: tests/panels tests it on the column.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "choose_dialog.h"
#include "constraint.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "project_writer.h"
#include "sample_vessel.h"
#include "thumbnail_store.h"
#include "total_graph.h"
#include "tree_panel.h"
#include "wa_container.h"
#include "window_fixtures.h"

#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

namespace {
// Runs act on the dialog that opens next, once it is shown.
void onNextDialog(const std::function<void(ChooseDialog&)>& act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<ChooseDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(*dialog);
    });
}
} // namespace

class TestLeftColumn : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SampleVessel sample;

    static MyTreeWidgetItem* item(QTreeWidgetItem* i) { return dynamic_cast<MyTreeWidgetItem*>(i); }

    // Fragments a and b in a user group, c at top level.
    QString writeGroupedProject() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "b.ply", {2, 0, 0}));
        FragGroup* c = addFragment(graph, writeTetrahedron(dir, "c.ply", {4, 0, 0}));
        addBand(graph, a, c, {0.2, 0.2, 0}, {4.2, 0.2, 0});
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        return savedProject(graph, dir.filePath("grouped.prproj"));
    }

private slots:
    void initTestCase() {
        const QString error = setUpSampleFolder(dir, sample);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void theListMirrorsTheConstraints() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.widgets().listPans->titleLabel().text(), QStringLiteral("OSTRAKIT"));
        QVERIFY(w.openProject(sample.projectPath));
        TotalGraph& graph = *w.projectGraph();
        QListWidget& rows = constraintRows(w);
        QCOMPARE(rows.count(), sample.constraintCount);
        int k = 0;
        for (const auto& [id, c] : graph.constraintTable()) {
            QString text;
            graph.constraintDescription(text, c);
            QCOMPARE(rows.item(k++)->text(), text);
        }

        // Selecting a row focuses its constraint; another row moves the focus.
        Constraint* first = graph.constraintTable().begin()->second;
        Constraint* second = std::next(graph.constraintTable().begin())->second;
        const int firstId = first->id();
        rows.setCurrentRow(0);
        QVERIFY(first->isFocused());
        rows.setCurrentRow(1);
        QVERIFY(!first->isFocused() && second->isFocused());

        // The button deletes the current row's constraint, the Delete key too.
        const int secondId = second->id();
        QTest::mouseClick(leftButton(w, "Delete Constraint"), Qt::LeftButton);
        QVERIFY(!graph.getConstraint(secondId));
        QCOMPARE(rows.count(), sample.constraintCount - 1);
        QVERIFY(!w.widgets().listPans->constraintRow(secondId));
        const int current = dynamic_cast<ConstrListWidgetItem*>(rows.currentItem())->id();
        QApplication::setActiveWindow(&w);
        rows.setFocus();
        QTest::keyClick(&rows, Qt::Key_Delete);
        QVERIFY(!graph.getConstraint(current));
        QCOMPARE(rows.count(), sample.constraintCount - 2);
        const int next = dynamic_cast<ConstrListWidgetItem*>(rows.currentItem())->id();
        QTest::keyClick(&rows, Qt::Key_Backspace);
        QVERIFY(!graph.getConstraint(next));
        QCOMPARE(rows.count(), sample.constraintCount - 3);
        QVERIFY(graph.validate().isEmpty());

        // Deleting an object drops the rows of its constraints; every row still names a live one.
        w.deleteGeometry(0);
        QCOMPARE(rows.count(), int(graph.constraintTable().size()));
        for (int i = 0; i < rows.count(); ++i)
            QVERIFY(graph.getConstraint(dynamic_cast<ConstrListWidgetItem*>(rows.item(i))->id()));

        w.newProject();
        QCOMPARE(rows.count(), 0);
        QVERIFY(!w.widgets().listPans->constraintRow(firstId));
    }

    void theTreeMirrorsTheProject() {
        const QString project = writeGroupedProject();
        QVERIFY(!project.isEmpty());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(project));
        TotalGraph& graph = *w.projectGraph();
        QTreeWidget& items = fragmentTree(w);
        // The group with its two fragments below it, and the lone fragment (its wrapper shows no
        // item of its own).
        QCOMPARE(items.topLevelItemCount(), 2);
        QTreeWidgetItem* groupItem = nullptr;
        QTreeWidgetItem* lone = nullptr;
        for (int i = 0; i < 2; ++i)
            (item(items.topLevelItem(i))->isFragment() ? lone : groupItem) = items.topLevelItem(i);
        QVERIFY(groupItem && lone);
        QCOMPARE(groupItem->childCount(), 2);
        QCOMPARE(lone->text(0), item(lone)->object()->displayName());
        QVERIFY(lone->toolTip(0).contains("image:" + item(lone)->object()->imageKey()));
        // Every tool tip names a picture that the store holds.
        for (QTreeWidgetItemIterator it(&items); *it; ++it)
            QVERIFY(!thumbnailImage(thumbnailName(item(*it)->object()->imageKey())).isNull());
        QVERIFY(lone->toolTip(0).contains(item(lone)->object()->displayName()));
        QCOMPARE(lone->font(0).pointSize(), 11);
        QVERIFY(lone->font(0).bold());

        // Selection focuses the selected objects only.
        lone->setSelected(true);
        QVERIFY(item(lone)->object()->isFocused());
        items.clearSelection();
        groupItem->child(0)->setSelected(true);
        QVERIFY(!item(lone)->object()->isFocused());
        QVERIFY(item(groupItem->child(0))->object()->isFocused());

        // "Put in Working area": area 2 shows the lone fragment's wrapper, its item underlined;
        // another object put there takes the underline.
        items.setCurrentItem(lone);
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        w.widgets().listPans->OpenPutFragment();
        QCOMPARE(w.widgets().wacont->content(1), item(lone)->object()->parentObject());
        QVERIFY(item(lone)->isHighlighted() && lone->font(0).underline());
        items.setCurrentItem(groupItem);
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        w.widgets().listPans->OpenPutFragment();
        QVERIFY(!item(lone)->isHighlighted() && item(groupItem)->isHighlighted());
        // Cancel puts nothing anywhere.
        items.setCurrentItem(lone);
        onNextDialog([](ChooseDialog& d) { QTest::mouseClick(d.cancelButton(), Qt::LeftButton); });
        w.widgets().listPans->OpenPutFragment();
        QVERIFY(!w.widgets().wacont->content(0));

        // "Delete Geometries" on the group and one of its members: both go once, no item stays.
        const int groupId = item(groupItem)->object()->id();
        items.clearSelection();
        groupItem->child(1)->setSelected(true);
        groupItem->setSelected(true);
        w.widgets().listPans->DeleteGroup();
        QVERIFY(!graph.getObject(groupId));
        QCOMPARE(items.topLevelItemCount(), 1);
        QCOMPARE(graph.objectTable().size(), std::size_t(1));
        QVERIFY(!w.widgets().listPans->highlighted(1));
        QVERIFY(graph.validate().isEmpty());

        // The thumbnail shown over an item goes with the item: with the project (New) and with
        // a deleted object.
        for (const bool byNew : {true, false}) {
            QVERIFY(showToolTipOf(items, items.topLevelItem(0)));
            if (byNew) {
                w.newProject();
                QVERIFY(w.openProject(project));
            } else {
                items.clearSelection();
                items.topLevelItem(0)->setSelected(true);
                w.widgets().listPans->DeleteGroup();
            }
            QTRY_VERIFY(!QToolTip::isVisible());
        }
    }

    // Hovers the item long enough for the tree to show its tool tip; whether it is shown.
    static bool showToolTipOf(QTreeWidget& tree, QTreeWidgetItem* item) {
        const QPoint at = tree.visualItemRect(item).center();
        QHelpEvent hover(QEvent::ToolTip, at, tree.viewport()->mapToGlobal(at));
        QApplication::sendEvent(tree.viewport(), &hover);
        return QToolTip::isVisible() && QToolTip::text() == item->toolTip(0);
    }

    void theContextMenuRenamesExportsAndDeletes() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(writeGroupedProject()));
        TotalGraph& graph = *w.projectGraph();
        QTreeWidget& items = fragmentTree(w);
        TreePanel& panel = *w.widgets().listPans->treePanel();
        QTreeWidgetItem* groupItem = nullptr;
        QTreeWidgetItem* lone = nullptr;
        for (int i = 0; i < 2; ++i)
            (item(items.topLevelItem(i))->isFragment() ? lone : groupItem) = items.topLevelItem(i);
        auto entries = [&panel] {
            QStringList texts;
            if (std::unique_ptr<QMenu> menu = panel.makeMenu())
                for (QAction* a : menu->actions())
                    texts << a->text();
            return texts;
        };
        QCOMPARE(entries(), QStringList());
        groupItem->setSelected(true);
        QVERIFY(entries().contains("Export Group"));
        QVERIFY(!entries().contains("Exclude"));
        items.clearSelection();
        lone->setSelected(true);
        QCOMPARE(entries(), (QStringList{"Delete Geometries", "Change Item Name"}));

        // F2 renames the fragment and its wrapper; the constraint row names it anew.
        QApplication::setActiveWindow(&w);
        items.setFocus();
        items.setCurrentItem(lone);
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setTextValue("Handle");
            dialog->accept();
        });
        QTest::keyClick(&items, Qt::Key_F2);
        GeometrObj* fragment = item(lone)->object();
        QCOMPARE(fragment->displayName(), QStringLiteral("Handle"));
        QCOMPARE(lone->text(0), QStringLiteral("Handle"));
        QCOMPARE(fragment->parentObject()->rawName(), QStringLiteral("Handle"));
        QVERIFY(constraintRows(w).item(0)->text().contains("Handle"));
        QVERIFY(!panel.renameItem(item(lone), QString())); // an empty name is refused
        QCOMPARE(fragment->displayName(), QStringLiteral("Handle"));

        // The group written as a group file.
        QString error;
        const QString exported = dir.filePath("group.xml");
        QVERIFY2(panel.exportGroupTo(item(groupItem), exported, error), qPrintable(error));
        QFile file(exported);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("<Graph><Fragments>"));
        QVERIFY(!panel.exportGroupTo(item(lone), exported, error));
        // A file that cannot be written is refused with the reason, the old one left as it was.
        error.clear();
        QVERIFY(!panel.exportGroupTo(item(groupItem), dir.filePath("no/such/folder/group.xml"), error));
        QVERIFY(!error.isEmpty());

        // "Delete Geometries" from the menu: the fragment goes with its wrapper.
        const int wrapperId = fragment->parentObject()->id();
        items.clearSelection();
        lone->setSelected(true);
        std::unique_ptr<QMenu> menu = panel.makeMenu();
        menu->actions().front()->trigger();
        QVERIFY(!graph.getObject(wrapperId));
        QCOMPARE(items.topLevelItemCount(), 1);
        QCOMPARE(constraintRows(w).count(), 0); // its constraint went with it
        QVERIFY(graph.validate().isEmpty());
    }

    void theOptionDialogAnswersAsChosen() {
        const QStringList areas = {"Working area 1", "Working area 2"};
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 2);
        onNextDialog([](ChooseDialog& d) { QTest::mouseClick(d.okButton(), Qt::LeftButton); });
        QCOMPARE(chooseOption("Choose working gl area", areas), 1);
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 0);
        onNextDialog([](ChooseDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
        QCOMPARE(chooseOption("Choose working gl area", areas), 0);
        // Closed from its frame: as OK.
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            d.close();
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 2);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestLeftColumn)
#include "test_left_column.moc"
