// Grouping, splitting and excluding objects: no vertex and no constraint point moves, every
// constraint stays attached to exactly the two objects its ends name, each end names an object
// that holds the fragment it was picked on, and dissolving every group gives each constraint
// back to the fragments it was picked on.

#include "group_moves.h"
#include "scene_fixtures.h"

#include <QtTest>
#include <random>

namespace {
// A new user group under parent (top level when null), as the tree makes it.
FragGroup* newGroup(TotalGraph& graph, FragGroup* parent) {
    FragGroup* g = addGroup(graph);
    if (parent)
        parent->addChild(g);
    return g;
}

// What splitting a group does to the model.
void dissolve(TotalGraph& graph, FragGroup* g) {
    returnConstraintsToMembers(*g);
    auto* parent = dynamic_cast<FragGroup*>(g->parentObject());
    std::vector<GeometrObj*> members;
    for (const auto& [id, m] : g->childMap())
        members.push_back(m);
    for (GeometrObj* m : members) {
        m->detachFromParent();
        if (parent)
            parent->addChild(m);
    }
    graph.deleteObject(g->id());
}

std::vector<FragGroup*> userGroups(const TotalGraph& graph) {
    std::vector<FragGroup*> v;
    for (const auto& [id, o] : graph.objectTable())
        if (auto* g = dynamic_cast<FragGroup*>(o); g && !g->isHidden())
            v.push_back(g);
    return v;
}

// Every vertex of every fragment, and every constraint point under the fragment it was picked on.
struct Snapshot {
    std::map<int, std::vector<Point3d>> vertices;
    std::map<std::pair<int, int>, std::vector<Point3d>> points; // (constraint, leaf id)

    static Snapshot of(const TotalGraph& graph) {
        Snapshot s;
        for (const auto& [id, o] : graph.objectTable())
            if (auto* w = dynamic_cast<FragGroup*>(o); w && w->wrappedFragment())
                s.vertices[id] = w->wrappedFragment()->mesh().vertices;
        for (const auto& [cid, c] : graph.constraintTable())
            for (int k = 0; k < 2; ++k)
                for (auto range : {c->samplePoints(k), c->refSamplePoints(k)})
                    for (const auto& [key, p] : range)
                        s.points[{cid, c->leafFrag(k)->id}].push_back(p);
        return s;
    }
    bool operator==(const Snapshot&) const = default;
};
} // namespace

class TestGroupMoves : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    // Six tetrahedra side by side, joined in a ring and across.
    std::vector<FragGroup*> sixJoined(TotalGraph& graph) {
        std::vector<FragGroup*> w;
        for (int i = 0; i < 6; ++i)
            w.push_back(
                addFragment(graph, writeTetrahedron(dir, QString("t%1.ply").arg(i), {2.0 * i, 0, 0})));
        for (int i = 0; i < 6; ++i)
            addBand(graph, w[i], w[(i + 1) % 6], {2.0 * i + 0.5, 0.1, 0}, {2.0 * ((i + 1) % 6), 0.1, 0});
        addBand(graph, w[0], w[3], {0.2, 0.2, 0}, {6.2, 0.2, 0});
        return w;
    }

