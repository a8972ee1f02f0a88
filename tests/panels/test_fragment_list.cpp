// The left column on its own, with a real graph and real mesh files: what it asks of the window
// goes through the panels' role, which this suite answers and records.

#include "../scene/scene_fixtures.h"
#include "list_panel_container.h"
#include "mesh_readers.h"
#include "panel_listener.h"
#include "tree_panel.h"

#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace {
// Answers the panels from a graph; records the undo steps asked for, does nothing else.
class RecordingPanels : public PanelListener {
public:
    explicit RecordingPanels(TotalGraph& graph) : graph(graph) {}
    QStringList steps;

    BaseGraph* getGraph() override { return &graph; }
    Color4b objectColour(const ObjId& id) override { return graph.objectColor(id); }
    void projectChanged(const QString& action) override { steps << action; }
    void deleteGeometry(int objId) override { graph.deleteObject(objId); }
    void deleteConstraint(int k) override { graph.removeConstraint(k); }
    void HandlePicking(int, int) override {}
    bool isInSolvedArea(int) override { return false; }
    void addToSolvedArea(int) override {}
    void removeFromSolvedArea(int) override {}
    void updateSolvedArea() override {}
    void updateWorkingArea(int) override {}
    void makeThumbnail(GeometrObj*) override {}
    bool putInWorkingArea(GeometrObj*, int) override { return false; }
    int findWorkingAreaOf(const ObjId&) override { return -1; }
    ObjId* workingAreaObjectId(int) override { return nullptr; }
    void updateConstraintText(int) override {}
    void clearConstraintSelection() override {}
    void removeTreeHighlight(int, bool) override {}
    void addTreeItems(GeometrObj*, ControlWithChildren*) override {}
    QString dialogFolder() override { return QDir::currentPath(); }

private:
    TotalGraph& graph;
};
} // namespace

class TestFragmentList : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { installMeshReaders(); }

    void addingMeshesSaysWhichCouldNotBeRead() {
        TotalGraph graph;
        RecordingPanels panels(graph);
        ListPanelContainer column;
        column.setGraph(&graph);
        column.setListener(&panels);
        const QString good = writeTetrahedron(dir, "good.ply");
        const QString bad = dir.filePath("bad.ply");
        QFile broken(bad);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("ply\nformat ascii 1.0\nelement vertex 3\n");
        broken.close();
        // The message comes after the progress dialog: answer it whenever it shows.
        QString message;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&message] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                message = box->text();
                box->accept();
            }
        });
        answer.start(20);
        column.addFragmentFiles({good, bad, dir.filePath("missing.obj")});
        QCOMPARE(graph.objectTable().size(), std::size_t(1)); // only the good one
        QTreeWidget& tree = column.treePanel()->contentWidget();
        QCOMPARE(tree.topLevelItemCount(), 1);
        QVERIFY2(message.contains("bad.ply") && message.contains("missing.obj") &&
                     !message.contains("good.ply"),
                 qPrintable(message));
        // One step for the whole command.
        QCOMPARE(panels.steps, QStringList{"Add Fragments"});
        // The fragment has its wrapper's id, and its item shows its thumbnail.
        auto* wrapper = dynamic_cast<FragGroup*>(graph.objectTable().begin()->second);
        QVERIFY(wrapper && wrapper->isHidden());
        QCOMPARE(wrapper->wrappedFragment()->id(), wrapper->id());
        QVERIFY(tree.topLevelItem(0)->toolTip(0).contains("image:"));
        QVERIFY(graph.validate().isEmpty());
    }
};

QTEST_MAIN(TestFragmentList)
#include "test_fragment_list.moc"
