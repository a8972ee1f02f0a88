// The reassembly system: point pair bookkeeping, the unknown layout and its constraint rows, the
// iteration's edge cases, known-answer reassembly of scrambled objects at several scales, and the
// properties every run keeps (rigid results, an energy that never rises, one matrix file per run).

#include "entity_poses.h"
#include "point_pair_set.h"
#include "reassembly_solver.h"
#include "solver_test_support.h"

#include <Eigen/LU>

#include <QFile>
#include <QtTest>

namespace {

struct Run {
    std::vector<Matrix33d> rotations;
    std::vector<Point3d> translations;
    bool failed = false;
    QString out;
};

Run solve(ReassemblySolver& solver, double tolerance = 0.0) {
    Run run;
    StdoutCapture capture;
    solver.resetTransforms();
    solver.iterate(run.rotations, run.translations, run.failed, tolerance);
    run.out = capture.text();
    return run;
}

bool isRotation(const Matrix33d& r) {
    return orthonormalityError(r) <= 1e-12 && std::abs(determinant3x3(r) - 1.0) <= 1e-12;
}

QByteArray readFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestReassembly : public QObject {
    Q_OBJECT

private slots:
    // --- inputs -------------------------------------------------------------------------------

    void entityPosesResetToIdentityAndCycleColours() {
        EntityPoses poses;
        poses.reset(4);
        QCOMPARE(poses.count(), 4);
        const Color4b red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
        QCOMPARE(poses.color(0), red);
        QCOMPARE(poses.color(1), green);
        QCOMPARE(poses.color(2), blue);
        QCOMPARE(poses.color(3), red);
        poses.setPose(2, Matrix33d::Zero(), Point3d(1, 2, 3));
        poses.reset(3); // every entry is reset, not only new ones
        QCOMPARE(poses.rotation(2), Matrix33d(Matrix33d::Identity()));
        QCOMPARE(poses.translation(2), Point3d(Point3d::Zero()));
        poses.clear();
        QCOMPARE(poses.count(), 0);
    }

    void pairsKeepRecordsNumbersAndConstraintMap() {
        EntityPoses poses;
        poses.reset(3);
        PointPairSet set(poses);
        set.addPair(10, 0, 1, Point3d(1, 0, 0), Point3d(2, 0, 0), 5.0);
        set.addPair(20, 1, 2, Point3d(3, 0, 0), Point3d(4, 0, 0), 6.0);
        set.addPair(30, 2, 0, Point3d(5, 0, 0), Point3d(6, 0, 0), 7.0);
        QCOMPARE(set.records().size(), std::size_t(6));
        QCOMPARE(set.records()[3].pointNumber, 3);
        QCOMPARE(set.records()[3].entity, 2);
        QCOMPARE(set.records()[3].current, set.records()[3].initial);
        QCOMPARE(set.constraintMap(), (std::map<int, int>{{10, 0}, {20, 1}, {30, 2}}));

        QVERIFY(set.removePair(20));
        QCOMPARE(set.pairs().size(), std::size_t(2));
        QCOMPARE(set.pairs()[1].constraintId, 30);
        QCOMPARE(set.records().size(), std::size_t(6)); // records of removed pairs stay
        QCOMPARE(set.constraintMap(), (std::map<int, int>{{10, 0}, {30, 1}}));

        // An unknown id changes nothing (it must not remove pair 0).
        QVERIFY(!set.removePair(99));
        QCOMPARE(set.pairs().size(), std::size_t(2));

        // A pair added after a removal joins its own two new records, not older ones.
        set.addPair(40, 1, 2, Point3d(7, 0, 0), Point3d(8, 0, 0), 1.0);
        const PointPair& p = set.pairs().back();
        QCOMPARE(set.records()[std::size_t(p.record0)].initial, Point3d(7, 0, 0));
        QCOMPARE(set.records()[std::size_t(p.record1)].initial, Point3d(8, 0, 0));
        QCOMPARE(set.records()[std::size_t(p.record0)].pointNumber, 4);
        QCOMPARE(set.constraintMap().at(40), 2);

        // Every pair of a constraint with several point pairs goes.
        set.addPair(50, 0, 1, Point3d(0, 1, 0), Point3d(0, 2, 0), 1.0);
        set.addPair(10, 0, 1, Point3d(0, 3, 0), Point3d(0, 4, 0), 1.0);
        set.addPair(50, 0, 1, Point3d(0, 5, 0), Point3d(0, 6, 0), 1.0);
        QVERIFY(set.removePair(50));
        for (const PointPair& q : set.pairs())
            QVERIFY(q.constraintId != 50);
        QCOMPARE(set.pairs().size(), std::size_t(4));
        QCOMPARE(set.constraintMap(), (std::map<int, int>{{10, 3}, {30, 1}, {40, 2}}));

        set.clear();
        QVERIFY(set.pairs().empty() && set.records().empty() && set.constraintMap().empty());
        QVERIFY(set.records().capacity() >= 1000);
    }

    // --- the system ---------------------------------------------------------------------------

    // Two entities, one link: N = 30 with the documented positions of every unknown, and a solution
    // that meets each point's equation x_i = y_i + t_f + S_f q_i (q in the solve frame).
    void unknownLayoutAndPointEquations() {
        EntityPoses poses;
        poses.reset(2);
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        const Point3d p0(3.0, -1.0, 2.0), p1(5.0, 1.0, 0.5);
        set.addPair(1, 0, 1, p0, p1, 2.0);
        solver.resetTransforms();
        solver.computeCentroids();
        solver.buildLinks();
        QVERIFY(solver.solveFullSystem());
        QCOMPARE(solver.unknownCount(), 30);
        const SparseSystem& sys = solver.system();
        QCOMPARE(sys.size(), 30);
        QVERIFY(Eigen::MatrixXd(sys.matrix()).isApprox(Eigen::MatrixXd(sys.matrix()).transpose(), 0.0));
        QCOMPARE(sys.coefficient(0, 0), 1e-8);         // regularisation, entity unknowns only
        QCOMPARE(sys.coefficient(12, 15), -2.0);       // spring x_0 -- x_1
        QCOMPARE(sys.coefficient(12, 12), 2.0 + 1e7);  // x_0 belongs to the fixed entity
        QCOMPARE(sys.coefficient(15, 15), 2.0 + 1e-9); // x_1 does not
        QCOMPARE(sys.coefficient(18, 18), 1.0 + 1e7);  // slack y_0: anchor plus pin
        QCOMPARE(sys.coefficient(21, 21), 1.0 + 1e-9);
        QCOMPARE(sys.coefficient(12, 18), -1e7);
        QCOMPARE(sys.coefficient(30 - 1, 30 - 1), 0.0); // multipliers have no diagonal
        const Point3d o = solver.solveFrameOrigin();
        const double unit = solver.solveFrameUnit();
        QCOMPARE(o, Point3d((p0 + p1) / 2.0));
        const Point3d q0 = (p0 - o) / unit, q1 = (p1 - o) / unit;
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(sys.coefficient(24 + k, 12 + k), -1.0); // lambda_0 rows: x_0, t_0, y_0
            QCOMPARE(sys.coefficient(24 + k, 3 + k), 1.0);
            QCOMPARE(sys.coefficient(24 + k, 18 + k), 1.0);
            QCOMPARE(sys.coefficient(27 + k, 15 + k), -1.0); // lambda_1 rows: x_1, t_1, y_1
            QCOMPARE(sys.coefficient(27 + k, 9 + k), 1.0);
            QCOMPARE(sys.coefficient(27 + k, 21 + k), 1.0);
            QCOMPARE(sys.rightHandSide()(18 + k), q0[k]);
            QCOMPARE(sys.rightHandSide()(21 + k), q1[k]);
        }
        // Rotation columns of entity 1 (a, b, c at 6, 7, 8) in the rows of lambda_1.
        QCOMPARE(sys.coefficient(27, 8), -q1.y());
        QCOMPARE(sys.coefficient(27, 7), -q1.z());
        QCOMPARE(sys.coefficient(28, 8), q1.x());
        QCOMPARE(sys.coefficient(28, 6), -q1.z());
        QCOMPARE(sys.coefficient(29, 7), q1.x());
        QCOMPARE(sys.coefficient(29, 6), q1.y());

        const Eigen::VectorXd& x = sys.solution();
        QVERIFY((Eigen::MatrixXd(sys.matrix()) * x - sys.rightHandSide()).norm() <= 1e-6);
        auto s = [&x](int f) {
            Matrix33d m;
            const double a = x(6 * f), b = x(6 * f + 1), c = x(6 * f + 2);
            m << 0.0, -c, -b, c, 0.0, -a, b, a, 0.0;
            return m;
        };
        for (int i = 0; i < 2; ++i) {
            const Point3d q = i == 0 ? q0 : q1;
            const Point3d xi = x.segment<3>(12 + 3 * i), yi = x.segment<3>(18 + 3 * i);
            const Point3d ti = x.segment<3>(6 * i + 3);
            QVERIFY((xi - (yi + ti + s(i) * q)).norm() <= 1e-9);
        }
        // The linear step brings the two solved points together.
        QVERIFY((x.segment<3>(12) - x.segment<3>(15)).norm() <= 1e-6);
    }

