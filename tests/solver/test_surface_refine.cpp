// Refine: the fracture surfaces of joined bodies fitted onto each other, with the user's point pairs,
// on two slabs of a block broken by a rough cut.

#include "rough_slabs.h"
#include "surface_refine.h"

#include <Eigen/Geometry>
#include <QtTest>
#include <random>

namespace {
Matrix44d turnAbout(const Point3d& axis, double degrees, const Point3d& centre, const Point3d& shift) {
    Matrix44d m = Matrix44d::Identity();
    const Eigen::Matrix3d r = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
    m.topLeftCorner<3, 3>() = r;
    m.topRightCorner<3, 1>() = centre - r * centre + shift;
    return m;
}

// Two slabs in their true places, each with its tree; bodies are made from them moved off.
struct BrokenBlock {
    RoughSlabs shape;
    std::vector<FragMesh> meshes;
    std::vector<std::shared_ptr<const TriangleTree>> trees;

    explicit BrokenBlock(int pieces = 2) {
        shape.pieces = pieces;
        for (int k = 0; k < pieces; ++k) {
            meshes.push_back(shape.slab(k));
            trees.push_back(std::make_shared<const TriangleTree>(TriangleTree::copyOf(meshes.back())));
        }
    }

    RefineBody body(int k, const Matrix44d& moved = Matrix44d::Identity()) const {
        return {{trees[std::size_t(k)]},
                {moved * trees[std::size_t(k)]->worldFromLocal(meshes[std::size_t(k)].placement)}};
    }
    // A vertex of the cut between slab k and slab k + 1, where it truly is.
    Point3d cutPoint(int k, int i, int j) const {
        const int n = shape.grid + 1;
        return meshes[std::size_t(k)].vertices[std::size_t(n * n + i * n + j)];
    }
    // How far slab k ends from its true place: the largest distance of a vertex.
    double offTrue(int k, const Matrix44d& placed) const {
        double largest = 0.0;
        for (const Point3d& v : meshes[std::size_t(k)].vertices)
            largest = std::max(largest, (transformPoint(placed, v) - v).norm());
        return largest;
    }
    RefineOptions options() const {
        RefineOptions o;
        o.contactDistance = 0.005 * shape.diagonal();
        return o;
    }
};

// Three exact pairs and three noisy ones on the cut, slab 1 seen where moved puts it.
std::vector<RefinePointPair> picks(const BrokenBlock& block, const Matrix44d& moved, double noise) {
    std::vector<RefinePointPair> pairs;
    std::mt19937 random(7);
    std::normal_distribution<double> jitter(0.0, noise);
    const int g = block.shape.grid;
    const int spots[6][2] = {{g / 5, g / 4}, {4 * g / 5, g / 3},     {g / 2, 5 * g / 6},
                             {g / 3, g / 2}, {2 * g / 3, 2 * g / 3}, {g / 6, 3 * g / 4}};
    for (int s = 0; s < 6; ++s) {
        const Point3d p = block.cutPoint(0, spots[s][0], spots[s][1]);
        Point3d q = p;
        if (s >= 3)
            q += Point3d(jitter(random), jitter(random), jitter(random));
        pairs.push_back({0, 1, p, transformPoint(moved, q), 1.0});
    }
    return pairs;
}

const Matrix44d kTurned =
    turnAbout(Point3d(0.3, 1.0, 0.2), 3.0, Point3d(0.2, 0.7, 0.9), Point3d(0.004, -0.006, 0.01));
} // namespace

class TestSurfaceRefine : public QObject {
    Q_OBJECT

private slots:
    void aTurnedPieceGoesBackOntoItsBreak() {
        const BrokenBlock block;
        const double size = block.shape.diagonal();
        QVERIFY(block.offTrue(1, kTurned) > 0.02 * size);
        RefineOptions options = block.options();
        int reported = 0;
        options.progress = [&reported](int round, double fraction) {
            QCOMPARE(round, reported + 1);
            QVERIFY(fraction > 0.0 && fraction <= 1.0);
            reported = round;
        };
        const RefineResult r = refineBodies({block.body(0), block.body(1, kTurned)}, {{0, 1}},
                                            picks(block, kTurned, 0.004 * size), options);
        QVERIFY(!r.cancelled);
        QCOMPARE(r.motions.size(), std::size_t(2));
        QCOMPARE(r.motions[0], Matrix44d(Matrix44d::Identity())); // body 0 is held
        const double off = block.offTrue(1, r.motions[1] * kTurned);
        QVERIFY2(off < 1e-4 * size, qPrintable(QString::number(off / size)));
        QCOMPARE(reported, r.rounds);
        QCOMPARE(r.roundSeconds.size(), std::size_t(r.rounds));
        QVERIFY(r.rounds < options.maxRounds);
        QVERIFY(r.withoutContact.empty());
        // Matched samples lie on the break, both sides together at the end.
        QVERIFY(r.matches.size() > 500);
        for (const RefineMatch& m : r.matches) {
            QVERIFY(m.bodyA != m.bodyB);
            QVERIFY(std::abs(m.onA.z() - 0.5) < 2.0 * block.shape.roughness);
        }
        QVERIFY(r.meanAfter < 1e-4 * size);
        QVERIFY(r.largestAfter < 1e-3 * size);
        QVERIFY(r.meanAfter < r.meanBefore);
    }

