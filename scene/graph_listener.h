#pragma once
// What the graph reports to whoever shows it: the lists, the solved view and the thumbnails.

class Constraint;
class GeometrObj;

class GraphListener {
public:
    virtual ~GraphListener() = default;

    // The object looks different now: its picture is made again.
    virtual void makeThumbnail(GeometrObj* obj) = 0;
    // The constraint's ends, points or stiffness changed: its list text follows.
    virtual void updateConstraintText(int constraintId) = 0;
    // A constraint left the graph: the solved view stops drawing it and its row goes.
    virtual void hideSolvedConstraint(int constraintId) = 0;
    virtual void removeConstraintItem(int constraintId) = 0;
    // A top-level object or a constraint came in from an imported project.
    virtual void addTopLevelItems(GeometrObj* obj) = 0;
    virtual void addConstraintItem(Constraint* c) = 0;
};
