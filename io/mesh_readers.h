#pragma once
// Registers the io layer's mesh readers as the scene's mesh formats (mesh_formats.h).

#include "mesh_formats.h"

// Registers readPly (ply_reader.h) for ".ply" and readObj (obj_reader.h) for ".obj". Call once at
// start-up, before any fragment is loaded; calling it again is harmless.
void installMeshReaders();
