#include "constraint_picker.h"

#include "geometr_obj.h"
#include "list_panel_container.h"
#include "rband.h"
#include "status_times.h"
#include "total_graph.h"
#include "view_coordinator.h"

#include <algorithm>
#include <vector>

ConstraintPicker::ConstraintPicker(TotalGraph& graph, ViewCoordinator& views, ListPanelContainer& lists,
                                   QObject* parent)
    : QObject(parent), graph(graph), views(views), lists(lists) {}

void ConstraintPicker::start(ConstraintType type, int pickStiffness) {
    if (!views.anyAreaToPickIn()) {
        emit message(tr("Put fragments in the working areas to add a constraint"), HintMs);
        return;
    }
    lists.unfocusSelection();
    stiffness = pickStiffness;
    if (type != ConstraintType::None && pickStiffness != 0) {
        picks.clear();
        lastPicked = nullptr;
        pickCount = 0;
        views.setPickMode(true, type);
    }
    emit message(tr("Adding a new constraint, press ESC to cancel"), 0);
}

void ConstraintPicker::addPick(const ObjId& picked, double x, double y, double z, const ObjId& parent) {
    picks.emplace(parent.key(), PickRecord{parent, const_cast<ObjId*>(&picked), x, y, z});
}

void ConstraintPicker::join() {
    if (++pickCount < 2) {
        emit message(tr("Now click the matching point on the other fragment (ESC cancels)"), 0);
        return;
    }
    pickCount = 0;
    // The two picks in key order: the objects holding the picked fragments, and the points.
    std::vector<PickRecord> records;
    for (const auto& [key, record] : picks)
        records.push_back(record);
    picks.clear();
    if (records.size() != 2)
        return;
    GeometrObj* objects[2] = {graph.getObject(records[0].key.id), graph.getObject(records[1].key.id)};
    if (!objects[0] || !objects[1])
        return;
    // Both ends at the same tree level: the deeper one is replaced by its ancestor.
    const int levels[2] = {objects[0]->level(), objects[1]->level()};
    if (levels[0] > levels[1])
        objects[0] = objects[0]->ancestorAtLevel(levels[1]);
    else if (levels[1] > levels[0])
        objects[1] = objects[1]->ancestorAtLevel(levels[0]);
    if (!objects[0] || !objects[1] || objects[0] == objects[1]) {
        cancel();
        emit message(tr("Both points lie in the same object: no constraint was made"), HintMs);
        return;
    }
    const auto end = [&](int k) {
        const PickRecord& r = records[std::size_t(k)];
        return BandEnd{objects[k], Point3d(r.x, r.y, r.z), r.picked};
    };
    RBand* c = RBand::join(graph, end(0), end(1), stiffness);
    for (GeometrObj* o : objects)
        o->setMarked(false);
    views.setPickMode(false);
    views.repaintWorkingAreas();
    lists.addConstraintItem(c);
    views.showSolvedConstraint(c->id());
    views.updateSolvedArea();
    lists.showConstraintRow(c->id());
    emit message(tr("Added %1 %2 between %3 and %4")
                     .arg(c->typeName())
                     .arg(c->id())
                     .arg(objects[0]->displayName(), objects[1]->displayName()),
                 FinishedActionMs);
    emit constraintAdded();
}

void ConstraintPicker::missed(ViewListener::PickMiss why) {
    emit message(why == ViewListener::PickMiss::SameObject
                     ? tr("That point lies on the object picked first: click the matching point on the other "
                          "fragment (ESC cancels)")
                     : tr("No surface under the click: click on a fragment (ESC cancels)"),
                 0);
}

void ConstraintPicker::cancel() {
    views.setPickMode(false);
    picks.clear();
    pickCount = 0;
    lastPicked = nullptr;
    emit message(QString(), 0);
}

bool ConstraintPicker::holdsPickIn(GeometrObj* obj) const {
    const bool pickInside = std::any_of(picks.begin(), picks.end(), [obj](const auto& entry) {
        return obj->containsId(entry.second.key.id);
    });
    return pickInside || (lastPicked && obj->contains(lastPicked));
}
