// The reassembly system: point pair bookkeeping, the unknown layout and its constraint rows, the
// iteration's edge cases, known-answer reassembly of scrambled objects at several scales, and the
// properties every run keeps (rigid results, an energy that never rises, one matrix file per run).

#include "entity_poses.h"
#include "point_pair_set.h"
#include "reassembly_solver.h"
#include "solver_test_support.h"

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
    void knownAnswerScrambledCube_data() {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("maxAngle");
        for (unsigned seed = 1; seed <= 5; ++seed) {
            QTest::addRow("unit seed %u", seed) << seed << 1.0 << 0.0 << 3.14159;
            QTest::addRow("1e5 seed %u", seed) << seed << 1e5 << 0.0 << 3.14159;
            QTest::addRow("1e-3 seed %u", seed) << seed << 1e-3 << 0.0 << 3.14159;
            QTest::addRow("offset seed %u", seed) << seed << 1.0 << 1e3 << 3.14159;
        }
    }
    void knownAnswerScrambledCube() {
        QFETCH(unsigned, seed);
        QFETCH(double, size);
        QFETCH(double, offset);
        QFETCH(double, maxAngle);
        ScratchDir dir;
        EntityPoses poses;
        PointPairSet pairs(poses);
        ReassemblySolver solver(pairs);
        const BrokenObject obj = brokenCube(seed, size, Point3d(offset, -offset, offset), maxAngle, 0.5);
        obj.feed(pairs);
        const Run run = solve(solver);
        QVERIFY(!run.failed);
        const double err = obj.worstError(run.rotations, run.translations) / size;
        qInfo("steps %d, relative error %g", solver.lastRunSteps(), err);
        QVERIFY2(err <= 1e-5, qPrintable(QString::number(err)));
    }
};

QTEST_GUILESS_MAIN(TestReassembly)
#include "test_reassembly.moc"
