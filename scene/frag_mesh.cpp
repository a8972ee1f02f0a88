#include "frag_mesh.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

const Color4b white{255, 255, 255, 255};

// Replaces v by n copies of value with exactly n elements of capacity (no growth slack), unless it
// already has n elements, in which case its contents are kept.
template <typename T> void sizeExactly(std::vector<T>& v, std::size_t n, const T& value) {
    if (v.size() == n)
        return;
    std::vector<T>(n, value).swap(v);
}

template <typename T> void releaseVector(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

template <typename T> std::size_t capacityBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

// Runs fn(begin, end) over [0, n), split across two threads when n is large enough to pay for the
// thread start. fn must only write data owned by its own range.
template <typename Fn> void forRange(std::size_t n, Fn&& fn) {
    constexpr std::size_t minParallel = 200000;
    if (n < minParallel || std::thread::hardware_concurrency() < 2) {
        fn(std::size_t{0}, n);
        return;
    }
    const std::size_t half = n / 2;
    std::thread other([&] { fn(half, n); });
    fn(std::size_t{0}, half);
    other.join();
}

// A face takes part in edge matching only when its three corners are distinct, valid vertices.
inline bool isProperFace(const FragMesh::Face& t, std::size_t vertexCount) {
    return t[0] != t[1] && t[1] != t[2] && t[0] != t[2] && t[0] < vertexCount && t[1] < vertexCount &&
           t[2] < vertexCount;
}

// One edge of the star of a vertex v, seen from v: the other end w (> v), the face and the edge index.
struct StarEdge {
    std::uint32_t w;
    std::uint32_t face;
    std::uint32_t edge;
    bool operator<(const StarEdge& o) const {
        if (w != o.w)
            return w < o.w;
        if (face != o.face)
            return face < o.face;
        return edge < o.edge;
    }
};

void sortStarEdges(std::vector<StarEdge>& edges) {
    if (edges.size() > 24) {
        std::sort(edges.begin(), edges.end());
        return;
    }
    for (std::size_t i = 1; i < edges.size(); ++i) {
        const StarEdge x = edges[i];
        std::size_t j = i;
        for (; j > 0 && x < edges[j - 1]; --j)
            edges[j] = edges[j - 1];
        edges[j] = x;
    }
}

} // namespace

void FragMesh::clear() {
    releaseVector(vertices);
    releaseVector(vertexNormals);
    releaseVector(vertexFlags);
    releaseVector(fileColors);
    releaseVector(displayColors);
    releaseVector(highlightColors);
    releaseVector(faces);
    releaseVector(faceNormals);
    releaseVector(faceFlags);
    releaseVector(adjacency);
    releaseVector(marked);
    releaseVector(hitCounts);
    releaseVector(pickColors);
    bbox.setNull();
    hasVertexColors = false;
    placement = Matrix44d::Identity();
    fileBox.setNull();
    fileCentroid = Point3d::Zero();
    changes = Positions | Colors | Marks | Topology;
}

void FragMesh::allocateAttributes() {
    const std::size_t nv = vertices.size();
    const std::size_t nf = faces.size();
    if (fileColors.size() != nv) {
        // The reader did not provide a colour per vertex.
        sizeExactly(fileColors, nv, white);
        hasVertexColors = false;
    }
    sizeExactly(vertexNormals, nv, Point3d(Point3d::Zero()));
    sizeExactly(vertexFlags, nv, std::uint32_t{0});
    sizeExactly(displayColors, nv, white);
    sizeExactly(highlightColors, nv, white);

    sizeExactly(faceNormals, nf, Point3d(Point3d::Zero()));
    sizeExactly(faceFlags, nf, std::uint32_t{0});
    sizeExactly(marked, nf, std::uint8_t{0});
    sizeExactly(hitCounts, nf, 0);
    sizeExactly(pickColors, nf, Color4b{0, 0, 0, 255});
    if (adjacency.size() != nf) {
        std::vector<FaceAdjacency>(nf).swap(adjacency);
        for (std::size_t f = 0; f < nf; ++f) {
            const auto self = static_cast<std::uint32_t>(f);
            adjacency[f].face = {self, self, self};
            adjacency[f].edge = {0, 1, 2};
        }
    }
}

