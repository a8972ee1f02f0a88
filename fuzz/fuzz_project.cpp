// Fuzz target for the project text reader. Meshes come from a stand-in reader, so that no input
// makes the fuzzer read files of the system: a mesh path whose file name starts with "missing"
// cannot be read, any other ending in .ply or .obj gives one triangle. A project that is read
// must be written, read again and written to the same text.

#include "frag_mesh.h"
#include "mesh_formats.h"
#include "project_reader.h"
#include "project_writer.h"
#include "total_graph.h"

#include <QFileInfo>

#include <cstdint>
#include <cstdlib>

namespace {

bool readStandInMesh(const QString& path, FragMesh& mesh, QString& error) {
    mesh.clear();
    if (QFileInfo(path).fileName().startsWith(QLatin1String("missing"))) {
        error = path + QStringLiteral(": the file does not exist");
        return false;
    }
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}};
    return true;
}

// A folder that does not exist: relative mesh paths lead nowhere real.
const QDir folder(QStringLiteral("/nonexistent/ostrakit-fuzz"));

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (const char* suffix : {"ply", "obj"})
        registerMeshFormat({QLatin1String(suffix), QLatin1String(suffix), readStandInMesh});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MeshLoadOptions oneThread;
    oneThread.threads = 1;
    TotalGraph graph;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!readProjectText(text, graph, folder, nullptr, oneThread).ok())
        return 0;
    const QByteArray written = projectFileText(graph, folder);
    const KeptMeshes kept = keepMeshes(graph, folder);
    TotalGraph again;
    if (!readProjectText(written, again, folder, &kept, oneThread).ok() ||
        projectFileText(again, folder) != written)
        std::abort();
    return 0;
}
