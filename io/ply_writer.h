#pragma once

#include <QString>

struct FragMesh;

// Writes positions (as float), file colours (as uchar, when the mesh has them) and triangles as a
// binary little-endian PLY, through a temporary file that replaces the target only when complete.
bool writeBinaryPly(const QString& path, const FragMesh& mesh, QString& error);