    // A step solves the system with the slack points eliminated; its increments must be those of the
    // full saddle-point system. Random small problems with a pinned entity, pairs of stiffness 0,
    // pairs within one entity, an entity without points and a part not joined to entity 0.
    void reducedSystemGivesTheFullSystemsIncrements_data() {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<double>("size");
        for (unsigned seed = 1; seed <= 4; ++seed) {
            QTest::addRow("seed %u, unit size", seed) << seed << 1.0;
            QTest::addRow("seed %u, size 1e4", seed) << seed << 1e4;
        }
    }
    void reducedSystemGivesTheFullSystemsIncrements() {
        QFETCH(unsigned, seed);
        QFETCH(double, size);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::uniform_int_distribution<int> pick(0, 5);
        EntityPoses poses;
        poses.reset(8); // entity 6 has no points; entity 7 is joined only to itself and to nothing else
        PointPairSet set(poses);
        const auto point = [&]() -> Point3d {
            return size * Point3d(u(rng), u(rng), u(rng)) + Point3d(3e3, 0, 0);
        };
        int id = 0;
        for (int k = 0; k < 30; ++k) {
            const int a = pick(rng), b = (a + 1 + pick(rng) % 5) % 6;
            const double stiffness = k % 7 == 3 ? 0.0 : 0.5 + 3.0 * std::abs(u(rng));
            set.addPair(id++, a, b, point(), point(), stiffness);
        }
        set.addPair(id++, 2, 2, point(), point(), 1.0);
        set.addPair(id++, 7, 7, point(), point(), 2.0);
        ReassemblySolver solver(set);
        solver.resetTransforms();
        solver.findParts();
        solver.computeCentroids();
        solver.buildLinks();
        QVERIFY(solver.assembleAndSolve());
        const Eigen::VectorXd reduced = solver.increments();
        // The full system solved densely, with full pivoting in extended precision: its entity part is
        // the step's exact answer (the sparse LDL^T without pivoting is good to about 1e-8 here).
        solver.assembleSystem();
        using MatrixXld = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;
        const MatrixXld a = Eigen::MatrixXd(solver.system().matrix()).cast<long double>();
        const Eigen::VectorXd full = a.fullPivLu()
                                         .solve(solver.system().rightHandSide().cast<long double>())
                                         .head(6 * 8)
                                         .cast<double>();
        QCOMPARE(reduced.size(), full.size());
        QVERIFY2((reduced - full).norm() <= 1e-9 * full.norm(),
                 qPrintable(QString::number((reduced - full).norm() / full.norm())));
        QVERIFY(full.norm() > 0.0);
        QCOMPARE(reduced.segment<6>(6 * 6).norm(), 0.0); // no points: only the regularisation
        QCOMPARE(int(solver.anchored()[7]), 1);
    }

