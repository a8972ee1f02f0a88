#include "base_graph.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "geometr_obj.h"

#include <QCoreApplication>
#include <algorithm>
#include <set>
#include <vector>

namespace {
bool isHiddenObject(const GeometrObj* o) {
    auto* g = dynamic_cast<const FragGroup*>(o);
    return g && g->isHidden();
}
} // namespace

BaseGraph::BaseGraph() {
    colors.reserve(ColorCount);
    for (int i = 0; i < ColorCount; ++i)
        colors.push_back(Color4b::scatter(ColorCount, i, 0.3, 0.9));
}

void BaseGraph::addObject(GeometrObj* o) {
    adoptObject(o);
    report([o](GraphListener& l) { l.makeThumbnail(o); });
}

FragGroup* BaseGraph::addUserGroup(FragGroup* parent) {
    auto* group = new FragGroup(this);
    group->objId().id = nextFreeId();
    group->setColor(parent ? parent->getColor() : objectColor(group->objId()));
    addObject(group);
    if (parent)
        parent->addChild(group);
    return group;
}

FragGroup* BaseGraph::addFragment(const QString& path, std::shared_ptr<FragMesh> mesh, QString& error) {
    std::unique_ptr<FragGroup> wrapper(FragGroup::wrapFragment(this, path, std::move(mesh)));
    if (!wrapper->wrappedFragment()->hasMesh()) {
        error = QCoreApplication::translate("BaseGraph", "the file holds no mesh");
        return nullptr; // the wrapper and its fragment go, the graph never saw them
    }
    FragGroup* added = wrapper.release();
    addObject(added); // registers it and makes its thumbnail
    return added;
}

void BaseGraph::adoptObject(GeometrObj* o) {
    objects[o->id()] = o;
    if (!isHiddenObject(o))
        takeEntityIndex(o->id());
    else
        ++hiddenCount;
}

void BaseGraph::deleteObject(int id) {
    GeometrObj* o = getObject(id);
    if (!o)
        return;
    // Constraints held by an ancestor whose picked fragment lies inside o go with it (those of o
    // and its members go with the subtree). Every ancestor is checked, not only the top-level one,
    // so that no constraint is left pointing at a deleted fragment.
    for (GeometrObj* a = o->parentObject(); a; a = a->parentObject()) {
        std::vector<int> doomed;
        for (Constraint* c : a->constraintList())
            for (int k = 0; k < c->leafFragCount(); ++k)
                if (c->leafFrag(k) && o->containsId(c->leafFrag(k)->id)) {
                    doomed.push_back(c->id());
                    break;
                }
        for (int cid : doomed)
            removeConstraint(cid);
    }
    if (!o->isTopLevel())
        o->detachFromParent();
    if (auto* g = dynamic_cast<FragGroup*>(o))
        g->releaseSubtree();
    else
        removeObject(id);
    delete o;
}

GeometrObj* BaseGraph::getObject(int id) const {
    auto it = objects.find(id);
    return it == objects.end() ? nullptr : it->second;
}

void BaseGraph::removeObject(int id) {
    auto it = objects.find(id);
    if (it == objects.end())
        return;
    if (!isHiddenObject(it->second))
        returnEntityIndex(id);
    else
        --hiddenCount;
    objects.erase(it);
}

void BaseGraph::changeId(int newId, int oldId) {
    auto it = objects.find(oldId);
    if (it == objects.end() || newId == oldId)
        return;
    GeometrObj* o = it->second;
    objects.erase(it);
    objects[newId] = o;
    // The entity index follows the object, so its name and the dense numbering stay right.
    if (auto e = entityIndex.find(oldId); e != entityIndex.end()) {
        const int index = e->second;
        entityIndex.erase(e);
        entityIndex[newId] = index;
    }
    if (auto* parent = dynamic_cast<FragGroup*>(o->parentObject()))
        parent->changeChildId(newId, oldId);
}

int BaseGraph::nextFreeId() {
    // One walk over what the top-level objects contain, as containsId sees it: an object its own id,
    // a group that is not a wrapper also every member, at any depth. n contained ids leave one of
    // 0 .. n free, so only those need marking.
    std::vector<GeometrObj*> open;
    for (const auto& [id, o] : objects)
        if (o->isTopLevel())
            open.push_back(o);
    std::vector<int> contained;
    while (!open.empty()) {
        GeometrObj* o = open.back();
        open.pop_back();
        contained.push_back(o->id());
        if (auto* g = dynamic_cast<FragGroup*>(o); g && !g->isWrapper())
            for (const auto& [cid, child] : g->childMap())
                open.push_back(child);
    }
    std::vector<bool> taken(contained.size() + 1, false);
    for (int id : contained)
        if (id >= 0 && std::size_t(id) < taken.size())
            taken[std::size_t(id)] = true;
    return int(std::find(taken.begin(), taken.end(), false) - taken.begin());
}

Color4b BaseGraph::defaultColor() const {
    return Color4b::scatter(1, 0, 0.3, 0.9);
}

