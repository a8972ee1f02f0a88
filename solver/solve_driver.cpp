#include "solve_driver.h"

#include "coarse_alignment.h"
#include "constraint.h"
#include "entity_poses.h"
#include "geometr_obj.h"
#include "point_pair_set.h"
#include "reassembly_solver.h"
#include "rigid_math.h"
#include "total_graph.h"

#include <QDebug>
#include <QElapsedTimer>
#include <algorithm>

namespace {
// A constraint's side climbed to the given level (the object itself when it lies there).
GeometrObj* atLevel(GeometrObj* o, int level) {
    return o->level() > level ? o->ancestorAtLevel(level) : o;
}

// The two objects a constraint moves against each other, one per side: its sides climbed to the
// same level, then up to the nearest pair that shares a parent or lies at top level. Both null
// when a side is missing or one side holds the other (the constraint moves nothing).
} // namespace

std::pair<GeometrObj*, GeometrObj*> carriersOf(TotalGraph& graph, Constraint* c) {
    GeometrObj* a = graph.getObject(c->frag(0)->id);
    GeometrObj* b = graph.getObject(c->frag(1)->id);
    if (!a || !b)
        return {nullptr, nullptr};
    const int level = std::min(a->level(), b->level());
    a = atLevel(a, level);
    b = atLevel(b, level);
    while (a && b && a != b && !a->isTopLevel() && a->parentId() != b->parentId()) {
        a = a->parentObject();
        b = b->parentObject();
    }
    if (!a || !b || a == b)
        return {nullptr, nullptr};
    return {a, b};
}

namespace {
// True when the constraint joins its own two sides, which are siblings: it is solved at their
// level. Any other constraint moves the groups that hold its sides, at their level.
bool joinsItsOwnSides(TotalGraph& graph, Constraint* c) {
    const auto [a, b] = carriersOf(graph, c);
    return a && &a->objId() == c->frag(0) && &b->objId() == c->frag(1);
}

std::vector<Matrix44d> identities(int n) {
    return std::vector<Matrix44d>(std::size_t(std::max(n, 0)), Matrix44d::Identity());
}

// How many entities a motion per entity moves: an entity moves when one of its fed points
// (records, where they stood before the solve) goes further than rounding, a billionth of the
// points' extent.
int movedEntities(const std::vector<Matrix44d>& motions, const std::vector<PointRecord>& records) {
    Box3d extent;
    for (const PointRecord& r : records)
        extent.add(r.initial);
    const double rounding = 1e-9 * (extent.isNull() ? 1.0 : extent.diag());
    std::vector<bool> moved(motions.size(), false);
    for (const PointRecord& r : records)
        if (r.entity >= 0 && std::size_t(r.entity) < motions.size() &&
            (transformPoint(motions[std::size_t(r.entity)], r.initial) - r.initial).norm() > rounding)
            moved[std::size_t(r.entity)] = true;
    return int(std::count(moved.begin(), moved.end(), true));
}
} // namespace

SolveDriver::SolveDriver(TotalGraph& g, EntityPoses& p, PointPairSet& pp, ReassemblySolver& s,
                         SolvedAreaAccess& a)
    : graph(g), poses(p), pairs(pp), solver(s), area(a) {}

void SolveDriver::solve() {
    reports.clear();
    solveSystem(graph.maxLevel());
}

bool SolveDriver::anyLevelFailed() const {
    return std::any_of(reports.begin(), reports.end(), [](const SolveLevelReport& r) { return r.failed; });
}

void SolveDriver::addConstraintToSystem(Constraint* c, LiftMap& lift) {
    GeometrObj* a = graph.getObject(c->frag(0)->id);
    GeometrObj* b = graph.getObject(c->frag(1)->id);
    if (!a || !b)
        return;
    graph.pairAncestors(unsigned(a->id()), unsigned(b->id()), a, b, lift);
    feedPoints(c, a, b);
}

