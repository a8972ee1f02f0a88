#include "frag_group.h"

#include "base_graph.h"
#include "constraint.h"
#include "fragment.h"

#include <QFileInfo>
#include <QPixmap>
#include <vector>

namespace {
constexpr Color4b GroupFocusColor{255, 0, 0, 255};
}

FragGroup::FragGroup(BaseGraph* owner) : GeometrObj(owner, GroupFocusColor) {}

void FragGroup::setFocused(bool f) {
    focused = f;
    for (auto& [id, child] : children)
        child->setFocused(f);
}

void FragGroup::setColor(Color4b c) {
    color = c;
    iconColor = QColor(c.r, c.g, c.b, 255);
    for (auto& [id, child] : children)
        child->setColor(c);
}

QIcon FragGroup::icon() const {
    QPixmap swatch(20, 20);
    swatch.fill(iconColor);
    return QIcon(swatch);
}

void FragGroup::applyTransform(const Matrix44d* m) {
    groupBox.setNull();
    Matrix44d t;
    if (m) {
        matrix = *m * matrix;
        t = *m;
    } else {
        t = matrix;
    }
    // A side moves with the object it was picked on (here or below); a side that does not say
    // where it was picked moves with the group that holds it.
    if (m)
        movePointsPickedHere(t);
    for (Constraint* c : constraints) {
        const int k = c->sideOf(&objIdentity);
        if (k >= c->leafFragCount() || !c->leafFrag(k))
            moveConstraintSide(c, k, t);
    }
    for (auto& [id, child] : children) {
        child->applyTransform(m);
        groupBox.add(child->getMeshBBox());
    }
}

void FragGroup::draw(bool showMarkedFaces) {
    for (auto& [id, child] : children)
        child->draw(showMarkedFaces);
}

void FragGroup::drawHighlighted(bool showMarkedFaces) {
    if (isWrapper()) {
        if (Fragment* f = wrappedFragment())
            f->drawHighlighted(showMarkedFaces);
        return;
    }
    draw(showMarkedFaces);
}

bool FragGroup::hasConstraintsDeep() const {
    if (!constraints.empty())
        return true;
    for (const auto& [id, child] : children)
        if (child->hasConstraintsDeep())
            return true;
    return false;
}

QString FragGroup::displayName() const {
    if (!isWrapper() || children.empty()) {
        if (nameSet)
            return name;
        const int index = graph ? graph->entityIndexOf(id()) : -1;
        return QStringLiteral("Group: ") + QString::number(index);
    }
    return QStringLiteral("Fragment: ") + children.begin()->second->displayName();
}

void FragGroup::detachFromParent() {
    GeometrObj* oldParent = parentObject();
    GeometrObj::detachFromParent();
    if (auto* g = dynamic_cast<FragGroup*>(oldParent))
        g->updateCentroid();
}

void FragGroup::setMarked(bool m) {
    marked = m;
    for (Constraint* c : constraints)
        c->setFlag(false);
}

bool FragGroup::contains(GeometrObj* o) {
    if (o == this)
        return true;
    for (auto& [id, child] : children)
        if (child->contains(o))
            return true;
    return false;
}

bool FragGroup::containsId(int otherId) {
    if (otherId == id())
        return true;
    if (isWrapper())
        return false;
    for (auto& [cid, child] : children)
        if (child->containsId(otherId))
            return true;
    return false;
}

void FragGroup::setId(int newId) {
    const int oldId = id();
    objIdentity.id = newId;
    if (graph)
        graph->changeId(newId, oldId);
    for (auto& [cid, child] : children)
        child->objId().parent = newId;
}

void FragGroup::setVisible(bool v) {
    visible = v;
    for (auto& [id, child] : children)
        child->setVisible(v);
}

bool FragGroup::isVisible() const {
    if (visible)
        return true;
    for (const auto& [id, child] : children)
        if (child->isVisible())
            return true;
    return false;
}

Point3d FragGroup::currentCentroid() const {
    if (children.empty())
        return Point3d::Zero();
    Point3d sum = Point3d::Zero();
    for (const auto& [id, child] : children)
        sum += child->currentCentroid();
    return sum / double(children.size());
}

void FragGroup::collectConstraints(std::set<Constraint*>& out) {
    GeometrObj::collectConstraints(out);
    for (auto& [id, child] : children)
        child->collectConstraints(out);
}

void FragGroup::setColorFrom(const Color4b& c) {
    color = c;
    for (auto& [id, child] : children)
        child->setColorFrom(c);
}

void FragGroup::drawPickColors() {
    for (auto& [id, child] : children)
        child->drawPickColors();
}

int FragGroup::faceFromPickColor(int r, int g, int b, GeometrObj** owner) {
    for (auto& [id, child] : children) {
        const int face = child->faceFromPickColor(r, g, b, owner);
        if (face >= 0)
            return face;
    }
    return -1;
}

