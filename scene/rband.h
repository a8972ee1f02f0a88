#pragma once

#include "constraint.h"

class GeometrObj;

// The rubber-band constraint: drawn as a band between its two sides, coloured from green (points
// met) to red (as far apart as recorded).
class RBand : public Constraint {
public:
    explicit RBand(int id);
    RBand(int id, ObjId* side0, ObjId* side1);

    void draw() override;
    void drawSide(const ObjId* side, float scale, int mode) override;
    QString typeName() const override { return QStringLiteral("RBand"); }
    // colour := (255 e, 255 (1 - e), 0) with e = error() clamped to [0, 1]; alpha unchanged.
    void updateColor() override;
    // e = d / dr: current distance between the first points of the two sides over the recorded
    // one (both weighted by the stiffness). When the recorded points coincide: 0 if the current
    // points coincide too, else 1.
    double error() const override;

    // Radius of the sphere drawn at side k's points.
    float radius(int k) const { return radii[k & 1]; }
    // The radius a side on that object gets: in proportion to the object's size, so that the
    // spheres look alike on every object.
    static float radiusFor(const GeometrObj& side);
    void setRadius(int k, float r) { radii[k & 1] = r; }

private:
    float radii[2] = {0.0f, 0.0f};
};
