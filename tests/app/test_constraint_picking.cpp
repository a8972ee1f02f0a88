// Adding a constraint by clicking, end to end in the real window under a virtual X server: the
// working areas draw their objects, clicks on known pixels become points on the surfaces, two
// accepted picks make one rubber band, and Esc or a second click on the same object leave no trace.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "project_writer.h"
#include "wa_container.h"
#include "wgl_area.h"
#include "window_fixtures.h"

#include <QApplication>
#include <QStatusBar>
#include <QSurfaceFormat>
#include <QtTest>

namespace {
// A left-button drag as the window system sends it: press, a move with the button held, release.
void drag(WGLArea& area, QPoint from, QPoint to) {
    QTest::mousePress(&area, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), area.mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&area, &move);
    QTest::mouseRelease(&area, Qt::LeftButton, Qt::NoModifier, to);
}

// Size of one pixel of the area in scene units at the fitted content's depth.
double pixelFootprint(const WGLArea& area) {
    const Box3d box = area.contentBox();
    const double visibleHeight = 2.0 * 5.0 * std::tan(20.0 * M_PI / 180.0); // at the eye distance
    const double fit = 2.5 / (box.max - box.min).norm();
    return visibleHeight / area.height() / fit;
}
} // namespace

class TestConstraintPicking : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
    FragGroup* left = nullptr;
    FragGroup* right = nullptr;

    WGLArea& area(int i) { return window->widgets().wacont->area(i); }
    QPoint centre(int i) { return QPoint(area(i).width() / 2, area(i).height() / 2); }

