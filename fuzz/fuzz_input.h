#pragma once
// Shared by the fuzz targets: the readers read files, so each input is written to a file of this
// process first; and a mesh that was read must hold together.

#include "frag_mesh.h"
#include "mesh_texture.h"

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

// Aborts unless the texture, when there is one, has a drawn vertex for each corner of each face,
// standing for the corner's own vertex, and a material for each face.
inline void checkTextureHoldsTogether(const FragMesh& mesh) {
    if (!mesh.texture)
        return;
    const MeshTexture& t = *mesh.texture;
    if (t.faces.size() != mesh.faceCount() || t.vertexCount != mesh.vertexCount() ||
        t.coords.size() != t.vertexCount + t.seamCopies.size() ||
        !(t.faceMaterials.empty() || t.faceMaterials.size() == mesh.faceCount()))
        std::abort();
    for (std::size_t f = 0; f < t.faces.size(); ++f) {
        for (int c = 0; c < 3; ++c)
            if (t.faces[f][c] >= t.coords.size() || t.meshVertexOf(t.faces[f][c]) != mesh.faces[f][c])
                std::abort();
        if (t.materialOf(f) >= t.materials.size())
            std::abort();
    }
}

// Aborts (which the fuzzer reports with the input) unless every face names a vertex, the colours
// are one per vertex or none, and the texture holds together.
inline void checkMeshHoldsTogether(const FragMesh& mesh) {
    for (const FragMesh::Face& f : mesh.faces)
        for (std::uint32_t v : f)
            if (v >= mesh.vertexCount())
                std::abort();
    if (mesh.hasVertexColors ? mesh.fileColors.size() != mesh.vertexCount() : !mesh.fileColors.empty())
        std::abort();
    checkTextureHoldsTogether(mesh);
}

// Prepares a mesh that was read as a fragment's mesh is prepared: normals, adjacency and box.
inline void prepare(FragMesh& mesh) {
    mesh.allocateAttributes();
    mesh.updateBoundingBox();
    mesh.updateNormals();
    mesh.updateFaceFaceAdjacency();
}
