// What a Solve left wrong, on graphs of real mesh files: the misfit rule (a gap far above the
// median and above a hundredth of the assembly's size, whatever the stiffness), the size from the
// current meshes or, without meshes, from the constraint points, and the sentences for reports
// filled by hand (unconnected pieces, open joints, misfits) with the names they use.

#include "../scene/scene_fixtures.h"
#include "solve_diagnosis.h"

#include <QtTest>
#include <cmath>

namespace {
// Two unit tetrahedra side by side (box 4 x 1 x 1, diagonal sqrt(18) = 4.24, a hundredth 0.042)
// and one band between them for every gap, its points at x = 1 and 1 + gap.
struct Pair {
    TotalGraph graph;
    FragGroup* a;
    FragGroup* b;

    Pair(const QTemporaryDir& dir, const std::vector<double>& gaps, const QString& missing = QString()) {
        a = addFragment(graph, missing.isEmpty() ? writeTetrahedron(dir, "left.ply") : missing);
        b = addFragment(graph, missing.isEmpty() ? writeTetrahedron(dir, "right.ply", {3, 0, 0}) : missing);
        double y = 0.0;
        for (double gap : gaps) {
            addBand(graph, a, b, {1.0, y, 0.0}, {1.0 + gap, y, 0.0});
            y += 0.01;
        }
    }
};

QString names(const QStringList& sentences) {
    return sentences.join(QLatin1Char('\n'));
}

SolveLevelReport level(int number) {
    SolveLevelReport r;
    r.level = number;
    r.iterated = true;
    return r;
}
} // namespace