void SolveDriver::feedPoints(Constraint* c, GeometrObj* a, GeometrObj* b) {
    // Points of the two sides are paired by rank, in insertion order.
    const Constraint::PointRange side0 = c->samplePoints(0), side1 = c->samplePoints(1);
    auto p1 = side1.begin();
    for (auto p0 = side0.begin(); p0 != side0.end() && p1 != side1.end(); ++p0, ++p1)
        pairs.addPair(c->id(), solved.slotOf(a->id()), solved.slotOf(b->id()), p0->second, p1->second,
                      double(c->stiffness()));
}

std::vector<Constraint*> SolveDriver::feedConstraintsOfMembers(int level, std::vector<GeometrObj*>& entities,
                                                               LiftMap& lift) {
    std::vector<Constraint*> fed;
    for (const auto& [id, c] : graph.constraintTable()) {
        if (c->isFlagged() || joinsItsOwnSides(graph, c))
            continue;
        const auto [a, b] = carriersOf(graph, c);
        if (!a || a->level() != level || !(concernsSolvedArea(a) || concernsSolvedArea(b)))
            continue;
        for (GeometrObj* o : {a, b})
            if (!solved.contains(o))
                registerEntity(o, entities);
        lift[unsigned(a->id())] = a;
        lift[unsigned(b->id())] = b;
        feedPoints(c, a, b);
        c->setFlag(true);
        fed.push_back(c);
    }
    return fed;
}

bool SolveDriver::concernsSolvedArea(GeometrObj* o) const {
    const std::vector<int> shown = area.shownObjects();
    if (shown.empty())
        return true;
    for (int id : shown) {
        GeometrObj* s = graph.getObject(id);
        if (!s)
            continue;
        if (s->containsId(o->id()))
            return true;
        for (Constraint* c : s->constraintList())
            if (c->frag(0) == &o->objId() || c->frag(1) == &o->objId())
                return true;
    }
    return false;
}

void SolveDriver::registerEntity(GeometrObj* o, std::vector<GeometrObj*>& entities) {
    solved.add(o->id());
    poses.reset(poses.count() + 1);
    entities.push_back(o);
}

std::vector<Matrix44d> SolveDriver::placeRoughly(double unmovedEnergy) {
    const int n = poses.count();
    solver.resetTransforms();
    solver.findParts(); // each part is placed around its first entity
    const std::vector<Matrix44d> start = coarseAlignment(pairs, n, solver.anchored());
    // Kept only when it brings the points closer: a Solve never starts from a worse placement.
    if (!(placedEnergy(pairs, start) < unmovedEnergy))
        return identities(n);
    for (PointRecord& r : pairs.records())
        if (r.entity >= 0 && r.entity < n)
            r.initial = r.current = transformPoint(start[std::size_t(r.entity)], r.initial);
    return start;
}

void SolveDriver::describeJoints(SolveLevelReport& report, const std::vector<GeometrObj*>& entities) const {
    const std::vector<int>& parts = solver.partOf();
    const auto idOf = [&entities](int e) { return entities[std::size_t(e)]->id(); };
    for (std::size_t e = 0; e < parts.size() && e < entities.size(); ++e)
        if (parts[e] != parts[0])
            report.unconnected.push_back(idOf(int(e)));
    for (const HingeJoint& j : openJoints(pairs, int(entities.size())))
        report.openJoints.push_back({idOf(j.a), idOf(j.b), j.points});
}

