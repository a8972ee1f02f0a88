#pragma once
// Wavefront material libraries (.mtl), as far as textures go: each material's name and the image of
// its diffuse colour map, and the materials an OBJ file's usemtl lines name.

#include "mesh_texture.h"

#include <QString>
#include <QStringList>

#include <vector>

struct MtlMaterial {
    QString name;  // as newmtl gives it
    QString image; // the file name of its map_Kd as written, empty without one
};

// Reads the library at path: its materials in file order, each with the file name of its last
// map_Kd line. Options before the file name ("-s u v w", "-o u v w", "-bm x", "-clamp on", ...)
// are skipped; the name is the rest of the line and may contain blanks. Keywords are read in any
// letter case. False, with problem set (naming the library), when the file cannot be read.
bool readMtl(const QString& path, std::vector<MtlMaterial>& materials, QString& problem);

// The materials of the OBJ file at objPath, one per name in used, in that order. libraries are its
// mtllib lines in file order, each what follows the keyword: one file name (which may contain
// blanks) when a file of that name is found, else several names separated by blanks. Libraries are
// found as images are (fileBesideMesh: one climbing out of the folder is not read). The first
// library that defines a name gives its material; the image is looked for later
// (findTextureImages). A material that cannot be found gets a problem naming the library or the
// material; one found without map_Kd gets neither image nor problem (it is drawn in the fragment's
// colour).
std::vector<TextureMaterial> objTextureMaterials(const QString& objPath, const QStringList& libraries,
                                                 const QStringList& used);
