#include "point_pair_set.h"

#include <algorithm>

PointPairSet::PointPairSet(EntityPoses& poses) : entityPoses(poses) {
    recordTable.reserve(1000);
}

void PointPairSet::addPair(int constraintId, int entity0, int entity1, const Point3d& p0, const Point3d& p1,
                           double stiffness) {
    const int k = static_cast<int>(pairTable.size());
    // The pair names the records appended here; after a removal the record table is longer than
    // twice the pair count, so 2k and 2k+1 would name older records.
    const int r0 = static_cast<int>(recordTable.size());
    recordTable.push_back({entity0, p0, p0, 2 * k});
    recordTable.push_back({entity1, p1, p1, 2 * k + 1});
    pairTable.push_back({r0, r0 + 1, stiffness, constraintId});
    lastPairOf[constraintId] = k;
}

bool PointPairSet::removePair(int constraintId) {
    if (!lastPairOf.contains(constraintId))
        return false;
    std::erase_if(pairTable, [constraintId](const PointPair& p) { return p.constraintId == constraintId; });
    lastPairOf.clear();
    for (std::size_t k = 0; k < pairTable.size(); ++k)
        lastPairOf[pairTable[k].constraintId] = static_cast<int>(k);
    return true;
}

void PointPairSet::clear() {
    pairTable.clear();
    recordTable.clear();
    recordTable.reserve(1000);
    lastPairOf.clear();
}
