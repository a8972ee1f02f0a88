#include "mesh_readers.h"

#include "obj_reader.h"
#include "ply_reader.h"

bool MeshReaders::readPly(const QString& path, FragMesh& mesh, QString& error) {
    return ::readPly(path, mesh, error);
}

bool MeshReaders::readObj(const QString& path, FragMesh& mesh, QString& error) {
    return ::readObj(path, mesh, error);
}

void installMeshReaders() {
    static MeshReaders readers;
    setMeshFileReader(&readers);
}