int FragGroup::constraintCount() const {
    int n = static_cast<int>(constraints.size());
    for (const auto& [id, child] : children)
        n += child->constraintCount();
    return n;
}

void FragGroup::addChild(GeometrObj* o) {
    o->objId().parent = id();
    const double n = double(children.size());
    auto* childGroup = dynamic_cast<FragGroup*>(o);
    const Point3d p = childGroup && childGroup->isWrapper() ? o->currentCentroid() : o->centroid();
    centroidPoint = (centroidPoint * n + p) / (n + 1.0);
    children[o->id()] = o;
    groupBox.add(o->getMeshBBox());
    bbox.add(isWrapper() ? o->getBBox() : o->getMeshBBox());
    o->setColor(color);
    if (auto* parent = dynamic_cast<FragGroup*>(parentObject()))
        parent->updateCentroid();
}

void FragGroup::enterWithoutAdopting(GeometrObj* o) {
    children[o->id()] = o;
    groupBox.add(o->getMeshBBox());
    bbox.add(o->getMeshBBox());
}

void FragGroup::deleteChild(int childId) {
    auto it = children.find(childId);
    if (it == children.end())
        return;
    GeometrObj* child = it->second;
    children.erase(it);
    if (auto* g = dynamic_cast<FragGroup*>(child))
        g->releaseSubtree();
    delete child;
}

GeometrObj* FragGroup::getChild(int childId) const {
    auto it = children.find(childId);
    return it == children.end() ? nullptr : it->second;
}

void FragGroup::removeChild(int childId) {
    children.erase(childId);
}

void FragGroup::changeChildId(int newId, int oldId) {
    auto it = children.find(oldId);
    if (it == children.end())
        return;
    GeometrObj* child = it->second;
    children.erase(it);
    children[newId] = child;
}

FragGroup* FragGroup::wrapFragment(BaseGraph* graph, const QString& path) {
    return wrap(graph, new Fragment(graph, path));
}

FragGroup* FragGroup::wrapFragment(BaseGraph* graph, const QString& path,
                                   std::shared_ptr<FragMesh> prepared) {
    auto* fragment = new Fragment(graph);
    fragment->setPath(path);
    fragment->setPathNames();
    fragment->adoptMesh(std::move(prepared));
    return wrap(graph, fragment);
}

FragGroup* FragGroup::wrap(BaseGraph* graph, Fragment* fragment) {
    auto* wrapper = new FragGroup(graph);
    wrapper->setHidden(true);
    const int id = graph->nextFreeId();
    wrapper->objId().id = id;
    fragment->objId().id = id; // the wrapper is not registered yet, so the id is still free
    if (fragment->hasMesh())
        fragment->computeCentroid();
    wrapper->addChild(fragment);
    wrapper->setColor(graph->objectColor(wrapper->objId()));
    return wrapper;
}

void FragGroup::collectFragments(std::vector<Fragment*>& out) const {
    for (const auto& [cid, child] : children) {
        if (auto* f = dynamic_cast<Fragment*>(child))
            out.push_back(f);
        else if (auto* g = dynamic_cast<FragGroup*>(child))
            g->collectFragments(out);
    }
}

bool FragGroup::isWrapper() const {
    return children.empty() || (children.size() == 1 && children.begin()->second->isFragment());
}

Fragment* FragGroup::wrappedFragment() const {
    if (children.size() != 1)
        return nullptr;
    return dynamic_cast<Fragment*>(children.begin()->second);
}

void FragGroup::updateCentroid() {
    if (!children.empty()) {
        Point3d sum = Point3d::Zero();
        for (const auto& [id, child] : children)
            sum += child->centroid();
        centroidPoint = sum / double(children.size());
    }
    if (auto* parent = dynamic_cast<FragGroup*>(parentObject()))
        parent->updateCentroid();
}

void FragGroup::releaseSubtree() {
    if (graph) {
        // removeConstraint detaches from this list, so walk a copy.
        const std::vector<Constraint*> attached = constraints;
        for (Constraint* c : attached)
            graph->removeConstraint(c->id());
        graph->removeObject(id());
    }
    constraints.clear();
    std::map<int, GeometrObj*> owned;
    owned.swap(children);
    for (auto& [cid, child] : owned) {
        if (auto* g = dynamic_cast<FragGroup*>(child))
            g->releaseSubtree();
        delete child;
    }
}

QString shortName(const GeometrObj& o) {
    const Fragment* f = dynamic_cast<const Fragment*>(&o);
    if (const auto* group = dynamic_cast<const FragGroup*>(&o); group && group->isWrapper())
        f = group->wrappedFragment();
    if (!f)
        return o.displayName();
    // A fragment shows its file name until the user names it.
    const QString name = f->displayName();
    return name == f->fileName() ? QFileInfo(name).completeBaseName() : name;
}
