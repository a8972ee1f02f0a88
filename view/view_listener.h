#pragma once
// What the views ask of the window: the points picked for a new constraint, Solve, the
// interpenetration tolerance, and a working area that was cleared.

struct ObjId;
class GeometrObj;

class ViewListener {
public:
    virtual ~ViewListener() = default;

    // One point of the constraint being added, picked on picked (inside parent, the object the
    // area shows), in world coordinates.
    virtual void addConstraintPick(const ObjId& picked, double x, double y, double z,
                                   const ObjId& parent) = 0;
    // Counts the pick; the second one makes the constraint.
    virtual void joinConstraintPicks() = 0;
    // A second pick on the object picked first is refused.
    virtual bool isNotLastPicked(GeometrObj* obj) = 0;
    virtual void setLastPicked(GeometrObj* obj) = 0;
    // A click made while a constraint is being added picked nothing: why, for the user.
    enum class PickMiss { NoSurface, SameObject };
    virtual void pickMissed(PickMiss why) = 0;

    virtual void solve() = 0;
    // Refine the placement of what the solved view shows on the fracture surfaces.
    virtual void refine() {}
    virtual void setTolerance(float tolerance) = 0;
    virtual float getTolerance() = 0;
    // Working area wgla was cleared: the tree item shown there is no longer highlighted.
    virtual void removeTreeHighlight(int wgla, bool rhigl) = 0;
};
