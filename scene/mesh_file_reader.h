#pragma once
// The file formats live in the io layer; the scene only knows this interface, which io installs
// (installMeshReaders() in io/mesh_readers.h) so that Fragment::loadMesh can read meshes without
// the scene depending on io.

#include <QString>

struct FragMesh;

class MeshFileReader {
public:
    virtual ~MeshFileReader() = default;
    // Each reads the file into an empty mesh: positions, file colours (and hasVertexColors) and
    // faces, exactly as stored. On failure returns false, leaves the mesh empty and sets error to
    // a message that can be shown to the user.
    virtual bool readPly(const QString& path, FragMesh& mesh, QString& error) = 0;
    virtual bool readObj(const QString& path, FragMesh& mesh, QString& error) = 0;
};

// Not owned; null until a reader is installed.
void setMeshFileReader(MeshFileReader* reader);
MeshFileReader* meshFileReader();
