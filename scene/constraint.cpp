#include "constraint.h"

#include <vector>

namespace {
constexpr Color4b ConstraintFocusColor{244, 249, 72, 1};
}

Constraint::Constraint(int id) : IFocusable(ConstraintFocusColor), constraintId(id) {}

Constraint::Constraint(int id, ObjId* side0, ObjId* side1) : Constraint(id) {
    frags = {side0, side1};
}

void Constraint::setFrag(int k, ObjId* o) {
    frags[static_cast<std::size_t>(k)] = o;
}

void Constraint::addPoint(ObjId* key, const Point3d& p) {
    samples.emplace(key, p);
    refSamples.emplace(key, p);
}

void Constraint::movePoint(ObjId* key, const Point3d& delta) {
    if (auto it = samples.find(key); it != samples.end())
        it->second += delta;
    if (auto it = refSamples.find(key); it != refSamples.end())
        it->second += delta;
}

void Constraint::setFirstPoints(ObjId* key, const Point3d& sample, const Point3d& ref) {
    if (auto it = samples.find(key); it != samples.end())
        it->second = sample;
    if (auto it = refSamples.find(key); it != refSamples.end())
        it->second = ref;
}

Point3d Constraint::firstPoint(ObjId* key) const {
    auto it = samples.find(key);
    return it == samples.end() ? Point3d::Zero() : it->second;
}

void Constraint::transformSamples(ObjId* key, const Matrix44d& m) {
    auto [begin, end] = samples.equal_range(key);
    for (auto it = begin; it != end; ++it)
        it->second = transformPoint(m, it->second);
}

void Constraint::rekeySide(int k, ObjId* newKey) {
    ObjId* oldKey = frag(k);
    if (oldKey == newKey)
        return;
    for (PointMap* map : {&samples, &refSamples}) {
        // multimap keeps equal keys in insertion order, so re-inserting in order keeps the order.
        auto [begin, end] = map->equal_range(oldKey);
        std::vector<Point3d> points;
        for (auto it = begin; it != end; ++it)
            points.push_back(it->second);
        map->erase(begin, end);
        for (const Point3d& p : points)
            map->emplace(newKey, p);
    }
}

Constraint::PointRange Constraint::pointsOf(const PointMap& map, ObjId* key) {
    auto [begin, end] = map.equal_range(key);
    return {begin, end};
}
