// The exact interpenetration marks on closed shapes whose inside faces are known: boxes, spheres
// and a torus pushed into each other, shapes that only touch, moved pieces, threads, a cancel, the
// overlap figures and coordinates far from the origin.

#include "../view/closed_shapes.h"
#include "interpenetration.h"

#include <Eigen/Geometry>
#include <QTest>
#include <functional>

namespace {
FragMesh boxMesh(const Point3d& lo, const Point3d& hi, int n) {
    FragMesh m;
    appendBox(m, lo, hi, n);
    finishMesh(m);
    return m;
}

InterpenetrationResult marksOf(const std::vector<const FragMesh*>& meshes, double tolerance,
                               unsigned threads = 0) {
    std::vector<InterpenetrationPiece> pieces;
    for (const FragMesh* m : meshes)
        pieces.push_back(pieceOf(*m));
    InterpenetrationControl control;
    control.threads = threads;
    return computeInterpenetration(std::move(pieces), tolerance, control);
}

Point3d centreOf(const FragMesh& m, std::size_t f) {
    const FragMesh::Face& face = m.faces[f];
    return (m.vertices[face[0]] + m.vertices[face[1]] + m.vertices[face[2]]) / 3.0;
}

// The faces of m whose centres lie inside the solid (signed distance below -margin), and those
// whose triangles the other surface may cut (within margin of it), which are left out of the
// comparison.
struct Expected {
    std::vector<std::uint32_t> inside;
    std::vector<std::uint8_t> undecided;
};

Expected expectedInside(const FragMesh& m, const std::function<double(const Point3d&)>& signedDistance,
                        double margin) {
    Expected e;
    e.undecided.assign(m.faceCount(), 0);
    for (std::size_t f = 0; f < m.faceCount(); ++f) {
        double nearest = std::abs(signedDistance(centreOf(m, f)));
        bool in = signedDistance(centreOf(m, f)) < 0, out = !in;
        for (std::uint32_t v : m.faces[f]) {
            const double d = signedDistance(m.vertices[v]);
            nearest = std::min(nearest, std::abs(d));
            in = in || d < 0;
            out = out || d > 0;
        }
        if (nearest < margin || (in && out))
            e.undecided[f] = 1;
        else if (in)
            e.inside.push_back(std::uint32_t(f));
    }
    return e;
}

// The marks, with undecided faces left out.
std::vector<std::uint32_t> decided(const std::vector<std::uint32_t>& marked, const Expected& e) {
    std::vector<std::uint32_t> kept;
    for (std::uint32_t f : marked)
        if (!e.undecided[f])
            kept.push_back(f);
    return kept;
}

double boxDistance(const Point3d& p, const Point3d& lo, const Point3d& hi) {
    const Point3d outside = (lo - p).cwiseMax(p - hi);
    if ((outside.array() <= 0).all())
        return outside.maxCoeff();
    return outside.cwiseMax(0.0).norm();
}

Matrix44d turn(double angle, const Point3d& axis, const Point3d& shift) {
    Matrix44d m = Matrix44d::Identity();
    m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
    m.topRightCorner<3, 1>() = shift;
    return m;
}

void move(FragMesh& m, const Matrix44d& motion) {
    m.transform(motion);
    m.placement = motion * m.placement;
    m.updateBoundingBox();
}
} // namespace

class TestInterpenetration : public QObject {
    Q_OBJECT
private slots:
    void shapesPushedIntoEachOtherMarkTheirInsideFaces_data();
    void shapesPushedIntoEachOtherMarkTheirInsideFaces();
    void shapesThatOnlyTouchMarkNothing();
    void overlapFiguresOfTwoBoxes();
    void farFromTheOriginTheMarksStayTheSame();
    void movedPiecesWithOldTreesMatchAFreshComputation();
    void threadsDoNotChangeTheResult();
    void aHoleInAScanDoesNotDecide();
    void cancelledComputationSaysSo();
};

void TestInterpenetration::shapesPushedIntoEachOtherMarkTheirInsideFaces_data() {
    QTest::addColumn<int>("shape");
    QTest::newRow("sphere into box") << 0;
    QTest::newRow("torus into box") << 1;
    QTest::newRow("box into box, turned") << 2;
}

