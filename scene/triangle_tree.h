#pragma once
// A bounding-volume hierarchy over the triangles of one mesh, for the exact interpenetration marks:
// is a point inside the surface (ray crossings), is any of the surface within a distance, and how
// far is the surface. The tree lives in a frame of its own: single-precision coordinates relative
// to the centre of the mesh's box when it was built, so scans far from the origin keep their
// precision, and a later rigid placement of the mesh moves the query points, not the tree.
//
// A tree is immutable once built and may be shared between threads. It is built from a Source, a
// copy of the mesh taken where the mesh may be read (the GUI thread), so that building can happen
// anywhere else.

#include "geometry_types.h"

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct FragMesh;

class TriangleTree {
public:
    using Vec3f = Eigen::Vector3f;
    using Face = std::array<std::uint32_t, 3>;

    // A mesh as the tree is built from it.
    struct Source {
        std::vector<Vec3f> vertices; // relative to origin
        std::vector<Face> faces;     // every index below vertices.size()
        Point3d origin = Point3d::Zero();
        Matrix44d placement = Matrix44d::Identity(); // the mesh's placement when copied
        // Every edge joins exactly two faces (face adjacency known): one ray's parity decides.
        bool closed = false;
    };
    // The copy of a mesh a tree is built from (faces with an index out of range are left out).
    static Source copyOf(const FragMesh& mesh);

    explicit TriangleTree(const Source& source);

    // The mesh the tree was built from, by its size and placement at the time: a mesh whose
    // placement changed since is still this mesh, only moved.
    bool builtFrom(const FragMesh& mesh) const;
    // World coordinates from the tree's own, for the mesh at its placement now (rigid placements).
    Matrix44d worldFromLocal(const Matrix44d& placementNow) const;

    std::size_t triangleCount() const { return faceOfSlot.size(); }
    std::size_t faceCount() const { return sourceFaces; }
    std::size_t memoryBytes() const;
    const Vec3f& lower() const { return nodes.front().lower; }
    const Vec3f& upper() const { return nodes.front().upper; }

    // Triangles are kept in the tree's own order (slots); each slot knows its face of the mesh.
    std::uint32_t faceAt(std::uint32_t slot) const { return faceOfSlot[slot]; }
    Vec3f centreAt(std::uint32_t slot) const;
    double areaAt(std::uint32_t slot) const;
    // The slots whose triangle centre lies in the box [lower, upper], in slot order.
    std::vector<std::uint32_t> slotsWithCentreIn(const Vec3f& lower, const Vec3f& upper) const;

    // The number of triangles a ray from p along direction crosses, or -1 when it passes exactly
    // through an edge or a vertex (the count would then not tell inside from outside).
    int crossings(const Vec3f& p, const Vec3f& direction) const;
    // p lies inside the surface: the parity of the crossings. A closed surface needs one ray; for
    // any other, rays in fixed directions (the shortest ways out of the tree's box first) vote, so
    // that one ray slipping through a hole of a nearly closed scan does not decide.
    bool contains(const Vec3f& p) const;
    // Some triangle lies within distance r of p.
    bool surfaceWithin(const Vec3f& p, float r) const;
    // The distance from p to the surface when it exceeds bound; otherwise some value not above
    // bound (the search stops as soon as the answer cannot exceed it).
    float distanceBeyond(const Vec3f& p, float bound) const;

    // The nearest point of the surface to p, with the unit normal of its triangle (by the winding of
    // the face), when it lies within maxDistance; all in the tree's own frame. Of triangles equally
    // near, the first met wins, so the answer is the same on every call.
    struct Nearest {
        Vec3f point;
        Vec3f normal;
        float distance = 0.0f;
        std::uint32_t slot = 0;
    };
    std::optional<Nearest> closestPoint(const Vec3f& p, float maxDistance) const;
    // The three corners of the triangle in a slot, in the face's winding order.
    std::array<Vec3f, 3> cornersAt(std::uint32_t slot) const;

private:
    struct Node {
        Vec3f lower;
        std::uint32_t first = 0; // an inner node's left child (right = first + 1), a leaf's first slot
        Vec3f upper;
        std::uint32_t count = 0; // triangles of a leaf; 0 for an inner node
    };
    struct Triangle {
        Vec3f a, b, c;
    };
    void build(const Source& source);
    // Visits the leaves nearest p first, skipping nodes farther than best2 (squared; also those
    // as far, with pruneTies); onLeaf(first, end) takes a leaf's slots, may lower best2, and
    // returns true to stop.
    template <typename OnLeaf>
    void visitNearestFirst(const Vec3f& p, float& best2, bool pruneTies, OnLeaf&& onLeaf) const;

    std::vector<Node> nodes;
    std::vector<Triangle> triangles;       // by slot
    std::vector<std::uint32_t> faceOfSlot; // by slot
    Point3d origin = Point3d::Zero();
    Matrix44d builtPlacement = Matrix44d::Identity();
    std::size_t sourceFaces = 0;
    std::size_t sourceVertices = 0;
    bool closed = false;
};
