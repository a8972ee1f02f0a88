#pragma once
// Shared by the fuzz targets: the readers read files, so each input is written to a file of this
// process first; and a mesh that was read must hold together.

#include "frag_mesh.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Writes the input to a file of this process (several fuzzing processes may run side by side)
// and returns its path.
inline QString writeInput(const std::uint8_t* data, std::size_t size, const char* suffix) {
    static const QString path =
        QDir::temp().filePath(QStringLiteral("ostrakit-fuzz-%1.%2").arg(getpid()).arg(QLatin1String(suffix)));
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    return path;
}

// Aborts (which the fuzzer reports with the input) unless every face names a vertex and the colours
// are one per vertex or none.
inline void checkMeshHoldsTogether(const FragMesh& mesh) {
    for (const FragMesh::Face& f : mesh.faces)
        for (std::uint32_t v : f)
            if (v >= mesh.vertexCount())
                std::abort();
    if (mesh.hasVertexColors ? mesh.fileColors.size() != mesh.vertexCount() : !mesh.fileColors.empty())
        std::abort();
}

// Prepares a mesh that was read as a fragment's mesh is prepared: normals, adjacency and box.
inline void prepare(FragMesh& mesh) {
    mesh.allocateAttributes();
    mesh.updateBoundingBox();
    mesh.updateNormals();
    mesh.updateFaceFaceAdjacency();
}
