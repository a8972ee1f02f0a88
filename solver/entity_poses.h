#pragma once
// One rigid pose and one display colour per solver entity. Owned by the main window; the driver sizes
// it, the solver writes the poses of the current run.

#include "geometry_types.h"
#include "rigid_math.h"

#include <vector>

class EntityPoses {
public:
    // count entities (negative counts as 0), every pose the identity, colour i pure red, green or blue
    // for i mod 3 = 0, 1, 2 (opaque).
    void reset(int count);
    // No entities.
    void clear();

    int count() const { return entityCount; }
    // i in [0, count()).
    const Matrix33d& rotation(int i) const { return rotations[static_cast<std::size_t>(i)]; }
    const Point3d& translation(int i) const { return translations[static_cast<std::size_t>(i)]; }
    Color4b color(int i) const { return colors[static_cast<std::size_t>(i)]; }
    void setPose(int i, const Matrix33d& r, const Point3d& t);

private:
    int entityCount = 0;
    std::vector<Matrix33d> rotations;
    std::vector<Point3d> translations;
    std::vector<Color4b> colors;
};
