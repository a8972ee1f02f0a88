#pragma once
// The hub: the roles the main window plays for the graph, the views and the panels, each declared
// where its users live, together. The operations below them are part of the hub's table but
// nothing calls them through the hub: the window uses them itself, or the component that owns the
// work is reached directly (the reassembly, the views, the graph).

#include "base_graph.h"
#include "graph_listener.h"
#include "panel_listener.h"
#include "view_listener.h"

class MyTreeWidgetItem;

class InterfaceListener : public GraphListener, public ViewListener, public PanelListener {
public:
    // Not called through the hub.
    virtual void showSolvedConstraint(int constraintId) = 0;
    virtual void updateSolvedErrors() = 0;
    virtual void updateGroupErrors(GeometrObj* group) = 0;
    virtual void cancelAddConstraint() = 0;
    virtual void setShowError(bool show) = 0;
    virtual void replaceInSolvedArea(int oldId, int newId) = 0;
    virtual void removeTreeHighlightItem(MyTreeWidgetItem* item) = 0;
    virtual void addObjectToGraph(GeometrObj* obj) = 0;
    virtual void removeObjectFromGraph(int objId) = 0;
    virtual void decrementHiddenCount() = 0;
    virtual void solveSystem(int level) = 0;
    virtual void addConstraintToSystem(Constraint* c, LiftMap& lift) = 0;
    virtual void removeConstraintFromSystem(int constraintId) = 0;
    virtual void resetSolverEntities(int count) = 0;
    virtual void addSolverEntities(int count) = 0;
    virtual void removeLastSolverEntity() = 0;
};
