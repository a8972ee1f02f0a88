#include "mesh_readers.h"

#include "obj_reader.h"
#include "off_reader.h"
#include "ply_reader.h"
#include "stl_reader.h"

void installMeshReaders() {
    // The file dialog lists the formats in this order.
    registerMeshFormat({QStringLiteral("ply"), QStringLiteral("ply"), readPly});
    registerMeshFormat(
        {QStringLiteral("obj"), QStringLiteral("obj"),
         [](const QString& path, FragMesh& mesh, QString& error) { return readObj(path, mesh, error); }});
    registerMeshFormat(
        {QStringLiteral("stl"), QStringLiteral("stl"),
         [](const QString& path, FragMesh& mesh, QString& error) { return readStl(path, mesh, error); }});
    registerMeshFormat({QStringLiteral("off"), QStringLiteral("off"), readOff});
}
