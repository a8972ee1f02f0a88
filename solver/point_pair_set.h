#pragma once
// The corresponding points handed to the solver: one record per constraint point, one pair per two
// points that must meet.

#include "entity_poses.h"
#include "geometry_types.h"

#include <map>
#include <vector>

struct PointRecord {
    int entity = 0;
    Point3d initial = Point3d::Zero(); // world position when the pair was added
    Point3d current = Point3d::Zero(); // initial moved by the entity's accumulated transform
    int pointNumber = 0;               // 2k for side 0 of the k-th pair added, 2k+1 for side 1
};

struct PointPair {
    int record0 = 0; // positions in the record table: side 0, side 1
    int record1 = 0;
    double stiffness = 0.0;
    int constraintId = 0;
};

class PointPairSet {
public:
    // poses must outlive the set.
    explicit PointPairSet(EntityPoses& poses);

    // Appends the records {entity0, p0, p0, 2k} and {entity1, p1, p1, 2k+1} (k = pairs so far) and
    // the pair joining exactly these two records; map[constraintId] := k.
    void addPair(int constraintId, int entity0, int entity1, const Point3d& p0, const Point3d& p1,
                 double stiffness);
    // Removes every pair of the constraint (later pairs move down) and renumbers the map; the records
    // stay. False, changing nothing, when the constraint has no pair.
    bool removePair(int constraintId);
    // No pairs, no records (room reserved for 1000), empty map.
    void clear();

    const std::vector<PointPair>& pairs() const { return pairTable; }
    const std::vector<PointRecord>& records() const { return recordTable; }
    std::vector<PointRecord>& records() { return recordTable; }
    // Constraint id -> index of the last pair added for it.
    const std::map<int, int>& constraintMap() const { return lastPairOf; }
    EntityPoses& poses() const { return entityPoses; }

private:
    EntityPoses& entityPoses;
    std::vector<PointPair> pairTable;
    std::vector<PointRecord> recordTable;
    std::map<int, int> lastPairOf;
};
