#pragma once
// Everything a Solve needs besides the graph and the solved view: the entity poses, the point
// pairs, the reassembly solver over them and the driver that feeds them level by level (and keeps
// the slots of the objects it made entities). The window, the command-line tool and the tests all
// assemble it this one way.

#include "entity_poses.h"
#include "point_pair_set.h"
#include "reassembly_solver.h"
#include "solve_driver.h"

class Reassembly {
public:
    // Neither argument is owned; both must outlive the reassembly.
    Reassembly(TotalGraph& graph, SolvedAreaAccess& area);
    Reassembly(const Reassembly&) = delete;
    Reassembly& operator=(const Reassembly&) = delete;

    SolveDriver& driver() { return solveDriver; }
    const SolveDriver& driver() const { return solveDriver; }
    EntityPoses& poses() { return entityPoses; }
    PointPairSet& pairs() { return pointPairs; }

    // Forgets every point pair and entity (a new project starts from none).
    void clear();

    // Entities appended or dropped at the end, the count kept otherwise.
    void resetEntities(int count) { entityPoses.reset(count); }
    void addEntities(int count) { entityPoses.reset(entityPoses.count() + count); }
    void removeLastEntity() { entityPoses.reset(entityPoses.count() - 1); }

private:
    EntityPoses entityPoses;
    PointPairSet pointPairs{entityPoses};
    ReassemblySolver solver{pointPairs};
    SolveDriver solveDriver;
};
