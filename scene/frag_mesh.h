#pragma once
// The triangle mesh of one fragment: plain per-vertex and per-face arrays (structure of arrays,
// so that drawing can hand whole arrays to the GPU and the reader can fill them in one pass).

#include "geometry_types.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TriangleTree;
struct MeshTexture;

// Face-face adjacency of one face: for edge e (from corner e to corner (e+1)%3), the face across
// that edge and the index of the shared edge in that face. A border edge points at the face itself;
// the faces around a non-manifold edge form a cycle.
struct FaceAdjacency {
    std::array<std::uint32_t, 3> face{};
    std::array<std::uint8_t, 3> edge{};
};

struct FragMesh {
    using Face = std::array<std::uint32_t, 3>;

    // What changed since the drawing data was last uploaded.
    enum Change : std::uint32_t {
        Positions = 1u << 0,
        Colors = 1u << 1,
        Marks = 1u << 2,
        Topology = 1u << 3
    };

    // Per vertex.
    std::vector<Point3d> vertices;        // positions, world coordinates
    std::vector<Point3d> vertexNormals;   // unit length, or zero where no face contributes
    std::vector<Color4b> fileColors;      // colour read from the file; its red byte is the grey level
    std::vector<Color4b> displayColors;   // drawn colour
    std::vector<Color4b> highlightColors; // drawn instead of displayColors while the fragment is focused

    // Per face.
    std::vector<Face> faces;
    std::vector<Point3d> faceNormals;
    std::vector<FaceAdjacency> adjacency;
    std::vector<std::uint8_t> marked; // faces drawn red when marked
    std::vector<int> hitCounts;       // used by the interpenetration view
    std::vector<Color4b> pickColors;

    Box3d bbox;
    bool hasVertexColors = false; // the file carried per-vertex colours
    // What the file's coordinates were: the vertices are placement * (the file's vertices). A mesh
    // kept by an undo step is placed again from here, without reading the file.
    Matrix44d placement = Matrix44d::Identity();
    Box3d fileBox;
    Point3d fileCentroid = Point3d::Zero();
    std::uint32_t changes = Positions | Colors | Marks | Topology;
    // The search tree of the exact interpenetration marks, built once in a frame of its own and
    // kept while only the placement changes (TriangleTree::builtFrom); null until first needed.
    std::shared_ptr<const TriangleTree> tree;
    // Texture coordinates and images, when the file has texture coordinates; null otherwise. Set
    // by the reader and never changed afterwards, so meshes kept by undo steps share it.
    std::shared_ptr<const MeshTexture> texture;

    std::size_t vertexCount() const { return vertices.size(); }
    std::size_t faceCount() const { return faces.size(); }
    bool isEmpty() const { return vertices.empty() && faces.empty(); }

    void clear();
    // Sizes every per-vertex and per-face attribute array to match vertices and faces; attributes
    // the reader did not fill get their defaults (white file colour, unmarked faces, ...).
    void allocateAttributes();

    // The update steps run after reading and after a transformation.
    void updateBoundingBox();
    // Unit face normals (zero for a degenerate face) and vertex normals: the faces' area vectors
    // summed into their vertices in face order, then each sum of non-zero length normalised.
    void updateNormals();
    void updateFaceFaceAdjacency();
    // The mean of all vertex positions (zero without vertices), summed in vertex order.
    Point3d vertexMean() const;
    // Every vertex position p := m * p (homogeneous divide).
    void transform(const Matrix44d& m);
    // After transform(m) with a rigid m: the normals turned with the surface, which is the same as
    // computing them again but much cheaper. False (nothing changed) when m is not rigid.
    bool rotateNormals(const Matrix44d& m);

    // Bytes held by the arrays (capacity), for memory figures.
    std::size_t memoryBytes() const;
};