Color4b BaseGraph::objectColor(const ObjId& id) const {
    // Ids beyond the table reuse it cyclically.
    const int i = ((id.id % ColorCount) + ColorCount) % ColorCount;
    return colors[static_cast<std::size_t>(i)];
}

void BaseGraph::removeFromParent(const ObjId& id) {
    if (auto* parent = dynamic_cast<FragGroup*>(getObject(id.parent)))
        parent->removeChild(id.id);
}

void BaseGraph::pairAncestors(unsigned keyA, unsigned keyB, GeometrObj* a, GeometrObj* b, LiftMap& out) {
    while (!a->isTopLevel() && !b->isTopLevel() && a->parentId() != b->parentId()) {
        GeometrObj* pa = a->parentObject();
        GeometrObj* pb = b->parentObject();
        if (!pa || !pb)
            break;
        a = pa;
        b = pb;
    }
    out[keyA] = a;
    out[keyB] = b;
}

int BaseGraph::entityIndexOf(int id) const {
    auto it = entityIndex.find(id);
    return it == entityIndex.end() ? -1 : it->second;
}

void BaseGraph::reattachConstraints(GeometrObj* g) {
    const int level = g->level();
    const std::vector<Constraint*> attached = g->constraintList();
    for (Constraint* c : attached) {
        const int k = (c->sideOf(&g->objId()) + 1) % 2;
        GeometrObj* o = getObject(c->frag(k)->id);
        if (!o)
            continue;
        GeometrObj* t = o->ancestorAtLevel(level);
        // A constraint whose other end lies inside g itself is internal to g and stays with its
        // members; moving it would join g to itself.
        if (!t || t == o || t == g)
            continue;
        o->detachConstraint(c->id());
        c->rekeySide(k, &t->objId());
        c->setFrag(k, &t->objId());
        t->attachConstraint(c);
        report([c](GraphListener& l) { l.updateConstraintText(c->id()); });
    }
    auto* group = dynamic_cast<FragGroup*>(g);
    if (!group || group->isWrapper())
        return;
    // Children may be re-keyed while we walk, so take the list first.
    std::vector<GeometrObj*> members;
    for (const auto& [id, child] : group->childMap())
        members.push_back(child);
    for (GeometrObj* child : members)
        reattachConstraints(child);
}

void BaseGraph::constraintChanged(int constraintId) {
    report([constraintId](GraphListener& l) { l.updateConstraintText(constraintId); });
}

int BaseGraph::nextEntityIndex() const {
    // The smallest index no object holds. (Walking the table in id order and taking the first
    // position whose index differs gives the same answer only while indices rise with ids; after
    // deletions and id reuse it can hand out an index twice.)
    return returnedEntityIndices.empty() ? freshEntityIndex : *returnedEntityIndices.begin();
}

void BaseGraph::takeEntityIndex(int id) {
    const int index = nextEntityIndex();
    if (index == freshEntityIndex)
        ++freshEntityIndex;
    else
        returnedEntityIndices.erase(returnedEntityIndices.begin());
    returnEntityIndex(id); // an index that id held before is free again
    entityIndex[id] = index;
}

void BaseGraph::returnEntityIndex(int id) {
    auto it = entityIndex.find(id);
    if (it == entityIndex.end())
        return;
    returnedEntityIndices.insert(it->second);
    entityIndex.erase(it);
}

void BaseGraph::clearEntityIndices() {
    entityIndex.clear();
    returnedEntityIndices.clear();
    freshEntityIndex = 0;
}

void BaseGraph::swapEntityIndices(BaseGraph& other) {
    entityIndex.swap(other.entityIndex);
    returnedEntityIndices.swap(other.returnedEntityIndices);
    std::swap(freshEntityIndex, other.freshEntityIndex);
}

int BaseGraph::maxLevel() const {
    int deepest = 0;
    for (const auto& [id, o] : objects)
        deepest = std::max(deepest, o->level());
    return deepest;
}

Constraint* BaseGraph::getConstraint(int id) const {
    auto it = constraints.find(id);
    return it == constraints.end() ? nullptr : it->second;
}

void BaseGraph::addConstraint(Constraint* c) {
    constraints[c->id()] = c;
}

GeometrObj* BaseGraph::groupAtLevel(GeometrObj* o, int level) const {
    GeometrObj* a = o ? o->ancestorAtLevel(level) : nullptr;
    return a && !a->isFragment() ? a : nullptr;
}

QString BaseGraph::relativeErrorText(double error) {
    const double v = error * 100.0;
    QString re = QString::number(v, 'g', 6);
    // Two decimals at most; a tiny error such as 1.23457e-08 keeps its exponent (cutting the text
    // after the decimals would show it as 1.23 %).
    const qsizetype dot = re.indexOf(QLatin1Char('.'));
    const qsizetype exponent = re.indexOf(QLatin1Char('e'));
    if (v != 100.0 && dot >= 0 && (exponent < 0 || exponent > dot + 3))
        re = re.left(dot + 3) + (exponent >= 0 ? re.mid(exponent) : QString());
    return QStringLiteral("RE: ") + re + QStringLiteral("%");
}

