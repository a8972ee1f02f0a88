#pragma once
// Adding a constraint by picking: the areas enter pick mode, each accepted click is one pick, the
// second pick joins the two objects with a band.

#include "constraint.h"
#include "obj_id.h"
#include "view_listener.h"

#include <QObject>
#include <QString>
#include <map>

class GeometrObj;
class ListPanelContainer;
class TotalGraph;
class ViewCoordinator;

// One point picked for the constraint being added.
struct PickRecord {
    ObjId key;      // identity of the picked object's parent object
    ObjId* picked;  // the picked object's identity (not owned)
    double x, y, z; // the picked point, world coordinates
};

class ConstraintPicker : public QObject {
    Q_OBJECT
public:
    // None of the arguments is owned; all outlive the picker.
    ConstraintPicker(TotalGraph& graph, ViewCoordinator& views, ListPanelContainer& lists,
                     QObject* parent = nullptr);

    // Enters picking for a constraint of that type and stiffness (both non-zero), where there is
    // something to pick on.
    void start(ConstraintType type, int stiffness);
    void addPick(const ObjId& picked, double x, double y, double z, const ObjId& parent);
    // Counts the pick; the second one makes the constraint.
    void join();
    void missed(ViewListener::PickMiss why);
    // Leaves picking; the picks made so far are dropped.
    void cancel();
    // A pick so far lies on obj or inside it.
    bool holdsPickIn(GeometrObj* obj) const;

    bool isNotLastPicked(const GeometrObj* obj) const { return obj != lastPicked; }
    void setLastPicked(GeometrObj* obj) { lastPicked = obj; }
    const std::multimap<QString, PickRecord>& pendingPicks() const { return picks; }

signals:
    // text for the status bar, shown for timeout ms (0: until the next message).
    void message(const QString& text, int timeout);
    // A constraint was added: one step of the project.
    void constraintAdded();

private:
    TotalGraph& graph;
    ViewCoordinator& views;
    ListPanelContainer& lists;
    std::multimap<QString, PickRecord> picks;
    GeometrObj* lastPicked = nullptr; // not owned
    int stiffness = 1;
    int pickCount = 0;
};
