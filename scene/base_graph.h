#pragma once

#include "children_handler.h"
#include "geometry_types.h"
#include "graph_listener.h"

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <set>
#include <vector>

class Constraint;
class FragGroup;
class GeometrObj;
struct FragMesh;
struct ObjId;

// For each object that ends a constraint fed to the solver (keyed by its own id), the object that
// receives the motion.
using LiftMap = std::map<unsigned, GeometrObj*>;

// The graph is the children handler of the top level; GraphInterface is what groups see of it.
class GraphInterface : public ChildrenHandler {};

// The project: owns every group (top level and nested, by id; fragments are reached through their
// wrapper, which has the same id) and every constraint, hands out ids, colours and the dense
// entity indices, and reports changes through its listener.
class BaseGraph : public GraphInterface {
public:
    static constexpr int ColorCount = 1000;

    BaseGraph();
    ~BaseGraph() override = default;
    BaseGraph(const BaseGraph&) = delete;
    BaseGraph& operator=(const BaseGraph&) = delete;

    // ChildrenHandler (addChild = addObject, deleteChild = deleteObject, ...).
    void addChild(GeometrObj* o) override { addObject(o); }
    void deleteChild(int id) override { deleteObject(id); }
    GeometrObj* getChild(int id) const override { return getObject(id); }
    void removeChild(int id) override { removeObject(id); }
    void changeChildId(int newId, int oldId) override { changeId(newId, oldId); }
    int childCount() const override { return objectCount(); }
    bool isEmpty() const override { return objects.empty(); }

    // Takes ownership. A visible object gets the smallest unused entity index; a hidden one
    // (wrapper) counts in hiddenCount.
    virtual void addObject(GeometrObj* o);
    // A new empty user group with the next free id, registered: inside parent (in its colour) or,
    // for a null parent, at the top level (in the graph's colour for its id).
    FragGroup* addUserGroup(FragGroup* parent = nullptr);
    // The fragment of path around its prepared mesh (see loadMeshes), in a new hidden wrapper
    // with the next free id, registered. Null, with why in error, when the file holds no mesh.
    FragGroup* addFragment(const QString& path, std::shared_ptr<FragMesh> mesh, QString& error);
    // The bookkeeping of addObject without the thumbnail report (used when objects move in from
    // another graph).
    void adoptObject(GeometrObj* o);
    // Removes the object's constraints, detaches it from its parent and deletes it with its subtree.
    virtual void deleteObject(int id);
    virtual GeometrObj* getObject(int id) const;
    // Forgets the object without deleting it.
    virtual void removeObject(int id);
    virtual void changeId(int newId, int oldId);
    virtual int objectCount() const { return static_cast<int>(objects.size()); }
    // The smallest id that no top-level object contains (see GeometrObj::containsId).
    virtual int nextFreeId();
    virtual Color4b defaultColor() const;
    virtual Color4b objectColor(const ObjId& id) const;
    virtual void removeFromParent(const ObjId& id);
    virtual void removeConstraint(int id) = 0;
    // Climbs from a and b to the first pair of ancestors that are top level or share a parent and
    // records them under keyA and keyB.
    virtual void pairAncestors(unsigned keyA, unsigned keyB, GeometrObj* a, GeometrObj* b, LiftMap& out);
    // -1 when the object has no entity index.
    virtual int entityIndexOf(int id) const;
    // Moves every constraint of g (and of its members, unless g is a wrapper) whose other side lies
    // deeper than g to that side's ancestor at g's level.
    virtual void reattachConstraints(GeometrObj* g);
    virtual void constraintChanged(int constraintId);

    void setListener(GraphListener* l) { listener = l; }
    int nextEntityIndex() const;
    int maxLevel() const;
    Constraint* getConstraint(int id) const;
    // Registers c (no report); the caller attaches it to both objects.
    void addConstraint(Constraint* c);
    // The ancestor of o at that level if it is a group; null if it is a fragment or there is none.
    GeometrObj* groupAtLevel(GeometrObj* o, int level) const;
    // Appends the list text of c, e.g. "RBand: 3 connecting Fragment: a.ply to Group: 2. RE: 33.33%".
    void constraintDescription(QString& out, Constraint* c) const;
    // The relative error as the list shows it: "RE: 33.33%" for 0.3333.
    static QString relativeErrorText(double error);
    int hiddenObjectCount() const { return hiddenCount; }
    void decrementHiddenCount() { --hiddenCount; }

    // Every broken invariant of the graph, one line each; empty when the graph is consistent: every
    // constraint attached exactly once to each of the two objects it names, which are in the table;
    // every attached constraint registered; ids and parent links consistent; entity indices unique
    // and held by exactly the visible objects; hiddenCount equal to the number of hidden objects.
    QStringList validate() const;

    const std::map<int, GeometrObj*>& objectTable() const { return objects; }
    const std::map<int, Constraint*>& constraintTable() const { return constraints; }
    const std::map<int, int>& entityIndices() const { return entityIndex; }

protected:
    // entityIndex[id] := the smallest free index / gives id's index back.
    void takeEntityIndex(int id);
    void returnEntityIndex(int id);
    // Forgets every entity index / trades them with other's.
    void clearEntityIndices();
    void swapEntityIndices(BaseGraph& other);

    void report(auto&& call) const {
        if (listener)
            call(*listener);
    }

    std::map<int, GeometrObj*> objects;     // owned
    std::map<int, Constraint*> constraints; // owned
    std::map<int, int> entityIndex;
    // The indices that entityIndex does not hold, so that the next one is found without a scan:
    // those below freshEntityIndex that were given back, and every index from freshEntityIndex on.
    std::set<int> returnedEntityIndices;
    int freshEntityIndex = 0;
    std::vector<Color4b> colors;
    GraphListener* listener = nullptr; // not owned
    int hiddenCount = 0;
};
