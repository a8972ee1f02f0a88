#pragma once
// Triangles stored as three positions each (as STL stores them) made into a mesh of shared
// vertices.

#include <cstddef>

struct FragMesh;

// How the triangles are split into parts that are merged at the same time. The mesh is the same
// however they are split.
struct MergeParts {
    // Each part has at least this many triangles (the last one excepted), so that small meshes are
    // merged on one thread.
    std::size_t minPartTriangles = std::size_t(1) << 16;
    // At most this many parts; 0 for one per core (at most 8).
    unsigned maxParts = 0;
};

// Fills mesh.vertices and mesh.faces from the triangles: corner j of triangle t is three floats
// (x, y, z in the machine's byte order) at first + t * stride + 12 * j. Corners whose three floats
// are bitwise equal become one vertex (so 0 and -0 stay apart), and the vertices follow the order in
// which their corners are first met; each triangle becomes one face.
//
// Returns the number (counted from 0) of the first triangle with a coordinate that is not finite,
// and then leaves the mesh empty; else returns triangles. triangles * 3 must fit in 32 bits.
std::size_t mergeCorners(const unsigned char* first, std::size_t stride, std::size_t triangles,
                         FragMesh& mesh, const MergeParts& parts = {});
