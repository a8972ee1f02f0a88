// The linear-algebra layer: sparse accumulation, the LDL^T solve on systems with known solutions and
// on singular ones, the text dump of the matrix, and the dense 3x3 helpers that turn a linear
// increment into a rotation.

#include "rigid_math.h"
#include "solver_test_support.h"
#include "sparse_system.h"

#include <QFile>
#include <QtTest>

#include <Eigen/Dense>
#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <random>

namespace {

QByteArray readFile(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

Matrix33d skew(double a, double b, double c) {
    Matrix33d s;
    s << 0.0, -c, -b, c, 0.0, -a, b, a, 0.0;
    return s;
}

// Fills sys with the saddle-point matrix [[H, B^T], [B, 0]] (H symmetric positive definite, B of full
// row rank), random but reproducible, and returns it densely.
Eigen::MatrixXd fillSaddlePoint(SparseSystem& sys, int primal, int dual, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int n = primal + dual;
    sys.reset(n);
    for (int i = 0; i < primal; ++i) {
        sys.addDiagonal(i, 4.0 + u(rng));
        if (i + 1 < primal)
            sys.addSpring(i, i + 1, 1.0 + 0.5 * u(rng));
    }
    for (int k = 0; k < dual; ++k) {
        sys.addSymmetric(primal + k, k, 1.0);
        sys.addSymmetric(primal + k, (k + 3) % primal, u(rng));
    }
    return Eigen::MatrixXd(sys.matrix());
}

} // namespace

class TestLinearAlgebra : public QObject {
    Q_OBJECT

private slots:
    // --- accumulation -------------------------------------------------------------------------

    void primitivesAccumulateIntoEntries() {
        SparseSystem sys;
        sys.reset(3);
        sys.addCoefficient(0, 1, 2.0);
        sys.addCoefficient(0, 1, 0.5);
        sys.addSymmetric(2, 0, -1.5);
        sys.addSpring(1, 2, 3.0);
        sys.addDiagonal(1, 0.25);
        sys.addRightHandSide(2, 7.0);
        sys.addRightHandSide(2, -1.0);
        Eigen::Matrix3d expected;
        expected << 0.0, 2.5, -1.5, 0.0, 3.25, -3.0, -1.5, -3.0, 3.0;
        QCOMPARE(Eigen::MatrixXd(sys.matrix()), Eigen::MatrixXd(expected));
        QCOMPARE(sys.rightHandSide(), Eigen::VectorXd(Eigen::Vector3d(0.0, 0.0, 6.0)));
        // Additions of 0 create entries; reading an absent coefficient creates none.
        sys.addCoefficient(1, 0, 0.0);
        QVERIFY(sys.hasEntry(1, 0));
        const auto before = sys.matrix().nonZeros();
        QCOMPARE(sys.coefficient(0, 0), 0.0);
        QCOMPARE(sys.coefficient(1, 0), 0.0);
        QVERIFY(!sys.hasEntry(0, 0));
        QCOMPARE(sys.matrix().nonZeros(), before);
        // Reading between additions does not change how later additions sum.
        sys.addCoefficient(0, 1, 1.0);
        QCOMPARE(sys.coefficient(0, 1), 3.5);
        sys.reset(2);
        QCOMPARE(sys.matrix().nonZeros(), Eigen::Index(0));
        QCOMPARE(sys.rightHandSide(), Eigen::VectorXd(Eigen::Vector2d::Zero()));
    }

    // --- linear solve -------------------------------------------------------------------------

    void saddlePointSystemSolvedToKnownAnswer_data() {
        QTest::addColumn<int>("primal");
        QTest::addColumn<int>("dual");
        QTest::newRow("small") << 6 << 2;
        QTest::newRow("medium") << 60 << 25;
        QTest::newRow("large") << 600 << 250;
    }
    void saddlePointSystemSolvedToKnownAnswer() {
        QFETCH(int, primal);
        QFETCH(int, dual);
        SparseSystem sys;
        const Eigen::MatrixXd dense = fillSaddlePoint(sys, primal, dual, 7);
        QVERIFY(dense.isApprox(dense.transpose(), 0.0)); // stored in full and exactly symmetric
        Eigen::VectorXd known = Eigen::VectorXd::LinSpaced(primal + dual, -2.0, 3.0);
        const Eigen::VectorXd b = dense * known;
        for (int k = 0; k < b.size(); ++k)
            sys.addRightHandSide(k, b(k));
        QVERIFY(sys.solveLinearSystem());
        QCOMPARE(sys.solution().size(), Eigen::Index(primal + dual));
        QVERIFY((sys.solution() - known).norm() <= 1e-10 * known.norm());
        QVERIFY((dense * sys.solution() - b).norm() <= 1e-12 * b.norm());
    }

