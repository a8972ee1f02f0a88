#include "total_graph.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "geometr_obj.h"

#include <iterator>

TotalGraph::~TotalGraph() {
    listener = nullptr;
    deleteAll();
}

void TotalGraph::removeConstraint(int id) {
    Constraint* c = getConstraint(id);
    if (!c)
        return;
    report([id](GraphListener& l) {
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
    clearEntityIndices();
    hiddenCount = 0;
}

namespace {
// Points every object in the table, and every wrapped fragment, at graph g.
void reassignGraph(const std::map<int, GeometrObj*>& table, BaseGraph* g) {
    for (const auto& [id, o] : table) {
        o->setOwningGraph(g);
        if (auto* group = dynamic_cast<FragGroup*>(o))
            for (const auto& [cid, child] : group->childMap())
                child->setOwningGraph(g);
    }
}
} // namespace

void TotalGraph::importGraph(TotalGraph* imported) {
    auto usedAnywhere = [this, imported](int id) { return objects.count(id) || imported->objects.count(id); };
    auto freeId = [&usedAnywhere] {
        int c = 0;
        while (usedAnywhere(c))
            ++c;
        return c;
    };
    std::vector<GeometrObj*> incoming;
    for (const auto& [id, o] : imported->objects)
        incoming.push_back(o);
    for (GeometrObj* o : incoming) {
        if (objects.count(o->id())) {
            o->setId(freeId()); // re-keys the imported table and the parent's child entry
            if (auto* g = dynamic_cast<FragGroup*>(o))
                if (Fragment* f = g->wrappedFragment()) {
                    const int oldId = f->id();
                    f->setId(o->id());
                    g->changeChildId(o->id(), oldId);
                }
        }
    }
    // Every id is now free here: move the objects over with the bookkeeping of addObject.
    for (GeometrObj* o : incoming) {
        imported->objects.erase(o->id());
        adoptObject(o);
    }
    reassignGraph(objects, this);
    for (GeometrObj* o : incoming)
        if (o->isTopLevel()) {
            o->setColor(objectColor(o->objId()));
            report([o](GraphListener& l) { l.addTopLevelItems(o); });
        }
    std::vector<Constraint*> constraintsIn;
    for (const auto& [id, c] : imported->constraints)
        constraintsIn.push_back(c);
    imported->constraints.clear();
    for (Constraint* c : constraintsIn) {
        if (constraints.count(c->id()))
            c->setId(nextConstraintId());
        constraints[c->id()] = c;
        report([c](GraphListener& l) { l.addConstraintItem(c); });
    }
}

void TotalGraph::takeOver(TotalGraph& other) {
    objects.swap(other.objects);
    constraints.swap(other.constraints);
    swapEntityIndices(other);
    std::swap(hiddenCount, other.hiddenCount);
    reassignGraph(objects, this);
    other.clear();
}

int TotalGraph::nextConstraintId() const {
    const int n = static_cast<int>(constraints.size());
    if (n == 0)
        return 0;
    // n distinct ids from 0 to n - 1 are every id below the count: no gap, without a look at the
    // others (the usual case, each constraint added after the last).
    if (constraints.begin()->first == 0 && constraints.rbegin()->first == n - 1)
        return n;
    // Down from n - 1 along the ids held there, to the first one missing.
    int c = n - 1;
    for (auto it = std::make_reverse_iterator(constraints.upper_bound(c)); it != constraints.rend() && c >= 0;
         ++it, --c)
        if (it->first != c)
            return c;
    return c >= 0 ? c : constraints.rbegin()->first + 1;
}
