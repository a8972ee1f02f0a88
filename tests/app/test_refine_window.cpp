// Refine in the real window and on the command line: two slabs of a block broken along a rough cut,
// one turned off its place with three exact and three noisy picks; after Solve the Refine button
// brings it back, as one undo step; Cancel moves nothing; the matched samples show as dots; pieces that do
// not touch are named; `ostrakit-cli solve --refine` does the same.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "../solver/rough_slabs.h"
#include "../view/closed_shapes.h"
#include "cli_commands.h"
#include "cli_run.h"
#include "fragment.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "panel_gl_area.h"
#include "ply_writer.h"
#include "solved_container.h"
#include "total_graph.h"
#include "view_coordinator.h"

#include <Eigen/Geometry>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

namespace {
const Fragment* fragmentOf(TotalGraph& graph, int id) {
    const auto* wrapper = dynamic_cast<FragGroup*>(graph.getObject(id));
    return wrapper ? wrapper->wrappedFragment() : nullptr;
}

// The largest distance of slab 1's vertices from where the block has them.
double offPlace(TotalGraph& graph, const FragMesh& truth) {
    const Fragment* f = fragmentOf(graph, 1);
    if (!f || f->mesh().vertexCount() != truth.vertexCount())
        return 1e9;
    double off = 0;
    for (std::size_t v = 0; v < truth.vertexCount(); ++v)
        off = std::max(off, (f->mesh().vertices[v] - truth.vertices[v]).norm());
    return off;
}
} // namespace

class TestRefineWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString project, apart;
    RoughSlabs block;
    FragMesh truth; // slab 1 in its place

    // Two slabs written as PLY files in their places, joined by three exact and three noisy bands
    // on their cut; slab 1 then turned by 3 degrees and moved (offset: also 2 units up, so that
    // the slabs no longer touch).
    QString writeProject(const QString& name, double lift) {
        TotalGraph graph;
        FragGroup* slabs[2];
        for (int k = 0; k < 2; ++k) {
            const QString path = dir.filePath(QStringLiteral("slab_%1.ply").arg(k));
            QString error;
            if (!writeBinaryPly(path, block.slab(k), error))
                return {};
            slabs[k] = addMeshFragment(graph, block.slab(k), path);
        }
        const double noise = 0.004 * block.size;
        const FragMesh below = block.slab(0);
        const int n = block.grid + 1;
        for (int p = 0; p < 6; ++p) {
            // A vertex of the cut: slab 0's top layer.
            const int i = 30 + (p * 37) % 100, j = 20 + 22 * p;
            const Point3d onCut = below.vertices[std::size_t(n * n + i * n + j)];
            const Point3d shift = p < 3 ? Point3d::Zero() : Point3d(noise, -noise, 0.5 * noise);
            addBand(graph, slabs[0], slabs[1], onCut + shift, onCut - shift);
        }
        Matrix44d motion = Matrix44d::Identity();
        motion.topLeftCorner<3, 3>() =
            Eigen::AngleAxisd(3.0 * M_PI / 180.0, Point3d(1, 2, 0.5).normalized()).toRotationMatrix();
        motion.topRightCorner<3, 1>() = Point3d(0.01, -0.005, 0.004 + lift);
        slabs[1]->applyTransform(&motion);
        const QString file = dir.filePath(name);
        QString error;
        return saveProjectFile(file, graph, error) ? file : QString();
    }

private slots:
    void initTestCase() {
        QDir::setCurrent(dir.path());
        installMeshReaders();
        block.grid = 160; // enough work that Cancel comes while it runs
        truth = block.slab(1);
        project = writeProject(QStringLiteral("slabs.prproj"), 0.0);
        apart = writeProject(QStringLiteral("apart.prproj"), 2.0);
        QVERIFY(!project.isEmpty() && !apart.isEmpty());
    }

    void refineBringsTheSlabBackAsOneStep() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(project));
        TotalGraph& graph = *w.projectGraph();
        QVERIFY(offPlace(graph, truth) > 0.01);
        // Solve places the slab by the picks, the noisy ones leaving it a little off.
        w.solve();
        const double before = offPlace(graph, truth);
        QVERIFY2(before > 1e-3 * block.size, qPrintable(QString::number(before)));

        // Cancel while it runs: nothing moves, and the status bar says so.
        QTimer::singleShot(0, &w, [&w] {
            if (auto* progress = w.findChild<QProgressDialog*>())
                progress->cancel();
        });
        w.refine();
        QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Refine cancelled: nothing moved"));
        QCOMPARE(offPlace(graph, truth), before);

        QTest::mouseClick(w.widgets().solvedGlarea->container().refineButton(), Qt::LeftButton);
        QVERIFY2(offPlace(graph, truth) < 1e-4 * block.size,
                 qPrintable(QString::number(offPlace(graph, truth))));
        QVERIFY2(
            w.statusBar()->currentMessage().startsWith("Refine: 1 piece moved; the matched surfaces were "),
            qPrintable(w.statusBar()->currentMessage()));

        // The matched samples, on request.
        PanelGLArea& area = w.widgets().solvedGlarea->area();
        QVERIFY(area.dots().empty());
        w.widgets().showMatches->trigger();
        QVERIFY(area.dots().size() > 100);

        // One step: undo puts the slab back where it was turned to, redo where Refine put it.
        QCOMPARE(w.widgets().undo->text(), QStringLiteral("Undo Refine"));
        w.undo();
        QVERIFY(std::abs(offPlace(graph, truth) - before) < 1e-9);
        QVERIFY(area.dots().empty()); // they showed where the pieces no longer are
        w.redo();
        QVERIFY(offPlace(graph, truth) < 1e-4 * block.size);
    }

    void piecesThatDoNotTouchAreNamedAndLeftAlone() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(apart));
        const double before = offPlace(*w.projectGraph(), truth);
        w.refine();
        QVERIFY(offPlace(*w.projectGraph(), truth) == before);
        QVERIFY2(
            w.statusBar()->currentMessage().contains("slab_0 – slab_1: their surfaces do not meet within 0.5 "
                                                     "% of their size; check their constraints"),
            qPrintable(w.statusBar()->currentMessage()));
    }

    void theCommandLineSolvesThenRefines() {
        const QString out = dir.filePath("refined.prproj");
        const CliRun r = runCli(runCliCommand, {"solve", project, "--refine", "--output", out});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains("\nRefine: 1 piece moved; "), qPrintable(r.out));
        QVERIFY(r.out.contains(QRegularExpression("\\nrefine stage 0: 2 bodies, \\d+ rounds, [0-9.]+ s\\n")));
        TotalGraph graph;
        QVERIFY(loadCliProject(out, graph, stderr));
        QVERIFY2(offPlace(graph, truth) < 1e-4 * block.size,
                 qPrintable(QString::number(offPlace(graph, truth))));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestRefineWindow)
#include "test_refine_window.moc"
