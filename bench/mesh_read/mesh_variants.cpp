#include "mesh_variants.h"

#include "staged_file.h"

#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <numeric>
#include <random>
#include <unordered_map>

namespace {

Color4b average(Color4b a, Color4b b) {
    auto mid = [](int x, int y) { return std::uint8_t((x + y + 1) / 2); };
    return {mid(a.r, b.r), mid(a.g, b.g), mid(a.b, b.b), 255};
}

FragMesh subdividedOnce(const FragMesh& m) {
    FragMesh out;
    out.vertices = m.vertices;
    const bool colours = m.hasVertexColors && m.fileColors.size() == m.vertices.size();
    if (colours)
        out.fileColors = m.fileColors;
    out.hasVertexColors = colours;
    std::unordered_map<std::uint64_t, std::uint32_t> midpoint;
    midpoint.reserve(m.faces.size() * 2);
    auto edgeVertex = [&](std::uint32_t a, std::uint32_t b) {
        const std::uint64_t key = (std::uint64_t(std::min(a, b)) << 32) | std::max(a, b);
        auto [it, added] = midpoint.try_emplace(key, std::uint32_t(out.vertices.size()));
        if (added) {
            out.vertices.push_back((m.vertices[a] + m.vertices[b]) * 0.5);
            if (colours)
                out.fileColors.push_back(average(m.fileColors[a], m.fileColors[b]));
        }
        return it->second;
    };
    out.faces.reserve(m.faces.size() * 4);
    for (const FragMesh::Face& t : m.faces) {
        const std::uint32_t ab = edgeVertex(t[0], t[1]), bc = edgeVertex(t[1], t[2]),
                            ca = edgeVertex(t[2], t[0]);
        out.faces.push_back({t[0], ab, ca});
        out.faces.push_back({ab, t[1], bc});
        out.faces.push_back({ca, bc, t[2]});
        out.faces.push_back({ab, bc, ca});
    }
    return out;
}

// The mesh with vertex v moved to position newIndex[v] and face faceOrder[k] moved to position k.
FragMesh permuted(const FragMesh& m, const std::vector<std::uint32_t>& newIndex,
                  const std::vector<std::uint32_t>& faceOrder) {
    FragMesh out;
    out.hasVertexColors = m.hasVertexColors;
    out.vertices.resize(m.vertices.size());
    if (m.hasVertexColors)
        out.fileColors.resize(m.vertices.size());
    for (std::size_t v = 0; v < m.vertices.size(); ++v) {
        out.vertices[newIndex[v]] = m.vertices[v];
        if (m.hasVertexColors)
            out.fileColors[newIndex[v]] = m.fileColors[v];
    }
    out.faces.reserve(m.faces.size());
    for (std::uint32_t f : faceOrder) {
        const FragMesh::Face& t = m.faces[f];
        out.faces.push_back({newIndex[t[0]], newIndex[t[1]], newIndex[t[2]]});
    }
    return out;
}

// Spreads the low 21 bits of x to every third bit.
std::uint64_t spread(std::uint64_t x) {
    x &= 0x1fffff;
    x = (x | x << 32) & 0x1f00000000ffffULL;
    x = (x | x << 16) & 0x1f0000ff0000ffULL;
    x = (x | x << 8) & 0x100f00f00f00f00fULL;
    x = (x | x << 4) & 0x10c30c30c30c30c3ULL;
    x = (x | x << 2) & 0x1249249249249249ULL;
    return x;
}

std::vector<std::uint32_t> sortedBy(const std::vector<std::uint64_t>& keys) {
    std::vector<std::uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    return order;
}

std::vector<std::uint32_t> inverse(const std::vector<std::uint32_t>& order) {
    std::vector<std::uint32_t> inv(order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        inv[order[k]] = std::uint32_t(k);
    return inv;
}

} // namespace

FragMesh subdivided(const FragMesh& mesh, int levels) {
    FragMesh m = mesh;
    for (int i = 0; i < levels; ++i)
        m = subdividedOnce(m);
    return m;
}

FragMesh alongCurve(const FragMesh& m) {
    Point3d lo = m.vertices.front(), hi = lo;
    for (const Point3d& p : m.vertices) {
        lo = lo.cwiseMin(p);
        hi = hi.cwiseMax(p);
    }
    const Point3d scale = (hi - lo).cwiseMax(Point3d::Constant(1e-30)).cwiseInverse() * double(0x1fffff);
    auto code = [&](const Point3d& p) {
        const Point3d q = (p - lo).cwiseProduct(scale);
        return spread(std::uint64_t(q.x())) | spread(std::uint64_t(q.y())) << 1 |
               spread(std::uint64_t(q.z())) << 2;
    };
    std::vector<std::uint64_t> vkeys(m.vertices.size()), fkeys(m.faces.size());
    for (std::size_t v = 0; v < m.vertices.size(); ++v)
        vkeys[v] = code(m.vertices[v]);
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        const FragMesh::Face& t = m.faces[f];
        fkeys[f] = code((m.vertices[t[0]] + m.vertices[t[1]] + m.vertices[t[2]]) / 3.0);
    }
    return permuted(m, inverse(sortedBy(vkeys)), sortedBy(fkeys));
}

