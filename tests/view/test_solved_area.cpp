// The solved area under a real X server and OpenGL: what it shows, its fit box, how it draws
// constraints between visible and hidden objects, its "Solve" button and the tolerance box.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "panel_gl_area.h"
#include "scene_renderer.h"
#include "solved_container.h"
#include "view_listener.h"

#include <QPushButton>
#include <QtTest>

namespace {
// Counts what the solved area asks of the window.
// Counts what the solved column asks; picking does nothing.
class CountingListener : public ViewListener {
public:
    int solves = 0;
    std::vector<float> tolerances;
    void solve() override { ++solves; }
    void setTolerance(float t) override { tolerances.push_back(t); }
    float getTolerance() override { return 1e-5f; }
    void addConstraintPick(const ObjId&, double, double, double, const ObjId&) override {}
    void joinConstraintPicks() override {}
    bool isNotLastPicked(GeometrObj*) override { return true; }
    void setLastPicked(GeometrObj*) override {}
    void pickMissed(PickMiss) override {}
    void removeTreeHighlight(int, bool) override {}
};

// A freshly painted picture of the area.
QImage picture(PanelGLArea& area) {
    const int before = area.paintCount();
    const QImage image = area.grabFramebuffer();
    return area.paintCount() > before ? image : QImage();
}

bool isBandBlue(QRgb p) {
    return qBlue(p) > 200 && qRed(p) < 40 && qGreen(p) < 40;
}

// Box of the pure-blue pixels (the band colour of these tests); null when there are none.
QRect bluePixels(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isBandBlue(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}
} // namespace

class TestSolvedArea : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString tetra;

    // Two pieces side by side along x, visible, joined by a blue band across the middle.
    struct Scene {
        TotalGraph graph;
        CountingListener listener;
        FragGroup* left = nullptr;
        FragGroup* right = nullptr;
        RBand* band = nullptr;
    };
    void build(Scene& s) {
        s.left = addFragment(s.graph, tetra);
        s.right = addFragment(s.graph, tetra);
        const Matrix44d l = translation(-3, 0, 0), r = translation(3, 0, 0);
        s.left->applyTransform(&l);
        s.right->applyTransform(&r);
        s.left->setVisible(true);
        s.right->setVisible(true);
        s.band = addBand(s.graph, s.left, s.right, {-1.5, 0.3, 0.3}, {1.5, 0.3, 0.3});
        s.band->setRadius(0, 0.3f);
        s.band->setRadius(1, 0.3f);
        s.band->setColor({0, 0, 255, 255});
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        installSceneRenderer();
        tetra = writeTetrahedron(dir, "t.ply");
    }

    void theFitBoxFollowsWhatIsShownAndVisible() {
        Scene s;
        build(s);
        PanelGLArea area;
        area.setGraph(&s.graph);
        QVERIFY(area.isEmpty());
        area.addObject(s.left->id());
        area.addObject(s.right->id());
        Box3d both = s.left->getMeshBBox();
        both.add(s.right->getMeshBBox());
        QCOMPARE(area.contentBox(), both);
        QVERIFY((area.contentCenter() - both.center().cast<float>()).norm() < 1e-6f);
        // Removing an object hides it and takes it out of its placement's marks; the box shrinks
        // only when refitted.
        s.right->setMarked(true);
        area.removeObject(s.right->id());
        QVERIFY(!s.right->isVisible() && !s.right->isMarked());
        QVERIFY(!area.isShown(s.right->id()));
        QCOMPARE(area.contentBox(), both);
        area.refitBox();
        QCOMPARE(area.contentBox(), s.left->getMeshBBox());
        // A hidden object is shown but adds nothing to the box.
        area.addObject(s.right->id());
        QCOMPARE(area.contentBox(), s.left->getMeshBBox());
        QVERIFY(area.anyShownContains(s.left->wrappedFragment()->id()));
        area.clearContent();
        QVERIFY(area.isEmpty());
        QCOMPARE(area.contentBox(), s.left->getMeshBBox());
    }

    void bandsJoinVisibleRootsAndHiddenRootsLeaveASphere() {
        Scene s;
        build(s);
        PanelGLArea area;
        area.setGraph(&s.graph);
        area.setListener(&s.listener);
        area.resize(400, 300);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        area.addObject(s.left->id());
        area.addObject(s.right->id());
        area.showConstraint(s.band->id());

        // Both visible: the band crosses the middle of the view.
        QImage image = picture(area);
        QVERIFY(!image.isNull());
        const QRect across = bluePixels(image);
        QVERIFY(across.contains(image.width() / 2, across.center().y()));
        QVERIFY2(across.width() > image.width() / 8, qPrintable(QString::number(across.width())));

        // Only the left one visible: its side's sphere, no band to the hidden piece.
        s.right->setVisible(false);
        image = picture(area);
        const QRect sphere = bluePixels(image);
        QVERIFY(!sphere.isEmpty());
        QVERIFY2(sphere.width() < across.width() / 2,
                 qPrintable(QStringLiteral("%1 %2").arg(sphere.width()).arg(across.width())));
        QVERIFY(!sphere.contains(image.width() / 2, sphere.center().y()));

        // Neither: nothing of the constraint.
        s.left->setVisible(false);
        QVERIFY(bluePixels(picture(area)).isEmpty());

        // A constraint deleted since it was shown is dropped at the next paint.
        s.left->setVisible(true);
        s.right->setVisible(true);
        s.graph.removeConstraint(s.band->id());
        QVERIFY(!picture(area).isNull());
        QVERIFY(area.shownConstraintIds().empty());
    }

    void anEmptyAreaIsBlackAndSolveStillAsks() {
        CountingListener listener;
        TotalGraph graph;
        SolvedContainer column;
        column.setGraph(&graph);
        column.setListener(&listener);
        column.resize(300, 400);
        column.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column));
        const QImage image = picture(column.area());
        QVERIFY(!image.isNull());
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7)
                QCOMPARE(image.pixel(x, y) & 0xffffffu, 0u);
        QCOMPARE(column.container().solveButton()->text(), QStringLiteral("Solve"));
        QTest::mouseClick(column.container().solveButton(), Qt::LeftButton);
        QCOMPARE(listener.solves, 1);
    }

    void theToleranceBoxReportsEachNewValueOnce() {
        CountingListener listener;
        ToleranceSpinboxPanel panel;
        panel.setListener(&listener);
        QDoubleSpinBox& box = panel.spinBox();
        QCOMPARE(box.decimals(), 5);
        QCOMPARE(box.minimum(), 0.00001);
        QCOMPARE(box.value(), 0.00001);
        QCOMPARE(box.singleStep(), 0.00001);
        QCOMPARE(panel.caption().text(), QStringLiteral("Change Error Tolerance"));
        box.stepUp();
        box.setValue(0.00002); // the same value again
        box.setValue(0.005);
        box.setValue(0.0); // clamped to the minimum
        QCOMPARE(listener.tolerances, (std::vector<float>{0.00002f, 0.005f, 0.00001f}));
        QCOMPARE(panel.tolerance(), 0.00001);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestSolvedArea)
#include "test_solved_area.moc"
