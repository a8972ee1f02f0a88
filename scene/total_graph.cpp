#include "total_graph.h"

#include "constraint.h"
#include "frag_group.h"
#include "geometr_obj.h"

TotalGraph::~TotalGraph() {
    listener = nullptr;
    deleteAll();
}

void TotalGraph::removeConstraint(int id) {
    Constraint* c = getConstraint(id);
    if (!c)
        return;
    report([id](InterfaceListener& l) {
        l.hideSolvedConstraint(id);
        l.removeConstraintItem(id);
    });
    for (int k = 0; k < 2; ++k)
        if (c->frag(k))
            if (GeometrObj* o = getObject(c->frag(k)->id))
                o->detachConstraint(id);
    constraints.erase(id);
    delete c;
}

void TotalGraph::deleteAll() {
    while (!objects.empty()) {
        auto it = objects.begin();
        GeometrObj* o = it->second;
        if (auto* g = dynamic_cast<FragGroup*>(o))
            g->releaseSubtree();
        objects.erase(o->id()); // already gone after releaseSubtree; guards against a stray entry
        removeFromParent(o->objId());
        delete o;
    }
    // Constraints not attached to any object would otherwise leak.
    for (auto& [id, c] : constraints)
        delete c;
    clear();
}

void TotalGraph::clear() {
    objects.clear();
    constraints.clear();
    entityIndex.clear();
    solvedSet.clear();
    hiddenCount = 0;
}

int TotalGraph::nextConstraintId() const {
    const int n = static_cast<int>(constraints.size());
    if (n == 0)
        return 0;
    for (int c = n - 1; c >= 0; --c)
        if (!constraints.count(c))
            return c;
    return constraints.rbegin()->first + 1;
}
