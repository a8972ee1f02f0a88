#pragma once
// Reader for Wavefront OBJ meshes.

#include <QString>

struct FragMesh;

// Reads the vertex positions (v lines), the vertex colours (v x y z r g b with components in
// 0..1; mesh.hasVertexColors only when every vertex has one) and the faces of all groups and
// objects in file order into mesh, which is cleared first. Every vertex is kept, referenced or not;
// polygons become triangle fans (v0, vi, vi+1); negative indices count back from the latest vertex.
// Texture coordinates, normals, lines, points and materials are ignored (a missing .mtl is not an
// error).
//
// On failure (missing file, no vertex, no face, an index out of range, unparsable face) returns
// false, leaves mesh empty and sets error to a message that names the file and the problem.
bool readObj(const QString& path, FragMesh& mesh, QString& error);