class TestSolveDiagnosis : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { installMeshReaders(); }

    void misfitRule_data() {
        QTest::addColumn<std::vector<double>>("gaps");
        QTest::addColumn<double>("median");
        QTest::addColumn<std::vector<int>>("misfits");
        const std::vector<double> tenSmall(10, 0.01);
        auto with = [](std::vector<double> gaps, double extra) {
            gaps.push_back(extra);
            return gaps;
        };
        QTest::newRow("far above both") << with(tenSmall, 0.3) << 0.01 << std::vector<int>{10};
        // 5.5 and 4.5 times the median, both above a hundredth of the size.
        QTest::newRow("above five medians")
            << with(std::vector<double>(10, 0.1), 0.55) << 0.1 << std::vector<int>{10};
        QTest::newRow("below five medians")
            << with(std::vector<double>(10, 0.1), 0.45) << 0.1 << std::vector<int>{};
        // 30 times the median, but below a hundredth of the size: noise, not a mis-pick.
        QTest::newRow("small for the size")
            << with(std::vector<double>(10, 0.001), 0.03) << 0.001 << std::vector<int>{};
        // Every other band met exactly: only the size decides.
        QTest::newRow("others exact")
            << with(std::vector<double>(10, 0.0), 0.05) << 0.0 << std::vector<int>{10};
        // An even count: the median lies halfway between the middle two.
        QTest::newRow("even count") << std::vector<double>{0.1, 0.1, 0.1, 0.2, 0.95, 0.7} << 0.15
                                    << std::vector<int>{4};
        QTest::newRow("one band") << std::vector<double>{2.0} << 2.0 << std::vector<int>{};
        QTest::newRow("no band") << std::vector<double>{} << 0.0 << std::vector<int>{};
    }

    void misfitRule() {
        QFETCH(std::vector<double>, gaps);
        QFETCH(double, median);
        QFETCH(std::vector<int>, misfits);
        Pair p(dir, gaps);
        QCOMPARE(misfitConstraints(p.graph).ids, misfits);
        QVERIFY(std::abs(misfitConstraints(p.graph).medianGap - median) < 1e-12);
        // The stiffness weighs a band in the solve, not its gap.
        for (const auto& [id, c] : p.graph.constraintTable())
            c->setStiffness(1 + id % 4);
        QCOMPARE(misfitConstraints(p.graph).ids, misfits);
    }

    void aMisPicksPullOnItsNeighboursNamesItAlone() {
        // Pieces a-b-c-d in a chain and e-f apart, twenty bands 0.01 apart; above both bars: a-b
        // 0.3 with b-c 0.2 and c-d 0.25 pulled along (c-d through b-c), and e-f 0.15 on pieces of
        // their own.
        TotalGraph g;
        std::vector<GeometrObj*> piece;
        for (int i = 0; i < 6; ++i)
            piece.push_back(addFragment(g, writeTetrahedron(dir, QStringLiteral("chain_%1.ply").arg(i))));
        for (int k = 0; k < 20; ++k)
            addBand(g, piece[std::size_t(k % 3)], piece[std::size_t(k % 3 + 1)], {0, 0.01 * k, 0},
                    {0.01, 0.01 * k, 0});
        const std::pair<std::pair<int, int>, double> wide[] = {
            {{2, 3}, 0.25}, {{0, 1}, 0.3}, {{1, 2}, 0.2}, {{4, 5}, 0.15}};
        std::vector<int> ids;
        for (const auto& [ends, gap] : wide)
            ids.push_back(addBand(g, piece[std::size_t(ends.first)], piece[std::size_t(ends.second)],
                                  {0, 1, 0}, {gap, 1, 0})
                              ->id());
        QCOMPARE(misfitConstraints(g).ids, (std::vector<int>{ids[1], ids[3]}));
        // Fixed, the next one shows.
        g.removeConstraint(ids[1]);
        QCOMPARE(misfitConstraints(g).ids, (std::vector<int>{ids[0], ids[3]}));
    }

    void theGapIsTheDistanceOfTheCurrentPoints() {
        // Picked 0.001 apart, then moved 0.5 apart: its relative error (500) and its gap disagree.
        // The ten others stay at 0.01 apart.
        Pair p(dir, std::vector<double>(10, 0.01));
        FragGroup* c = addFragment(p.graph, writeTetrahedron(dir, "third.ply", {0, 3, 0}));
        RBand* moved = addBand(p.graph, p.a, c, {0.2, 0.8, 0}, {0.2, 0.801, 0});
        const Matrix44d shift = translation(0.5, 0, 0);
        c->applyTransform(&shift);
        QVERIFY(std::abs(constraintGap(*moved) - std::hypot(0.5, 0.001)) < 1e-12);
        QVERIFY(moved->error() > 400);
        const Misfits found = misfitConstraints(p.graph);
        QCOMPARE(found.ids, std::vector<int>{moved->id()});
        QVERIFY(std::abs(found.medianGap - 0.01) < 1e-12);
        // Moved back, its relative error is still 141 %, but a gap of 0.0014 is no misfit.
        const Matrix44d back = translation(-0.5, 0, -0.001);
        c->applyTransform(&back);
        QVERIFY(misfitConstraints(p.graph).ids.empty());
    }

    void sizeComesFromTheCurrentMeshesElseFromThePoints() {
        Pair p(dir, {0.01, 0.02});
        QVERIFY(std::abs(assemblySize(p.graph) - std::sqrt(18.0)) < 1e-9);
        const Matrix44d away = translation(0, 0, 8);
        p.b->applyTransform(&away);
        QVERIFY(std::abs(assemblySize(p.graph) - Point3d(4, 1, 9).norm()) < 1e-9);
        // A fragment in a group counts as well.
        FragGroup* group = addGroup(p.graph);
        FragGroup* far = addFragment(p.graph, writeTetrahedron(dir, "far.ply", {0, 20, 0}));
        group->addChild(far);
        QVERIFY(std::abs(assemblySize(p.graph) - Point3d(4, 21, 9).norm()) < 1e-9);

        // Without meshes: the box of the band points, (1, 0, 0) to (1.02, 0.01, 0).
        Pair bare(dir, {0.01, 0.02}, dir.filePath("absent.ply"));
        QVERIFY(!bare.a->wrappedFragment()->hasMesh());
        QVERIFY(std::abs(assemblySize(bare.graph) - Point3d(0.02, 0.01, 0).norm()) < 1e-12);
        TotalGraph empty;
        QCOMPARE(assemblySize(empty), 0.0);
        QVERIFY(misfitConstraints(empty).ids.empty());
    }

    void namesAreShortAndFollowRenaming() {
        TotalGraph g;
        FragGroup* piece = addFragment(g, writeTetrahedron(dir, "piece_7.ply"));
        FragGroup* dotted = addFragment(g, writeTetrahedron(dir, "rim.part.obj.ply"));
        FragGroup* renamed = addFragment(g, writeTetrahedron(dir, "x.ply"));
        renamed->wrappedFragment()->setName(QStringLiteral("handle"));
        FragGroup* group = addGroup(g);
        QCOMPARE(shortName(*piece), QStringLiteral("piece_7"));
        QCOMPARE(shortName(*piece->wrappedFragment()), QStringLiteral("piece_7"));
        QCOMPARE(shortName(*dotted), QStringLiteral("rim.part.obj"));
        QCOMPARE(shortName(*renamed), QStringLiteral("handle"));
        QCOMPARE(shortName(*group), group->displayName());
        group->setName(QStringLiteral("Neck"));
        QCOMPARE(shortName(*group), QStringLiteral("Neck"));

        QCOMPARE(shortList({}), QString());
        QCOMPARE(shortList({"a", "b", "c"}), QStringLiteral("a, b, c"));
        QCOMPARE(shortList({"a", "b", "c", "d", "e"}), QStringLiteral("a, b, c and 2 more"));
    }

    void sentencesForFilledReports() {
        TotalGraph g;
        std::vector<int> ids;
        for (int i = 1; i <= 9; ++i)
            ids.push_back(addFragment(g, writeTetrahedron(dir, QStringLiteral("piece_%1.ply").arg(i)))->id());
        FragGroup* neck = addGroup(g);
        neck->setName(QStringLiteral("Neck"));
        auto id = [&ids](int piece) { return ids[std::size_t(piece - 1)]; };

        QVERIFY(solveDiagnosis({}, g).isEmpty());
        QVERIFY(solveDiagnosis({level(0)}, g).isEmpty());

        SolveLevelReport top = level(0);
        top.unconnected = {id(7), id(8), id(9)};
        QCOMPARE(
            names(solveDiagnosis({top}, g)),
            QStringLiteral("3 pieces are not connected to the rest: piece_7, piece_8, piece_9 kept where "
                           "they were."));
        // Over several levels: one sentence, each piece once, long lists shortened.
        SolveLevelReport inner = level(1);
        inner.unconnected = {id(1), neck->id(), id(7)};
        top.unconnected = {id(7), id(2), id(3)};
        QCOMPARE(
            names(solveDiagnosis({inner, top}, g)),
            QStringLiteral("5 pieces are not connected to the rest: piece_1, Neck, piece_7 and 2 more kept "
                           "where they were."));
        top.unconnected = {id(4)};
        QCOMPARE(names(solveDiagnosis({top}, g)),
                 QStringLiteral("piece_4 is not connected to the rest: kept where it was."));

        top.unconnected.clear();
        top.openJoints = {{id(2), id(5), 2}, {id(1), neck->id(), 1}, {id(3), id(4), 4}};
        QCOMPARE(names(solveDiagnosis({top}, g)),
                 QStringLiteral("piece_2 – piece_5: the turn about the line through their 2 points is not "
                                "fixed; add a point off that line.\n"
                                "piece_1 – Neck: the turn about their one shared point is not fixed; add two "
                                "points away from it.\n"
                                "piece_3 – piece_4: the turn about the line through their 4 points is not "
                                "fixed; add a point off that line."));

        // Unconnected pieces first, then open joints level by level, then misfit bands.
        for (int k = 0; k < 6; ++k)
            addBand(g, g.getObject(id(1)), g.getObject(id(2)), {0.1 * k, 0, 0}, {0.1 * k, 0.01, 0});
        addBand(g, g.getObject(id(1)), g.getObject(id(2)), {0, 1, 0}, {0, 1.3, 0});
        top.openJoints = {{id(2), id(5), 3}};
        inner.unconnected = {id(6)};
        QCOMPARE(
            names(solveDiagnosis({inner, top}, g)),
            QStringLiteral("piece_6 is not connected to the rest: kept where it was.\n"
                           "piece_2 – piece_5: the turn about the line through their 3 points is not "
                           "fixed; add a point off that line.\n"
                           "RBand 6 disagrees with the others (distance 0.3, 30× the median): likely picked "
                           "in the wrong place; check it."));
    }

    void misfitSentenceFigures() {
        // The distance keeps three digits; with the others met exactly there is no multiple to give.
        Pair exact(dir, {0.0, 0.0, 0.0, 0.1234});
        QCOMPARE(names(solveDiagnosis({}, exact.graph)),
                 QStringLiteral("RBand 3 disagrees with the others (distance 0.123 while the others meet): "
                                "likely picked in the wrong place; check it."));
        Pair near(dir, {0.1, 0.1, 0.1, 0.67});
        QCOMPARE(names(solveDiagnosis({}, near.graph)),
                 QStringLiteral("RBand 3 disagrees with the others (distance 0.67, 6.7× the median): likely "
                                "picked in the wrong place; check it."));
    }
};

QTEST_GUILESS_MAIN(TestSolveDiagnosis)
#include "test_solve_diagnosis.moc"
