// Fuzz target for the OFF reader: any input is read or refused, and a mesh that is read holds
// together and can be prepared for drawing.

#include "fuzz_input.h"
#include "off_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput(data, size, "off");
    FragMesh mesh;
    QString error;
    if (readOff(path, mesh, error)) {
        checkMeshHoldsTogether(mesh);
        prepare(mesh);
    } else if (error.isEmpty() || !mesh.isEmpty()) {
        std::abort();
    }
    return 0;
}
