#pragma once
// Reader for OFF meshes (the text form).

#include <QString>

struct FragMesh;

// Reads the vertex positions, the vertex colours and the faces of an OFF file into mesh, which is
// cleared first, exactly as stored: every vertex is kept, vertices are numbered from 0, polygons
// become triangle fans (v0, vi, vi+1).
//
// The header is "OFF", "COFF" (vertex colours), "NOFF" (vertex normals, not read) or "CNOFF",
// followed by the counts "vertices faces edges" on the same line or the next one (the edge count is
// not read and may be missing); a file may also begin with the counts alone. Then come one vertex per
// line, "x y z [nx ny nz] [r g b [a]]", and one face per line, "n i1 ... in", anything after the
// indices (a face colour) being ignored. "#" begins a comment; blank lines are skipped.
//
// Colours: a COFF vertex has 3 or 4 components (red, green, blue, alpha) after its position (and
// normal). A plain OFF file whose every vertex has 3 or 4 numbers after its position (as some
// writers put colours) is read as coloured too. The components of a file are 0..1 reals, scaled to
// 0..255, when any of them is written with a decimal point or an exponent, or when none exceeds 1;
// otherwise they are 0..255 integers. Values beyond the range are clamped.
//
// On failure (binary OFF, a count the file cannot hold, a vertex or face line missing, a token
// that is not a number, a face of fewer than 3 vertices or naming a vertex out of range, a coordinate
// that is not finite, no face) returns false, leaves mesh empty and sets error to a message that
// names the file and the problem (and the line, for a problem on a line).
bool readOff(const QString& path, FragMesh& mesh, QString& error);
