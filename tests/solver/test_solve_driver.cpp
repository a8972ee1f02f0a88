// The Solve command on real projects: who becomes an entity, which objects carry the motion, level
// order, constraint flags, the solved-area filter, and a broken vessel put back together.

#include "../scene/scene_fixtures.h"
#include "coarse_alignment.h"
#include "project_reader.h"
#include "reassembly.h"
#include "sample_vessel.h"
#include "solve_driver.h"

#include <Eigen/Geometry>
#include <Eigen/LU>
#include <QtTest>
#include <random>
#include <set>

namespace {
// The solved area of a test: a set of ids, and counters of what the driver asked for.
class RecordingArea : public SolvedAreaAccess {
public:
    std::set<int> shown;
    int refits = 0, repaints = 0, thumbnails = 0;
    std::vector<int> shownObjects() const override { return {shown.begin(), shown.end()}; }
    bool isShown(int id) const override { return shown.count(id) != 0; }
    void show(int id) override { shown.insert(id); }
    void refitAndRecomputeErrors(float) override { ++refits; }
    void repaint() override { ++repaints; }
    void makeThumbnail(GeometrObj*) override { ++thumbnails; }
    void repaintWorkingAreas() override {}
    float tolerance() const override { return 1e-5f; }
};

// The solver objects the main window owns, around one graph.
struct Rig {
    TotalGraph graph;
    RecordingArea area;
    Reassembly reassembly{graph, area};
    SolveDriver& driver = reassembly.driver();
    EntityPoses& poses = reassembly.poses();
    PointPairSet& pairs = reassembly.pairs();
};

Point3d vertex(FragGroup* w, std::size_t i = 0) {
    return w->wrappedFragment()->mesh().vertices[i];
}

double gap(Constraint* c) {
    return (c->samplePoints(0).begin()->second - c->samplePoints(1).begin()->second).norm();
}

// Puts members into a new top-level group, as grouping does.
FragGroup* groupOf(TotalGraph& g, std::initializer_list<GeometrObj*> members) {
    FragGroup* group = addGroup(g);
    for (GeometrObj* m : members)
        group->addChild(m);
    return group;
}

// Where the point of side k was picked, on the fragment it was picked on, as that fragment lies now.
Point3d pickedPointNow(TotalGraph& g, Constraint* c, int k) {
    auto* wrapper = dynamic_cast<FragGroup*>(g.getObject(c->leafFrag(k)->parent));
    return transformPoint(wrapper->wrappedFragment()->getMatrix(), c->refSamplePoints(k).begin()->second);
}

// Three bands between two objects at the corners of a triangle, so the rigid motion is determined.
std::vector<RBand*> joinAt(TotalGraph& g, GeometrObj* a, GeometrObj* b, const Matrix44d& moveB) {
    std::vector<RBand*> bands;
    for (const Point3d& p : {Point3d(0, 0, 0), Point3d(1, 0, 0), Point3d(0, 1, 0.5)})
        bands.push_back(addBand(g, a, b, p, transformPoint(moveB, p)));
    return bands;
}
} // namespace

class TestSolveDriver : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString tetra;

