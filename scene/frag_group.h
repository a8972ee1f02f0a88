#pragma once

#include "children_handler.h"
#include "geometr_obj.h"

#include <QColor>
#include <QIcon>
#include <map>
#include <memory>

struct FragMesh;

// A group of objects. A wrapper (no children, or exactly one child that is a fragment) holds one
// fragment under the same id; user groups hold wrappers or other groups. Children are owned but
// only deleted through deleteChild/releaseSubtree, so that a temporary group can gather
// fragments without taking them over.
class FragGroup : public GeometrObj, public ChildrenHandler {
public:
    explicit FragGroup(BaseGraph* graph);

    void setFocused(bool f) override;
    void setColor(Color4b c) override;
    int isFragment() const override { return 0; }
    void applyTransform(const Matrix44d* m) override;
    void draw(bool showMarkedFaces) override;
    void drawHighlighted(bool showMarkedFaces) override;
    bool hasConstraintsDeep() const override;
    QString displayName() const override;
    Box3d getMeshBBox() const override { return groupBox; }
    void detachFromParent() override;
    void setMarked(bool m) override;
    bool contains(GeometrObj* o) override;
    bool containsId(int id) override;
    void setId(int newId) override;
    bool isMarked() const override { return marked; }
    void setVisible(bool v) override;
    bool isVisible() const override;
    Point3d currentCentroid() const override;
    void collectConstraints(std::set<Constraint*>& out) override;
    void setColorFrom(const Color4b& c) override;
    void drawPickColors() override;
    int faceFromPickColor(int r, int g, int b, GeometrObj** owner) override;
    int constraintCount() const override;
    QString imageKey() const override { return QString::number(id()) + QLatin1Char('g'); }

    // ChildrenHandler
    void addChild(GeometrObj* o) override;
    void deleteChild(int id) override;
    GeometrObj* getChild(int id) const override;
    void removeChild(int id) override;
    void changeChildId(int newId, int oldId) override;
    int childCount() const override { return static_cast<int>(children.size()); }
    bool isEmpty() const override { return children.empty(); }

    // A new hidden wrapper holding the fragment read from path, both with the graph's next free
    // id and coloured from the graph; not yet added to the graph. The fragment's centroid is
    // computed when its mesh was read; otherwise it stays empty and loadError() tells why.
    static FragGroup* wrapFragment(BaseGraph* graph, const QString& path);
    // The same with the mesh of path already read and prepared (see loadMeshes), not null.
    static FragGroup* wrapFragment(BaseGraph* graph, const QString& path, std::shared_ptr<FragMesh> prepared);

    // The fragments of this group in placement-export order: a wrapper's fragment, or the
    // fragments of the children in ascending id order, recursively.
    void collectFragments(std::vector<class Fragment*>& out) const;

    bool isWrapper() const;
    bool isHidden() const { return hidden; }
    void setHidden(bool h) { hidden = h; }
    // The fragment of a wrapper; null otherwise.
    class Fragment* wrappedFragment() const;
    const std::map<int, GeometrObj*>& childMap() const { return children; }
    // centroid := mean of the children's centroids, then the same for every ancestor.
    void updateCentroid();
    // Removes this group's constraints from the graph, takes the group out of the graph's table,
    // releases the subtrees of child groups and deletes every child.
    void releaseSubtree();
    // A 20x20 swatch of the group colour, shown in the tree.
    QIcon icon() const;

    // For temporary groups that gather fragments for a computation: o joins the child table under
    // its own id and the boxes grow by its mesh box, but o keeps its parent and colour and is not
    // taken over.
    void enterWithoutAdopting(GeometrObj* o);
    // Forgets every entry of the child table without deleting or releasing anything.
    void dropChildTable() { children.clear(); }

private:
    std::map<int, GeometrObj*> children;
    bool marked = false;
    QColor iconColor;
    Box3d groupBox;
    bool hidden = false;

    static FragGroup* wrap(BaseGraph* graph, Fragment* fragment);
};

// The name a diagnosis gives an object: a fragment's file name without its suffix (or the name
// the user gave it), a group's display name.
QString shortName(const GeometrObj& o);
