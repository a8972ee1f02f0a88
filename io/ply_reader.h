#pragma once
// Reader for PLY meshes (ASCII, binary little endian and binary big endian).

#include <QString>

struct FragMesh;

// Reads the vertex positions (x, y, z), the vertex colours (red, green, blue and optional alpha,
// also accepted as diffuse_red, ...) and the faces (list property vertex_indices or vertex_index)
// of a PLY file into mesh, which is cleared first. Vertices and faces are kept exactly as stored:
// nothing is merged or dropped, polygons become triangle fans (v0, vi, vi+1). Other properties
// and elements are skipped. mesh.fileColors is filled (and mesh.hasVertexColors set) only when the
// file has colours; the other attribute arrays are left empty (see FragMesh::allocateAttributes).
//
// Texture: texture coordinates per face corner (a face list "texcoord" of two numbers a corner,
// fanned with the face) or per vertex (scalar properties s and t, u and v, or texture_u and
// texture_v; the face list wins when there are both) give mesh.texture, with one material per
// "comment TextureFile name" line (the name may contain blanks), chosen per face by a scalar
// "texnumber" property (material 0 without one; one material without image without any
// TextureFile). The images are found beside the file (findTextureImages) and decoded while the body
// is read; an image that cannot be had leaves the mesh read and its material with the problem.
// A texcoord list of other than two numbers a corner, or a texnumber naming no texture file,
// refuses the file.
//
// Colour conversion: uchar colours are taken as they are; float and double colours are read as
// 0..1 and scaled to 0..255 with rounding and clamping; any other integer type is taken as its
// value clamped to 0..255 (no rescaling of 16- or 32-bit ranges).
//
// On failure returns false, leaves mesh empty and sets error to a message that names the file
// and the problem.
bool readPly(const QString& path, FragMesh& mesh, QString& error);
