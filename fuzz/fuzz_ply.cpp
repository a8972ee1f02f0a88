// Fuzz target for the PLY reader: any input is read or refused, and a mesh that is read holds
// together and can be prepared for drawing.

#include "fuzz_input.h"
#include "ply_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput(data, size, "ply");
    FragMesh mesh;
    QString error;
    if (readPly(path, mesh, error)) {
        checkMeshHoldsTogether(mesh);
        prepare(mesh);
    } else if (error.isEmpty() || !mesh.isEmpty()) {
        std::abort();
    }
    return 0;
}