    void unknownsTouchedOnlyByDiagonalStayExactlyZero() {
        SparseSystem sys;
        sys.reset(5);
        for (int k = 0; k < 3; ++k)
            sys.addDiagonal(k, 1e-8);
        sys.addSpring(3, 4, 2.0);
        sys.addDiagonal(3, 1.0);
        sys.addRightHandSide(4, 1.0);
        QVERIFY(sys.solveLinearSystem());
        for (int k = 0; k < 3; ++k)
            QCOMPARE(sys.solution()(k), 0.0);
        QCOMPARE(sys.solution()(3), 1.0);
        QCOMPARE(sys.solution()(4), 1.5);
    }

    void singularOrNonFiniteSystemsFail_data() {
        QTest::addColumn<double>("pivot");
        QTest::newRow("zero pivot") << 0.0;
        QTest::newRow("NaN coefficient") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite coefficient") << std::numeric_limits<double>::infinity();
        QTest::newRow("pivot whose inverse overflows") << 1e-320;
    }
    void singularOrNonFiniteSystemsFail() {
        QFETCH(double, pivot);
        SparseSystem sys;
        sys.reset(1);
        sys.addCoefficient(0, 0, pivot);
        sys.addRightHandSide(0, 1.0);
        QVERIFY(!sys.solveLinearSystem());
        // A zero pivot deep inside a larger system is found as well.
        sys.reset(3);
        sys.addDiagonal(0, 1.0);
        sys.addSymmetric(0, 1, 1.0);
        sys.addDiagonal(1, 1.0);
        sys.addDiagonal(2, 1.0);
        QVERIFY(!sys.solveLinearSystem());
    }

    void emptySystemHasEmptySolution() {
        SparseSystem sys;
        sys.reset(0);
        QVERIFY(sys.solveLinearSystem());
        QCOMPARE(sys.solution().size(), Eigen::Index(0));
    }

    // --- matrix dump --------------------------------------------------------------------------

    void dumpWritesEveryCoefficientWithOneDecimal() {
        ScratchDir dir;
        QVERIFY(dir.isValid());
        SparseSystem sys;
        sys.reset(2);
        sys.addSpring(0, 1, 1.0);
        QCOMPARE(sys.dumpMatrix(), SparseSystem::DumpResult::Written);
        QCOMPARE(readFile("matrix.txt"), QByteArray("1.0 -1.0 \n-1.0 1.0 \n"));

        // Not symmetric, absent coefficients, rounding, large values, and a lone -0.0 addition
        // (accumulated into a zero entry it is +0.0).
        sys.reset(3);
        sys.addCoefficient(0, 2, 2.25);
        sys.addCoefficient(2, 0, -0.04);
        sys.addCoefficient(1, 1, 1e7 + 1.0);
        sys.addCoefficient(2, 1, -0.0);
        sys.addCoefficient(2, 2, 0.15);
        const auto entries = sys.matrix().nonZeros();
        QCOMPARE(sys.dumpMatrix(), SparseSystem::DumpResult::Written);
        QCOMPARE(readFile("matrix.txt"), QByteArray("0.0 0.0 2.2 \n0.0 10000001.0 0.0 \n-0.0 0.0 0.1 \n"));
        QCOMPARE(sys.matrix().nonZeros(), entries);
        QCOMPARE(sys.coefficient(0, 2), 2.25);

        sys.reset(0);
        QCOMPARE(sys.dumpMatrix(), SparseSystem::DumpResult::Written);
        QCOMPARE(readFile("matrix.txt"), QByteArray());
    }

    void dumpOfLargeMatrixIsSkippedWithReason() {
        ScratchDir dir;
        SparseSystem sys;
        sys.reset(SparseSystem::kMaxDenseDumpSize);
        for (int k = 0; k < sys.size(); ++k)
            sys.addDiagonal(k, 1.0);
        QCOMPARE(sys.dumpMatrix(), SparseSystem::DumpResult::Written);
        const QByteArray text = readFile("matrix.txt");
        QCOMPARE(text.count('\n'), qsizetype(sys.size()));
        QCOMPARE(text.size(), qsizetype(4 * sys.size() * sys.size() + sys.size()));
        QVERIFY(text.startsWith("1.0 0.0 0.0 "));
        QVERIFY(text.endsWith("0.0 0.0 1.0 \n"));

        sys.reset(SparseSystem::kMaxDenseDumpSize + 1);
        StdoutCapture out;
        const auto result = sys.dumpMatrix();
        const QString line = out.text();
        QCOMPARE(result, SparseSystem::DumpResult::SkippedTooLarge);
        QCOMPARE(line, QStringLiteral("MATRIX DUMP SKIPPED: N = 2001 is above 2000 "
                                      "(the dense text would take about 16 MB)\n"));
        QCOMPARE(readFile("matrix.txt"), QByteArray()); // no stale matrix of an earlier run
    }

