#pragma once
// A first placement of the entities before the iteration: scanned pieces arrive in arbitrary
// orientations, and the linearised iteration started from there can settle with a piece turned
// the wrong way. Starting from the fixed entity, each entity in turn (the one with the most pairs
// to those already placed) is put in place by the best rigid fit of its points onto its placed
// partners' points. With exact correspondences this is already the answer; the iteration then
// refines it.

#include "geometry_types.h"

#include <vector>

class PointPairSet;

// One rigid transform per entity. Held entities (entity 0, or the first entity of each part the
// pairs join, when given) and entities without pairs to placed ones keep the identity.
std::vector<Matrix44d> coarseAlignment(const PointPairSet& pairs, int entityCount,
                                       const std::vector<char>& held = {});

// Two entities whose shared points leave their relative turn open: all the points on a's side lie
// in one place or on one line, and no other chain of pairs joins a and b (their joint is a bridge
// of the entities' graph).
struct HingeJoint {
    int a = 0, b = 0; // entities, a < b
    int points = 0;   // distinct points on a's side
};
std::vector<HingeJoint> openJoints(const PointPairSet& pairs, int entityCount);

// Best rigid motion (least squares, weighted, no reflection) taking from[i] onto to[i]. Where the
// points leave the turn open it takes the least turn: with one point (or all points in one place)
// a translation, with points along a line the least turn that lays that line onto the other.
Matrix44d bestRigidFit(const std::vector<Point3d>& from, const std::vector<Point3d>& to,
                       const std::vector<double>& weights);

// Sum over pairs of stiffness * |p0 - p1|, with the pairs' initial points moved by placements.
double placedEnergy(const PointPairSet& pairs, const std::vector<Matrix44d>& placements);