void TestInterpenetration::shapesPushedIntoEachOtherMarkTheirInsideFaces() {
    QFETCH(int, shape);
    const Point3d lo(0, 0, 0), hi(2, 2, 2);
    FragMesh box = boxMesh(lo, hi, 24);
    FragMesh other;
    std::function<double(const Point3d&)> otherDistance;
    double margin = 0.0; // how far the mesh may lie from the exact surface
    if (shape == 0) {
        const Point3d c(2.3, 1.1, 0.9);
        appendSphere(other, c, 0.8, 64, 32);
        otherDistance = [c](const Point3d& p) { return (p - c).norm() - 0.8; };
        margin = 0.8 * (1 - std::cos(M_PI / 32)) + 1e-9;
    } else if (shape == 1) {
        // The torus stands on its side, so its hole lies across the box's face.
        const Point3d c(2.0, 1.0, 1.0);
        appendTorus(other, Point3d::Zero(), 0.7, 0.25, 96, 32);
        other.transform(turn(M_PI / 2, Point3d(0, 1, 0), c));
        otherDistance = [c](const Point3d& p) {
            const Point3d q = p - c; // the torus's axis is along x now
            const double ring = std::hypot(q.y(), q.z()) - 0.7;
            return std::hypot(ring, q.x()) - 0.25;
        };
        margin = 0.95 * (1 - std::cos(M_PI / 96)) + 0.25 * (1 - std::cos(M_PI / 32)) + 1e-9;
    } else {
        appendBox(other, Point3d(-0.5, -0.5, -0.5), Point3d(0.5, 0.5, 0.5), 16);
        const Matrix44d motion = turn(0.4, Point3d(1, 2, 3), Point3d(1.9, 1.2, 0.8));
        other.transform(motion);
        const Matrix44d back = motion.inverse();
        otherDistance = [back](const Point3d& p) {
            return boxDistance(transformPoint(back, p), Point3d::Constant(-0.5), Point3d::Constant(0.5));
        };
    }
    finishMesh(other);

    const InterpenetrationResult r = marksOf({&box, &other}, 0.0);
    QVERIFY(!r.cancelled);
    const Expected boxInside = expectedInside(box, otherDistance, margin);
    const Expected otherInside = expectedInside(
        other, [&](const Point3d& p) { return boxDistance(p, lo, hi); }, 1e-12);
    QVERIFY(boxInside.inside.size() > 20);
    QVERIFY(otherInside.inside.size() > 20);
    QCOMPARE(decided(r.marked[0], boxInside), boxInside.inside);
    QCOMPARE(decided(r.marked[1], otherInside), otherInside.inside);
    QCOMPARE(r.pairs.size(), std::size_t(1));
    QCOMPARE(r.pairs[0].faces, r.marked[0].size() + r.marked[1].size());
}

void TestInterpenetration::shapesThatOnlyTouchMarkNothing() {
    // Side by side on a shared face, and a sphere resting on the box's top.
    const FragMesh a = boxMesh(Point3d(0, 0, 0), Point3d(1, 1, 1), 10);
    const FragMesh b = boxMesh(Point3d(1, 0, 0), Point3d(2, 1, 1), 10);
    FragMesh sphere;
    appendSphere(sphere, Point3d(0.5, 0.5, 1.3), 0.3, 32, 16);
    finishMesh(sphere);
    Box3d all;
    for (const FragMesh* m : std::vector<const FragMesh*>{&a, &b, &sphere})
        all.add(m->bbox);
    const InterpenetrationResult r = marksOf({&a, &b, &sphere}, defaultContactTolerance(all.diag()));
    for (const std::vector<std::uint32_t>& marks : r.marked)
        QVERIFY(marks.empty());
    QVERIFY(r.pairs.empty());
    QVERIFY(r.testedFaces > 0);
}

void TestInterpenetration::overlapFiguresOfTwoBoxes() {
    // b reaches 0.5 into a through a's +x side: inside a lie b's -x side (area 1, 128 faces) and
    // strips of its four other sides (4 x 0.5, 4 x 32 faces); inside b lies the middle of a's +x
    // side (area 1, 32 faces). The deepest face centre is on b's -x side, 0.5 below a's +x side.
    const FragMesh a = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 8);
    const FragMesh b = boxMesh(Point3d(1.5, 0.5, 0.5), Point3d(3.5, 1.5, 1.5), 8);
    const InterpenetrationResult r = marksOf({&a, &b}, 1e-4);
    QCOMPARE(r.pairs.size(), std::size_t(1));
    const OverlapFigures& f = r.pairs[0];
    QCOMPARE(f.first, std::size_t(0));
    QCOMPARE(f.second, std::size_t(1));
    QCOMPARE(r.marked[0].size(), std::size_t(32)); // a's 4 x 4 squares of size 0.25
    QCOMPARE(f.faces, std::size_t(128 + 4 * 32 + 32));
    QVERIFY(std::abs(f.area - 4.0) < 1e-9);
    QVERIFY(std::abs(f.greatestDepth - 0.5) < 1e-6);
    QCOMPARE(r.worst(), &r.pairs[0]);

    // A tolerance above every depth marks nothing.
    QVERIFY(marksOf({&a, &b}, 0.6).pairs.empty());
}