    // A part that no chain of pairs joins to entity 0 is solved on its own, its first entity held
    // where it was: the pairs of both parts close, and neither anchor moves.
    void partsNotJoinedToTheFixedEntityAreSolvedAroundTheirFirstEntity() {
        ScratchDir dir;
        EntityPoses poses;
        poses.reset(4);
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        const Point3d shift(0.3, -0.2, 0.1);
        for (const Point3d& q : {Point3d(0, 0, 0), Point3d(1, 0, 0), Point3d(0, 1, 0), Point3d(0, 0, 1)}) {
            set.addPair(0, 0, 1, q, q + shift, 1.0);
            set.addPair(1, 2, 3, q + Point3d(10, 0, 0), q + Point3d(10, 0, 0) - shift, 1.0);
        }
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QCOMPARE(solver.partOf(), (std::vector<int>{0, 0, 2, 2}));
        for (int held : {0, 2}) {
            QVERIFY(run.translations[std::size_t(held)].norm() == 0.0);
            QVERIFY(run.rotations[std::size_t(held)] == Matrix33d::Identity());
        }
        QVERIFY((run.translations[1] + shift).norm() <= 1e-9);
        QVERIFY((run.translations[3] - shift).norm() <= 1e-9);
    }

    // --- runs ---------------------------------------------------------------------------------

