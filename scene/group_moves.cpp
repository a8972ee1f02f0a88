#include "group_moves.h"

#include "base_graph.h"
#include "constraint.h"
#include "frag_group.h"
#include "geometr_obj.h"

#include <algorithm>
#include <set>

namespace {
// The fragment side k of c was picked on; null if the constraint does not say.
const ObjId* pickedOn(const Constraint& c, int k) {
    return k < c.leafFragCount() ? c.leafFrag(k) : nullptr;
}

void appendOnce(std::vector<Constraint*>& list, Constraint* c) {
    if (std::find(list.begin(), list.end(), c) == list.end())
        list.push_back(c);
}
} // namespace

void repointSide(Constraint& c, int k, GeometrObj& to) {
    if (BaseGraph* graph = to.owningGraph())
        if (GeometrObj* from = graph->getObject(c.frag(k)->id); from && &from->objId() == c.frag(k))
            from->detachConstraint(c.id());
    c.rekeySide(k, &to.objId());
    c.setFrag(k, &to.objId());
    to.attachConstraint(&c);
}

std::vector<Constraint*> moveIntoGroup(FragGroup& group, const std::vector<GeometrObj*>& objs) {
    std::vector<Constraint*> held;
    for (GeometrObj* o : objs)
        for (Constraint* c : o->constraintList())
            appendOnce(held, c);
    for (GeometrObj* o : objs) {
        if (!o->isTopLevel())
            o->detachFromParent();
        group.addChild(o);
    }
    auto moved = [&objs](const ObjId* end) {
        return std::any_of(objs.begin(), objs.end(), [end](GeometrObj* o) { return o->containsId(end->id); });
    };
    std::vector<Constraint*> repointed;
    for (Constraint* c : held) {
        const bool in0 = moved(c->frag(0)), in1 = moved(c->frag(1));
        if (in0 == in1)
            continue; // joins two moved objects: it stays inside the group as it was
        repointSide(*c, in0 ? 0 : 1, group);
        repointed.push_back(c);
    }
    return repointed;
}

std::vector<Constraint*> returnConstraintsToMembers(FragGroup& group) {
    std::vector<Constraint*> handed;
    const std::vector<Constraint*> held = group.constraintList(); // shrinks while we hand on
    for (Constraint* c : held) {
        const int k = c->sideOf(&group.objId());
        const ObjId* leaf = pickedOn(*c, k);
        if (!leaf)
            continue;
        for (const auto& [id, member] : group.childMap())
            if (member->containsId(leaf->id)) {
                repointSide(*c, k, *member);
                handed.push_back(c);
                break;
            }
    }
    return handed;
}

std::vector<Constraint*> excludeFromParent(GeometrObj& obj) {
    std::vector<Constraint*> changed;
    for (GeometrObj* a = obj.parentObject(); a; a = a->parentObject()) {
        const std::vector<Constraint*> held = a->constraintList();
        for (Constraint* c : held) {
            const int k = c->sideOf(&a->objId());
            const ObjId* leaf = pickedOn(*c, k);
            // An end picked in obj follows it, unless that would join obj to itself.
            if (leaf && obj.containsId(leaf->id) && !obj.containsId(c->frag(1 - k)->id)) {
                repointSide(*c, k, obj);
                changed.push_back(c);
            }
        }
    }
    obj.detachFromParent();
    if (BaseGraph* graph = obj.owningGraph())
        graph->reattachConstraints(&obj);
    std::set<Constraint*> inside;
    obj.collectConstraints(inside);
    for (Constraint* c : inside)
        appendOnce(changed, c);
    return changed;
}
