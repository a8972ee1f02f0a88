// Fuzz target for the OBJ reader. Each input is read in one part and again cut into up to 16 parts
// of at least 16 bytes, so that the code cutting the file at line starts is reached by small
// inputs: both reads must agree on the mesh (its texture too) or on the refusal, and a mesh must hold
// together.

#include "fuzz_input.h"
#include "mesh_texture.h"
#include "obj_reader.h"

#include <cstdlib>
#include <cstring>

namespace {

// The same drawn vertices, faces and materials (the images are read from the same files).
bool sameTexture(const FragMesh& a, const FragMesh& b) {
    if (!a.texture || !b.texture)
        return !a.texture == !b.texture;
    const MeshTexture& s = *a.texture;
    const MeshTexture& t = *b.texture;
    if (s.coords.size() != t.coords.size() || s.seamCopies != t.seamCopies || s.faces != t.faces ||
        s.faceMaterials != t.faceMaterials || s.materials.size() != t.materials.size())
        return false;
    for (std::size_t i = 0; i < s.coords.size(); ++i)
        if (std::memcmp(&s.coords[i], &t.coords[i], sizeof s.coords[i]) != 0)
            return false;
    for (std::size_t m = 0; m < s.materials.size(); ++m)
        if (s.materials[m].name != t.materials[m].name || s.materials[m].problem != t.materials[m].problem)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = writeInput(data, size, "obj");
    FragMesh whole, cut;
    QString wholeError, cutError;
    const bool read = readObj(path, whole, wholeError, ObjReadOptions{std::size_t(1) << 30, 1});
    const bool readCut = readObj(path, cut, cutError, ObjReadOptions{16, 16});
    if (read != readCut || wholeError != cutError || whole.vertices != cut.vertices ||
        whole.faces != cut.faces || whole.hasVertexColors != cut.hasVertexColors ||
        whole.fileColors != cut.fileColors || !sameTexture(whole, cut))
        std::abort();
    if (read) {
        checkMeshHoldsTogether(whole);
        prepare(whole);
    }
    return 0;
}
