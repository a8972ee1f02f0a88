#pragma once
// Closed triangle meshes built in memory for the interpenetration suites and benchmark: UV spheres,
// boxes with subdivided sides (outward, counter-clockwise faces), tori, an internal membrane, the steps
// by which they become fragments of a graph, and projects of them on disk.

#include "../scene/scene_fixtures.h"
#include "frag_group.h"
#include "fragment.h"
#include "project_writer.h"
#include "total_graph.h"

#include <cmath>
#include <cstdint>
#include <vector>

// A sphere around the z axis: `slices` around, `stacks` from the north pole to the south pole;
// 2 slices (stacks - 1) triangles. Appended to m.
inline void appendSphere(FragMesh& m, const Point3d& centre, double radius, int slices, int stacks) {
    const auto base = std::uint32_t(m.vertices.size());
    m.vertices.push_back(centre + Point3d(0, 0, radius)); // north pole
    for (int i = 1; i < stacks; ++i) {
        const double phi = M_PI * i / stacks;
        for (int j = 0; j < slices; ++j) {
            const double theta = 2.0 * M_PI * j / slices;
            m.vertices.push_back(centre + radius * Point3d(std::sin(phi) * std::cos(theta),
                                                           std::sin(phi) * std::sin(theta), std::cos(phi)));
        }
    }
    m.vertices.push_back(centre - Point3d(0, 0, radius)); // south pole
    const auto ring = [&](int i, int j) { return base + 1 + std::uint32_t((i - 1) * slices + (j % slices)); };
    const auto south = std::uint32_t(m.vertices.size() - 1);
    for (int j = 0; j < slices; ++j) {
        m.faces.push_back({base, ring(1, j), ring(1, j + 1)});
        m.faces.push_back({south, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
    }
    for (int i = 1; i + 1 < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            m.faces.push_back({ring(i, j), ring(i + 1, j), ring(i + 1, j + 1)});
            m.faces.push_back({ring(i, j), ring(i + 1, j + 1), ring(i, j + 1)});
        }
}

// The equator disc of a sphere made by appendSphere with an even number of stacks, as a fan from
// a new centre vertex, each triangle listed twice (once in each orientation): a membrane of zero
// thickness inside the closed sphere. Returns the index of its first face.
inline std::size_t appendEquatorMembrane(FragMesh& m, std::uint32_t sphereBase, const Point3d& centre,
                                         int slices, int stacks) {
    const std::size_t first = m.faces.size();
    const auto hub = std::uint32_t(m.vertices.size());
    m.vertices.push_back(centre);
    const auto ring = [&](int j) {
        return sphereBase + 1 + std::uint32_t((stacks / 2 - 1) * slices + (j % slices));
    };
    for (int j = 0; j < slices; ++j) {
        m.faces.push_back({hub, ring(j), ring(j + 1)});
        m.faces.push_back({hub, ring(j + 1), ring(j)});
    }
    return first;
}

// An axis-aligned box, each side an n x n grid of squares (two triangles each). Appended to m.
inline void appendBox(FragMesh& m, const Point3d& lo, const Point3d& hi, int n) {
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            const int a = (axis + 1) % 3, b = (axis + 2) % 3;
            const auto base = std::uint32_t(m.vertices.size());
            for (int j = 0; j <= n; ++j)
                for (int i = 0; i <= n; ++i) {
                    Point3d p;
                    p[axis] = side ? hi[axis] : lo[axis];
                    p[a] = lo[a] + (hi[a] - lo[a]) * i / n;
                    p[b] = lo[b] + (hi[b] - lo[b]) * j / n;
                    m.vertices.push_back(p);
                }
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    const std::uint32_t v00 = base + std::uint32_t(j * (n + 1) + i), v10 = v00 + 1,
                                        v01 = v00 + std::uint32_t(n + 1), v11 = v01 + 1;
                    // (a, b, axis) is right-handed: counter-clockwise in (a, b) faces +axis.
                    if (side) {
                        m.faces.push_back({v00, v10, v11});
                        m.faces.push_back({v00, v11, v01});
                    } else {
                        m.faces.push_back({v00, v11, v10});
                        m.faces.push_back({v00, v01, v11});
                    }
                }
        }
}

// A torus around the z axis: tube radius r around a circle of radius big, `around` x `tube`
// squares of two triangles each, faces outward. Appended to m.
inline void appendTorus(FragMesh& m, const Point3d& centre, double big, double r, int around, int tube) {
    const auto base = std::uint32_t(m.vertices.size());
    for (int i = 0; i < around; ++i) {
        const double u = 2.0 * M_PI * i / around;
        for (int j = 0; j < tube; ++j) {
            const double v = 2.0 * M_PI * j / tube;
            m.vertices.push_back(centre + Point3d((big + r * std::cos(v)) * std::cos(u),
                                                  (big + r * std::cos(v)) * std::sin(u), r * std::sin(v)));
        }
    }
    const auto at = [&](int i, int j) { return base + std::uint32_t((i % around) * tube + (j % tube)); };
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            m.faces.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            m.faces.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
}

// Attributes, box, normals and adjacency, as reading a mesh file leaves them.
inline void finishMesh(FragMesh& m) {
    m.allocateAttributes();
    m.updateBoundingBox();
    m.updateNormals();
    m.updateFaceFaceAdjacency();
}

// What "Add a Fragment" does, with the mesh given instead of read: a hidden wrapper holding a
// fragment with the graph's next free id, registered in the graph and visible.
inline FragGroup* addMeshFragment(TotalGraph& graph, FragMesh mesh, const QString& path) {
    auto* wrapper = new FragGroup(&graph);
    wrapper->setHidden(true);
    const int id = graph.nextFreeId();
    wrapper->objId().id = id;
    auto* fragment = new Fragment(&graph);
    fragment->objId().id = id;
    fragment->setPath(path);
    fragment->setPathNames();
    fragment->mesh() = std::move(mesh);
    finishMesh(fragment->mesh());
    fragment->computeCentroid();
    wrapper->addChild(fragment);
    wrapper->setColor(graph.objectColor(wrapper->objId()));
    graph.addObject(wrapper);
    wrapper->setVisible(true);
    return wrapper;
}

inline FragGroup* addSphere(TotalGraph& graph, const Point3d& centre, double radius, int slices, int stacks,
                            const QString& path) {
    FragMesh m;
    appendSphere(m, centre, radius, slices, stacks);
    return addMeshFragment(graph, std::move(m), path);
}

// A project file in folder holding one visible fragment per sphere (radius 1), each read from its
// own PLY file "sphere_<i>.ply"; meshes receives the spheres as written. Empty on failure.
inline QString writeSphereProject(const QString& folder, const std::vector<Point3d>& centres, int slices,
                                  int stacks, std::vector<FragMesh>& meshes) {
    TotalGraph graph;
    meshes.assign(centres.size(), FragMesh());
    for (std::size_t i = 0; i < centres.size(); ++i) {
        appendSphere(meshes[i], centres[i], 1.0, slices, stacks);
        const QString path = folder + QStringLiteral("/sphere_%1.ply").arg(i);
        std::vector<std::array<int, 3>> faces;
        for (const FragMesh::Face& f : meshes[i].faces)
            faces.push_back({int(f[0]), int(f[1]), int(f[2])});
        if (writeAsciiPly(path, meshes[i].vertices, faces).isEmpty())
            return {};
        addMeshFragment(graph, meshes[i], path);
    }
    const QString project = folder + QStringLiteral("/spheres.prproj");
    QString error;
    return saveProjectFile(project, graph, error) ? project : QString();
}
