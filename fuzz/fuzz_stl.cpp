// Fuzz target for the STL reader. Each input is merged in one part and again in up to 16 parts of
// one facet or more, so that small inputs reach the joining of parts: both reads must agree on the
// mesh or on the refusal, and a mesh must hold together.

#include "fuzz_input.h"
#include "stl_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput(data, size, "stl");
    FragMesh whole, cut;
    QString wholeError, cutError;
    const bool read = readStl(path, whole, wholeError, MergeParts{std::size_t(1) << 30, 1});
    const bool readCut = readStl(path, cut, cutError, MergeParts{1, 16});
    if (read != readCut || wholeError != cutError || whole.vertices != cut.vertices ||
        whole.faces != cut.faces || whole.hasVertexColors || !whole.fileColors.empty())
        std::abort();
    if (read) {
        checkMeshHoldsTogether(whole);
        prepare(whole);
    } else if (wholeError.isEmpty() || !whole.isEmpty()) {
        std::abort();
    }
    return 0;
}
