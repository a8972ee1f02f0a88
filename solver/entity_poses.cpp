#include "entity_poses.h"

void EntityPoses::reset(int count) {
    entityCount = count < 0 ? 0 : count;
    const auto n = static_cast<std::size_t>(entityCount);
    rotations.assign(n, Matrix33d::Identity());
    translations.assign(n, Point3d::Zero());
    colors.assign(n, Color4b{0, 0, 0, 255});
    for (std::size_t i = 0; i < n; ++i) {
        Color4b& c = colors[i];
        (i % 3 == 0 ? c.r : i % 3 == 1 ? c.g : c.b) = 255;
    }
}

void EntityPoses::clear() {
    entityCount = 0;
    rotations.clear();
    translations.clear();
    colors.clear();
}

void EntityPoses::setPose(int i, const Matrix33d& r, const Point3d& t) {
    rotations[static_cast<std::size_t>(i)] = r;
    translations[static_cast<std::size_t>(i)] = t;
}