void FragMesh::updateBoundingBox() {
    bbox.setNull();
    if (vertices.empty())
        return;
    Point3d lo = vertices.front(), hi = vertices.front();
    for (const Point3d& p : vertices) {
        lo = lo.cwiseMin(p);
        hi = hi.cwiseMax(p);
    }
    bbox.min = lo;
    bbox.max = hi;
}

void FragMesh::updateVertexNormals() {
    const std::size_t nv = vertices.size();
    if (vertexNormals.size() != nv)
        std::vector<Point3d>(nv).swap(vertexNormals);
    std::fill(vertexNormals.begin(), vertexNormals.end(), Point3d::Zero());
    for (const Face& t : faces) {
        if (t[0] >= nv || t[1] >= nv || t[2] >= nv)
            continue;
        const Point3d& p0 = vertices[t[0]];
        const Point3d n = (vertices[t[1]] - p0).cross(vertices[t[2]] - p0);
        vertexNormals[t[0]] += n;
        vertexNormals[t[1]] += n;
        vertexNormals[t[2]] += n;
    }
    forRange(nv, [this](std::size_t begin, std::size_t end) {
        for (std::size_t v = begin; v < end; ++v) {
            const double len = vertexNormals[v].norm();
            if (len > 0.0)
                vertexNormals[v] /= len;
        }
    });
}

void FragMesh::updateFaceNormals() {
    const std::size_t nv = vertices.size();
    const std::size_t nf = faces.size();
    if (faceNormals.size() != nf)
        std::vector<Point3d>(nf).swap(faceNormals);
    forRange(nf, [this, nv](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const Face& t = faces[f];
            if (t[0] >= nv || t[1] >= nv || t[2] >= nv) {
                faceNormals[f].setZero();
                continue;
            }
            const Point3d& p0 = vertices[t[0]];
            const Point3d n = (vertices[t[1]] - p0).cross(vertices[t[2]] - p0);
            const double len = n.norm();
            if (len > 0.0)
                faceNormals[f] = n / len;
            else
                faceNormals[f].setZero();
        }
    });
}