private slots:
    void initTestCase() {
        installMeshReaders();
        tetra = writeTetrahedron(dir, "t.ply");
        QDir::setCurrent(dir.path()); // the solver writes matrix.txt here
    }

    void twoObjectsMeetAndTheFirstStaysPut() {
        Rig r;
        FragGroup* a = addFragment(r.graph, tetra);
        FragGroup* b = addFragment(r.graph, tetra);
        const Matrix44d away = translation(4, -2, 1) * rotationZ(0.6);
        b->applyTransform(&away);
        const std::vector<RBand*> bands = joinAt(r.graph, a, b, away);
        const Point3d a0 = vertex(a), a1 = vertex(a, 1);
        r.driver.solve();
        QCOMPARE(r.driver.lastReports().size(), std::size_t(1));
        QCOMPARE(r.driver.lastReports()[0].entities, 2);
        QCOMPARE(r.driver.lastReports()[0].pointPairs, 3);
        QCOMPARE(vertex(a), a0); // entity 0 does not move at all
        QCOMPARE(vertex(a, 1), a1);
        for (RBand* c : bands)
            QVERIFY2(gap(c) < 1e-6, qPrintable(QString::number(gap(c))));
        // b is back on a, exactly as a rigid motion.
        QVERIFY((vertex(b, 1) - a1).norm() < 1e-6);
        QCOMPARE(r.area.shown, (std::set<int>{a->id(), b->id()}));
        QVERIFY(a->isVisible() && b->isVisible());
        QCOMPARE(r.driver.solvedSlots().slotOf(a->id()), 0);
        QCOMPARE(r.driver.solvedSlots().slotOf(b->id()), 1);
        QCOMPARE(r.area.refits, 1);
        QCOMPARE(r.area.thumbnails, 2);
        // Group entities are marked, which frees their constraints for the next Solve.
        for (RBand* c : bands)
            QVERIFY(!c->isFlagged());
        const Point3d b1 = vertex(b, 1);
        r.driver.solve();
        QCOMPARE(r.driver.lastReports().size(), std::size_t(1));
        QVERIFY((vertex(b, 1) - b1).norm() < 1e-9);
    }

    void levelsRunDeepestFirstAndMembersOfDifferentGroupsMoveTheirGroups() {
        Rig r;
        // Top group G holds groups H1 {a, c} and H2 {b}; a and b are joined (level 2, different
        // groups), G and x are joined at the top.
        FragGroup* a = addFragment(r.graph, tetra);
        FragGroup* c = addFragment(r.graph, tetra);
        FragGroup* b = addFragment(r.graph, tetra);
        FragGroup* x = addFragment(r.graph, tetra);
        FragGroup* h1 = addGroup(r.graph);
        FragGroup* h2 = addGroup(r.graph);
        FragGroup* top = addGroup(r.graph);
        const Matrix44d away = translation(0, 3, 0) * rotationZ(-0.4);
        b->applyTransform(&away);
        h1->addChild(a);
        h1->addChild(c);
        h2->addChild(b);
        top->addChild(h1);
        top->addChild(h2);
        const std::vector<RBand*> inner = joinAt(r.graph, a, b, away);
        const Matrix44d far = translation(10, 0, 0);
        x->applyTransform(&far);
        const std::vector<RBand*> outer = joinAt(r.graph, top, x, far);
        QCOMPARE(r.graph.maxLevel(), 2);
        const Point3d cBefore = vertex(c, 2), aBefore = vertex(a, 2);

        r.driver.solve();
        std::vector<int> levels;
        for (const SolveLevelReport& rep : r.driver.lastReports())
            levels.push_back(rep.level);
        // a and b lie in different groups: their constraint moves H1 and H2, at level 1.
        QCOMPARE(levels, (std::vector<int>{1, 0}));
        QCOMPARE(r.driver.lastReports()[0].entities, 2);
        QCOMPARE(r.area.refits, 1); // views refreshed once, after level 0
        for (RBand* band : inner)
            QVERIFY(gap(band) < 1e-6);
        for (RBand* band : outer)
            QVERIFY(gap(band) < 1e-6);
        // c moved with a as one rigid body.
        QVERIFY(((vertex(c, 2) - vertex(a, 2)).norm() - (cBefore - aBefore).norm()) < 1e-9);
        QVERIFY(r.area.isShown(top->id()));
        QVERIFY(r.area.isShown(x->id()));
        QVERIFY(!r.area.isShown(h1->id()));
    }

    void onlyWhatConcernsTheSolvedAreaTakesPart() {
        Rig r;
        FragGroup* a = addFragment(r.graph, tetra);
        FragGroup* b = addFragment(r.graph, tetra);
        FragGroup* p = addFragment(r.graph, tetra);
        FragGroup* q = addFragment(r.graph, tetra);
        FragGroup* lonely = addFragment(r.graph, tetra);
        const Matrix44d away = translation(2, 0, 0);
        b->applyTransform(&away);
        q->applyTransform(&away);
        joinAt(r.graph, a, b, away);
        joinAt(r.graph, p, q, away);
        r.area.shown = {a->id()};
        const Point3d q0 = vertex(q);
        r.driver.solve();
        QCOMPARE(r.driver.lastReports().size(), std::size_t(1));
        QCOMPARE(r.driver.lastReports()[0].entities, 2);
        QCOMPARE(vertex(q), q0);
        QVERIFY(!r.driver.solvedSlots().contains(p->id()));
        QVERIFY(!r.driver.solvedSlots().contains(lonely->id()));
        // A constraint reached from both of its objects is fed once.
        QCOMPARE(r.driver.lastReports()[0].pointPairs, 3);
    }

    void nothingToFeedChangesNothing() {
        Rig r;
        addFragment(r.graph, tetra);
        r.driver.solve();
        QVERIFY(r.driver.lastReports().empty());
        QCOMPARE(r.area.refits, 0);
        Rig empty;
        empty.driver.solve();
        QVERIFY(empty.driver.lastReports().empty());
    }

    void rigidFitKnownAnswers() {
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> any(-2, 2);
        std::vector<Point3d> from;
        for (int i = 0; i < 6; ++i)
            from.emplace_back(any(rng), any(rng), any(rng));
        const Matrix44d truth = translation(3, -1, 7) * rotationZ(2.5);
        std::vector<Point3d> to;
        for (const Point3d& p : from)
            to.push_back(transformPoint(truth, p));
        const std::vector<double> ones(from.size(), 1.0);
        QVERIFY((bestRigidFit(from, to, ones) - truth).cwiseAbs().maxCoeff() < 1e-12);
        // A mirrored target still gives a rotation, never a reflection.
        std::vector<Point3d> mirrored;
        for (const Point3d& p : from)
            mirrored.emplace_back(-p.x(), p.y(), p.z());
        const Matrix44d fit = bestRigidFit(from, mirrored, ones);
        QVERIFY(std::abs(fit.topLeftCorner<3, 3>().determinant() - 1.0) < 1e-12);
        // One point: a translation.
        const Matrix44d shift = bestRigidFit({Point3d(1, 2, 3)}, {Point3d(2, 2, 2)}, {1.0});
        QCOMPARE(shift, translation(1, 0, -1));
    }

    void pointsThatLeaveTheTurnOpenTurnTheLeast() {
        // One point, two points and three points on a line between two tetrahedra, the second
        // turned a little: the Solve brings the points together without turning it further.
        const double scatter = 0.05;
        const std::vector<std::vector<Point3d>> cases = {
            {Point3d(0.2, 0.1, 0.3)},
            {Point3d(0, 0, 0), Point3d(1, 0.2, 0)},
            {Point3d(0, 0, 0), Point3d(0.5, 0.25, 0.1), Point3d(1, 0.5, 0.2)}};
        for (const Point3d& axis : {Point3d(0, 0, 1), Point3d(1, 1, 0).normalized(), Point3d(1, 0, 0)})
            for (const std::vector<Point3d>& points : cases) {
                Rig r;
                FragGroup* a = addFragment(r.graph, tetra);
                FragGroup* b = addFragment(r.graph, tetra);
                Matrix44d move = translation(0.3, -0.2, 0.1);
                move.topLeftCorner<3, 3>() = Eigen::AngleAxisd(scatter, axis).toRotationMatrix();
                b->applyTransform(&move);
                std::vector<RBand*> bands;
                for (const Point3d& p : points)
                    bands.push_back(addBand(r.graph, a, b, p, transformPoint(move, p)));
                r.driver.solve();
                QVERIFY(!r.driver.anyLevelFailed());
                const Matrix44d solved = b->wrappedFragment()->getMatrix() * move.inverse();
                const double turn = Eigen::AngleAxisd(Matrix33d(solved.topLeftCorner<3, 3>())).angle();
                const QString where = QStringLiteral("%1 points: ").arg(points.size());
                QVERIFY2(turn <= scatter + 1e-9, qPrintable(where + QString::number(turn)));
                for (RBand* c : bands)
                    QVERIFY2(gap(c) < 1e-6, qPrintable(where + QString::number(gap(c))));
            }
    }

    void aSolveNeverLeavesThePointsFartherApart() {
        // Correspondences that cannot all be met: random points, several objects, loops.
        for (unsigned seed = 1; seed <= 10; ++seed) {
            std::mt19937 rng(seed);
            std::uniform_real_distribution<double> any(-3, 3);
            Rig r;
            std::vector<FragGroup*> objects;
            for (int i = 0; i < 4; ++i)
                objects.push_back(addFragment(r.graph, tetra));
            std::vector<RBand*> bands;
            for (int k = 0; k < 12; ++k) {
                FragGroup* a = objects[std::size_t(k % 4)];
                FragGroup* b = objects[std::size_t((k + 1 + k / 4) % 4)];
                if (a == b)
                    continue;
                bands.push_back(
                    addBand(r.graph, a, b, {any(rng), any(rng), any(rng)}, {any(rng), any(rng), any(rng)}));
                bands.back()->setStiffness(1 + k % 3);
            }
            auto total = [&bands] {
                double e = 0;
                for (RBand* c : bands)
                    e += c->stiffness() * gap(c);
                return e;
            };
            const double before = total();
            r.driver.solve();
            QVERIFY2(total() <= before + 1e-9,
                     qPrintable(QStringLiteral("seed %1: %2 > %3").arg(seed).arg(total()).arg(before)));
        }
    }

    void brokenVesselIsReassembledInOneSolve() {
        QTemporaryDir folder;
        SampleVessel sample;
        QString error;
        SampleVesselOptions options;
        options.around = 120; // a lighter vessel: the solve only sees the constraint points
        options.up = 80;
        for (unsigned seed = 1; seed <= 12; ++seed) {
            options.seed = seed;
            QVERIFY2(writeSampleVessel(folder.path(), sample, error, options), qPrintable(error));
            Rig r;
            QVERIFY(readProjectFile(sample.projectPath, r.graph).ok());
            QCOMPARE(r.graph.objectCount(), 8);
            r.driver.solve();
            QVERIFY(!r.driver.anyLevelFailed());
            // Piece i's accumulated matrix undoes its own scatter and applies piece 0's, so
            // every piece lands where it was in the unbroken vessel, moved as piece 0 was.
            const Matrix44d anchor = sample.motions[0];
            double worst = 0;
            for (int i = 0; i < 8; ++i) {
                auto* w = dynamic_cast<FragGroup*>(r.graph.getObject(i));
                const Matrix44d placed = w->wrappedFragment()->getMatrix() * sample.motions[std::size_t(i)];
                for (const Point3d& p : {Point3d(0.5, 0, 0), Point3d(0, 0.5, 1), Point3d(-0.4, 0.3, 2)})
                    worst = std::max(worst, (transformPoint(placed, p) - transformPoint(anchor, p)).norm());
                const Matrix33d rot = w->wrappedFragment()->getMatrix().topLeftCorner<3, 3>();
                QVERIFY((rot.transpose() * rot - Matrix33d::Identity()).cwiseAbs().maxCoeff() < 1e-12);
                QVERIFY(std::abs(rot.determinant() - 1.0) < 1e-12);
            }
            QVERIFY2(worst < 1e-5 * sample.size,
                     qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(worst)));
        }
    }

    void nestedGroupsAreReassembledLevelByLevel() {
        // Piece p (wrapper id p) lies in sector p % 4 of row p / 4; pieces that share a border are
        // joined by constraints.
        enum Nesting { OneGroup, TwoGroups, GroupInGroup };
        QTemporaryDir folder;
        SampleVessel sample;
        QString error;
        SampleVesselOptions options;
        options.around = 120;
        options.up = 80;
        for (const Nesting nesting : {OneGroup, TwoGroups, GroupInGroup})
            for (unsigned seed = 1; seed <= 4; ++seed) {
                options.seed = seed;
                QVERIFY2(writeSampleVessel(folder.path(), sample, error, options), qPrintable(error));
                Rig r;
                QVERIFY(readProjectFile(sample.projectPath, r.graph).ok());
                auto piece = [&r](int i) { return r.graph.getObject(i); };
                if (nesting == OneGroup) {
                    groupOf(r.graph, {piece(1), piece(2)});
                } else if (nesting == TwoGroups) {
                    // Members 1-5 and 2-6 are joined across the groups.
                    groupOf(r.graph, {piece(0), piece(1), piece(2)});
                    groupOf(r.graph, {piece(5), piece(6)});
                } else {
                    FragGroup* inner = groupOf(r.graph, {piece(0), piece(1)});
                    groupOf(r.graph, {inner, piece(4)});
                }
                // Constraints to members move up to the objects at the same level.
                std::vector<GeometrObj*> top;
                for (const auto& [id, o] : r.graph.objectTable())
                    if (o->isTopLevel())
                        top.push_back(o);
                for (GeometrObj* o : top)
                    r.graph.reattachConstraints(o);
                QVERIFY(r.graph.validate().isEmpty());
                QVERIFY(r.graph.maxLevel() > 0);

                r.driver.solve();
                QVERIFY(!r.driver.anyLevelFailed());
                // Every piece's matrix undoes its scatter the same way: the pieces fit together.
                auto placed = [&](int i) {
                    auto* w = dynamic_cast<FragGroup*>(r.graph.getObject(i));
                    return Matrix44d(w->wrappedFragment()->getMatrix() * sample.motions[std::size_t(i)]);
                };
                double worst = 0;
                for (int i = 1; i < 8; ++i)
                    for (const Point3d& p : {Point3d(0.5, 0, 0), Point3d(0, 0.5, 1), Point3d(-0.4, 0.3, 2)})
                        worst = std::max(
                            worst, (transformPoint(placed(i), p) - transformPoint(placed(0), p)).norm());
                const QString where = QStringLiteral("nesting %1 seed %2").arg(nesting).arg(seed);
                QVERIFY2(worst < 1e-5 * sample.size, qPrintable(where + QStringLiteral(": %1").arg(worst)));
                // A band's error is the distance of the points on the fragments they were picked on.
                for (const auto& [cid, c] : r.graph.constraintTable()) {
                    const double now = (pickedPointNow(r.graph, c, 0) - pickedPointNow(r.graph, c, 1)).norm();
                    const double then =
                        (c->refSamplePoints(0).begin()->second - c->refSamplePoints(1).begin()->second)
                            .norm();
                    QVERIFY2(std::abs(c->error() - now / then) < 1e-6,
                             qPrintable(where + QStringLiteral(" band %1: %2 against %3")
                                                    .arg(cid)
                                                    .arg(c->error())
                                                    .arg(now / then)));
                }
            }
    }

    void solvedSlotsAreSmallestFree() {
        SolvedSlots solved;
        solved.add(7);
        solved.add(3);
        solved.add(9);
        QCOMPARE(solved.slotOf(3), 1);
        solved.remove(7);
        solved.add(1);
        QCOMPARE(solved.slotOf(1), 0);
        QVERIFY(solved.contains(9));
        QVERIFY(!solved.contains(7));
        solved.remove(9); // the highest slot: the next new object takes it again
        solved.add(5);
        QCOMPARE(solved.slotOf(5), 2);
        solved.remove(3);
        solved.add(6);
        QCOMPARE(solved.slotOf(6), 1);
    }

    // Two pairs of pieces with nothing between the pairs: the second pair is named, solved on its
    // own around its first piece, which stays where it was, instead of drifting.
    void piecesNotJoinedToTheFixedOneAreNamedAndSolvedAroundTheirFirst() {
        Rig r;
        FragGroup* a = addFragment(r.graph, tetra);
        FragGroup* b = addFragment(r.graph, tetra);
        FragGroup* c = addFragment(r.graph, tetra);
        FragGroup* d = addFragment(r.graph, tetra);
        const Matrix44d farC = translation(10, 0, 0), moveB = translation(1, 2, 0) * rotationZ(0.4);
        const Matrix44d moveD = farC * translation(-1, 1, 2) * rotationZ(-1.1);
        c->applyTransform(&farC);
        b->applyTransform(&moveB);
        d->applyTransform(&moveD);
        const std::vector<RBand*> ab = joinAt(r.graph, a, b, moveB);
        std::vector<RBand*> cd;
        for (const Point3d& p : {Point3d(0, 0, 0), Point3d(1, 0, 0), Point3d(0, 1, 0.5)})
            cd.push_back(addBand(r.graph, c, d, transformPoint(farC, p), transformPoint(moveD, p)));
        const Point3d c0 = vertex(c, 2);
        r.driver.solve();
        QCOMPARE(r.driver.lastReports().size(), std::size_t(1));
        const SolveLevelReport& report = r.driver.lastReports()[0];
        QCOMPARE(std::set<int>(report.unconnected.begin(), report.unconnected.end()),
                 (std::set<int>{c->id(), d->id()}));
        QVERIFY(report.openJoints.empty());
        QCOMPARE(vertex(c, 2), c0);
        for (RBand* band : cd)
            QVERIFY(gap(band) <= 1e-9);
        for (RBand* band : ab)
            QVERIFY(gap(band) <= 1e-9);
    }

    // Two pieces joined by two point pairs can turn about the line through them; the same joint
    // closed by a third piece joined firmly to both is not open.
    void jointsOnALineAreNamedUnlessAnotherChainHoldsThem() {
        for (const bool closed : {false, true}) {
            Rig r;
            FragGroup* a = addFragment(r.graph, tetra);
            FragGroup* b = addFragment(r.graph, tetra);
            const Matrix44d moveB = translation(0.5, 1, 0) * rotationZ(0.3);
            b->applyTransform(&moveB);
            for (const Point3d& p : {Point3d(0, 0, 0), Point3d(1, 0, 0)})
                addBand(r.graph, a, b, p, transformPoint(moveB, p));
            if (closed) {
                FragGroup* c = addFragment(r.graph, tetra);
                joinAt(r.graph, a, c, Matrix44d::Identity());
                joinAt(r.graph, c, b, moveB);
            }
            r.driver.solve();
            const std::vector<OpenJoint>& open = r.driver.lastReports().at(0).openJoints;
            if (closed) {
                QVERIFY(open.empty());
                continue;
            }
            QCOMPARE(open.size(), std::size_t(1));
            QCOMPARE(std::set<int>({open[0].objectA, open[0].objectB}), (std::set<int>{a->id(), b->id()}));
            QCOMPARE(open[0].points, 2);
        }
    }

    // A wall of 4 x 5 pieces, each turned by any angle, three exact point pairs on each shared edge:
    // one Solve puts it back together to a billionth of its size.
    void wallWithExactPicksIsReassembled() {
        Rig r;
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        const int rows = 4, cols = 5;
        std::vector<FragGroup*> tiles;
        std::vector<Matrix44d> moves;
        for (int e = 0; e < rows * cols; ++e) {
            tiles.push_back(addFragment(r.graph, tetra));
            const Eigen::Vector3d axis = Eigen::Vector3d(u(rng), u(rng), u(rng)).normalized();
            Matrix44d m = Matrix44d::Identity();
            m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(M_PI * u(rng), axis).toRotationMatrix();
            m.topRightCorner<3, 1>() = 3.0 * Point3d(u(rng), u(rng), u(rng));
            moves.push_back(m);
            tiles.back()->applyTransform(&moves.back());
        }
        std::vector<RBand*> bands;
        const auto share = [&](int a, int b, const Point3d& mid, const Point3d& along) {
            for (int k = -1; k <= 1; ++k) {
                const Point3d q = mid + 0.4 * k * along + Point3d(0, 0, 0.1 * u(rng));
                bands.push_back(addBand(r.graph, tiles[std::size_t(a)], tiles[std::size_t(b)],
                                        transformPoint(moves[std::size_t(a)], q),
                                        transformPoint(moves[std::size_t(b)], q)));
            }
        };
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < cols; ++col) {
                const int e = row * cols + col;
                if (col + 1 < cols)
                    share(e, e + 1, Point3d(col + 0.5, row, 0), Point3d(0, 1, 0));
                if (row + 1 < rows)
                    share(e, e + cols, Point3d(col, row + 0.5, 0), Point3d(1, 0, 0));
            }
        r.driver.solve();
        QVERIFY(!r.driver.anyLevelFailed());
        const SolveLevelReport& report = r.driver.lastReports().at(0);
        QVERIFY(report.unconnected.empty() && report.openJoints.empty());
        const double size = std::hypot(double(rows), double(cols));
        for (RBand* band : bands)
            QVERIFY2(gap(band) <= 1e-9 * size, qPrintable(QString::number(gap(band))));
    }
};

QTEST_GUILESS_MAIN(TestSolveDriver)
#include "test_solve_driver.moc"
