#include "obj_reader.h"

#include "frag_mesh.h"

#include <QFile>
#include <QFileInfo>

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Materials are not used: every mtllib is answered with nothing, so a missing .mtl is no error.
class NoMaterials final : public tinyobj::MaterialReader {
public:
    bool operator()(const std::string&, std::vector<tinyobj::material_t>*, std::map<std::string, int>*,
                    std::string*, std::string*) override {
        return true;
    }
};

std::uint8_t colorByte(double v) {
    const double s = v * 255.0;
    if (!(s > 0.0))
        return 0;
    if (s >= 255.0)
        return 255;
    return static_cast<std::uint8_t>(std::lround(s));
}

QString firstLine(const std::string& s) {
    const QString t = QString::fromStdString(s).trimmed();
    const qsizetype nl = t.indexOf(QLatin1Char('\n'));
    return nl < 0 ? t : t.left(nl).trimmed();
}

// The loader drops a face line with fewer than three vertices and only warns, without the line.
bool droppedShortFaces(const std::string& warn) {
    return warn.find("Degenerated face") != std::string::npos;
}

// The vertices on a face line ("f" then whitespace), or -1 for any other line.
int faceVertexCount(const std::string& line) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] != 'f' || i + 1 >= line.size() ||
        (line[i + 1] != ' ' && line[i + 1] != '\t'))
        return -1;
    int count = 0;
    for (i += 1; (i = line.find_first_not_of(" \t", i)) != std::string::npos; ++count)
        i = line.find_first_of(" \t", i);
    return count;
}

// The problem with the first face line that has fewer than three vertices, lines counted from 1
// as the loader and text editors count them ("\n", "\r\n" and a lone "\r" each end a line).
QString shortFaceProblem(std::istream& in) {
    in.clear();
    in.seekg(0);
    std::size_t lineNumber = 0;
    std::string physical;
    while (std::getline(in, physical)) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t cr = physical.find('\r', start);
            const bool last = cr == std::string::npos;
            if (last && start == physical.size() && start > 0)
                break; // the "\r" of a "\r\n" ending
            ++lineNumber;
            const int n = faceVertexCount(physical.substr(start, last ? std::string::npos : cr - start));
            if (n >= 0 && n < 3)
                return QStringLiteral("line %1: a face has %2 vertices (a face needs at least 3)")
                    .arg(lineNumber)
                    .arg(n);
            if (last)
                break;
            start = cr + 1;
        }
    }
    return QStringLiteral("a face has fewer than 3 vertices");
}

// Reads into mesh; returns an empty string on success, else the problem.
QString readInto(const QString& path, FragMesh& mesh) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::in | std::ios::binary);
    if (!in)
        return QStringLiteral("the file cannot be opened");

    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    NoMaterials noMaterials;
    const bool ok = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in, &noMaterials,
                                     /*triangulate=*/false, /*default_vcols_fallback=*/false);
    if (!ok) {
        const QString why = firstLine(err);
        return why.isEmpty() ? QStringLiteral("the file cannot be parsed")
                             : QStringLiteral("the file cannot be parsed (%1)").arg(why);
    }

    if (droppedShortFaces(warn))
        return shortFaceProblem(in);

    const std::size_t nv = attrib.vertices.size() / 3;
    if (nv == 0)
        return QStringLiteral("the file contains no vertices (is it an OBJ file?)");
    if (nv > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many vertices");

    std::uint64_t triangles = 0;
    for (const tinyobj::shape_t& s : shapes)
        for (const auto n : s.mesh.num_face_vertices)
            if (n >= 3)
                triangles += n - 2;
    if (triangles == 0)
        return QStringLiteral("the file contains no faces");
    if (triangles > std::numeric_limits<std::uint32_t>::max())
        return QStringLiteral("the file has too many faces");

    // Indices first, so that nothing is allocated for a file that is refused.
    for (const tinyobj::shape_t& s : shapes)
        for (const tinyobj::index_t& i : s.mesh.indices)
            if (i.vertex_index < 0 || static_cast<std::size_t>(i.vertex_index) >= nv)
                return QStringLiteral("a face refers to vertex %1, which is out of range (the file has %2 "
                                      "vertices, counted from 1)")
                    .arg(static_cast<qint64>(i.vertex_index) + 1)
                    .arg(nv);

    mesh.faces.resize(triangles);
    FragMesh::Face* out = mesh.faces.data();
    for (tinyobj::shape_t& s : shapes) {
        std::size_t offset = 0;
        const auto& idx = s.mesh.indices;
        for (const auto n : s.mesh.num_face_vertices) {
            for (std::size_t j = 2; j < n; ++j)
                *out++ = {static_cast<std::uint32_t>(idx[offset].vertex_index),
                          static_cast<std::uint32_t>(idx[offset + j - 1].vertex_index),
                          static_cast<std::uint32_t>(idx[offset + j].vertex_index)};
            offset += n;
        }
        s = tinyobj::shape_t(); // release as we go
    }
    shapes = {};

    mesh.vertices.resize(nv);
    for (std::size_t v = 0; v < nv; ++v)
        mesh.vertices[v] =
            Point3d(attrib.vertices[3 * v], attrib.vertices[3 * v + 1], attrib.vertices[3 * v + 2]);
    attrib.vertices = {};
    if (attrib.colors.size() == 3 * nv) {
        mesh.fileColors.resize(nv);
        for (std::size_t v = 0; v < nv; ++v)
            mesh.fileColors[v] = Color4b{colorByte(attrib.colors[3 * v]), colorByte(attrib.colors[3 * v + 1]),
                                         colorByte(attrib.colors[3 * v + 2]), 255};
        mesh.hasVertexColors = true;
    }
    return {};
}

} // namespace

bool readObj(const QString& path, FragMesh& mesh, QString& error) {
    mesh.clear();
    const QString name = QFileInfo(path).fileName();
    QString problem;
    if (!QFileInfo::exists(path)) {
        problem = QStringLiteral("the file does not exist");
    } else {
        try {
            problem = readInto(path, mesh);
        } catch (const std::bad_alloc&) {
            problem = QStringLiteral("not enough memory to read the mesh");
        }
#if defined(__GLIBC__)
        // The loader's temporary arrays are many and mid-sized; hand their pages back.
        malloc_trim(0);
#endif
    }
    if (!problem.isEmpty()) {
        mesh.clear();
        error = QStringLiteral("%1: %2").arg(name.isEmpty() ? path : name, problem);
        return false;
    }
    mesh.changes = FragMesh::Positions | FragMesh::Colors | FragMesh::Marks | FragMesh::Topology;
    return true;
}