FragMesh shuffled(const FragMesh& m, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> vorder(m.vertices.size()), forder(m.faces.size());
    std::iota(vorder.begin(), vorder.end(), 0u);
    std::iota(forder.begin(), forder.end(), 0u);
    std::shuffle(vorder.begin(), vorder.end(), rng);
    std::shuffle(forder.begin(), forder.end(), rng);
    return permuted(m, inverse(vorder), forder);
}

bool writeObjFile(const QString& path, const FragMesh& m, QString& error, const ObjTexCoords* texture) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f) {
        error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    std::string buf;
    buf.reserve(1 << 22);
    char tmp[64];
    auto number = [&](auto v) {
        const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        buf.append(tmp, r.ptr);
    };
    auto flushIfFull = [&] {
        if (buf.size() > (1 << 22) - 256) {
            std::fwrite(buf.data(), 1, buf.size(), f);
            buf.clear();
        }
    };
    buf += "# subdivided scan\n";
    if (texture)
        buf += "mtllib " + texture->library.toStdString() + "\n";
    for (std::size_t v = 0; v < m.vertices.size(); ++v) {
        buf += 'v';
        for (int k = 0; k < 3; ++k) {
            buf += ' ';
            number(float(m.vertices[v][k]));
        }
        if (m.hasVertexColors) {
            const Color4b c = m.fileColors[v];
            for (std::uint8_t b : {c.r, c.g, c.b}) {
                buf += ' ';
                number(float(b / 255.0));
            }
        }
        buf += '\n';
        flushIfFull();
    }
    if (texture) {
        for (const Eigen::Vector2f& uv : texture->vt) {
            buf += "vt ";
            number(uv.x());
            buf += ' ';
            number(uv.y());
            buf += '\n';
            flushIfFull();
        }
        buf += "usemtl " + texture->material.toStdString() + "\n";
    }
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        buf += 'f';
        for (int c = 0; c < 3; ++c) {
            buf += ' ';
            number(m.faces[f][c] + 1);
            if (texture) {
                buf += '/';
                number(texture->cornerVt[f][c] + 1);
            }
        }
        buf += '\n';
        flushIfFull();
    }
    std::fwrite(buf.data(), 1, buf.size(), f);
    return std::fclose(f) == 0;
}

bool writeBinaryStlFile(const QString& path, const FragMesh& m, QString& error) {
    QByteArray out = "solid, but binary"; // the header trap: binary STL may start with "solid"
    out = out.leftJustified(80, ' ');
    const auto count = std::uint32_t(m.faces.size());
    out.reserve(84 + 50 * qsizetype(count));
    out.append(reinterpret_cast<const char*>(&count), 4);
    for (const FragMesh::Face& t : m.faces) {
        float record[12] = {}; // the normal (left 0), then the corners
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                record[3 + 3 * j + k] = float(m.vertices[t[j]][k]);
        out.append(reinterpret_cast<const char*>(record), sizeof record);
        out.append(2, '\0'); // no attribute
    }
    // Written at once, as the PLY files are: the page cache then holds it in large pages, which
    // makes a mapped file much faster to read the first time.
    return writeFileAtomically(path, out, error);
}
