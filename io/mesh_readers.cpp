#include "mesh_readers.h"

#include "obj_reader.h"
#include "ply_reader.h"

void installMeshReaders() {
    // The file dialog lists the formats in this order.
    registerMeshFormat({QStringLiteral("ply"), QStringLiteral("ply"), readPly});
    registerMeshFormat(
        {QStringLiteral("obj"), QStringLiteral("obj"),
         [](const QString& path, FragMesh& mesh, QString& error) { return readObj(path, mesh, error); }});
}