void TestInterpenetration::farFromTheOriginTheMarksStayTheSame() {
    const FragMesh a = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 8);
    const FragMesh b = boxMesh(Point3d(1.5, 0.5, 0.5), Point3d(3.5, 1.5, 1.5), 8);
    const InterpenetrationResult near = marksOf({&a, &b}, 1e-4);
    const Point3d far(1e5, -2e5, 3e5);
    FragMesh farA = boxMesh(far, far + Point3d(2, 2, 2), 8);
    FragMesh farB = boxMesh(far + Point3d(1.5, 0.5, 0.5), far + Point3d(3.5, 1.5, 1.5), 8);
    const InterpenetrationResult r = marksOf({&farA, &farB}, 1e-4);
    QCOMPARE(r.marked, near.marked);
    QCOMPARE(r.pairs.size(), std::size_t(1));
    QVERIFY(std::abs(r.pairs[0].area - 4.0) < 1e-6);
    QVERIFY(std::abs(r.pairs[0].greatestDepth - 0.5) < 1e-5);

    // Placed there by a motion after reading, as a solve places scans.
    FragMesh movedA = a, movedB = b;
    move(movedA, turn(0.0, Point3d(0, 0, 1), far));
    move(movedB, turn(0.0, Point3d(0, 0, 1), far));
    QCOMPARE(marksOf({&movedA, &movedB}, 1e-4).marked, near.marked);
}

void TestInterpenetration::movedPiecesWithOldTreesMatchAFreshComputation() {
    FragMesh box = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 16);
    FragMesh sphere;
    appendSphere(sphere, Point3d(3, 1, 1), 0.9, 48, 24);
    finishMesh(sphere);
    const InterpenetrationResult first = marksOf({&box, &sphere}, 1e-4);
    QVERIFY(first.pairs.empty());

    // The sphere moves into the box and the box turns; the trees stay those of the first call.
    move(sphere, turn(0.3, Point3d(0, 1, 1), Point3d(-1.4, 0.2, 0.1)));
    move(box, turn(-0.2, Point3d(1, 0, 0), Point3d(0.1, 0.2, -0.1)));
    std::vector<InterpenetrationPiece> kept(2);
    kept[0].tree = first.trees[0];
    kept[0].placement = box.placement;
    kept[1].tree = first.trees[1];
    kept[1].placement = sphere.placement;
    QVERIFY(first.trees[0]->builtFrom(box));
    const InterpenetrationResult again = computeInterpenetration(kept, 1e-4);
    const InterpenetrationResult fresh = marksOf({&box, &sphere}, 1e-4);
    QVERIFY(!fresh.marked[0].empty());
    QVERIFY(!fresh.marked[1].empty());
    QCOMPARE(again.marked, fresh.marked);
    QCOMPARE(again.pairs.size(), std::size_t(1));
    QVERIFY(std::abs(again.pairs[0].area - fresh.pairs[0].area) < 1e-6 * fresh.pairs[0].area);
}

void TestInterpenetration::threadsDoNotChangeTheResult() {
    const FragMesh box = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 40);
    FragMesh sphere;
    appendSphere(sphere, Point3d(2, 1.2, 1), 0.9, 128, 64);
    finishMesh(sphere);
    const InterpenetrationResult one = marksOf({&box, &sphere}, 1e-4, 1);
    const InterpenetrationResult two = marksOf({&box, &sphere}, 1e-4, 2);
    const InterpenetrationResult five = marksOf({&box, &sphere}, 1e-4, 5);
    QVERIFY(one.testedFaces > 3 * 2048); // enough work for every thread
    for (const InterpenetrationResult* r : {&two, &five}) {
        QCOMPARE(r->marked, one.marked);
        QCOMPARE(r->pairs.size(), one.pairs.size());
        QCOMPARE(r->pairs[0].area, one.pairs[0].area);
        QCOMPARE(r->pairs[0].greatestDepth, one.pairs[0].greatestDepth);
    }
}

void TestInterpenetration::aHoleInAScanDoesNotDecide() {
    // The sphere's faces around its east pole are missing: a ray through the hole sees one
    // crossing too few, the others outvote it.
    const FragMesh a = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 16);
    FragMesh whole;
    appendSphere(whole, Point3d(1.2, 1, 1), 0.7, 48, 24);
    finishMesh(whole);
    FragMesh holed = whole;
    holed.faces.erase(
        std::remove_if(holed.faces.begin(), holed.faces.end(),
                       [&](const FragMesh::Face& f) {
                           const Point3d c =
                               (holed.vertices[f[0]] + holed.vertices[f[1]] + holed.vertices[f[2]]) / 3.0;
                           return c.x() > 1.85;
                       }),
        holed.faces.end());
    finishMesh(holed);
    QVERIFY(holed.faceCount() < whole.faceCount());
    QCOMPARE(marksOf({&a, &holed}, 1e-4).marked[0], marksOf({&a, &whole}, 1e-4).marked[0]);
}

void TestInterpenetration::cancelledComputationSaysSo() {
    const FragMesh a = boxMesh(Point3d(0, 0, 0), Point3d(2, 2, 2), 8);
    const FragMesh b = boxMesh(Point3d(1.5, 0.5, 0.5), Point3d(3.5, 1.5, 1.5), 8);
    std::atomic<bool> cancel{true};
    InterpenetrationControl control;
    control.cancel = &cancel;
    const InterpenetrationResult r = computeInterpenetration({pieceOf(a), pieceOf(b)}, 1e-4, control);
    QVERIFY(r.cancelled);
    QVERIFY(r.pairs.empty());
}

QTEST_GUILESS_MAIN(TestInterpenetration)
#include "test_interpenetration.moc"