    void onePairBringsEntity1OntoFixedEntity() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(2);
        const Point3d p0(1.0, 2.0, 3.0), p1(4.0, -2.0, 0.0);
        set.addPair(7, 0, 1, p0, p1, 1.0);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QCOMPARE(solver.transforms()[0], Matrix44d(Matrix44d::Identity()));
        QCOMPARE(run.rotations[0], Matrix33d(Matrix33d::Identity()));
        QCOMPARE(run.translations[0], Point3d(Point3d::Zero()));
        QVERIFY((run.rotations[1] * p1 + run.translations[1] - p0).norm() <= 1e-9);
        QVERIFY(isRotation(run.rotations[1]));
        // Each step prints its header and its energy decrease; the energy falls until a step cannot
        // lower it.
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 * solver.lastRunSteps());
        for (int k = 0; k < lines.size(); k += 2) {
            QCOMPARE(lines[k], QStringLiteral("Doing Solve Skew Symmetric: YES "));
            QVERIFY(lines[k + 1].startsWith(QStringLiteral("ENERGY DIFF ")));
        }
        QVERIFY(lines[1].startsWith(QStringLiteral("ENERGY DIFF 5.")));
        QCOMPARE(lines.last(), QStringLiteral("ENERGY DIFF 0.000"));
        const auto& e = solver.energyTrace();
        QCOMPARE(e.front(), (p0 - p1).norm());
        for (std::size_t k = 1; k + 1 < e.size(); ++k)
            QVERIFY(e[k] < e[k - 1]);
        QCOMPARE(e.back(), e[e.size() - 2]);
        // The entity poses hold the result too.
        QCOMPARE(poses.rotation(1), run.rotations[1]);
        QCOMPARE(poses.translation(1), run.translations[1]);
    }

    void coincidentPointsEndAfterOneStep() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(2);
        set.addPair(1, 0, 1, Point3d(1, 1, 1), Point3d(1, 1, 1), 3.0);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QCOMPARE(solver.lastRunSteps(), 1);
        QCOMPARE(run.out, QStringLiteral("Doing Solve Skew Symmetric: YES \nENERGY DIFF 0.000\n"));
        QCOMPARE(solver.energyTrace(), (std::vector<double>{0.0, 0.0}));
        QCOMPARE(run.rotations[1], Matrix33d(Matrix33d::Identity()));
        QCOMPARE(run.translations[1], Point3d(Point3d::Zero()));
    }

    void zeroStiffnessLeavesEntitiesInPlace() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        const BrokenObject obj = brokenCube(4, 1.0, Point3d::Zero(), 1.0, 0.5);
        obj.feed(set, 0.0);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        for (std::size_t f = 0; f < run.rotations.size(); ++f) {
            QVERIFY((run.rotations[f] - Matrix33d::Identity()).cwiseAbs().maxCoeff() <= 1e-6);
            QVERIFY(run.translations[f].norm() <= 1e-6);
        }
    }

    void entitiesWithoutPairsGetIdentity() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(3);
        set.addPair(1, 0, 2, Point3d(0, 0, 0), Point3d(1, 0, 0), 1.0);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QCOMPARE(run.rotations.size(), std::size_t(3));
        QCOMPARE(run.rotations[1], Matrix33d(Matrix33d::Identity()));
        QCOMPARE(run.translations[1], Point3d(Point3d::Zero()));
        QVERIFY((run.translations[2] - Point3d(-1, 0, 0)).norm() <= 1e-9);

        poses.reset(0);
        set.clear();
        const Run empty = solve(solver);
        QVERIFY(!empty.failed);
        QVERIFY(empty.rotations.empty() && empty.translations.empty());
        QCOMPARE(readFile("matrix.txt"), QByteArray());
    }

    // A broken object with known true poses comes back together in one run, at any size and far
    // from the origin; the fixed entity does not move at all.
    void knownAnswerScrambledCube_data() {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("offset");
        for (unsigned seed = 1; seed <= 4; ++seed) {
            QTest::addRow("unit size, seed %u", seed) << seed << 1.0 << 0.0;
            QTest::addRow("size 1e5, seed %u", seed) << seed << 1e5 << 0.0;
            QTest::addRow("size 1e-3, seed %u", seed) << seed << 1e-3 << 0.0;
            QTest::addRow("unit size at 1e5, seed %u", seed) << seed << 1.0 << 1e5;
        }
    }
    void knownAnswerScrambledCube() {
        QFETCH(unsigned, seed);
        QFETCH(double, size);
        QFETCH(double, offset);
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        const BrokenObject obj = brokenCube(seed, size, Point3d(offset, -offset, 0.5 * offset), M_PI, 0.5);
        obj.feed(set);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QVERIFY(!solver.lastRunHitStepBound());
        const double err = obj.worstError(run.rotations, run.translations) / size;
        QVERIFY2(err <= 1e-5,
                 qPrintable(
                     QStringLiteral("relative error %1 after %2 steps").arg(err).arg(solver.lastRunSteps())));
        QCOMPARE(solver.transforms()[0], Matrix44d(Matrix44d::Identity()));
        for (const Matrix33d& r : run.rotations)
            QVERIFY(isRotation(r));
    }

    // Over many scrambled objects: every rotation produced (per run and per step, through the poses)
    // is orthonormal with determinant +1, and the energy never rises within a run. Some steps must
    // have been shortened, else the property would be untested.
    void runsStayRigidAndNeverRaiseTheEnergy() {
        ScratchDir dir;
        int shortened = 0;
        for (unsigned seed = 10; seed < 30; ++seed) {
            EntityPoses poses;
            PointPairSet set(poses);
            ReassemblySolver solver(set);
            const BrokenObject obj =
                seed % 2 ? brokenCube(seed, 2.0, Point3d(1, 2, 3), M_PI, 1.0) : brokenBar(seed, 6, M_PI, 2.0);
            obj.feed(set);
            solver.resetTransforms();
            StdoutCapture out;
            std::vector<double> energies{-1.0};
            bool allRigid = true;
            for (int k = 0; k < 200; ++k) {
                const ReassemblySolver::StepResult r = solver.step();
                if (energies.size() == 1)
                    energies[0] = r.energyBefore;
                energies.push_back(r.energyAfter);
                for (int f = 0; f < poses.count(); ++f)
                    allRigid = allRigid && isRotation(poses.rotation(f));
                shortened += r.scale > 0.0 && r.scale < 1.0;
                if (r.failed || r.dropped)
                    break;
            }
            out.text();
            QVERIFY(allRigid);
            for (std::size_t k = 1; k < energies.size(); ++k)
                QVERIFY2(energies[k] <= energies[k - 1], qPrintable(QString::number(seed)));
            QVERIFY(energies.back() <= 1e-6 * energies.front());

            const Run run = solve(solver);
            QVERIFY(!run.failed);
            for (std::size_t k = 1; k < solver.energyTrace().size(); ++k)
                QVERIFY(solver.energyTrace()[k] <= solver.energyTrace()[k - 1]);
            for (const Matrix33d& r : run.rotations)
                QVERIFY(isRotation(r));
            for (const Matrix44d& T : solver.transforms())
                QCOMPARE(T.row(3), Eigen::RowVector4d(0, 0, 0, 1));
        }
        QVERIFY(shortened > 0);
    }

    // --- matrix file, bounds and failures -------------------------------------------------------

    void matrixFileHoldsTheLastAssemblyOfTheRun() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        brokenCube(2, 1.0, Point3d::Zero(), 0.5, 0.2).feed(set);
        solver.resetTransforms();
        {
            StdoutCapture out;
            solver.step();
        }
        QVERIFY(!QFile::exists("matrix.txt")); // steps alone write nothing
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QVERIFY(solver.lastRunSteps() > 2);
        const QByteArray written = readFile("matrix.txt");
        QCOMPARE(solver.system().dumpMatrix("expected.txt"), SparseSystem::DumpResult::Written);
        QCOMPARE(written, readFile("expected.txt"));
        QCOMPARE(written.count('\n'), qsizetype(solver.unknownCount()));
        QCOMPARE(solver.unknownCount(), 6 * 8 + 18 * 48);
        QVERIFY(written.startsWith("0.0 ")); // rotation a of entity 0: 1e-8 prints as 0.0
    }

    void largeRunSkipsTheDenseDump() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        const BrokenObject obj = brokenBar(3, 40, 0.5, 0.3);
        obj.feed(set);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QCOMPARE(solver.unknownCount(), 6 * 40 + 18 * 156);
        QCOMPARE(run.out.count(QStringLiteral("MATRIX DUMP SKIPPED: N = 3048 is above 2000")), 1);
        QCOMPARE(readFile("matrix.txt"), QByteArray());
        QVERIFY(obj.worstError(run.rotations, run.translations) <= 1e-5 * obj.size);
    }

    // Stiffness 1e-12 against the 1e-8 regularisation: every step moves the entity by about 1e-4 of
    // the remaining way, so the energy keeps decreasing far beyond the bound.
    void endlessDecreaseStopsAtStepBound() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(2);
        set.addPair(1, 0, 1, Point3d(0, 0, 0), Point3d(1, 0, 0), 1e-12);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QVERIFY(solver.lastRunHitStepBound());
        QCOMPARE(solver.lastRunSteps(), ReassemblySolver::kMaxSteps);
        QCOMPARE(run.out.count(QStringLiteral("ENERGY DIFF")), ReassemblySolver::kMaxSteps);
        QCOMPARE(run.out.count(QStringLiteral(
                     "ITERATION STOPPED: 1000 steps reached while the energy still decreased\n")),
                 1);
        QVERIFY(run.out.endsWith(QStringLiteral("still decreased\n")));
        QVERIFY(run.translations[1].x() < 0.0);
        QVERIFY(solver.energyTrace().back() < solver.energyTrace().front());
    }

    void failuresLeaveOutputTablesUntouched_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("pair names a missing entity") << 0;
        QTest::newRow("entities added after reset") << 1;
        QTest::newRow("non-finite point") << 2;
    }
    void failuresLeaveOutputTablesUntouched() {
        QFETCH(int, kind);
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(2);
        set.addPair(1, 0, 1, Point3d(0, 0, 0), Point3d(1, 0, 0), 1.0);
        if (kind == 0)
            set.addPair(2, 0, 5, Point3d(0, 0, 0), Point3d(1, 0, 0), 1.0);
        if (kind == 2)
            set.addPair(2, 0, 1, Point3d(0, 0, 0), Point3d(std::nan(""), 0, 0), 1.0);
        solver.resetTransforms();
        if (kind == 1)
            poses.reset(3);
        std::vector<Matrix33d> rotations(1, Matrix33d::Zero());
        std::vector<Point3d> translations(1, Point3d(9, 9, 9));
        bool failed = false;
        StdoutCapture out;
        solver.iterate(rotations, translations, failed, 0.0);
        const QString printed = out.text();
        QVERIFY(failed);
        QCOMPARE(printed, QStringLiteral("Doing Solve Skew Symmetric: YES \n"));
        QCOMPARE(rotations.size(), std::size_t(1));
        QCOMPARE(rotations[0], Matrix33d(Matrix33d::Zero()));
        QCOMPARE(translations[0], Point3d(9, 9, 9));
        // A failed solve leaves its assembly in the matrix file; refused input assembles nothing.
        QCOMPARE(QFile::exists("matrix.txt"), kind == 2);
    }

    // Running again on the same input starts again from the initial positions.
    void secondRunRepeatsTheFirst() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        brokenCube(6, 1.0, Point3d::Zero(), 1.5, 0.5).feed(set);
        const Run first = solve(solver);
        const Run second = solve(solver);
        QVERIFY(!first.failed && !second.failed);
        for (std::size_t f = 0; f < first.rotations.size(); ++f) {
            QVERIFY((first.rotations[f] - second.rotations[f]).cwiseAbs().maxCoeff() <= 1e-12);
            QVERIFY((first.translations[f] - second.translations[f]).norm() <= 1e-12);
        }
    }

    void removedPairNoLongerPulls() {
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet set(poses);
        ReassemblySolver solver(set);
        poses.reset(2);
        set.addPair(1, 0, 1, Point3d(0, 0, 0), Point3d(1, 0, 0), 1.0);
        set.addPair(2, 0, 1, Point3d(0, 5, 0), Point3d(0, 0, 7), 1.0);
        QVERIFY(set.removePair(2));
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        QVERIFY((run.translations[1] - Point3d(-1, 0, 0)).norm() <= 1e-9);
        QVERIFY((run.rotations[1] - Matrix33d::Identity()).cwiseAbs().maxCoeff() <= 1e-9);
    }
};

QTEST_GUILESS_MAIN(TestReassembly)
#include "test_reassembly.moc"