    void aHeldBodyStaysAndTheOtherComesToIt() {
        const BrokenBlock block;
        const Matrix44d away =
            turnAbout(Point3d(1, 0, 0), 2.0, Point3d(0.5, 0.5, 0.5), Point3d(0.0, 0.003, -0.004));
        // Slab 1 is held where it truly is; slab 0 was moved and must come back.
        RefineBody held = block.body(1);
        held.held = true;
        std::vector<RefinePointPair> pairs = picks(block, Matrix44d::Identity(), 0.0);
        for (RefinePointPair& p : pairs)
            p.onA = transformPoint(away, p.onA);
        const RefineResult r = refineBodies({block.body(0, away), held}, {{0, 1}}, pairs, block.options());
        QCOMPARE(r.motions[1], Matrix44d(Matrix44d::Identity()));
        const double off = block.offTrue(0, r.motions[0] * away);
        QVERIFY2(off < 1e-4 * block.shape.diagonal(), qPrintable(QString::number(off)));
    }

    void piecesThatDoNotTouchAreLeftAloneAndNamed() {
        const BrokenBlock block;
        const Matrix44d far = turnAbout(Point3d(0, 0, 1), 0.0, Point3d::Zero(), Point3d(5.0, 0.0, 0.0));
        const std::vector<RefineBody> bodies = {block.body(0), block.body(1, kTurned), block.body(1, far)};
        const RefineResult r = refineBodies(bodies, {{0, 1}, {0, 2}, {2, 2}, {0, 9}},
                                            picks(block, kTurned, 0.0), block.options());
        QCOMPARE(r.withoutContact, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}}));
        QCOMPARE(r.motions[2], Matrix44d(Matrix44d::Identity()));
        QVERIFY(block.offTrue(1, r.motions[1] * kTurned) < 1e-4 * block.shape.diagonal());
        for (const RefineMatch& m : r.matches)
            QVERIFY(m.bodyA != 2 && m.bodyB != 2);
    }

    void aMuchStifferPairStillHolds() {
        const BrokenBlock block;
        const double size = block.shape.diagonal();
        // In their true places, one pair picked 1 % of the size apart across the cut.
        const Point3d p = block.cutPoint(0, 20, 20);
        const Point3d offset(0.01 * size, 0.0, 0.0);
        const auto gapAfter = [&](double stiffness) {
            const RefineResult r = refineBodies({block.body(0), block.body(1)}, {{0, 1}},
                                                {{0, 1, p, p + offset, stiffness}}, block.options());
            return (transformPoint(r.motions[1], p + offset) - transformPoint(r.motions[0], p)).norm();
        };
        // An ordinary pair gives way to the surfaces; a much stiffer one brings its points together.
        QVERIFY(gapAfter(1.0) > 0.5 * offset.norm());
        const double stiff = gapAfter(1e7);
        QVERIFY2(stiff < 0.01 * offset.norm(), qPrintable(QString::number(stiff / offset.norm())));
    }

    void aCancelledRefineMovesNothing() {
        const BrokenBlock block;
        std::atomic<bool> cancel{true};
        RefineOptions options = block.options();
        options.cancel = &cancel;
        const RefineResult r = refineBodies({block.body(0), block.body(1, kTurned)}, {{0, 1}},
                                            picks(block, kTurned, 0.0), options);
        QVERIFY(r.cancelled);
        QCOMPARE(r.motions.size(), std::size_t(2));
        for (const Matrix44d& m : r.motions)
            QCOMPARE(m, Matrix44d(Matrix44d::Identity()));
        QCOMPARE(r.rounds, 0);
    }

    void cancellingDuringTheRoundsMovesNothing() {
        const BrokenBlock block;
        std::atomic<bool> cancel{false};
        RefineOptions options = block.options();
        options.cancel = &cancel;
        options.progress = [&cancel](int, double) { cancel = true; };
        const RefineResult r = refineBodies({block.body(0), block.body(1, kTurned)}, {{0, 1}},
                                            picks(block, kTurned, 0.0), options);
        QVERIFY(r.cancelled);
        QCOMPARE(r.motions[1], Matrix44d(Matrix44d::Identity()));
    }

    void oneThreadAndTwoGiveTheSameResult() {
        const BrokenBlock block(3);
        const Matrix44d twisted =
            turnAbout(Point3d(0, 1, 1), -2.0, Point3d(0.5, 0.5, 1.2), Point3d(0.01, 0, 0));
        const std::vector<RefineBody> bodies = {block.body(0), block.body(1, kTurned),
                                                block.body(2, twisted)};
        std::vector<RefinePointPair> pairs = picks(block, kTurned, 0.003);
        RefineOptions options = block.options();
        options.threads = 1;
        const RefineResult one = refineBodies(bodies, {{0, 1}, {1, 2}}, pairs, options);
        options.threads = 2;
        const RefineResult two = refineBodies(bodies, {{0, 1}, {1, 2}}, pairs, options);
        QCOMPARE(one.rounds, two.rounds);
        for (std::size_t b = 0; b < bodies.size(); ++b)
            QCOMPARE(one.motions[b], two.motions[b]);
        QCOMPARE(one.matches.size(), two.matches.size());
        for (std::size_t k = 0; k < one.matches.size(); ++k)
            QCOMPARE(one.matches[k].onB, two.matches[k].onB);
        QCOMPARE(one.meanAfter, two.meanAfter);
    }

    void anExactStartStaysExact() {
        const BrokenBlock block;
        const RefineResult r = refineBodies({block.body(0), block.body(1)}, {{0, 1}},
                                            picks(block, Matrix44d::Identity(), 0.0), block.options());
        const double off = block.offTrue(1, r.motions[1]);
        QVERIFY2(off < 1e-6 * block.shape.diagonal(), qPrintable(QString::number(off)));
        QVERIFY(r.rounds <= 2);
        QVERIFY(r.largestBefore < 1e-5 * block.shape.diagonal());
    }

    void theNearestPointOfATreeCarriesItsFacesNormal() {
        const BrokenBlock block;
        const TriangleTree& tree = *block.trees[0];
        const Matrix44d local = tree.worldFromLocal(block.meshes[0].placement).inverse();
        // Below the flat bottom of slab 0, which faces down.
        const Point3d below(0.3, 0.4, -0.1);
        const auto near = tree.closestPoint(transformPoint(local, below).cast<float>(), 0.2f);
        QVERIFY(near.has_value());
        const Point3d onSurface = transformPoint(local.inverse(), near->point.cast<double>());
        QVERIFY((onSurface - Point3d(0.3, 0.4, 0.0)).norm() < 1e-6);
        QVERIFY(std::abs(near->distance - 0.1f) < 1e-6f);
        QVERIFY((near->normal - TriangleTree::Vec3f(0, 0, -1)).norm() < 1e-6f);
        QVERIFY(!tree.closestPoint(transformPoint(local, below).cast<float>(), 0.05f));
    }

    void badInputMovesNothingAndDoesNotFail() {
        const BrokenBlock block;
        QVERIFY(refineBodies({}, {{0, 1}}, {}, block.options()).motions.empty());
        // A body without a tree for one of its placements is refused as a whole.
        RefineBody broken = block.body(1, kTurned);
        broken.trees.push_back(nullptr);
        broken.worldFromLocal.push_back(Matrix44d::Identity());
        const RefineResult r =
            refineBodies({block.body(0), broken}, {{0, 1}}, picks(block, kTurned, 0.0), block.options());
        QCOMPARE(r.motions[1], Matrix44d(Matrix44d::Identity()));
        // A pair naming a body that does not exist, a negative stiffness, and no contact distance.
        RefineOptions none = block.options();
        none.contactDistance = -1.0;
        const RefineResult s = refineBodies(
            {block.body(0), block.body(1, kTurned)}, {{0, 1}},
            {{0, 7, Point3d::Zero(), Point3d::Zero(), 1.0}, {0, 1, Point3d::Zero(), Point3d(1, 1, 1), -3.0}},
            none);
        QCOMPARE(s.motions[1], Matrix44d(Matrix44d::Identity()));
        QCOMPARE(s.withoutContact.size(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSurfaceRefine)
#include "test_surface_refine.moc"
