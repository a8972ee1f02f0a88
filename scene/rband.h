#pragma once

#include "constraint.h"

class TotalGraph;
class GeometrObj;

// One end of a band as picking makes it: the object that holds it, the point picked (world
// coordinates) and the identity of the fragment it was picked on.
struct BandEnd {
    GeometrObj* object;
    Point3d point;
    ObjId* pickedOn;
};

// The rubber-band constraint: drawn as a band between its two sides, coloured from green (points
// met) to red (as far apart as recorded).
class RBand : public Constraint {
public:
    // A band between two objects of graph with the graph's next constraint id, each side's sphere
    // in proportion to its object (radiusFor), attached to both objects and registered.
    static RBand* join(TotalGraph& graph, const BandEnd& a, const BandEnd& b, int stiffness);

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
