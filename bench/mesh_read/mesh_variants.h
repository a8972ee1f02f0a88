#pragma once
// Large test meshes made from a real scan: midpoint subdivision, and the same mesh with its
// vertices and faces in other orders, as different scanning and editing tools write them.

#include "frag_mesh.h"

#include <QString>

#include <Eigen/Core>
#include <array>
#include <cstdint>
#include <vector>

// Each level splits every triangle into four at its edge midpoints (colours averaged). The new
// vertices follow the old ones in the order their edges are met, face by face; the four children
// of a face follow each other: the order a subdivision tool writes.
FragMesh subdivided(const FragMesh& mesh, int levels);

// Vertices and faces sorted along a Z-order curve through the bounding box: neighbours on the
// surface are mostly neighbours in memory.
FragMesh alongCurve(const FragMesh& mesh);

// Vertices and faces in a random order: the worst case for memory locality.
FragMesh shuffled(const FragMesh& mesh, unsigned seed);

// Texture coordinates for writeObjFile: the vt lines, and per face the vt of its corners (from 0);
// every face has the one material of the library.
struct ObjTexCoords {
    std::vector<Eigen::Vector2f> vt;
    std::vector<std::array<std::uint32_t, 3>> cornerVt;
    QString library, material;
};

// Vertex positions with float precision and colours in 0..1, as scanning tools write OBJ; with
// texture, also its mtllib, usemtl and vt lines and faces "v/vt".
bool writeObjFile(const QString& path, const FragMesh& mesh, QString& error,
                  const ObjTexCoords* texture = nullptr);

// Binary STL: each face as its three corner positions (float), normal (0, 0, 0), no attribute.
bool writeBinaryStlFile(const QString& path, const FragMesh& mesh, QString& error);
