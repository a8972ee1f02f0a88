// Fuzz target for the project text reader. Meshes come from a stand-in reader, so that no input
// makes the fuzzer read files of the system: a mesh path whose file name starts with "missing"
// cannot be read, any other gives one triangle. A project that is read must be written, read
// again and written to the same text.

#include "frag_mesh.h"
#include "mesh_file_reader.h"
#include "project_reader.h"
#include "project_writer.h"
#include "total_graph.h"

#include <QFileInfo>

#include <cstdint>
#include <cstdlib>

namespace {

class StandInMeshes final : public MeshFileReader {
public:
    bool readPly(const QString& path, FragMesh& mesh, QString& error) override {
        return read(path, mesh, error);
    }
    bool readObj(const QString& path, FragMesh& mesh, QString& error) override {
        return read(path, mesh, error);
    }

private:
    static bool read(const QString& path, FragMesh& mesh, QString& error) {
        mesh.clear();
        if (QFileInfo(path).fileName().startsWith(QLatin1String("missing"))) {
            error = path + QStringLiteral(": the file does not exist");
            return false;
        }
        mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        mesh.faces = {{0, 1, 2}};
        return true;
    }
};

// A folder that does not exist: relative mesh paths lead nowhere real.
const QDir folder(QStringLiteral("/nonexistent/ostrakit-fuzz"));

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static StandInMeshes meshes;
    setMeshFileReader(&meshes);
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
