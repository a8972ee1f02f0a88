#pragma once
// What the left column's panels ask of the window: the views and the lists they do not own, and
// the changes of the project that reach beyond one panel.

#include "geometry_types.h"

#include <QString>

class BaseGraph;
class ControlWithChildren;
class GeometrObj;
struct ObjId;

class PanelListener {
public:
    virtual ~PanelListener() = default;

    virtual BaseGraph* getGraph() = 0;
    virtual Color4b objectColour(const ObjId& id) = 0;
    // A change of the project named action is complete (one undo step).
    virtual void projectChanged(const QString& action) = 0;
    // The deletions, with what they mean for the views and the pending picks.
    virtual void deleteGeometry(int objId) = 0;
    // k >= 0 deletes constraint k; k < 0 only clears the focus of constraint -1 - k.
    virtual void deleteConstraint(int k) = 0;
    // Starts picking the two points of a new constraint of type nctype and stiffness nstiff.
    virtual void HandlePicking(int nctype, int nstiff) = 0;

    // The solved area's shown set, and repaints.
    virtual bool isInSolvedArea(int objId) = 0;
    virtual void addToSolvedArea(int objId) = 0;
    virtual void removeFromSolvedArea(int objId) = 0;
    virtual void updateSolvedArea() = 0;
    virtual void updateWorkingArea(int wgla) = 0;
    virtual void makeThumbnail(GeometrObj* obj) = 0;

    // The working areas: what each shows.
    virtual bool putInWorkingArea(GeometrObj* obj, int wgla) = 0;
    // Index of the working area showing the object whose ObjId is this very one, or -1.
    virtual int findWorkingAreaOf(const ObjId& id) = 0;
    // Null when the area is empty.
    virtual ObjId* workingAreaObjectId(int wgla) = 0;

    // The lists, for a panel inside them that changed what they show.
    virtual void updateConstraintText(int constraintId) = 0;
    virtual void clearConstraintSelection() = 0;
    virtual void removeTreeHighlight(int wgla, bool rhigl) = 0;
    // A null parent means the top level of the tree.
    virtual void addTreeItems(GeometrObj* obj, ControlWithChildren* parent) = 0;

    // The folder a file dialog of the panels starts in.
    virtual QString dialogFolder() = 0;
};

// The solved area and both working areas repaint (nothing happens without a listener).
inline void repaintAllViews(PanelListener* listener) {
    if (!listener)
        return;
    listener->updateSolvedArea();
    listener->updateWorkingArea(0);
    listener->updateWorkingArea(1);
}
