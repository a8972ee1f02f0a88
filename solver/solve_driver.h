#pragma once
// The Solve command: level by level from the deepest, the objects that concern the solved area
// become entities, their unfed constraints are fed as point pairs, the reassembly system is
// iterated, and each entity's rigid motion is baked into the object that carries it. A constraint
// between members of different groups moves those groups, so it is solved at their level, with
// them as the entities. Runs without any widget: what it needs of the solved area comes through
// SolvedAreaAccess.

#include "base_graph.h"
#include "geometry_types.h"

#include <QString>
#include <map>
#include <set>
#include <vector>

class Constraint;
class EntityPoses;
class GeometrObj;
class PointPairSet;
class ReassemblySolver;
class TotalGraph;

// The two siblings (children of one group, or top-level objects) that carry a constraint: the
// objects whose motion moves its two sides apart. Null when the sides lie in one object or are gone.
std::pair<GeometrObj*, GeometrObj*> carriersOf(TotalGraph& graph, Constraint* c);

// The solved area as the driver sees it.
class SolvedAreaAccess {
public:
    // The interpenetration tolerance a solved view starts with (window depth units).
    static constexpr float DefaultTolerance = 1e-5f;

    virtual ~SolvedAreaAccess() = default;
    // Ids of the objects the area shows.
    virtual std::vector<int> shownObjects() const = 0;
    virtual bool isShown(int objId) const = 0;
    virtual void show(int objId) = 0;
    // Fit the view to what it shows and recompute the interpenetration marks.
    virtual void refitAndRecomputeErrors(float tolerance) = 0;
    virtual void repaint() = 0;
    // Objects moved: refresh a thumbnail, repaint the working areas.
    virtual void makeThumbnail(GeometrObj* obj) = 0;
    virtual void repaintWorkingAreas() = 0;
    virtual float tolerance() const = 0;
};

// Two objects whose shared points leave their relative turn open: the points of all their pairs lie
// in one place or on one line, and no other chain of constraints joins the two sides.
struct OpenJoint {
    int objectA = 0, objectB = 0; // graph ids of the two entities
    int points = 0;               // distinct points on objectA's side (1 or more, all on one line)
};

// What one level's run did.
struct SolveLevelReport {
    int level = 0;
    int entities = 0;
    int pointPairs = 0;
    int steps = 0;
    double energyBefore = 0.0;  // of the fed pairs where the objects stood
    double energy = 0.0;        // after the last step
    double seconds = 0.0;       // the iteration only
    bool iterated = false;      // new constraints were fed, so the system was solved
    bool failed = false;        // the linear solve failed: nothing was moved at this level
    int moved = 0;              // entities whose points moved (beyond rounding)
    double factorSeconds = 0.0; // factorisations of the run's steps, summed
    std::size_t peakBytes = 0;  // largest factor of the run's steps
    // Graph ids of the entities no chain of constraints joins to the level's first (fixed) entity.
    // Each such part is solved on its own, its first entity kept where it was.
    std::vector<int> unconnected;
    std::vector<OpenJoint> openJoints;
};

// The objects made entities in one level's run, each with the slot the point pairs name it by:
// the smallest slot no other object holds.
class SolvedSlots {
public:
    void add(int objId);
    void remove(int objId);
    bool contains(int objId) const { return slotOfObject.count(objId) != 0; }
    bool contains(const GeometrObj* o) const;
    // -1 when the object has no slot.
    int slotOf(int objId) const;
    void clear();
    bool isEmpty() const { return slotOfObject.empty(); }

private:
    std::map<int, int> slotOfObject;
    std::set<int> freed; // slots below next that no object holds
    int next = 0;        // every slot from here on is free
};

class SolveDriver {
public:
    // None of the arguments is owned; all must outlive the driver.
    SolveDriver(TotalGraph& graph, EntityPoses& poses, PointPairSet& pairs, ReassemblySolver& solver,
                SolvedAreaAccess& area);

    // Runs solveSystem from the deepest level of the tree.
    void solve();
    // One run for the given level, then the levels above it down to 0.
    void solveSystem(int level);
    // Feeds c's point pairs to the pair set; the lift map records which objects carry the motion.
    void addConstraintToSystem(Constraint* c, LiftMap& lift);

    // Reports of the levels run by the last solve(), in running order.
    const std::vector<SolveLevelReport>& lastReports() const { return reports; }
    bool anyLevelFailed() const;
    // The entities of the level run last.
    const SolvedSlots& solvedSlots() const { return solved; }
    SolvedSlots& solvedSlots() { return solved; }

private:
    bool concernsSolvedArea(GeometrObj* o) const;
    // Moves the fed points by a first rigid placement of every entity (see coarseAlignment) and
    // returns it; the iteration's motions are composed with it. unmovedEnergy: the energy of the
    // fed pairs where they are.
    std::vector<Matrix44d> placeRoughly(double unmovedEnergy);
    void registerEntity(GeometrObj* o, std::vector<GeometrObj*>& entities);
    // The parts not joined to the fixed entity and the joints left open, by object id.
    void describeJoints(SolveLevelReport& report, const std::vector<GeometrObj*>& entities) const;
    // Point pairs of c between the entities a (side 0) and b (side 1).
    void feedPoints(Constraint* c, GeometrObj* a, GeometrObj* b);
    // Feeds the unfed constraints that join members of different groups (or objects of different
    // levels) whose carrying groups lie at this level, with those groups as the entities. Returns
    // what it fed.
    std::vector<Constraint*> feedConstraintsOfMembers(int level, std::vector<GeometrObj*>& entities,
                                                      LiftMap& lift);

    TotalGraph& graph;
    EntityPoses& poses;
    PointPairSet& pairs;
    ReassemblySolver& solver;
    SolvedAreaAccess& area;
    SolvedSlots solved;
    std::vector<SolveLevelReport> reports;
};
