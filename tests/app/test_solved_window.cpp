// The solved area inside the real main window under an X server: Solve on the generated vessel
// shows the assembly there and refreshes the thumbnails; picking runs in the solved area too; Space
// measures the user's time whatever has the focus.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "../view/closed_shapes.h"
#include "error_marks.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "panel_gl_area.h"
#include "project_reader.h"
#include "sample_vessel.h"
#include "solved_container.h"
#include "thumbnail_store.h"
#include "total_graph.h"
#include "view_coordinator.h"
#include "wa_container.h"
#include "wgl_area.h"
#include "window_fixtures.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

namespace {
QImage picture(PanelGLArea& area) {
    return freshPicture(area);
}

std::size_t markedFaces(TotalGraph& graph, int id) {
    const auto* wrapper = dynamic_cast<FragGroup*>(graph.getObject(id));
    return wrapper && wrapper->wrappedFragment() ? markedFaceCount(wrapper->wrappedFragment()->mesh()) : 0;
}

int litPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb p = image.pixel(x, y);
            n += (qRed(p) + qGreen(p) + qBlue(p) > 60) ? 1 : 0;
        }
    return n;
}
} // namespace

class TestSolvedWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SampleVessel sample;

private slots:
    void initTestCase() {
        installMeshReaders();
        QDir::setCurrent(dir.path()); // the solver and the logs write here
        QString error;
        SampleVesselOptions options;
        options.around = 120;
        options.up = 80;
        QVERIFY2(writeSampleVessel(dir.path(), sample, error, options), qPrintable(error));
    }

    void solveShowsTheAssemblyAndRefreshesThumbnails() {
        MainWindow w;
        w.resize(1400, 900);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(sample.projectPath));
        PanelGLArea& area = w.widgets().solvedGlarea->area();
        QVERIFY(area.isEmpty()); // nothing placed yet
        QCOMPARE(area.shownConstraintIds().size(), std::size_t(sample.constraintCount));
        std::vector<int> versions;
        for (int i = 0; i < 8; ++i)
            versions.push_back(thumbnailVersion(w.projectGraph()->getObject(i)->imageKey()));

        QTest::mouseClick(w.widgets().solvedGlarea->container().solveButton(), Qt::LeftButton);
        // The status bar says what the Solve did: the scattered pieces brought together.
        const QString said = w.statusBar()->currentMessage();
        QVERIFY2(said.startsWith("Solved 1 level: energy ") &&
                     said.contains(", 7 objects moved. Largest error: RBand "),
                 qPrintable(said));
        QCOMPARE(area.shownObjectIds().size(), std::size_t(8));
        for (int i = 0; i < 8; ++i) {
            QVERIFY(w.projectGraph()->getObject(i)->isVisible());
            QVERIFY(thumbnailVersion(w.projectGraph()->getObject(i)->imageKey()) > versions[std::size_t(i)]);
        }
        // The fit box holds the whole assembly, which fills a good part of the view.
        Box3d all;
        for (int i = 0; i < 8; ++i)
            all.add(w.projectGraph()->getObject(i)->getMeshBBox());
        QVERIFY((area.contentBox().min - all.min).norm() < 1e-9 &&
                (area.contentBox().max - all.max).norm() < 1e-9);
        const QImage image = picture(area);
        QVERIFY(!image.isNull());
        QVERIFY2(litPixels(image) > image.width() * image.height() / 4 / 20,
                 qPrintable(QString::number(litPixels(image))));

        // Solved again, the pieces stay where they are, and it says so.
        QTest::mouseClick(w.widgets().solvedGlarea->container().solveButton(), Qt::LeftButton);
        QVERIFY2(w.statusBar()->currentMessage().contains(", nothing moved: "),
                 qPrintable(w.statusBar()->currentMessage()));

        // New empties it.
        w.newProject();
        QVERIFY(area.isEmpty());
        QVERIFY(area.shownConstraintIds().empty());
    }

    // A project whose meshes are all gone still solves its points; the status bar says which
    // fragments have no mesh, and the view is fitted to the constraint ends it shows.
    void solveWithoutMeshesSaysSoAndFitsWhatItShows() {
        QTemporaryDir bare;
        const QString project = bare.filePath("sample.prproj");
        QVERIFY(QFile::copy(sample.projectPath, project));
        MainWindow w;
        w.resize(1400, 900);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTimer answer; // the missing-mesh warning
        connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        answer.start(20);
        QDir::setCurrent(bare.path()); // where no mesh is either
        const bool opened = w.openProject(project);
        QDir::setCurrent(dir.path());
        QVERIFY(opened);
        w.solve();
        const QString said = w.statusBar()->currentMessage();
        QVERIFY2(said.contains("No mesh for piece_1.ply, piece_2.ply, piece_3.ply and 5 more: not shown."),
                 qPrintable(said));
        PanelGLArea& area = w.widgets().solvedGlarea->area();
        const Box3d fitted = area.contentBox();
        QVERIFY(!fitted.isNull());
        for (const auto& [id, c] : w.projectGraph()->constraintTable())
            for (int k = 0; k < 2; ++k) {
                const Point3d p = c->samplePoints(k).begin()->second;
                QVERIFY((p.array() >= fitted.min.array() - 1e-9).all() &&
                        (p.array() <= fitted.max.array() + 1e-9).all());
            }
        // Fitted to those points, the view shows them whole: every label lies inside it.
        const QImage shot = picture(area);
        int litColumns[2] = {0, 0}; // lit pixels in the leftmost and rightmost 3 columns
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < 3; ++x) {
                litColumns[0] += shot.pixelColor(x, y).lightness() > 60;
                litColumns[1] += shot.pixelColor(shot.width() - 1 - x, y).lightness() > 60;
            }
        QCOMPARE(litColumns[0], 0);
        QCOMPARE(litColumns[1], 0);
    }

    void marksShowWhereTheSpheresInterpenetrate_data() {
        QTest::addColumn<bool>("exact");
        QTest::newRow("exact, in the background") << true;
        QTest::newRow("GPU passes") << false;
    }

    void marksShowWhereTheSpheresInterpenetrate() {
        QFETCH(bool, exact);
        std::vector<FragMesh> meshes;
        const QString spheres = writeSphereProject(dir.path(), {{0, 0, 0}, {1.3, 0.1, 0}}, 64, 32, meshes);
        QVERIFY(!spheres.isEmpty());
        MainWindow w;
        w.resize(1400, 900);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QAction* method = exact ? w.widgets().markExact : w.widgets().markPeeling;
        method->trigger();
        QVERIFY(method->isChecked());
        QVERIFY(w.openProject(spheres));
        TotalGraph& graph = *w.projectGraph();
        PanelGLArea& area = w.widgets().solvedGlarea->area();
        ToleranceSpinboxPanel& tolerance = w.widgets().solvedGlarea->tolerancePanel();
        QCOMPARE(area.shownObjectIds().size(), std::size_t(2));
        // Opened with its marks: both spheres show red where they overlap, in the solved area and
        // in a working area, and nothing red once errors are not shown.
        QTRY_VERIFY(markedFaces(graph, 0) > 100 && markedFaces(graph, 1) > 100);
        const std::size_t opened = markedFaces(graph, 0);
        if (exact) {
            // The tolerance in model units: 1e-4 of the spheres' size; the worst pair in the
            // status bar and every pair in the view's tool tip.
            QCOMPARE(tolerance.caption().text(), QStringLiteral("Tolerance (model units)"));
            QVERIFY(std::abs(tolerance.spinBox().value() - 1e-4 * Point3d(3.3, 2.1, 2).norm()) < 1e-6);
            const QString summary = w.marksLine().toolTip();
            QVERIFY2(summary.startsWith("Interpenetration: sphere_0 – sphere_1: ") &&
                         summary.contains(
                             QStringLiteral("%1 faces inside each other")
                                 .arg(QLocale().toString(qulonglong(opened + markedFaces(graph, 1))))) &&
                         summary.contains("greatest depth 0.69"),
                     qPrintable(summary));
            QVERIFY(area.toolTip().startsWith("sphere_0 – sphere_1: "));
        } else {
            QCOMPARE(tolerance.caption().text(), QStringLiteral("Change Error Tolerance"));
        }
        QVERIFY(w.putInWorkingArea(graph.getObject(0), 0));
        WGLArea& working = w.widgets().wacont->area(0);
        // In the solved area only the rim where the surfaces cross shows; the working area shows
        // sphere 0 alone, with its whole marked cap.
        QVERIFY(redPixels(picture(area)) > 100);
        QVERIFY(redPixels(working.grabFramebuffer()) > 500);
        w.setShowError(false);
        QVERIFY(redPixels(picture(area)) < 50);
        QVERIFY(redPixels(working.grabFramebuffer()) < 50);
        w.setShowError(true);

        // A new tolerance recomputes them: a larger one marks less.
        tolerance.spinBox().setValue(0.2);
        QTRY_VERIFY2(markedFaces(graph, 0) < opened,
                     qPrintable(QStringLiteral("%1 -> %2").arg(opened).arg(markedFaces(graph, 0))));
        const std::size_t atTwoTenths = markedFaces(graph, 0);
        if (exact) {
            // A computation cancelled (a new project, undo) leaves the marks shown.
            ViewCoordinator& views = w.viewCoordinator();
            tolerance.spinBox().setValue(0.0);
            QVERIFY(views.marksPending());
            views.exactMarksRunner().cancel();
            QTest::qWait(300);
            QCOMPARE(markedFaces(graph, 0), atTwoTenths);
        }

        // The other sphere deleted, as the fragment list does it (one step): nothing lies inside
        // anything any more.
        w.deleteGeometry(1);
        w.projectChanged(QStringLiteral("Delete"));
        QTRY_COMPARE(markedFaces(graph, 0), std::size_t(0));
        QVERIFY(redPixels(picture(area)) < 50);
        if (exact) {
            // Marks that arrived after a step was recorded belong to it: undo puts back those
            // shown before the deletion, redo those after.
            w.undo();
            QCOMPARE(markedFaces(graph, 0), atTwoTenths);
            w.redo();
            QCOMPARE(markedFaces(graph, 0), std::size_t(0));
        }
    }

    void pickingIncludesTheSolvedArea() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        PanelGLArea& area = w.widgets().solvedGlarea->area();
        // Nothing shown anywhere: picking does not start and says why.
        w.HandlePicking(1, 1);
        QVERIFY(!area.inPickMode());
        QVERIFY(w.statusBar()->currentMessage().startsWith("Put fragments"));
        QVERIFY(w.openProject(sample.projectPath));
        w.solve();
        w.HandlePicking(1, 2);
        QVERIFY(area.inPickMode());
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("Adding a new constraint, press ESC to cancel"));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!area.inPickMode());
    }

    void spaceMeasuresWhicheverWidgetHasTheFocus() {
        QFile::remove(QStringLiteral("logres.txt"));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::setActiveWindow(&w);
        QPushButton* solve = w.widgets().solvedGlarea->container().solveButton();
        solve->setFocus();
        QTest::keyClick(solve, Qt::Key_Space);
        QVERIFY(w.userTimeLog().isMeasuring());
        // A space typed into the tolerance box is the box's own.
        QDoubleSpinBox& tolerance = w.widgets().solvedGlarea->tolerancePanel().spinBox();
        tolerance.setFocus();
        QTest::keyClick(&tolerance, Qt::Key_Space);
        QVERIFY(w.userTimeLog().isMeasuring());
        QTest::keyClick(solve, Qt::Key_Space);
        QVERIFY(!w.userTimeLog().isMeasuring());
        QFile table(QStringLiteral("logres.txt"));
        QVERIFY(table.open(QIODevice::ReadOnly));
        QVERIFY(table.readAll().contains("User Time & "));
        QVERIFY(w.statusBar()->currentMessage().isEmpty()); // Space did not press "Solve" either

        // While a dialog is open, a space is the dialog's, even one the window system hands to the
        // window beneath it; so is a space typed into a file name.
        QFileDialog dialog(&w, QStringLiteral("Add a Fragment"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(solve, Qt::Key_Space);
        QVERIFY(!w.userTimeLog().isMeasuring());
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        QTest::keyClicks(name, QStringLiteral("piece one.ply"));
        QTest::keyClick(&dialog, Qt::Key_Space);
        QVERIFY(!w.userTimeLog().isMeasuring());
        dialog.reject();
        QTest::keyClick(solve, Qt::Key_Space);
        QVERIFY(w.userTimeLog().isMeasuring());
        QTest::keyClick(solve, Qt::Key_Space);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestSolvedWindow)
#include "test_solved_window.moc"
