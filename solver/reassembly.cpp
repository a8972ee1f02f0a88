#include "reassembly.h"

Reassembly::Reassembly(TotalGraph& graph, SolvedAreaAccess& area)
    : solveDriver(graph, entityPoses, pointPairs, solver, area) {
    entityPoses.reset(0);
}

void Reassembly::clear() {
    pointPairs.clear();
    entityPoses.clear();
    entityPoses.reset(0);
}
