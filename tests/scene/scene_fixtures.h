#pragma once
// Shared helpers of the scene suites: real mesh files written to a temporary folder, a listener
// that records what the graph reports, and the steps by which the program builds a project.

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "graph_listener.h"
#include "mesh_readers.h"
#include "rband.h"
#include "total_graph.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <vector>

// Writes an ASCII PLY of the given vertices (with a grey level per vertex) and triangles.
inline QString writeAsciiPly(const QString& path, const std::vector<Point3d>& v,
                             const std::vector<std::array<int, 3>>& f, int grey = 255) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QTextStream out(&file);
    out << "ply\nformat ascii 1.0\nelement vertex " << v.size()
        << "\nproperty float x\nproperty float y\nproperty float z\n"
           "property uchar red\nproperty uchar green\nproperty uchar blue\n"
        << "element face " << f.size() << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (const Point3d& p : v)
        out << p.x() << ' ' << p.y() << ' ' << p.z() << ' ' << grey << ' ' << grey << ' ' << grey << '\n';
    for (const auto& t : f)
        out << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << '\n';
    return path;
}

// A tetrahedron translated by offset; its vertex mean is offset + (0.25, 0.25, 0.25).
inline QString writeTetrahedron(const QTemporaryDir& dir, const QString& name,
                                const Point3d& offset = Point3d::Zero(), int grey = 255) {
    std::vector<Point3d> v{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (Point3d& p : v)
        p += offset;
    return writeAsciiPly(dir.filePath(name), v, {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}}, grey);
}

// An axis-aligned cube with outward, counter-clockwise faces.
inline QString writeCube(const QTemporaryDir& dir, const QString& name, const Point3d& min, double side) {
    std::vector<Point3d> v;
    for (int i = 0; i < 8; ++i)
        v.push_back(min + side * Point3d(i & 1, (i >> 1) & 1, (i >> 2) & 1));
    return writeAsciiPly(dir.filePath(name), v,
                         {{0, 2, 3},
                          {0, 3, 1},
                          {4, 5, 7},
                          {4, 7, 6},
                          {0, 1, 5},
                          {0, 5, 4},
                          {2, 6, 7},
                          {2, 7, 3},
                          {0, 4, 6},
                          {0, 6, 2},
                          {1, 3, 7},
                          {1, 7, 5}});
}

// Records the reports of the graph.
class RecordingListener : public GraphListener {
public:
    std::vector<GeometrObj*> thumbnails;
    std::vector<int> updatedTexts, hiddenConstraints, removedItems;

    void makeThumbnail(GeometrObj* o) override { thumbnails.push_back(o); }
    void updateConstraintText(int id) override { updatedTexts.push_back(id); }
    void hideSolvedConstraint(int id) override { hiddenConstraints.push_back(id); }
    void removeConstraintItem(int id) override { removedItems.push_back(id); }
    void addTopLevelItems(GeometrObj*) override {}
    void addConstraintItem(Constraint*) override {}
};

// What "Add a Fragment" does: a wrapper with the fragment, registered in the graph.
inline FragGroup* addFragment(TotalGraph& graph, const QString& path) {
    FragGroup* wrapper = FragGroup::wrapFragment(&graph, path);
    graph.addObject(wrapper);
    return wrapper;
}

// An empty user group at top level.
inline FragGroup* addGroup(TotalGraph& graph) {
    return graph.addUserGroup();
}

// A rubber band between two graph objects with one point on each side, as picking makes it: the
// points count as picked on the first fragment inside each object.
inline RBand* addBand(TotalGraph& graph, GeometrObj* a, GeometrObj* b, const Point3d& pa, const Point3d& pb) {
    const auto pickedOn = [](GeometrObj* o) {
        std::vector<Fragment*> leaves;
        if (auto* g = dynamic_cast<FragGroup*>(o))
            g->collectFragments(leaves);
        return leaves.empty() ? &o->objId() : &leaves.front()->objId();
    };
    return RBand::join(graph, {a, pa, pickedOn(a)}, {b, pb, pickedOn(b)}, 1);
}

inline Matrix44d translation(double x, double y, double z) {
    Matrix44d m = Matrix44d::Identity();
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    return m;
}

inline Matrix44d rotationZ(double radians) {
    Matrix44d m = Matrix44d::Identity();
    m(0, 0) = std::cos(radians);
    m(0, 1) = -std::sin(radians);
    m(1, 0) = std::sin(radians);
    m(1, 1) = std::cos(radians);
    return m;
}
