#pragma once
// Reader for Wavefront OBJ meshes.

#include <QString>

#include <cstddef>

struct FragMesh;

// How the file is cut into parts that are parsed at the same time. The mesh and any refusal are the
// same wherever the parts are cut.
struct ObjReadOptions {
    // Each part has at least this many bytes (the last one excepted), so that small files are
    // parsed on one thread.
    std::size_t minPartBytes = std::size_t(4) << 20;
    // At most this many parts; 0 for one per core (at most 8). Parts beyond the cores take turns.
    unsigned maxParts = 0;
};

// Reads the vertex positions (v lines), the vertex colours (v x y z r g b with components in
// 0..1; mesh.hasVertexColors only when every vertex has one) and the faces of all groups and
// objects in file order into mesh, which is cleared first. Every vertex is kept, referenced or not;
// polygons become triangle fans (v0, vi, vi+1); negative indices count back from the latest vertex.
// Lines end in "\n", "\r\n" or a lone "\r"; a backslash at the end of a line continues it on the
// next one. Texture coordinates, normals, lines, points and materials are ignored (a missing .mtl
// is not an error).
//
// On failure (missing file, no vertex, no face, an index out of range, unparsable face) returns
// false, leaves mesh empty and sets error to a message that names the file and the problem (and the
// line, for a problem on a line).
bool readObj(const QString& path, FragMesh& mesh, QString& error, const ObjReadOptions& options = {});
