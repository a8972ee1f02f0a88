// Fuzz target for the OBJ reader. Each input is read in one part and again cut into up to 16 parts
// of at least 16 bytes, so that the code cutting the file at line starts is reached by small
// inputs: both reads must agree on the mesh or on the refusal, and a mesh must hold together.

#include "fuzz_input.h"
#include "obj_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput(data, size, "obj");
    FragMesh whole, cut;
    QString wholeError, cutError;
    const bool read = readObj(path, whole, wholeError, ObjReadOptions{std::size_t(1) << 30, 1});
    const bool readCut = readObj(path, cut, cutError, ObjReadOptions{16, 16});
    if (read != readCut || wholeError != cutError || whole.vertices != cut.vertices ||
        whole.faces != cut.faces || whole.hasVertexColors != cut.hasVertexColors ||
        whole.fileColors != cut.fileColors)
        std::abort();
    if (read) {
        checkMeshHoldsTogether(whole);
        prepare(whole);
    }
    return 0;
}
