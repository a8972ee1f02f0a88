// Fragments, groups and constraints: identity, baked transformations, centroids, names, mesh
// loading by suffix, and constraint point bookkeeping.

#include "mesh_loading.h"
#include "scene_fixtures.h"

#include <QtTest>
#include <limits>

namespace {
void compareMatrices(const Matrix44d& a, const Matrix44d& b, double tol = 1e-12) {
    QVERIFY2((a - b).cwiseAbs().maxCoeff() <= tol, "matrices differ");
}
void comparePoints(const Point3d& a, const Point3d& b, double tol = 1e-12) {
    QVERIFY2((a - b).norm() <= tol, qPrintable(QStringLiteral("(%1 %2 %3) != (%4 %5 %6)")
                                                   .arg(a.x())
                                                   .arg(a.y())
                                                   .arg(a.z())
                                                   .arg(b.x())
                                                   .arg(b.y())
                                                   .arg(b.z())));
}
} // namespace

class TestGeometryObjects : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        installMeshReaders();
        QVERIFY(dir.isValid());
    }

    void loadedFragmentIsWrappedWithSameIdAndColour() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeTetrahedron(dir, "a.ply", {2, 0, 0}));
        Fragment* f = w->wrappedFragment();
        QVERIFY(f);
        QVERIFY(f->hasMesh());
        QCOMPARE(f->mesh().vertexCount(), std::size_t(4));
        QCOMPARE(f->mesh().faceCount(), std::size_t(4));
        QCOMPARE(f->key(), QStringLiteral("0:0"));
        QCOMPARE(w->key(), QStringLiteral("-1:0"));
        QVERIFY(w->isWrapper());
        QVERIFY(w->isHidden());
        QCOMPARE(w->displayName(), QStringLiteral("Fragment: a.ply"));
        QCOMPARE(f->imageKey(), w->imageKey()); // the fragment shows its wrapper's picture
        QCOMPARE(w->imageKey(), QStringLiteral("0g"));
        QCOMPARE(f->getColor(), graph.objectColor(w->objId()));
        comparePoints(f->centroid(), {2.25, 0.25, 0.25});
        comparePoints(w->centroid(), {2.25, 0.25, 0.25});
        // Box, then normals: vertex normals are unit length, the box is the tetrahedron's.
        comparePoints(f->getMeshBBox().min, {2, 0, 0});
        comparePoints(f->getMeshBBox().max, {3, 1, 1});
        for (const Point3d& n : f->mesh().vertexNormals)
            QCOMPARE(n.norm(), 1.0);
        QVERIFY(graph.validate().isEmpty());
    }

    void displayColourIsGroupColourShadedByGreyLevel() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeTetrahedron(dir, "grey.ply", Point3d::Zero(), 128));
        w->setColor({200, 100, 51, 255});
        const Color4b c = w->wrappedFragment()->mesh().displayColors[0];
        // floor(v * 128/255 + 0.5), alpha 1.
        QCOMPARE(int(c.r), 100);
        QCOMPARE(int(c.g), 50);
        QCOMPARE(int(c.b), 26);
        QCOMPARE(int(c.a), 1);
    }

    void meshReaderIsChosenBySuffix_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error"); // empty when the PLY content is read
        const QString unknown =
            QStringLiteral("%1: unknown mesh format; Ostrakit reads .ply, .obj, .stl and .off");
        QTest::newRow("lower") << "m.ply" << QString();
        QTest::newRow("upper") << "m.PLY" << QString();
        QTest::newRow("mixed") << "m.PlY" << QString();
        QTest::newRow("bare ply") << "ply" << QString();
        QTest::newRow("two dots") << "m.obj.ply" << QString();
        QTest::newRow("obj suffix") << "m.obj"
                                    << "m.obj: the file contains no vertices (is it an OBJ file?)";
        QTest::newRow("no dot") << "mesh" << unknown.arg("mesh");
        QTest::newRow("ply in the middle") << "m.ply.bak" << unknown.arg("m.ply.bak");
        QTest::newRow("unknown suffix") << "m.xyz" << unknown.arg("m.xyz");
    }
    void meshReaderIsChosenBySuffix() {
        // The same PLY content only loads when the name sends it to the PLY reader, alone and
        // among the meshes of a project.
        QFETCH(QString, name);
        QFETCH(QString, error);
        QTemporaryDir own;
        const QString path = writeTetrahedron(own, name);
        Fragment f(nullptr, path);
        QCOMPARE(f.hasMesh(), error.isEmpty());
        QCOMPARE(f.loadError(), error);
        QCOMPARE(f.displayName(), name);
        std::vector<MeshLoad> loads{MeshLoad{{path}, nullptr, -1, {}}};
        loadMeshes(loads);
        QCOMPARE(loads[0].used, error.isEmpty() ? 0 : -1);
        QCOMPARE(loads[0].error, error);
    }

    void failedLoadLeavesEmptyFragmentWithMessage() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, dir.filePath("missing.ply"));
        Fragment* f = w->wrappedFragment();
        QVERIFY(!f->hasMesh());
        QVERIFY(!f->loadError().isEmpty());
        QVERIFY(f->getMeshBBox().isNull());
        QCOMPARE(f->displayName(), QStringLiteral("missing.ply"));
    }

    void identityRestoreKeepsVertices() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeTetrahedron(dir, "r.ply", {1, 2, 3}));
        Fragment* f = w->wrappedFragment();
        const auto before = f->mesh().vertices;
        f->applyTransform(nullptr);
        QCOMPARE(f->mesh().vertices, before);
    }

    void storedMatrixIsRestoredByNullTransform() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeTetrahedron(dir, "s.ply"));
        Fragment* f = w->wrappedFragment();
        const Matrix44d m = translation(5, 0, 0) * rotationZ(0.5);
        f->setMatrix(m);
        f->applyTransform(nullptr);
        comparePoints(f->mesh().vertices[1], transformPoint(m, {1, 0, 0}));
        compareMatrices(f->getMatrix(), m);
        comparePoints(f->currentCentroid(), transformPoint(m, f->centroid()));
    }

    void groupTransformsComposeOnDescendantsAndConstraintPoints() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "ga.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "gb.ply", {3, 0, 0}));
        FragGroup* other = addFragment(graph, writeTetrahedron(dir, "gc.ply", {0, 5, 0}));
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        RBand* c = addBand(graph, g, other, {1, 0, 0}, {0, 5, 0});
        Fragment* fa = a->wrappedFragment();
        const Matrix44d earlier = fa->getMatrix();
        const Point3d v1 = fa->mesh().vertices[1];

        const Matrix44d m1 = rotationZ(0.3), m2 = translation(1, -2, 0.5);
        g->applyTransform(&m1);
        g->applyTransform(&m2);

        compareMatrices(fa->getMatrix(), m2 * m1 * earlier);
        compareMatrices(g->getMatrix(), m2 * m1);
        comparePoints(fa->mesh().vertices[1], transformPoint(m2 * m1, v1));
        comparePoints(fa->currentCentroid(), transformPoint(fa->getMatrix(), fa->centroid()));
        // Side 0 belongs to the group and moved; side 1 and every recorded point stayed.
        comparePoints(c->samplePoints(0).begin()->second, transformPoint(m2 * m1, {1, 0, 0}));
        comparePoints(c->samplePoints(1).begin()->second, {0, 5, 0});
        comparePoints(c->refSamplePoints(0).begin()->second, {1, 0, 0});
        comparePoints(c->refSamplePoints(1).begin()->second, {0, 5, 0});
        // Moving back with the inverse returns the fragment where it was read.
        const Matrix44d back = g->getInverseMatrix();
        g->applyTransform(&back);
        comparePoints(fa->mesh().vertices[1], v1, 1e-12);
        QVERIFY(graph.validate().isEmpty());
    }

    void namesIdsAndLevels() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "n0.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "n1.ply"));
        FragGroup* g = addGroup(graph);
        FragGroup* outer = addGroup(graph);
        g->addChild(a);
        outer->addChild(g);
        QCOMPARE(g->displayName(), QStringLiteral("Group: 0"));
        QCOMPARE(outer->displayName(), QStringLiteral("Group: 1"));
        g->setName(QStringLiteral("Rim"));
        QCOMPARE(g->displayName(), QStringLiteral("Rim"));
        QVERIFY(g->nameWasSet());

        Fragment* fa = a->wrappedFragment();
        QCOMPARE(outer->level(), 0);
        QCOMPARE(g->level(), 1);
        QCOMPARE(a->level(), 2);
        QCOMPARE(fa->level(), 3);
        QCOMPARE(fa->rootId(), outer->id());
        QCOMPARE(fa->ancestorAtLevel(fa->level()), static_cast<GeometrObj*>(fa));
        QCOMPARE(fa->ancestorAtLevel(1), static_cast<GeometrObj*>(g));
        QCOMPARE(fa->ancestorAtLevel(0), static_cast<GeometrObj*>(outer));
        QCOMPARE(fa->ancestorAtLevel(-1), nullptr);
        QCOMPARE(g->ancestorAtLevel(2), nullptr);
        QCOMPARE(graph.maxLevel(), 2);
        QCOMPARE(graph.groupAtLevel(fa, 2), static_cast<GeometrObj*>(a));
        QCOMPARE(graph.groupAtLevel(fa, 3), nullptr);

        // A wrapper answers for its own id only; a user group through its members.
        QVERIFY(a->containsId(a->id()));
        QVERIFY(!a->containsId(b->id()));
        QVERIFY(outer->containsId(a->id()));
        QVERIFY(outer->containsId(g->id()));
        QVERIFY(!outer->containsId(b->id()));
        QVERIFY(outer->contains(fa));
        QVERIFY(!g->contains(b));
        QVERIFY(graph.validate().isEmpty());
    }

    void groupCentroidAndVisibility() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "c0.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "c1.ply", {4, 0, 0}));
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        comparePoints(g->centroid(), {2.25, 0.25, 0.25});
        comparePoints(g->currentCentroid(), {2.25, 0.25, 0.25});
        QVERIFY(!g->isVisible());
        b->wrappedFragment()->setVisible(true);
        QVERIFY(g->isVisible());
        g->setFocused(true);
        QVERIFY(a->wrappedFragment()->isFocused());
        // Group colour reaches every fragment.
        QCOMPARE(a->wrappedFragment()->getColor(), g->getColor());
        QCOMPARE(b->wrappedFragment()->getColor(), g->getColor());
    }

    void pickCodesRoundTrip() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "p0.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "p1.ply"));
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        Fragment* fa = a->wrappedFragment();
        Fragment* fb = b->wrappedFragment();
        fa->setBasePickCode(65530);
        fa->assignPickColors();
        fb->setBasePickCode(65534);
        fb->assignPickColors();
        const Color4b c = fb->mesh().pickColors[3]; // code 65537
        QCOMPARE(int(c.r), 1);
        QCOMPARE(int(c.g), 0);
        QCOMPARE(int(c.b), 1);
        GeometrObj* owner = nullptr;
        QCOMPARE(g->faceFromPickColor(c.r, c.g, c.b, &owner), 3);
        QCOMPARE(owner, static_cast<GeometrObj*>(fb));
        QCOMPARE(g->faceFromPickColor(250, 255, 0, &owner), 0); // 65530 is fa's face 0
        QCOMPARE(owner, static_cast<GeometrObj*>(fa));
        QCOMPARE(g->faceFromPickColor(0, 0, 0, &owner), -1);
    }

    void constraintPointBookkeeping() {
        ObjId a{-1, 1}, b{-1, 2}, n{-1, 3};
        RBand c(12, &a, &b);
        QCOMPARE(c.key(), QStringLiteral("12"));
        QCOMPARE(c.typeName(), QStringLiteral("RBand"));
        QCOMPARE(c.stiffness(), 1);
        QCOMPARE(c.sideOf(&a), 0);
        QCOMPARE(c.sideOf(&b), 1);
        c.addPoint(&a, {1, 0, 0});
        c.addPoint(&a, {2, 0, 0});
        c.addPoint(&b, {0, 3, 0});
        c.movePoint(&a, {0, 0, 1});
        // Only the first point of the side moves, in both lists.
        std::vector<Point3d> side0, ref0;
        for (const auto& [k, p] : c.samplePoints(0))
            side0.push_back(p);
        for (const auto& [k, p] : c.refSamplePoints(0))
            ref0.push_back(p);
        QCOMPARE(side0, (std::vector<Point3d>{{1, 0, 1}, {2, 0, 0}}));
        QCOMPARE(ref0, side0);
        c.transformSamples(&a, translation(0, 1, 0));
        comparePoints(c.firstPoint(&a), {1, 1, 1});
        comparePoints(c.refSamplePoints(0).begin()->second, {1, 0, 1});
        // Re-keying keeps coordinates and order.
        c.rekeySide(0, &n);
        c.setFrag(0, &n);
        std::vector<Point3d> moved;
        for (const auto& [k, p] : c.samplePoints(0))
            moved.push_back(p);
        QCOMPARE(moved, (std::vector<Point3d>{{1, 1, 1}, {2, 1, 0}}));
        QCOMPARE(std::ranges::distance(c.refSamplePoints(0)), 2);
        QCOMPARE(std::ranges::distance(c.samplePoints(1)), 1);
    }

    void rubberBandErrorAndColour_data() {
        QTest::addColumn<Point3d>("recorded0");
        QTest::addColumn<Point3d>("recorded1");
        QTest::addColumn<Point3d>("moveSide0");
        QTest::addColumn<double>("error");
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::newRow("as recorded") << Point3d(0, 0, 0) << Point3d(2, 0, 0) << Point3d(0, 0, 0) << 1.0 << 255
                                     << 0;
        QTest::newRow("met") << Point3d(0, 0, 0) << Point3d(2, 0, 0) << Point3d(2, 0, 0) << 0.0 << 0 << 255;
        QTest::newRow("half way") << Point3d(0, 0, 0) << Point3d(2, 0, 0) << Point3d(1, 0, 0) << 0.5 << 127
                                  << 127;
        QTest::newRow("farther than recorded")
            << Point3d(0, 0, 0) << Point3d(2, 0, 0) << Point3d(-2, 0, 0) << 2.0 << 255 << 0;
        // Recorded points that coincide: no division by zero.
        QTest::newRow("coincident, still met")
            << Point3d(1, 1, 1) << Point3d(1, 1, 1) << Point3d(0, 0, 0) << 0.0 << 0 << 255;
        QTest::newRow("coincident, now apart")
            << Point3d(1, 1, 1) << Point3d(1, 1, 1) << Point3d(0, 0, 3) << 1.0 << 255 << 0;
    }
    void rubberBandErrorAndColour() {
        QFETCH(Point3d, recorded0);
        QFETCH(Point3d, recorded1);
        QFETCH(Point3d, moveSide0);
        QFETCH(double, error);
        QFETCH(int, red);
        QFETCH(int, green);
        ObjId a{-1, 0}, b{-1, 1};
        RBand c(0, &a, &b);
        c.setStiffness(3);
        c.addPoint(&a, recorded0);
        c.addPoint(&b, recorded1);
        QCOMPARE(c.getColor(), (Color4b{255, 0, 0, 1}));
        c.transformSamples(&a, translation(moveSide0.x(), moveSide0.y(), moveSide0.z()));
        QCOMPARE(c.error(), error);
        c.updateColor();
        QCOMPARE(int(c.getColor().r), red);
        QCOMPARE(int(c.getColor().g), green);
        QCOMPARE(int(c.getColor().b), 0);
        QCOMPARE(int(c.getColor().a), 1);
    }

    // Points that are not numbers or lie at infinity (a damaged file, an overflow) show red.
    void rubberBandColourOfNonFinitePoints_data() {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::addColumn<Point3d>("side0");
        QTest::addColumn<Point3d>("side1");
        QTest::newRow("not a number") << Point3d(nan, 0, 0) << Point3d(1, 0, 0);
        QTest::newRow("at infinity") << Point3d(inf, 0, 0) << Point3d(0, 0, 0);
        QTest::newRow("both at infinity") << Point3d(inf, 0, 0) << Point3d(-inf, 1, 0);
        QTest::newRow("apart beyond the largest double") << Point3d(-1e308, 0, 0) << Point3d(1e308, 0, 0);
    }
    void rubberBandColourOfNonFinitePoints() {
        QFETCH(Point3d, side0);
        QFETCH(Point3d, side1);
        ObjId a{-1, 0}, b{-1, 1};
        RBand c(0, &a, &b);
        c.addPoint(&a, side0);
        c.addPoint(&b, side1);
        c.updateColor();
        QCOMPARE(c.getColor(), (Color4b{255, 0, 0, 1}));
    }

    void scatterColoursAreDistinctAndPastel() {
        TotalGraph graph;
        std::set<std::tuple<int, int, int>> seen;
        for (int i = 0; i < BaseGraph::ColorCount; ++i) {
            const Color4b c = graph.objectColor(ObjId{-1, i});
            seen.insert({c.r, c.g, c.b});
            QCOMPARE(int(c.a), 255);
            // value 0.9: the largest channel is 230 (0.9 * 255 rounded).
            QCOMPARE(std::max({int(c.r), int(c.g), int(c.b)}), 230);
        }
        // Saturation 0.3 leaves about 69 levels per hue sector: over 400 distinct colours.
        QVERIFY(seen.size() > 400);
        // Neighbouring ids are far apart on the hue circle.
        const Color4b c0 = graph.objectColor({-1, 0}), c1 = graph.objectColor({-1, 1});
        QVERIFY(std::abs(int(c0.r) - int(c1.r)) + std::abs(int(c0.g) - int(c1.g)) +
                    std::abs(int(c0.b) - int(c1.b)) >
                80);
        QCOMPARE(graph.objectColor({-1, 1003}), graph.objectColor({-1, 3}));
        QCOMPARE(graph.defaultColor(), (Color4b{230, 161, 161, 255}));
    }
};

QTEST_GUILESS_MAIN(TestGeometryObjects)
#include "test_geometry_objects.moc"
