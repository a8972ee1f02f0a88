#pragma once

class GeometrObj;

// Holder of children: a group (its members) or the graph (the top level).
class ChildrenHandler {
public:
    virtual ~ChildrenHandler() = default;
    virtual void addChild(GeometrObj* o) = 0;
    // Removes the child and deletes it (a group child releases its subtree first).
    virtual void deleteChild(int id) = 0;
    // Null when absent.
    virtual GeometrObj* getChild(int id) const = 0;
    // Only forgets the entry; nothing is deleted.
    virtual void removeChild(int id) = 0;
    virtual void changeChildId(int newId, int oldId) = 0;
    virtual int childCount() const = 0;
    virtual bool isEmpty() const = 0;
};
