#include "ply_writer.h"

#include "frag_mesh.h"
#include "staged_file.h"

#include <QByteArray>
#include <bit>
#include <cstring>

namespace {
template <class T> void append(QByteArray& out, T value) {
    // PLY binary_little_endian; this program only runs on little-endian machines.
    static_assert(std::endian::native == std::endian::little);
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}
} // namespace

bool writeBinaryPly(const QString& path, const FragMesh& mesh, QString& error) {
    const bool colours = mesh.hasVertexColors && mesh.fileColors.size() == mesh.vertices.size();
    QByteArray out = QStringLiteral("ply\nformat binary_little_endian 1.0\nelement vertex %1\n"
                                    "property float x\nproperty float y\nproperty float z\n")
                         .arg(mesh.vertices.size())
                         .toLatin1();
    if (colours)
        out += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    out += QStringLiteral("element face %1\nproperty list uchar int vertex_indices\nend_header\n")
               .arg(mesh.faces.size())
               .toLatin1();
    out.reserve(out.size() + qsizetype(mesh.vertices.size() * 15 + mesh.faces.size() * 13));
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const Point3d& p = mesh.vertices[i];
        append(out, float(p.x()));
        append(out, float(p.y()));
        append(out, float(p.z()));
        if (colours) {
            const Color4b c = mesh.fileColors[i];
            append(out, c.r);
            append(out, c.g);
            append(out, c.b);
        }
    }
    for (const FragMesh::Face& f : mesh.faces) {
        append(out, std::uint8_t(3));
        for (std::uint32_t v : f)
            append(out, std::int32_t(v));
    }
    return writeFileAtomically(path, out, error);
}