    void dumpToUnwritablePlaceIsReported() {
        ScratchDir dir;
        SparseSystem sys;
        sys.reset(1);
        QCOMPARE(sys.dumpMatrix("no/such/dir/matrix.txt"), SparseSystem::DumpResult::NotOpened);
    }

    // --- dense helpers ------------------------------------------------------------------------

    void determinantAndInverseAgreeWithIdentities() {
        std::mt19937 rng(3);
        std::uniform_real_distribution<double> u(-2.0, 2.0);
        for (int trial = 0; trial < 200; ++trial) {
            Matrix33d m;
            for (int k = 0; k < 9; ++k)
                m(k / 3, k % 3) = u(rng);
            const double d = determinant3x3(m);
            QVERIFY(std::abs(d - m.determinant()) <= 1e-12 * (1.0 + std::abs(d)));
            if (std::abs(d) < 1e-3)
                continue;
            const Matrix33d inv = invert3x3(m);
            QVERIFY((inv * m - Matrix33d::Identity()).cwiseAbs().maxCoeff() <= 1e-9);
            QVERIFY(std::abs(determinant3x3(inv) * d - 1.0) <= 1e-9);
        }
        QCOMPARE(determinant3x3(Matrix33d::Identity()), 1.0);
        QCOMPARE(determinant3x3(Eigen::Vector3d(1.0, 1.0, -1.0).asDiagonal().toDenseMatrix()), -1.0);
    }

    void identityIncrementNeedsNoRound() {
        StdoutCapture out;
        const RigidIncrement inc =
            orthonormalizeIncrement(Matrix33d::Identity(), Point3d(1.0, -2.0, 3.0), Point3d(5.0, 6.0, 7.0));
        const QString printed = out.text();
        QVERIFY(inc.ok);
        QCOMPARE(inc.rounds, 0);
        QCOMPARE(inc.rotation, Matrix33d(Matrix33d::Identity()));
        QCOMPARE(inc.translation, Point3d(1.0, -2.0, 3.0));
        QCOMPARE(printed, QString());
    }

    // I + S(w) has the polar factor "turn by atan|w| about w": the rounds must reach that rotation,
    // orthonormal to machine precision, also for increments so small that det(I + S) = 1 + |w|^2
    // already lies within 0.1 % of 1.
    void skewIncrementBecomesExactRotation_data() {
        QTest::addColumn<double>("magnitude");
        for (double m : {1e-6, 1e-3, 0.02, 0.1, 0.5, 1.0, 3.0, 30.0})
            QTest::addRow("|s| = %g", m) << m;
    }
    void skewIncrementBecomesExactRotation() {
        QFETCH(double, magnitude);
        std::mt19937 rng(unsigned(magnitude * 1e6) + 1);
        std::normal_distribution<double> g;
        for (int trial = 0; trial < 20; ++trial) {
            const Eigen::Vector3d abc = magnitude * Eigen::Vector3d(g(rng), g(rng), g(rng)).normalized();
            const Matrix33d m = Matrix33d::Identity() + skew(abc.x(), abc.y(), abc.z());
            const Point3d t(0.3, -0.2, 0.1), c(10.0, -4.0, 2.5);
            StdoutCapture out;
            const RigidIncrement inc = orthonormalizeIncrement(m, t, c);
            const QString printed = out.text();
            QVERIFY(inc.ok);
            QCOMPARE(printed, QString());
            QVERIFY(orthonormalityError(inc.rotation) <= 1e-12);
            QVERIFY(std::abs(determinant3x3(inc.rotation) - 1.0) <= 1e-12);
            // S(a, b, c) = [w]x with w = (a, -b, c).
            const Eigen::Vector3d w(abc.x(), -abc.y(), abc.z());
            const Matrix33d expected =
                Eigen::AngleAxisd(std::atan(w.norm()), w.normalized()).toRotationMatrix();
            QVERIFY2((inc.rotation - expected).cwiseAbs().maxCoeff() <= 1e-12,
                     qPrintable(QString::number((inc.rotation - expected).cwiseAbs().maxCoeff())));
            // The centroid lands where the linear increment puts it.
            QVERIFY((inc.rotation * c + inc.translation - (m * c + t)).norm() <= 1e-12 * (1.0 + c.norm()));
        }
    }

