#include "rband.h"

#include "geometr_obj.h"
#include "scene_drawer.h"
#include "total_graph.h"

#include <algorithm>
#include <cmath>

RBand::RBand(int id) : Constraint(id) {
    color = {255, 0, 0, 1};
}

RBand::RBand(int id, ObjId* side0, ObjId* side1) : Constraint(id, side0, side1) {
    color = {255, 0, 0, 1};
}

RBand* RBand::join(TotalGraph& graph, const BandEnd& a, const BandEnd& b, int stiffness) {
    const BandEnd* ends[2] = {&a, &b};
    auto* c = new RBand(graph.nextConstraintId(), &a.object->objId(), &b.object->objId());
    for (const BandEnd* end : ends)
        c->addPoint(&end->object->objId(), end->point);
    for (int k = 0; k < 2; ++k) {
        c->setRadius(k, radiusFor(*ends[k]->object));
        c->addLeafFrag(ends[k]->pickedOn);
        ends[k]->object->attachConstraint(c);
    }
    c->setStiffness(stiffness);
    graph.addConstraint(c);
    return c;
}

float RBand::radiusFor(const GeometrObj& side) {
    return static_cast<float>(0.012 * side.getMeshBBox().diag());
}

void RBand::draw() {
    if (SceneDrawer* d = sceneDrawer())
        d->drawConstraint(*this);
}

void RBand::drawSide(const ObjId* side, float scale, int mode) {
    if (SceneDrawer* d = sceneDrawer())
        d->drawConstraintSide(*this, side, scale, mode);
}

void RBand::updateColor() {
    // Clamped so that an error beyond 100 % stays red instead of wrapping around to green; an
    // error that is not a number (points at infinity) shows red too.
    const double raw = error();
    const double e = std::isnan(raw) ? 1.0 : std::clamp(raw, 0.0, 1.0);
    color.r = static_cast<std::uint8_t>(static_cast<int>(255.0 * e));
    color.g = static_cast<std::uint8_t>(static_cast<int>(255.0 * (1.0 - e)));
    color.b = 0;
}

double RBand::error() const {
    const PointRange s0 = samplePoints(0), s1 = samplePoints(1);
    const PointRange r0 = refSamplePoints(0), r1 = refSamplePoints(1);
    if (s0.empty() || s1.empty() || r0.empty() || r1.empty())
        return 0.0;
    const double d = (s0.begin()->second - s1.begin()->second).norm() * stiff;
    const double dr = (r0.begin()->second - r1.begin()->second).norm() * stiff;
    if (dr == 0.0)
        return d == 0.0 ? 0.0 : 1.0;
    return d / dr;
}