private slots:
    void initTestCase() { installMeshReaders(); }

    // Grouping two objects joined to each other and to a third: the band between them keeps both
    // ends, the band to the third ends at the group; splitting gives the wrappers back their bands.
    void groupingKeepsBandsBetweenMembersAndSplittingGivesThemBack() {
        TotalGraph graph;
        std::vector<FragGroup*> w = sixJoined(graph);
        RBand* inside = dynamic_cast<RBand*>(graph.getConstraint(0)); // w0 - w1
        RBand* out = dynamic_cast<RBand*>(graph.getConstraint(1));    // w1 - w2
        const Snapshot before = Snapshot::of(graph);

        FragGroup* g = newGroup(graph, nullptr);
        const std::vector<Constraint*> repointed = moveIntoGroup(*g, {w[0], w[1]});
        QVERIFY2(graph.validate().isEmpty(), qPrintable(graph.validate().join("; ")));
        QCOMPARE(inside->frag(0), &w[0]->objId());
        QCOMPARE(inside->frag(1), &w[1]->objId());
        QCOMPARE(out->frag(0), &g->objId());
        QCOMPARE(out->frag(1), &w[2]->objId());
        QVERIFY(std::find(repointed.begin(), repointed.end(), inside) == repointed.end());
        QCOMPARE(repointed.size(), std::size_t(3)); // w1-w2, w5-w0 and w0-w3 leave the group
        QCOMPARE(w[0]->parentId(), g->id());

        dissolve(graph, g);
        QVERIFY2(graph.validate().isEmpty(), qPrintable(graph.validate().join("; ")));
        for (const auto& [cid, c] : graph.constraintTable())
            for (int k = 0; k < 2; ++k)
                QCOMPARE(c->frag(k)->id, c->leafFrag(k)->id);
        QVERIFY(Snapshot::of(graph) == before);
    }

    // Excluding a fragment from a nested group: an end the inner group held for it follows it,
    // and the other end climbs to the top-level group that holds it.
    void excludingLiftsTheEndsThatFollowTheObject() {
        TotalGraph graph;
        std::vector<FragGroup*> w = sixJoined(graph);
        FragGroup* outer = newGroup(graph, nullptr);
        moveIntoGroup(*outer, {w[0], w[1], w[2]});
        FragGroup* inner = newGroup(graph, outer);
        moveIntoGroup(*inner, {w[0], w[1]});
        Constraint* band12 = graph.getConstraint(1); // picked on w1 and w2
        QCOMPARE(band12->frag(0), &inner->objId());
        QCOMPARE(band12->frag(1), &w[2]->objId());
        const Snapshot before = Snapshot::of(graph);

        excludeFromParent(*w[1]);
        QVERIFY2(graph.validate().isEmpty(), qPrintable(graph.validate().join("; ")));
        QVERIFY(w[1]->isTopLevel());
        QCOMPARE(band12->frag(0), &w[1]->objId());
        QCOMPARE(band12->frag(1), &outer->objId());
        QCOMPARE(graph.getConstraint(0)->frag(1), &w[1]->objId()); // w0 - w1: w0's end climbs too
        QCOMPARE(graph.getConstraint(0)->frag(0), &outer->objId());
        QVERIFY(Snapshot::of(graph) == before);
    }

    // Random sequences of grouping (top level and nested), splitting and excluding.
    void randomRegroupingKeepsEveryConstraintOnItsObjects() {
        for (unsigned seed = 1; seed <= 25; ++seed) {
            std::mt19937 rng(seed);
            TotalGraph graph;
            sixJoined(graph);
            const Snapshot before = Snapshot::of(graph);
            auto chance = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
            for (int step = 0; step < 40; ++step) {
                const int op = chance(3);
                QString what;
                if (op == 0) {
                    // Siblings under a random parent (or the top level) into a new group.
                    std::vector<FragGroup*> parents = userGroups(graph);
                    FragGroup* parent =
                        chance(3) == 0 || parents.empty() ? nullptr : parents[chance(int(parents.size()))];
                    std::vector<GeometrObj*> siblings;
                    for (const auto& [id, o] : graph.objectTable())
                        if (o->parentId() == (parent ? parent->id() : -1) && chance(2))
                            siblings.push_back(o);
                    if (siblings.size() < 2)
                        continue;
                    moveIntoGroup(*newGroup(graph, parent), siblings);
                    what = QString("group %1 objects").arg(siblings.size());
                } else if (op == 1) {
                    std::vector<FragGroup*> groups = userGroups(graph);
                    if (groups.empty())
                        continue;
                    dissolve(graph, groups[chance(int(groups.size()))]);
                    what = "split";
                } else {
                    std::vector<GeometrObj*> nested;
                    for (const auto& [id, o] : graph.objectTable())
                        if (!o->isTopLevel())
                            nested.push_back(o);
                    if (nested.empty())
                        continue;
                    excludeFromParent(*nested[chance(int(nested.size()))]);
                    what = "exclude";
                }
                const QStringList problems = graph.validate();
                QVERIFY2(problems.isEmpty(), qPrintable(QString("seed %1 step %2 (%3): %4")
                                                            .arg(seed)
                                                            .arg(step)
                                                            .arg(what, problems.join("; "))));
                QVERIFY2(Snapshot::of(graph) == before,
                         qPrintable(QString("seed %1 step %2 moved a point").arg(seed).arg(step)));
            }
            // Dissolving every group, innermost last, gives each band back to its fragments.
            for (std::vector<FragGroup*> groups = userGroups(graph); !groups.empty();
                 groups = userGroups(graph))
                dissolve(graph, groups.front());
            QVERIFY(graph.validate().isEmpty());
            QCOMPARE(graph.constraintTable().size(), std::size_t(7));
            for (const auto& [cid, c] : graph.constraintTable())
                for (int k = 0; k < 2; ++k)
                    QCOMPARE(c->frag(k)->id, c->leafFrag(k)->id);
        }
    }
};

QTEST_GUILESS_MAIN(TestGroupMoves)
#include "test_group_moves.moc"