    void smallIncrementIsNotLeftScaled() {
        // det(I + S) = 1.0004 is inside [0.999, 1.001], yet I + S stretches by 0.02 %.
        const Matrix33d m = Matrix33d::Identity() + skew(0.02, 0.0, 0.0);
        QVERIFY(std::abs(determinant3x3(m) - 1.0) < 1e-3);
        QVERIFY(orthonormalityError(m) > 1e-4);
        const RigidIncrement inc = orthonormalizeIncrement(m, Point3d::Zero(), Point3d::Zero());
        QVERIFY(inc.ok);
        QVERIFY(inc.rounds >= 1);
        QVERIFY(orthonormalityError(inc.rotation) <= 1e-12);
        const Point3d p(1.0, 2.0, 3.0);
        QVERIFY(std::abs((inc.rotation * p).norm() - p.norm()) <= 1e-12 * p.norm());
    }

    void reflectionsAndSingularIncrementsAreRefused_data() {
        QTest::addColumn<Matrix33d>("m");
        QTest::newRow("mirror z") << Matrix33d(Eigen::Vector3d(1.0, 1.0, -1.0).asDiagonal());
        QTest::newRow("point inversion") << Matrix33d(-Matrix33d::Identity());
        const Matrix33d turn =
            Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
        QTest::newRow("turned, stretched mirror")
            << Matrix33d(turn * Eigen::Vector3d(2.0, 0.5, -1.5).asDiagonal().toDenseMatrix());
        QTest::newRow("zero") << Matrix33d(Matrix33d::Zero());
        QTest::newRow("rank one") << Matrix33d(Eigen::Vector3d(1, 2, 3) * Eigen::RowVector3d(1, 0, 1));
        Matrix33d nan = Matrix33d::Identity();
        nan(1, 2) = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("NaN") << nan;
    }
    void reflectionsAndSingularIncrementsAreRefused() {
        QFETCH(Matrix33d, m);
        StdoutCapture out;
        const RigidIncrement inc = orthonormalizeIncrement(m, Point3d(1, 2, 3), Point3d(4, 5, 6));
        out.text();
        QVERIFY(!inc.ok);
    }

    void slowPolarConvergenceStillGivesRotation() {
        // Singular values 1e40, 1, 1: a hundred halvings leave det about 8e9.
        const Matrix33d m = Eigen::Vector3d(1e40, 1.0, 1.0).asDiagonal().toDenseMatrix();
        StdoutCapture out;
        const RigidIncrement inc = orthonormalizeIncrement(m, Point3d::Zero(), Point3d::Zero());
        const QString printed = out.text();
        QVERIFY(inc.ok);
        QCOMPARE(inc.rounds, kMaxPolarRounds);
        QVERIFY(printed.startsWith(QStringLiteral("DETERMINANT: ")));
        QVERIFY(!printed.contains('\n'));
        QVERIFY((inc.rotation - Matrix33d::Identity()).cwiseAbs().maxCoeff() <= 1e-12);
    }

    void composeAndDecomposeAreInverse() {
        const Matrix33d r = Eigen::AngleAxisd(1.2, Eigen::Vector3d(0, 1, 1).normalized()).toRotationMatrix();
        const Point3d t(4.0, -5.0, 6.0);
        const Matrix44d T = composeTransform(r, t);
        QCOMPARE(T.row(3), Eigen::RowVector4d(0.0, 0.0, 0.0, 1.0));
        const Point3d p(0.5, 0.25, -2.0);
        QVERIFY((transformPoint(T, p) - (r * p + t)).norm() <= 1e-14);
        Matrix33d r2;
        Point3d t2;
        decomposeTransform(T, r2, t2);
        QCOMPARE(r2, r);
        QCOMPARE(t2, t);
        // Products compose motions: (T2 T1) p = T2 (T1 p).
        const Matrix44d T2 = composeTransform(r.transpose(), Point3d(1, 1, 1));
        QVERIFY((transformPoint(T2 * T, p) - transformPoint(T2, transformPoint(T, p))).norm() <= 1e-13);
    }
};

QTEST_GUILESS_MAIN(TestLinearAlgebra)
#include "test_linear_algebra.moc"
