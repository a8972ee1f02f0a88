#pragma once
// Registers the io layer's mesh readers as the scene's mesh formats (mesh_formats.h).

#include "mesh_formats.h"

// Registers readPly (ply_reader.h) for ".ply", readObj (obj_reader.h) for ".obj", readStl
// (stl_reader.h) for ".stl" and readOff (off_reader.h) for ".off". Call once at start-up, before any
// fragment is loaded; calling it again is harmless.
void installMeshReaders();
