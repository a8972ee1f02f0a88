#pragma once

#include "geometry_types.h"
#include "i_focusable.h"
#include "obj_id.h"

#include <QString>
#include <set>
#include <vector>

class BaseGraph;
class Constraint;
class QPainter;

// Sits between IFocusable and GeometrObj; adds nothing.
class Geomint : public IFocusable {
public:
    using IFocusable::IFocusable;
};

// A fragment or a group. Transformations are baked into the geometry: matrix only records the
// product (newest on the left) of every transformation applied since the mesh was read.
class GeometrObj : public Geomint {
public:
    using ConstraintIterator = std::vector<Constraint*>::iterator;

    GeometrObj(BaseGraph* graph, Color4b initialFocusColor);
    ~GeometrObj() override = default;
    GeometrObj(const GeometrObj&) = delete;
    GeometrObj& operator=(const GeometrObj&) = delete;

    QString key() const override { return objIdentity.key(); }

    virtual int isFragment() const = 0;
    // matrix := m * matrix; no geometry moves.
    virtual void multMatrix(const Matrix44d& m);
    // Bakes m into the geometry (and matrix := m * matrix). A null m re-applies the stored matrix,
    // which restores a saved placement right after the mesh was read.
    virtual void applyTransform(const Matrix44d* m) = 0;
    virtual Matrix44d getMatrix() const { return matrix; }
    virtual Matrix44d getInverseMatrix() const;
    virtual void draw(bool showMarkedFaces) = 0;
    virtual void drawHighlighted(bool showMarkedFaces) = 0;
    virtual bool hasConstraintsDeep() const = 0;
    virtual void drawConstraints(QPainter* painter);
    virtual QString displayName() const = 0;
    virtual void setName(const QString& n);
    virtual std::vector<Constraint*>& constraintList() { return constraints; }
    virtual Box3d getBBox() const { return bbox; }
    virtual Box3d getMeshBBox() const = 0;
    virtual void detachConstraint(int constraintId);
    virtual ObjId& objId() { return objIdentity; }
    virtual void setObjId(const ObjId& o) { objIdentity = o; }
    virtual void detachFromParent();
    virtual void setMarked(bool m) = 0;
    virtual bool contains(GeometrObj* o);
    virtual bool containsId(int id);
    virtual void setId(int newId) = 0;
    virtual int rootId();
    virtual bool isMarked() const = 0;
    virtual ConstraintIterator constraintsBegin() { return constraints.begin(); }
    virtual ConstraintIterator constraintsEnd() { return constraints.end(); }
    virtual void attachConstraint(Constraint* c) { constraints.push_back(c); }
    virtual void setConstraintParents(int parent);
    virtual bool hasConstraints() const { return !constraints.empty(); }
    // Number of ancestors: 0 at top level.
    virtual int level();
    virtual void setVisible(bool v) { visible = v; }
    virtual bool isVisible() const { return visible; }
    virtual Point3d currentCentroid() const = 0;
    virtual Point3d centroid() const { return centroidPoint; }
    virtual void collectConstraints(std::set<Constraint*>& out);
    virtual void setColorFrom(const Color4b& c) = 0;
    virtual void drawPickColors() = 0;
    // Face whose pick code is r + 256 g + 65536 b, with *owner set to the fragment holding it;
    // -1 when no member has that code.
    virtual int faceFromPickColor(int r, int g, int b, GeometrObj** owner) = 0;
    // This object when level() equals level, else the ancestor at that level; null when level is
    // negative or deeper than this object.
    virtual GeometrObj* ancestorAtLevel(int level);
    virtual int constraintCount() const { return static_cast<int>(constraints.size()); }
    // Key of the thumbnail picture ("image:" + key + ".png").
    virtual QString imageKey() const = 0;

    // Non-virtual helpers.
    int id() const { return objIdentity.id; }
    int parentId() const { return objIdentity.parent; }
    bool isTopLevel() const { return objIdentity.parent == -1; }
    bool nameWasSet() const { return nameSet; }
    QString rawName() const { return name; }
    BaseGraph* owningGraph() const { return graph; }
    // The group holding this object (for a fragment, its wrapper); null at top level.
    GeometrObj* parentObject() const;
    void setMatrix(const Matrix44d& m) { matrix = m; }
    // Moves the object (not its members) to another graph, when a graph's contents are handed over.
    void setOwningGraph(BaseGraph* g) { graph = g; }

protected:
    // Bakes m into the points of side k of c (a side this object holds) and tells the graph; the
    // band's colour follows when the other side is placed.
    void moveConstraintSide(Constraint* c, int k, const Matrix44d& m);
    // Moves, by m, every constraint point picked on this object, whichever object holds the
    // constraint (this one or a group above it).
    void movePointsPickedHere(const Matrix44d& m);

    Matrix44d matrix = Matrix44d::Identity();
    Box3d bbox;
    bool visible = false;
    QString name;
    bool nameSet = false;
    ObjId objIdentity;
    BaseGraph* graph;                        // not owned
    std::vector<Constraint*> constraints;    // not owned
    Point3d centroidPoint = Point3d::Zero(); // in the coordinates the mesh was read in
};
