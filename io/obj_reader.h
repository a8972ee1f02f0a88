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
// next one. Normals, lines and points are ignored.
//
// Texture: when the file has vt lines ("vt u [v [w]]", v = 0 when absent) and a face corner names
// one ("v/vt", "v/vt/vn"; negative vt count back from the latest vt line), mesh.texture holds the
// corner coordinates of every triangle in the fans' order, (0, 0) for a corner that names none. A
// file without vt lines has no texture, and the vt of its corners are not looked at. Materials:
// "usemtl name" gives the faces after it their material; faces before the first usemtl line have
// material 0, without name or image, drawn in the fragment's colour. The materials come from the
// "mtllib" libraries beside the file (readMtl in mtl_reader.h, objTextureMaterials) with the image
// of their map_Kd, found beside the file and decoded while the file is parsed. A library or image
// that is missing, unreadable or outside the file's folder does not stop the mesh: its materials
// are left without image, with the problem (MeshTexture::problems()).
//
// On failure (missing file, no vertex, no face, a vertex or texture coordinate index out of range,
// unparsable face or vt line, more than 65,535 materials) returns false, leaves mesh empty and sets
// error to a message that names the file and the problem (and the line, for a problem on a line).
bool readObj(const QString& path, FragMesh& mesh, QString& error, const ObjReadOptions& options = {});
