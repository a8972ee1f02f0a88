#pragma once
// Reader for STL meshes (binary and ASCII).

#include "corner_merge.h"

#include <QString>

struct FragMesh;

// Reads the facets of an STL file into mesh, which is cleared first. STL stores each facet as its
// three corner positions: corners at bitwise-equal positions become one vertex, so that the mesh is
// connected, and the vertices follow the order in which their corners first appear (see
// mergeCorners); each facet becomes one face, in file order. STL has no vertex colours (the
// attribute bytes of a binary facet are ignored), and the facet normals are not read (the mesh's
// normals come from its faces).
//
// A file is binary STL when its size is 84 + 50 * (the facet count in bytes 80..83), whatever its
// header says (binary headers often begin with "solid" too). Otherwise it must be ASCII STL:
// "solid name", facets "facet normal nx ny nz / outer loop / vertex x y z (three times) / endloop /
// endfacet", "endsolid name", keywords in any letter case; solids may follow each other.
//
// On failure (no facet, a coordinate that is not a finite number, a facet without exactly three
// vertices, a binary file whose size does not match its facet count, a file cut short, ...) returns
// false, leaves mesh empty and sets error to a message that names the file and the problem (and the
// facet or the line where there is one).
bool readStl(const QString& path, FragMesh& mesh, QString& error, const MergeParts& parts = {});
