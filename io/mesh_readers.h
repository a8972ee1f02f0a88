#pragma once
// Installs the io layer's mesh readers (readPly, readObj) as the scene's MeshFileReader.

#include "mesh_file_reader.h"

// Implements MeshFileReader with readPly (ply_reader.h) and readObj (obj_reader.h).
class MeshReaders final : public MeshFileReader {
public:
    bool readPly(const QString& path, FragMesh& mesh, QString& error) override;
    bool readObj(const QString& path, FragMesh& mesh, QString& error) override;
};

// Makes a static MeshReaders instance the scene's mesh file reader (setMeshFileReader). Call once
// at start-up, before any fragment is loaded; calling it again is harmless.
void installMeshReaders();