void BaseGraph::constraintDescription(QString& out, Constraint* c) const {
    QString names[2];
    for (int k = 0; k < 2; ++k) {
        const GeometrObj* o = getObject(c->frag(k)->id);
        names[k] = o ? o->displayName() : QString();
    }
    out += c->typeName() + QStringLiteral(": ") + QString::number(c->id()) + QStringLiteral(" connecting ") +
           names[0] + QStringLiteral(" to ") + names[1] + QStringLiteral(". ") +
           relativeErrorText(c->error());
}

QStringList BaseGraph::validate() const {
    QStringList problems;
    auto fail = [&problems](const QString& text) { problems << text; };
    int hidden = 0;
    std::set<int> indices;
    for (const auto& [id, o] : objects) {
        const auto* g = dynamic_cast<const FragGroup*>(o);
        if (o->id() != id)
            fail(QStringLiteral("object under %1 has id %2").arg(id).arg(o->id()));
        if (!g) {
            fail(QStringLiteral("object %1 in the table is not a group").arg(id));
            continue;
        }
        if (g->isHidden()) {
            ++hidden;
            if (entityIndex.count(id))
                fail(QStringLiteral("hidden object %1 has an entity index").arg(id));
        } else if (auto e = entityIndex.find(id); e == entityIndex.end()) {
            fail(QStringLiteral("visible object %1 has no entity index").arg(id));
        } else if (!indices.insert(e->second).second) {
            fail(QStringLiteral("entity index %1 is used twice").arg(e->second));
        }
        if (!o->isTopLevel()) {
            auto* parent = dynamic_cast<const FragGroup*>(getObject(o->parentId()));
            if (!parent || parent->getChild(id) != o)
                fail(QStringLiteral("object %1 is not a child of its parent %2").arg(id).arg(o->parentId()));
        }
        for (const auto& [cid, child] : g->childMap()) {
            if (child->id() != cid || child->parentId() != id)
                fail(QStringLiteral("child %1 of group %2 has identity %3")
                         .arg(cid)
                         .arg(id)
                         .arg(child->key()));
            if (child->isFragment() && cid != id)
                fail(QStringLiteral("fragment %1 does not have the id of its wrapper %2").arg(cid).arg(id));
            if (child->isFragment() && !g->isWrapper())
                fail(QStringLiteral("fragment %1 is not alone in its group %2").arg(cid).arg(id));
            if (!child->isFragment() && getObject(cid) != child)
                fail(QStringLiteral("member group %1 of %2 is not in the table").arg(cid).arg(id));
        }
        for (Constraint* c : const_cast<GeometrObj*>(o)->constraintList()) {
            if (getConstraint(c->id()) != c)
                fail(QStringLiteral("object %1 holds unregistered constraint %2").arg(id).arg(c->id()));
            else if (c->frag(0) != &o->objId() && c->frag(1) != &o->objId())
                fail(QStringLiteral("object %1 holds constraint %2 that does not name it")
                         .arg(id)
                         .arg(c->id()));
        }
    }
    for (const auto& [id, index] : entityIndex) {
        if (!objects.count(id))
            fail(QStringLiteral("entity index held by missing object %1").arg(id));
        if (index < 0 || index >= freshEntityIndex || returnedEntityIndices.count(index))
            fail(QStringLiteral("entity index %1 of object %2 is also counted as free").arg(index).arg(id));
    }
    if (hidden != hiddenCount)
        fail(QStringLiteral("hiddenCount is %1 but %2 objects are hidden").arg(hiddenCount).arg(hidden));
    for (const auto& [cid, c] : constraints) {
        if (c->id() != cid)
            fail(QStringLiteral("constraint under %1 has id %2").arg(cid).arg(c->id()));
        for (int k = 0; k < 2; ++k) {
            GeometrObj* o = c->frag(k) ? getObject(c->frag(k)->id) : nullptr;
            if (!o || &o->objId() != c->frag(k)) {
                fail(QStringLiteral("constraint %1 side %2 names no object of the table").arg(cid).arg(k));
                continue;
            }
            const auto& list = o->constraintList();
            if (std::count(list.begin(), list.end(), c) != 1)
                fail(QStringLiteral("constraint %1 is not attached once to object %2").arg(cid).arg(o->id()));
        }
        if (c->frag(0) == c->frag(1))
            fail(QStringLiteral("constraint %1 joins an object to itself").arg(cid));
        for (int k = 0; k < c->leafFragCount() && k < 2; ++k) {
            GeometrObj* side = c->frag(k) ? getObject(c->frag(k)->id) : nullptr;
            const ObjId* leaf = c->leafFrag(k);
            if (side && (!leaf || !side->containsId(leaf->id)))
                fail(QStringLiteral("constraint %1 side %2 was picked outside the object it joins")
                         .arg(cid)
                         .arg(k));
        }
    }
    return problems;
}
