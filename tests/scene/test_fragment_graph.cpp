// The fragment graph: id allocation, entity indices, constraint texts, re-attaching constraints
// after grouping, deletion, and the graph's invariants after random edit sequences.

#include "scene_fixtures.h"

#include <QtTest>
#include <random>

class TestFragmentGraph : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString tetra;

    // An RBand between two objects whose recorded points are 3 apart and whose current points are
    // error * 3 apart.
    RBand* bandWithError(TotalGraph& g, GeometrObj* a, GeometrObj* b, double error) {
        RBand* c = addBand(g, a, b, {0, 0, 0}, {3, 0, 0});
        c->transformSamples(&a->objId(), translation(3 * (1 - error), 0, 0));
        return c;
    }

private slots:
    void initTestCase() {
        installMeshReaders();
        tetra = writeTetrahedron(dir, "a.ply");
    }

    void nextFreeIdFillsGaps() {
        TotalGraph graph;
        QCOMPARE(graph.nextFreeId(), 0);
        FragGroup* w0 = addFragment(graph, tetra);
        FragGroup* w1 = addFragment(graph, tetra);
        FragGroup* w2 = addFragment(graph, tetra);
        FragGroup* w3 = addFragment(graph, tetra);
        QCOMPARE(w3->id(), 3);
        graph.deleteObject(w2->id());
        QCOMPARE(graph.nextFreeId(), 2); // objects 0, 1, 3
        // Ids held inside a user group are taken too, but not the id of a wrapper's fragment
        // beyond the wrapper's own.
        FragGroup* g = addGroup(graph);
        QCOMPARE(g->id(), 2);
        g->addChild(w0);
        QCOMPARE(graph.nextFreeId(), 4);
        Q_UNUSED(w1);
        QVERIFY(graph.validate().isEmpty());
    }

    void nextConstraintId_data() {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << QList<int>{} << 0;
        QTest::newRow("dense") << QList<int>{0, 1, 2} << 3;
        QTest::newRow("largest gap below the count") << QList<int>{0, 2, 5} << 1;
        QTest::newRow("gap at zero") << QList<int>{1, 2} << 0;
        QTest::newRow("two gaps") << QList<int>{3, 7, 9, 10} << 2;
        QTest::newRow("gap just below the count") << QList<int>{0, 1, 3} << 2;
        QTest::newRow("dense but for one large id") << QList<int>{0, 1, 2, 3, 9} << 4;
        QTest::newRow("all above the count") << QList<int>{5, 6} << 1;
    }
    void nextConstraintId() {
        QFETCH(QList<int>, ids);
        QFETCH(int, expected);
        TotalGraph graph;
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* b = addFragment(graph, tetra);
        for (int id : ids) {
            auto* c = new RBand(id, &a->objId(), &b->objId());
            graph.addConstraint(c);
            a->attachConstraint(c);
            b->attachConstraint(c);
        }
        QCOMPARE(graph.nextConstraintId(), expected);
    }

    void hiddenWrappersAndEntityIndices() {
        TotalGraph graph;
        RecordingListener listener;
        graph.setListener(&listener);
        addFragment(graph, tetra);
        FragGroup* w = addFragment(graph, tetra);
        QCOMPARE(graph.hiddenObjectCount(), 2);
        QVERIFY(graph.entityIndices().empty());
        FragGroup* g0 = addGroup(graph);
        FragGroup* g1 = addGroup(graph);
        FragGroup* g2 = addGroup(graph);
        QCOMPARE(graph.entityIndexOf(g0->id()), 0);
        QCOMPARE(graph.entityIndexOf(g2->id()), 2);
        graph.deleteObject(g1->id());
        FragGroup* g3 = addGroup(graph);
        QCOMPARE(graph.entityIndexOf(g3->id()), 1); // the smallest unused index
        graph.deleteObject(w->id());
        QCOMPARE(graph.hiddenObjectCount(), 1);
        // Every addition made a thumbnail.
        QCOMPARE(listener.thumbnails.size(), std::size_t(6));
        QVERIFY(graph.validate().isEmpty());
    }

    void constraintDescription_data() {
        QTest::addColumn<double>("error");
        QTest::addColumn<QString>("re");
        QTest::newRow("full") << 1.0 << "RE: 100%";
        QTest::newRow("half") << 0.5 << "RE: 50%";
        QTest::newRow("third") << 1.0 / 3.0 << "RE: 33.33%";
        QTest::newRow("met") << 0.0 << "RE: 0%";
        QTest::newRow("two thirds") << 2.0 / 3.0 << "RE: 66.66%";
        QTest::newRow("tiny keeps its exponent") << 1.23456789e-10 << "RE: 1.23e-08%";
        QTest::newRow("small") << 0.000123456 << "RE: 0.01%";
    }
    void constraintDescription() {
        QFETCH(double, error);
        QFETCH(QString, re);
        TotalGraph graph;
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* pad = addGroup(graph);
        FragGroup* pad2 = addGroup(graph);
        FragGroup* g = addGroup(graph);
        Q_UNUSED(pad);
        Q_UNUSED(pad2);
        for (int i = 0; i < 3; ++i)
            addBand(graph, pad, pad2, {0, 0, 0}, {1, 0, 0});
        RBand* c = bandWithError(graph, a, g, error);
        QString text;
        graph.constraintDescription(text, c);
        QCOMPARE(text, QStringLiteral("RBand: 3 connecting Fragment: a.ply to Group: 2. ") + re);
    }

    void reattachMovesNestedEndsToTheGroupsLevel() {
        TotalGraph graph;
        RecordingListener listener;
        graph.setListener(&listener);
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* b = addFragment(graph, tetra);
        FragGroup* x = addFragment(graph, tetra);
        FragGroup* y = addFragment(graph, tetra);
        RBand* toNested = addBand(graph, x, a, {0, 0, 0}, {1, 0, 0});
        RBand* toTop = addBand(graph, x, y, {0, 0, 0}, {2, 0, 0});
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        graph.reattachConstraints(x);
        // The end on a now sits on a's top-level ancestor, with its points.
        QCOMPARE(toNested->frag(1), &g->objId());
        QCOMPARE(toNested->samplePoints(1).begin()->second, Point3d(1, 0, 0));
        QCOMPARE(toNested->refSamplePoints(1).begin()->second, Point3d(1, 0, 0));
        QVERIFY(a->constraintList().empty());
        QCOMPARE(g->constraintList(), std::vector<Constraint*>{toNested});
        // The leaf side still names the fragment the point was picked on.
        QCOMPARE(toNested->leafFrag(1), &a->wrappedFragment()->objId());
        QCOMPARE(toTop->frag(1), &y->objId());
        QCOMPARE(listener.updatedTexts, std::vector<int>{toNested->id()});
        QVERIFY(graph.validate().isEmpty());

        // A constraint between the group and one of its own members stays where it is.
        RBand* internal = addBand(graph, g, b, {0, 0, 0}, {1, 0, 0});
        graph.reattachConstraints(g);
        QCOMPARE(internal->frag(1), &b->objId());
        QVERIFY(graph.validate().isEmpty());
    }

    void pairAncestorsClimbsToSiblings() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* b = addFragment(graph, tetra);
        FragGroup* c = addFragment(graph, tetra);
        FragGroup* g = addGroup(graph);
        FragGroup* h = addGroup(graph);
        g->addChild(a);
        h->addChild(b);
        h->addChild(c);
        LiftMap out;
        graph.pairAncestors(unsigned(a->id()), unsigned(b->id()), a, b, out);
        QCOMPARE(out[unsigned(a->id())], static_cast<GeometrObj*>(g));
        QCOMPARE(out[unsigned(b->id())], static_cast<GeometrObj*>(h));
        out.clear();
        graph.pairAncestors(unsigned(b->id()), unsigned(c->id()), b, c, out);
        QCOMPARE(out[unsigned(b->id())], static_cast<GeometrObj*>(b));
        QCOMPARE(out[unsigned(c->id())], static_cast<GeometrObj*>(c));
    }

    void deletingAnObjectRemovesItsConstraints() {
        TotalGraph graph;
        RecordingListener listener;
        graph.setListener(&listener);
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* b = addFragment(graph, tetra);
        FragGroup* x = addFragment(graph, tetra);
        RBand* onGroup = addBand(graph, a, x, {0, 0, 0}, {1, 0, 0});
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        graph.reattachConstraints(x);
        QCOMPARE(onGroup->frag(0), &g->objId());
        const int cid = onGroup->id();
        // Deleting the member the point was picked on takes the group's constraint with it.
        graph.deleteObject(a->id());
        QCOMPARE(graph.getConstraint(cid), nullptr);
        QVERIFY(x->constraintList().empty());
        QCOMPARE(listener.hiddenConstraints, std::vector<int>{cid});
        QCOMPARE(listener.removedItems, std::vector<int>{cid});
        QCOMPARE(g->childCount(), 1);
        QVERIFY(graph.validate().isEmpty());
        // Deleting a group deletes its members.
        graph.deleteObject(g->id());
        QCOMPARE(graph.objectCount(), 1);
        QCOMPARE(graph.hiddenObjectCount(), 1);
        QVERIFY(graph.validate().isEmpty());
    }

    void renumberingFollowsConstraintsAndParents() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* x = addFragment(graph, tetra);
        FragGroup* g = addGroup(graph);
        RBand* c = addBand(graph, g, x, {0, 0, 0}, {1, 0, 0});
        g->addChild(a);
        g->setId(40);
        QCOMPARE(graph.getObject(40), static_cast<GeometrObj*>(g));
        QCOMPARE(graph.entityIndexOf(40), 0);
        QCOMPARE(a->parentId(), 40);
        QCOMPARE(c->frag(0)->key(), QStringLiteral("-1:40"));
        QString text;
        graph.constraintDescription(text, c);
        QVERIFY(text.contains(QStringLiteral("Group: 0 to Fragment: a.ply")));
        QVERIFY(graph.validate().isEmpty());
    }

    void deleteAllEmptiesEverything() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, tetra);
        FragGroup* b = addFragment(graph, tetra);
        FragGroup* g = addGroup(graph);
        FragGroup* outer = addGroup(graph);
        addBand(graph, a, b, {0, 0, 0}, {1, 0, 0});
        g->addChild(a);
        outer->addChild(g);
        graph.deleteAll();
        QVERIFY(graph.isEmpty());
        QVERIFY(graph.constraintTable().empty());
        QVERIFY(graph.entityIndices().empty());
        QCOMPARE(graph.hiddenObjectCount(), 0);
        QCOMPARE(graph.nextFreeId(), 0);
        QCOMPARE(graph.nextConstraintId(), 0);
    }

    // Through random additions, nestings, constraints and deletions, the ids handed out stay those
    // their definitions give: the smallest id no top-level object contains, and the largest unused
    // constraint id below the count (one past the largest when there is none).
    void idsFollowTheirDefinitionsUnderRandomEdits() {
        for (unsigned seed = 1; seed <= 10; ++seed) {
            std::mt19937 rng(seed);
            TotalGraph graph;
            auto any = [&rng](std::size_t n) {
                return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
            };
            auto objectsWhere = [&graph](auto&& keep) {
                std::vector<GeometrObj*> v;
                for (const auto& [id, o] : graph.objectTable())
                    if (keep(o))
                        v.push_back(o);
                return v;
            };
            auto freeId = [&graph] {
                for (int c = 0;; ++c) {
                    bool taken = false;
                    for (const auto& [id, o] : graph.objectTable())
                        taken = taken || (o->isTopLevel() && o->containsId(c));
                    if (!taken)
                        return c;
                }
            };
            auto freeConstraintId = [&graph] {
                const int n = int(graph.constraintTable().size());
                for (int c = n - 1; c >= 0; --c)
                    if (!graph.getConstraint(c))
                        return c;
                return n == 0 ? 0 : graph.constraintTable().rbegin()->first + 1;
            };
            for (int step = 0; step < 120; ++step) {
                const int op = std::uniform_int_distribution<int>(0, 5)(rng);
                const auto tops = objectsWhere([](GeometrObj* o) { return o->isTopLevel(); });
                if (op == 0 || tops.size() < 2) {
                    addFragment(graph, tetra);
                } else if (op == 1) {
                    addGroup(graph);
                } else if (op == 2) {
                    // A top-level object into a top-level user group: groups nest at any depth.
                    auto* g = dynamic_cast<FragGroup*>(tops[any(tops.size())]);
                    GeometrObj* o = tops[any(tops.size())];
                    if (g && !g->isHidden() && o != g)
                        g->addChild(o);
                } else if (op == 3) {
                    GeometrObj* a = tops[any(tops.size())];
                    GeometrObj* b = tops[any(tops.size())];
                    if (a != b)
                        addBand(graph, a, b, a->currentCentroid(), b->currentCentroid());
                } else if (op == 4 && !graph.constraintTable().empty()) {
                    auto it = graph.constraintTable().begin();
                    std::advance(it, std::ptrdiff_t(any(graph.constraintTable().size())));
                    graph.removeConstraint(it->first);
                } else if (op == 5) {
                    const auto all = objectsWhere([](GeometrObj*) { return true; });
                    graph.deleteObject(all[any(all.size())]->id());
                }
                QCOMPARE(graph.nextFreeId(), freeId());
                QCOMPARE(graph.nextConstraintId(), freeConstraintId());
            }
        }
    }

    // Random sequences of additions, groupings, constraints, transformations and deletions keep
    // the graph consistent after every step.
    void invariantsHoldUnderRandomEdits() {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            std::mt19937 rng(seed);
            TotalGraph graph;
            RecordingListener listener;
            graph.setListener(&listener);
            auto pick = [&rng](const std::vector<GeometrObj*>& v) {
                return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
            };
            auto topLevel = [&graph] {
                std::vector<GeometrObj*> v;
                for (const auto& [id, o] : graph.objectTable())
                    if (o->isTopLevel())
                        v.push_back(o);
                return v;
            };
            auto allObjects = [&graph] {
                std::vector<GeometrObj*> v;
                for (const auto& [id, o] : graph.objectTable())
                    v.push_back(o);
                return v;
            };
            for (int step = 0; step < 60; ++step) {
                const int op = std::uniform_int_distribution<int>(0, 6)(rng);
                QString what;
                if (op <= 1 || graph.objectCount() < 2) {
                    addFragment(graph, tetra);
                    what = "add fragment";
                } else if (op == 2) {
                    addGroup(graph);
                    what = "add group";
                } else if (op == 3) {
                    // Move a top-level object into a top-level user group and bring the
                    // constraints of its partners to the group's level.
                    std::vector<GeometrObj*> tops = topLevel();
                    auto* g = dynamic_cast<FragGroup*>(pick(tops));
                    GeometrObj* o = pick(tops);
                    if (!g || g->isHidden() || o == g)
                        continue;
                    std::set<Constraint*> held;
                    o->collectConstraints(held);
                    g->addChild(o);
                    for (Constraint* c : held)
                        for (int k = 0; k < 2; ++k)
                            if (GeometrObj* end = graph.getObject(c->frag(k)->id); end && end->isTopLevel())
                                graph.reattachConstraints(end);
                    what = "group";
                } else if (op == 4) {
                    std::vector<GeometrObj*> tops = topLevel();
                    GeometrObj* a = pick(tops);
                    GeometrObj* b = pick(tops);
                    if (a == b)
                        continue;
                    addBand(graph, a, b, a->currentCentroid(), b->currentCentroid());
                    what = "constraint";
                } else if (op == 5) {
                    const Matrix44d m = translation(1, 2, 3) * rotationZ(0.1 * step);
                    pick(allObjects())->applyTransform(&m);
                    what = "transform";
                } else {
                    if (!graph.constraintTable().empty() && step % 2) {
                        graph.removeConstraint(graph.constraintTable().begin()->first);
                        what = "remove constraint";
                    } else {
                        graph.deleteObject(pick(allObjects())->id());
                        what = "delete object";
                    }
                }
                const QStringList problems = graph.validate();
                QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("seed %1 step %2 (%3): %4")
                                                            .arg(seed)
                                                            .arg(step)
                                                            .arg(what, problems.join("; "))));
            }
            graph.deleteAll();
            QVERIFY(graph.validate().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestFragmentGraph)
#include "test_fragment_graph.moc"
