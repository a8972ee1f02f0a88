#pragma once
// One spring per point pair of the reassembly system, rebuilt at every step from the current positions.

#include "geometry_types.h"

struct SpringLink {
    int entityA = 0, entityB = 0; // entities of side 0 and side 1
    int pointA = 0, pointB = 0;   // 2e and 2e+1 for link e
    Point3d pA = Point3d::Zero(), pB = Point3d::Zero();
    double stiffness = 0.0;
};
