#include "geometr_obj.h"

#include "base_graph.h"
#include "constraint.h"
#include "scene_drawer.h"

#include <Eigen/LU>
#include <algorithm>

GeometrObj::GeometrObj(BaseGraph* owner, Color4b initialFocusColor)
    : Geomint(initialFocusColor), graph(owner) {}

void GeometrObj::multMatrix(const Matrix44d& m) {
    matrix = m * matrix;
}

Matrix44d GeometrObj::getInverseMatrix() const {
    // One LU solve per unit column; placements are regular.
    const Eigen::Matrix4d a = matrix;
    const Eigen::PartialPivLU<Eigen::Matrix4d> lu(a);
    return lu.solve(Eigen::Matrix4d::Identity());
}

void GeometrObj::drawConstraints(QPainter* painter) {
    if (SceneDrawer* d = sceneDrawer())
        d->drawConstraintMarkers(*this, painter);
}

void GeometrObj::setName(const QString& n) {
    name = n;
    nameSet = true;
}

void GeometrObj::detachConstraint(int constraintId) {
    auto it = std::find_if(constraints.begin(), constraints.end(),
                           [constraintId](const Constraint* c) { return c->id() == constraintId; });
    if (it != constraints.end())
        constraints.erase(it);
}

void GeometrObj::moveConstraintSide(Constraint* c, int k, const Matrix44d& m) {
    c->transformSamples(c->frag(k), m);
    GeometrObj* other = graph ? graph->getObject(c->frag(1 - k)->id) : nullptr;
    if (other && other->isMarked())
        c->updateColor();
    if (graph)
        graph->constraintChanged(c->id());
}

void GeometrObj::movePointsPickedHere(const Matrix44d& m) {
    // A deeper solve level moves a member alone; the points picked on it must not stay behind
    // in the constraints its groups hold.
    for (GeometrObj* holder = this; holder; holder = holder->parentObject())
        for (Constraint* c : holder->constraintList())
            for (int k = 0; k < 2 && k < c->leafFragCount(); ++k)
                if (c->frag(k) == &holder->objId() && c->leafFrag(k) == &objIdentity)
                    moveConstraintSide(c, k, m);
}

void GeometrObj::detachFromParent() {
    if (graph)
        graph->removeFromParent(objIdentity);
    objIdentity.parent = -1;
}

bool GeometrObj::contains(GeometrObj* o) {
    return o && o->id() == id();
}

bool GeometrObj::containsId(int otherId) {
    return otherId == id();
}

GeometrObj* GeometrObj::parentObject() const {
    if (objIdentity.parent == -1 || !graph)
        return nullptr;
    return graph->getObject(objIdentity.parent);
}

int GeometrObj::rootId() {
    GeometrObj* p = parentObject();
    return p ? p->rootId() : id();
}

void GeometrObj::setConstraintParents(int parent) {
    // The side referring to this object is our own ObjId, which the constraint points at.
    for (Constraint* c : constraints)
        for (int k = 0; k < 2; ++k)
            if (c->frag(k) == &objIdentity)
                c->frag(k)->parent = parent;
}

int GeometrObj::level() {
    GeometrObj* p = parentObject();
    return p ? p->level() + 1 : 0;
}

void GeometrObj::collectConstraints(std::set<Constraint*>& out) {
    out.insert(constraints.begin(), constraints.end());
}

GeometrObj* GeometrObj::ancestorAtLevel(int wanted) {
    const int own = level();
    if (wanted == own)
        return this;
    if (wanted < 0 || wanted > own)
        return nullptr;
    GeometrObj* p = parentObject();
    return p ? p->ancestorAtLevel(wanted) : nullptr;
}
