#pragma once
// The hub through which the graph, every panel and every view reach the main window. Declared with
// the scene because the graph, the lowest layer that reports through it, needs it; the main window
// implements it.

#include "geometry_types.h"

#include <QString>
#include <map>

class BaseGraph;
class Constraint;
class ControlWithChildren;
class GeometrObj;
class MyTreeWidgetItem;
struct ObjId;

// For each object that ends a constraint fed to the solver (keyed by its own id), the object that
// receives the motion.
using LiftMap = std::map<unsigned, GeometrObj*>;

class InterfaceListener {
public:
    virtual ~InterfaceListener() = default;

    virtual void addConstraintItem(Constraint* c) = 0;
    virtual void addToSolvedArea(int objId) = 0;
    virtual void removeFromSolvedArea(int objId) = 0;
    virtual void showSolvedConstraint(int constraintId) = 0;
    virtual void hideSolvedConstraint(int constraintId) = 0;
    virtual void updateSolvedArea() = 0;
    virtual void updateWorkingArea(int wgla) = 0;
    // k >= 0 deletes constraint k; k < 0 only clears the focus of constraint -1 - k.
    virtual void deleteConstraint(int k) = 0;
    virtual bool isInSolvedArea(int objId) = 0;
    virtual void deleteGeometry(int objId) = 0;
    virtual bool putInWorkingArea(GeometrObj* obj, int wgla) = 0;
    virtual void addConstraintToSystem(Constraint* c, LiftMap& lift) = 0;
    virtual void removeConstraintFromSystem(int constraintId) = 0;
    virtual void resetSolverEntities(int count) = 0;
    virtual void addSolverEntities(int count) = 0;
    virtual void removeLastSolverEntity() = 0;
    // A null parent means the top level of the tree.
    virtual void addTreeItems(GeometrObj* obj, ControlWithChildren* parent) = 0;
    virtual void solve() = 0;
    virtual void updateSolvedErrors() = 0;
    virtual void updateGroupErrors(GeometrObj* group) = 0;
    virtual void addConstraintPick(const ObjId& picked, double x, double y, double z,
                                   const ObjId& parent) = 0;
    virtual void joinConstraintPicks() = 0;
    virtual bool isNotLastPicked(GeometrObj* obj) = 0;
    virtual void cancelAddConstraint() = 0;
    virtual void HandlePicking(int nctype, int nstiff) = 0;
    virtual void setLastPicked(GeometrObj* obj) = 0;
    virtual void addObjectToGraph(GeometrObj* obj) = 0;
    virtual Color4b objectColour(const ObjId& id) = 0;
    virtual void removeObjectFromGraph(int objId) = 0;
    virtual BaseGraph* getGraph() = 0;
    virtual void replaceInSolvedArea(int oldId, int newId) = 0;
    virtual void solveSystem(int level) = 0;
    virtual void updateConstraintText(int constraintId) = 0;
    virtual void clearConstraintSelection() = 0;
    virtual void removeTreeHighlight(int wgla, bool rhigl) = 0;
    virtual void removeTreeHighlightItem(MyTreeWidgetItem* item) = 0;
    virtual void setTolerance(float tolerance) = 0;
    virtual float getTolerance() = 0;
    virtual void setShowError(bool show) = 0;
    // Index of the working area showing the object whose ObjId is this very one, or -1.
    virtual int findWorkingAreaOf(const ObjId& id) = 0;
    // Null when the area is empty.
    virtual ObjId* workingAreaObjectId(int wgla) = 0;
    virtual void decrementHiddenCount() = 0;
    virtual void removeConstraintItem(int constraintId) = 0;
    virtual void makeThumbnail(GeometrObj* obj) = 0;
    // A change of the project named action is complete (one undo step).
    virtual void projectChanged(const QString& action) { (void)action; }
    // A click made while a constraint is being added picked nothing: why, for the user.
    enum class PickMiss { NoSurface, SameObject };
    virtual void pickMissed(PickMiss why) { (void)why; }
};

// The solved area and both working areas repaint (nothing happens without a listener).
inline void repaintAllViews(InterfaceListener* listener) {
    if (!listener)
        return;
    listener->updateSolvedArea();
    listener->updateWorkingArea(0);
    listener->updateWorkingArea(1);
}