void SolveDriver::solveSystem(int level) {
    pairs.clear();
    poses.clear();
    poses.reset(0);
    solved.clear();

    std::vector<GeometrObj*> entities;
    LiftMap lift;
    bool newConstraintsFed = false;
    // Objects may be added to the solved set while walking, never to the table.
    std::vector<GeometrObj*> objects;
    for (const auto& [id, o] : graph.objectTable())
        objects.push_back(o);
    for (GeometrObj* o : objects) {
        if (o->level() != level || !concernsSolvedArea(o))
            continue;
        std::vector<Constraint*> held;
        for (Constraint* c : o->constraintList())
            if (joinsItsOwnSides(graph, c))
                held.push_back(c);
        if (!solved.contains(o) && !held.empty())
            registerEntity(o, entities);
        for (Constraint* c : held) {
            const int other = c->frag(0) == &o->objId() ? 1 : 0;
            GeometrObj* p = graph.getObject(c->frag(other)->id);
            if (!p)
                continue;
            if (!solved.contains(p))
                registerEntity(p, entities);
            if (!c->isFlagged()) {
                addConstraintToSystem(c, lift);
                c->setFlag(true);
                newConstraintsFed = true;
            }
        }
    }

    const std::vector<Constraint*> fedForMembers = feedConstraintsOfMembers(level, entities, lift);
    newConstraintsFed = newConstraintsFed || !fedForMembers.empty();

    if (newConstraintsFed) {
        SolveLevelReport report;
        report.level = level;
        report.entities = int(entities.size());
        report.pointPairs = int(pairs.pairs().size());
        report.iterated = true;
        const std::vector<PointRecord> fedRecords = pairs.records(); // where the points stood
        report.energyBefore = placedEnergy(pairs, identities(poses.count()));
        const std::vector<Matrix44d> start = placeRoughly(report.energyBefore);
        solver.resetTransforms();
        std::vector<Matrix33d> rotations;
        std::vector<Point3d> translations;
        bool failed = false;
        QElapsedTimer clock;
        clock.start();
        solver.iterate(rotations, translations, failed, 0.0);
        report.seconds = clock.nsecsElapsed() / 1e9;
        qDebug() << "tempo solver " << report.seconds;
        report.failed = failed;
        report.steps = solver.lastRunSteps();
        report.energy = solver.energyTrace().empty() ? 0.0 : solver.energyTrace().back();
        report.factorSeconds = solver.lastRunFactorSeconds();
        report.peakBytes = solver.lastRunFactorBytes();
        describeJoints(report, entities);
        if (!failed) {
            std::vector<Matrix44d> motions;
            for (std::size_t i = 0; i < entities.size() && i < rotations.size(); ++i) {
                GeometrObj* e = entities[i];
                const Matrix44d t = composeTransform(rotations[i], translations[i]) * start[i];
                motions.push_back(t);
                if (auto carrier = lift.find(unsigned(e->id())); carrier != lift.end())
                    carrier->second->applyTransform(&t);
                e->setMarked(true);
                if (GeometrObj* root = graph.getObject(e->rootId())) {
                    root->setVisible(true);
                    if (!area.isShown(root->id()))
                        area.show(root->id());
                }
            }
            // Like the constraints of a solved group, these are free for the next Solve.
            for (Constraint* c : fedForMembers)
                c->setFlag(false);
            report.moved = movedEntities(motions, fedRecords);
        }
        reports.push_back(report);
    }

    if (level > 0) {
        solveSystem(level - 1);
        return;
    }
    if (newConstraintsFed) {
        area.refitAndRecomputeErrors(area.tolerance());
        for (const auto& [id, o] : graph.objectTable())
            area.makeThumbnail(o);
        area.repaint();
        area.repaintWorkingAreas();
    }
}

void SolvedSlots::add(int objId) {
    if (contains(objId))
        return;
    int slot = next;
    if (freed.empty())
        ++next;
    else {
        slot = *freed.begin();
        freed.erase(freed.begin());
    }
    slotOfObject[objId] = slot;
}

void SolvedSlots::remove(int objId) {
    const auto it = slotOfObject.find(objId);
    if (it == slotOfObject.end())
        return;
    freed.insert(it->second);
    slotOfObject.erase(it);
    while (!freed.empty() && *freed.rbegin() == next - 1) {
        freed.erase(std::prev(freed.end()));
        --next;
    }
}

void SolvedSlots::clear() {
    slotOfObject.clear();
    freed.clear();
    next = 0;
}

bool SolvedSlots::contains(const GeometrObj* o) const {
    return o && contains(o->id());
}

int SolvedSlots::slotOf(int objId) const {
    const auto it = slotOfObject.find(objId);
    return it == slotOfObject.end() ? -1 : it->second;
}