private slots:
    void initTestCase() { installMeshReaders(); }

    void init() {
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        TotalGraph& graph = *window->projectGraph();
        left = addFragment(graph, writeSquare(dir, "left.ply", 0, 0));
        right = addFragment(graph, writeSquare(dir, "right.ply", 5, 0));
        QVERIFY(window->putInWorkingArea(left, 0));
        QVERIFY(window->putInWorkingArea(right, 1));
        waitForFrame(area(0));
        waitForFrame(area(1));
    }

    void cleanup() { window.reset(); }

    void twoClicksMakeOneBandOnTheSurfaces() {
        window->HandlePicking(1, 3);
        QVERIFY(area(0).inPickMode() && area(1).inPickMode());
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Adding a new constraint, press ESC to cancel"));
        const QColor before = area(0).grabFramebuffer().pixelColor(centre(0));
        const QColor otherBefore = area(1).grabFramebuffer().pixelColor(centre(1));
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        // The first point shows at once as a cyan sphere where it was made, and the status bar
        // says what comes next.
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Now click the matching point on the other fragment (ESC cancels)"));
        const QColor marked = area(0).grabFramebuffer().pixelColor(centre(0));
        QVERIFY2(marked != before && marked.red() < 40 && marked.green() > 200 && marked.blue() > 200,
                 qPrintable(marked.name()));
        QCOMPARE(area(1).grabFramebuffer().pixelColor(centre(1)), otherBefore); // only where it was made
        clickAndHold(area(1), centre(1));

        const TotalGraph& graph = *window->projectGraph();
        QCOMPARE(graph.constraintTable().size(), std::size_t(1));
        auto* band = dynamic_cast<RBand*>(graph.constraintTable().begin()->second);
        QVERIFY(band);
        QCOMPARE(band->frag(0), &left->objId());
        QCOMPARE(band->frag(1), &right->objId());
        QCOMPARE(band->leafFrag(0), &left->wrappedFragment()->objId());
        QCOMPARE(band->leafFrag(1), &right->wrappedFragment()->objId());
        QCOMPARE(band->stiffness(), 3);
        QCOMPARE(band->radius(0), float(0.012 * std::sqrt(2.0)));
        // The points lie on the squares, under the clicked pixels (the centres of the views).
        const double tolerance = 2 * pixelFootprint(area(0));
        const Point3d p0 = band->firstPoint(band->frag(0)), p1 = band->firstPoint(band->frag(1));
        QVERIFY2((p0 - Point3d(0.5, 0.5, 0)).norm() < tolerance,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(p0.x()).arg(p0.y()).arg(p0.z())));
        QVERIFY((p1 - Point3d(5.5, 0.5, 0)).norm() < tolerance);
        QVERIFY(std::abs(p0.z()) < 1e-4 && std::abs(p1.z()) < 1e-4);
        // Both areas leave pick mode; the status line says what was made.
        QVERIFY(!area(0).inPickMode() && !area(1).inPickMode());
        QVERIFY(window->pendingPicks().empty());
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Added RBand %1 between %2 and %3")
                                                            .arg(band->id())
                                                            .arg(left->displayName(), right->displayName()));
        QCOMPARE(left->constraintList().size(), std::size_t(1));
        QVERIFY(graph.validate().isEmpty());
    }

    // Whatever the view's zoom, pan or turn, a click on lit surface picks it, also a quick one
    // released before the view would next repaint.
    void quickClicksPickAfterTheWheelAPanAndATurn() {
        for (int i = 0; i < 2; ++i) {
            QWheelEvent wheel(QPointF(centre(i)), area(i).mapToGlobal(QPointF(centre(i))), QPoint(),
                              QPoint(0, 3 * 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&area(i), &wheel);
            drag(area(i), centre(i), centre(i) + QPoint(15, 10)); // a turn
            QTest::mousePress(&area(i), Qt::LeftButton, Qt::ControlModifier, centre(i));
            QTest::mouseRelease(&area(i), Qt::LeftButton, Qt::ControlModifier, centre(i) + QPoint(5, 5));
            waitForFrame(area(i));
        }
        window->HandlePicking(1, 1);
        QTest::mouseClick(&area(0), Qt::LeftButton, Qt::NoModifier, centre(0));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        QTest::mouseClick(&area(1), Qt::LeftButton, Qt::NoModifier, centre(1));
        QCOMPARE(window->projectGraph()->constraintTable().size(), std::size_t(1));
    }

    void theSameObjectTwiceCountsOnce() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        clickAndHold(area(0), centre(0) + QPoint(3, 3));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        QVERIFY(window->projectGraph()->constraintTable().empty());
        clickAndHold(area(1), centre(1));
        QCOMPARE(window->projectGraph()->constraintTable().size(), std::size_t(1));
    }

    void aClickOnTheOtherAreasBackgroundKeepsTheSameObjectRefused() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        // Black: picks nothing, and says so.
        clickAndHold(area(1), QPoint(2, area(1).height() - 2));
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("No surface under the click: click on a fragment (ESC cancels)"));
        clickAndHold(area(0), centre(0) + QPoint(2, 2)); // the same object again
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("That point lies on the object picked first: click the matching point on "
                                "the other fragment (ESC cancels)"));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        QVERIFY(window->projectGraph()->constraintTable().empty());
        QVERIFY(area(0).inPickMode() && area(1).inPickMode());
        clickAndHold(area(1), centre(1));
        QCOMPARE(window->projectGraph()->constraintTable().size(), std::size_t(1));
    }

    void aClickPicksThePixelUnderTheCursor() {
        // The square's top and bottom rows in the middle column, as the area shows them.
        const QImage shot = area(0).grabFramebuffer();
        const int x = shot.width() / 2;
        int top = -1, bottom = -1;
        for (int y = 0; y < shot.height(); ++y)
            if (shot.pixelColor(x, y) != QColor(Qt::black)) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        QVERIFY(top > 0 && bottom < shot.height() - 1 && top < bottom);
        const double pixel = pixelFootprint(area(0));

        window->HandlePicking(1, 1);
        // The black rows just outside the square pick nothing.
        clickAndHold(area(0), QPoint(x, top - 1));
        clickAndHold(area(0), QPoint(x, bottom + 1));
        QVERIFY(window->pendingPicks().empty());
        // Its top row picks a point on its top edge (y = 1), its bottom row one on its bottom edge.
        clickAndHold(area(0), QPoint(x, top));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        const double topY = window->pendingPicks().begin()->second.y;
        QVERIFY2(std::abs(topY - 1.0) < pixel, qPrintable(QString::number(topY)));
        window->cancelAddConstraint();
        window->HandlePicking(1, 1);
        clickAndHold(area(0), QPoint(x, bottom));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        const double bottomY = window->pendingPicks().begin()->second.y;
        QVERIFY2(std::abs(bottomY) < pixel, qPrintable(QString::number(bottomY)));
    }

    void newAndLoadLeavePicking() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        window->newProject();
        QVERIFY(!area(0).inPickMode() && !area(1).inPickMode());
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(window->statusBar()->currentMessage().isEmpty());

        TotalGraph saved;
        addFragment(saved, writeSquare(dir, "saved0.ply", 0, 0));
        addFragment(saved, writeSquare(dir, "saved1.ply", 3, 0));
        const QString path = dir.filePath("picking.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, saved, error));
        TotalGraph& graph = *window->projectGraph();
        QVERIFY(window->putInWorkingArea(addFragment(graph, writeSquare(dir, "open.ply", 0, 0)), 0));
        waitForFrame(area(0));
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        QVERIFY(window->openProject(path));
        QVERIFY(!area(0).inPickMode() && !area(1).inPickMode());
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(window->statusBar()->currentMessage().isEmpty());
        // Dragging turns the loaded object again and a click records no pick.
        QVERIFY(window->putInWorkingArea(graph.getObject(0), 0));
        waitForFrame(area(0));
        const Eigen::Matrix4d before = area(0).viewTrackball().matrix();
        drag(area(0), centre(0), centre(0) + QPoint(60, 0));
        waitForFrame(area(0));
        QVERIFY(!area(0).viewTrackball().matrix().isApprox(before));
        QVERIFY(window->pendingPicks().empty());
    }

    void backgroundClicksPickNothing() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), QPoint(2, area(0).height() - 2));
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(area(0).inPickMode());
    }

    void escapeLeavesNoPickBehind() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(!area(0).inPickMode() && !area(1).inPickMode());
        // The next constraint starts from zero picks: one click makes nothing yet.
        window->HandlePicking(1, 1);
        clickAndHold(area(1), centre(1));
        QVERIFY(window->projectGraph()->constraintTable().empty());
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->projectGraph()->constraintTable().size(), std::size_t(1));
    }

    void deletingAPickedObjectCancelsTheConstraint() {
        window->HandlePicking(1, 1);
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->pendingPicks().size(), std::size_t(1));
        window->deleteGeometry(left->id());
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(!area(1).inPickMode());
        // A new object takes the freed id; no constraint can come from the old pick.
        FragGroup* again = addFragment(*window->projectGraph(), writeSquare(dir, "again.ply", 0, 0));
        QCOMPARE(again->id(), 0);
        QVERIFY(window->putInWorkingArea(again, 0));
        waitForFrame(area(0));
        window->HandlePicking(1, 1);
        clickAndHold(area(1), centre(1));
        QVERIFY(window->projectGraph()->constraintTable().empty());
        clickAndHold(area(0), centre(0));
        QCOMPARE(window->projectGraph()->constraintTable().size(), std::size_t(1));
        QVERIFY(window->projectGraph()->validate().isEmpty());
    }

    void nothingToPickOnDoesNothing() {
        window->widgets().wacont->clearAll();
        window->HandlePicking(1, 1);
        QVERIFY(!area(0).inPickMode());
        QVERIFY(window->statusBar()->currentMessage().startsWith("Put fragments"));
    }

    void viewsDrawTheirObjectsAndTheWheelIsIdleWhilePicking() {
        // The squares are drawn in their colours at the centre; the background stays black.
        const QImage shot = area(0).grabFramebuffer();
        const QColor middle = shot.pixelColor(shot.width() / 2, shot.height() / 2);
        QVERIFY2(middle.red() + middle.green() + middle.blue() > 60, qPrintable(middle.name()));
        QCOMPARE(shot.pixelColor(shot.width() - 3, shot.height() - 3), QColor(Qt::black));

        window->HandlePicking(1, 1);
        const QImage before = area(0).grabFramebuffer();
        QWheelEvent wheel(QPointF(centre(0)), area(0).mapToGlobal(QPointF(centre(0))), QPoint(),
                          QPoint(0, 360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&area(0), &wheel);
        QCOMPARE(area(0).grabFramebuffer(), before);
        window->cancelAddConstraint();
        QApplication::sendEvent(&area(0), &wheel);
        QVERIFY(area(0).grabFramebuffer() != before);
        QVERIFY(area(0).sampleScaleFactor() < 1.0f);
    }

    void anEmptyAreaShowsOnlyItsLabel() {
        window->widgets().wacont->clearArea(1);
        const QImage shot = area(1).grabFramebuffer();
        int lit = 0;
        for (int y = shot.height() / 4; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                lit += shot.pixelColor(x, y) != QColor(Qt::black);
        QCOMPARE(lit, 0); // below the label everything is background
        int labelPixels = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 60; ++x)
                labelPixels += shot.pixelColor(x, y).lightness() > 128;
        QVERIFY(labelPixels > 5); // the "Empty" label
    }
};

OSTRAKIT_GL_TEST_MAIN(TestConstraintPicking)
#include "test_constraint_picking.moc"
