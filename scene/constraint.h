#pragma once

#include "geometry_types.h"
#include "i_focusable.h"
#include "obj_id.h"

#include <QString>
#include <map>
#include <vector>

// Two objects must touch at given places: a point (or several) on each side, with a stiffness.
// Sides point at the ObjId inside the joined objects, so they follow the objects when ids change.
// Points are kept twice: samples move with the objects, refSamples keep the points as recorded.
// What kind of constraint picking makes; the number is what the add-constraint panel asks for.
enum class ConstraintType { None = 0, RubberBand = 1 };

class Constraint : public IFocusable {
public:
    using PointMap = std::multimap<ObjId*, Point3d>;
    // The points of one side, in insertion order. A plain pair of iterators rather than a
    // std::ranges::subrange, which clang 14 cannot instantiate with GCC 12's library.
    struct PointRange {
        PointMap::const_iterator first, last;
        PointMap::const_iterator begin() const { return first; }
        PointMap::const_iterator end() const { return last; }
        bool empty() const { return first == last; }
    };

    explicit Constraint(int id);
    Constraint(int id, ObjId* side0, ObjId* side1);

    QString key() const override { return QString::number(constraintId); }
    void setColor(Color4b c) override { color = c; }

    virtual void draw() = 0;
    virtual void drawSide(const ObjId* side, float scale, int mode) = 0;
    virtual QString typeName() const = 0;
    virtual void updateColor() = 0;
    // Relative error; 1.0 means 100 percent.
    virtual double error() const = 0;

    int id() const { return constraintId; }
    void setId(int id) { constraintId = id; }
    // k is 0 or 1.
    ObjId* frag(int k) const { return frags[static_cast<std::size_t>(k)]; }
    void setFrag(int k, ObjId* o);
    ObjId* leafFrag(int k) const { return lfrags[static_cast<std::size_t>(k)]; }
    int leafFragCount() const { return static_cast<int>(lfrags.size()); }
    void addLeafFrag(ObjId* o) { lfrags.push_back(o); }
    // 0 when frags[0] is this very pointer, else 1.
    int sideOf(const ObjId* o) const { return frags[0] == o ? 0 : 1; }
    int stiffness() const { return stiff; }
    void setStiffness(int s) { stiff = s; }
    bool isFlagged() const { return flag; }
    void setFlag(bool f) { flag = f; }

    // Records p under key in both samples and refSamples.
    void addPoint(ObjId* key, const Point3d& p);
    // Adds delta to the first point under key in samples and in refSamples.
    void movePoint(ObjId* key, const Point3d& delta);
    // Sets the first point under key in samples and in refSamples (where the side has one).
    void setFirstPoints(ObjId* key, const Point3d& sample, const Point3d& ref);
    // First sample point of that side; the side must have one.
    Point3d firstPoint(ObjId* key) const;
    PointRange samplePoints(int k) const { return pointsOf(samples, frag(k)); }
    PointRange refSamplePoints(int k) const { return pointsOf(refSamples, frag(k)); }
    // Every sample point under key := m * p; refSamples stay.
    void transformSamples(ObjId* key, const Matrix44d& m);
    // Moves the points of side k, in order, from key frags[k] to newKey (before setFrag(k, newKey)).
    void rekeySide(int k, ObjId* newKey);
    // Adds a point to one map only (the project reader fills both lists separately).
    void addSamplePoint(ObjId* key, const Point3d& p) { samples.emplace(key, p); }
    void addRefSamplePoint(ObjId* key, const Point3d& p) { refSamples.emplace(key, p); }

protected:
    static PointRange pointsOf(const PointMap& map, ObjId* key);

    std::vector<ObjId*> frags{nullptr, nullptr}; // side 0 and 1: the joined graph-level objects
    std::vector<ObjId*> lfrags;                  // the fragments the points were picked on
    int constraintId;
    bool flag = false; // set while the constraint's points are fed to the solver
    int stiff = 1;
    PointMap samples;
    PointMap refSamples;
};