// Edges are matched around their lower vertex. A face with corners lo < mid < hi has its edges
// lo-mid and lo-hi in the star of lo and mid-hi in the star of mid, so each face is listed in two
// stars only (compressed rows, built by counting). Within one star the edges are grouped by their
// other end: a group of one is a border, a group of two a manifold edge, larger groups are linked
// in a cycle. Faces with a repeated (or invalid) corner are not matched: all their edges are
// borders, so they never disturb the neighbourhood of the proper faces around them.
void FragMesh::updateFaceFaceAdjacency() {
    const std::size_t nv = vertices.size();
    const std::size_t nf = faces.size();
    if (adjacency.size() != nf)
        std::vector<FaceAdjacency>(nf).swap(adjacency);
    forRange(nf, [this](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const auto self = static_cast<std::uint32_t>(f);
            adjacency[f].face = {self, self, self};
            adjacency[f].edge = {0, 1, 2};
        }
    });
    if (nv == 0 || nf == 0)
        return;

    // Star offsets by counting; after filling, star of v is [v ? start[v - 1] : 0, start[v]).
    std::vector<std::uint32_t> start(nv + 1, 0);
    for (const Face& t : faces) {
        if (!isProperFace(t, nv))
            continue;
        const std::uint32_t lo = std::min({t[0], t[1], t[2]});
        const std::uint32_t hi = std::max({t[0], t[1], t[2]});
        const std::uint32_t mid = t[0] ^ t[1] ^ t[2] ^ lo ^ hi;
        ++start[lo + 1];
        ++start[mid + 1];
    }
    for (std::size_t v = 0; v < nv; ++v)
        start[v + 1] += start[v];
    std::vector<std::uint32_t> star(start[nv]);
    for (std::size_t f = 0; f < nf; ++f) {
        const Face& t = faces[f];
        if (!isProperFace(t, nv))
            continue;
        const std::uint32_t lo = std::min({t[0], t[1], t[2]});
        const std::uint32_t hi = std::max({t[0], t[1], t[2]});
        const std::uint32_t mid = t[0] ^ t[1] ^ t[2] ^ lo ^ hi;
        star[start[lo]++] = static_cast<std::uint32_t>(f);
        star[start[mid]++] = static_cast<std::uint32_t>(f);
    }

    // Each (face, edge) slot is written only while visiting its lower vertex, so the two halves of
    // the vertex range never write the same slot.
    forRange(nv, [&](std::size_t begin, std::size_t end) {
        std::vector<StarEdge> edges;
        edges.reserve(32);
        for (std::size_t v = begin; v < end; ++v) {
            const std::uint32_t first = v ? start[v - 1] : 0;
            const std::uint32_t last = start[v];
            if (first == last)
                continue;
            edges.clear();
            const auto vv = static_cast<std::uint32_t>(v);
            for (std::uint32_t s = first; s < last; ++s) {
                const std::uint32_t f = star[s];
                const Face& t = faces[f];
                for (std::uint32_t e = 0; e < 3; ++e) {
                    const std::uint32_t a = t[e], b = t[e == 2 ? 0 : e + 1];
                    if (a == vv && b > vv)
                        edges.push_back({b, f, e});
                    else if (b == vv && a > vv)
                        edges.push_back({a, f, e});
                }
            }
            sortStarEdges(edges);
            for (std::size_t i = 0; i < edges.size();) {
                std::size_t j = i + 1;
                while (j < edges.size() && edges[j].w == edges[i].w)
                    ++j;
                if (j - i >= 2) {
                    for (std::size_t k = i; k < j; ++k) {
                        const StarEdge& from = edges[k];
                        const StarEdge& to = edges[k + 1 < j ? k + 1 : i];
                        adjacency[from.face].face[from.edge] = to.face;
                        adjacency[from.face].edge[from.edge] = static_cast<std::uint8_t>(to.edge);
                    }
                }
                i = j;
            }
        }
    });
}

void FragMesh::transform(const Matrix44d& m) {
    const bool affine = m(3, 0) == 0.0 && m(3, 1) == 0.0 && m(3, 2) == 0.0 && m(3, 3) == 1.0;
    const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
    const Eigen::Vector3d t = m.topRightCorner<3, 1>();
    forRange(vertices.size(), [&](std::size_t begin, std::size_t end) {
        if (affine) {
            for (std::size_t v = begin; v < end; ++v)
                vertices[v] = r * vertices[v] + t;
        } else {
            for (std::size_t v = begin; v < end; ++v)
                vertices[v] = transformPoint(m, vertices[v]);
        }
    });
    changes |= Positions;
}

bool FragMesh::rotateNormals(const Matrix44d& m) {
    const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
    const bool affine = m(3, 0) == 0.0 && m(3, 1) == 0.0 && m(3, 2) == 0.0 && m(3, 3) == 1.0;
    if (!affine || !(r.transpose() * r).isApprox(Eigen::Matrix3d::Identity(), 1e-9) || r.determinant() < 0)
        return false;
    for (auto* normals : {&vertexNormals, &faceNormals})
        forRange(normals->size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                (*normals)[i] = r * (*normals)[i];
        });
    return true;
}

std::size_t FragMesh::memoryBytes() const {
    return capacityBytes(vertices) + capacityBytes(vertexNormals) + capacityBytes(vertexFlags) +
           capacityBytes(fileColors) + capacityBytes(displayColors) + capacityBytes(highlightColors) +
           capacityBytes(faces) + capacityBytes(faceNormals) + capacityBytes(faceFlags) +
           capacityBytes(adjacency) + capacityBytes(marked) + capacityBytes(hitCounts) +
           capacityBytes(pickColors);
}
