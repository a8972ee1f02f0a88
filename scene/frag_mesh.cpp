#include "frag_mesh.h"

#include "large_arrays.h"
#include "mesh_texture.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>

namespace {

using large_arrays::forRange;

const Color4b white{255, 255, 255, 255};

// Random reads and writes into arrays far larger than the caches are announced this many items
// ahead, so that the memory system fetches many at once instead of one after the other. That keeps
// preparation nearly as fast for a mesh in a random order as for one in a cache-friendly order.
constexpr std::size_t ahead = 24;

inline void prefetchRead(const void* p) {
    __builtin_prefetch(p, 0, 3);
}
inline void prefetchWrite(const void* p) {
    __builtin_prefetch(p, 1, 3);
}

// Replaces v by n copies of value with exactly n elements of capacity (no growth slack), unless it
// already has n elements, in which case its contents are kept.
template <typename T> void sizeExactly(std::vector<T>& v, std::size_t n, const T& value) {
    if (v.size() != n)
        large_arrays::assignFresh(v, n, value);
}

template <typename T> void releaseVector(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

template <typename T> std::size_t capacityBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

inline bool hasValidCorners(const FragMesh::Face& t, std::size_t vertexCount) {
    return t[0] < vertexCount && t[1] < vertexCount && t[2] < vertexCount;
}

// The face's area vector: its normal, twice its area long.
inline Point3d areaVector(const std::vector<Point3d>& vertices, const FragMesh::Face& t) {
    const Point3d& p0 = vertices[t[0]];
    return (vertices[t[1]] - p0).cross(vertices[t[2]] - p0);
}

void setSelfAdjacency(std::vector<FaceAdjacency>& adjacency) {
    forRange(adjacency.size(), [&adjacency](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const auto self = static_cast<std::uint32_t>(f);
            adjacency[f].face = {self, self, self};
            adjacency[f].edge = {0, 1, 2};
        }
    });
}

inline bool isProperFace(const FragMesh::Face& t, std::size_t vertexCount) {
    return t[0] != t[1] && t[1] != t[2] && t[0] != t[2] && hasValidCorners(t, vertexCount);
}

// One edge of a proper face, filed under its lower vertex: the other end w, the face, and the edge
// index (while filed in a bucket, the edge index also carries the lower vertex, see EdgeBuckets).
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

void sortStarEdges(StarEdge* first, StarEdge* last) {
    if (last - first > 24) {
        std::sort(first, last);
        return;
    }
    for (StarEdge* i = first + 1; i < last; ++i) {
        const StarEdge x = *i;
        StarEdge* j = i;
        for (; j > first && x < *(j - 1); --j)
            *j = *(j - 1);
        *j = x;
    }
}

// Links the edges of one vertex that have the same other end, sorted: a group of one is a border,
// a group of two a manifold edge, larger groups (non-manifold edges) are linked in a cycle in face
// order.
void linkStarEdges(const StarEdge* first, const StarEdge* last, std::vector<FaceAdjacency>& adjacency) {
    for (const StarEdge* i = first; i < last;) {
        const StarEdge* j = i + 1;
        while (j < last && j->w == i->w)
            ++j;
        if (j - i >= 2) {
            for (const StarEdge* k = i; k < j; ++k) {
                const StarEdge& to = k + 1 < j ? *(k + 1) : *i;
                adjacency[k->face].face[k->edge] = to.face;
                adjacency[k->face].edge[k->edge] = static_cast<std::uint8_t>(to.edge);
            }
        }
        i = j;
    }
}

// The edges of all proper faces, filed by their lower vertex into buckets of bucketSpan
// consecutive vertices. Filing writes to a few hundred places at a time, one per bucket, and each
// bucket is then sorted within a few kilobytes; so the work reads and writes memory almost in
// order, whatever the order of the vertices and faces in the file. The buckets are filled in
// rounds, each holding about an equal share of the edges, so that only part of the edges is held
// at a time.
class EdgeBuckets {
public:
    static constexpr std::uint32_t spanBits = 12;
    static constexpr std::uint32_t span = 1u << spanBits;

    EdgeBuckets(const FragMesh& mesh, unsigned rounds)
        : mesh_(mesh), nv_(mesh.vertices.size()), nf_(mesh.faces.size()), buckets_((nv_ >> spanBits) + 1),
          parts_(large_arrays::partsFor(nf_)) {
        countEdges();
        planRounds(std::max(rounds, 1u));
    }

    std::size_t roundCount() const { return roundStart_.size() - 1; }

    // Files the edges of round r, then links the edges of each of its vertices in adjacency.
    void linkRound(std::size_t r, std::vector<FaceAdjacency>& adjacency) {
        const std::size_t b0 = roundStart_[r], b1 = roundStart_[r + 1];
        fileRound(b0, b1);
        forRange(
            b1 - b0,
            [&](std::size_t begin, std::size_t end) {
                std::vector<StarEdge> sorted;
                std::vector<std::uint32_t> at(span + 1);
                for (std::size_t b = b0 + begin; b < b0 + end; ++b)
                    linkBucket(b, sorted, at, adjacency);
            },
            1);
    }

private:
    template <typename Fn> void forEachEdge(std::size_t f, Fn&& fn) const {
        const FragMesh::Face& t = mesh_.faces[f];
        if (!isProperFace(t, nv_))
            return;
        for (std::uint32_t e = 0; e < 3; ++e) {
            const std::uint32_t a = t[e], b = t[e == 2 ? 0 : e + 1];
            fn(std::min(a, b), std::max(a, b), e);
        }
    }

    // count_[p * buckets + b]: the edges of the faces of part p that go to bucket b.
    void countEdges() {
        count_.assign(std::size_t(parts_) * buckets_, 0);
        large_arrays::forParts(nf_, parts_, [&](unsigned part, std::size_t begin, std::size_t end) {
            std::size_t* mine = count_.data() + std::size_t(part) * buckets_;
            for (std::size_t f = begin; f < end; ++f)
                forEachEdge(
                    f, [mine](std::uint32_t lo, std::uint32_t, std::uint32_t) { ++mine[lo >> spanBits]; });
        });
    }

    void planRounds(unsigned rounds) {
        bucketEdges_.assign(buckets_, 0);
        std::size_t total = 0;
        for (std::size_t b = 0; b < buckets_; ++b) {
            for (unsigned p = 0; p < parts_; ++p)
                bucketEdges_[b] += count_[std::size_t(p) * buckets_ + b];
            total += bucketEdges_[b];
        }
        const std::size_t share = total / rounds + 1;
        roundStart_ = {0};
        std::size_t inRound = 0;
        for (std::size_t b = 0; b < buckets_; ++b) {
            if (inRound > 0 && inRound + bucketEdges_[b] > share) {
                roundStart_.push_back(b);
                inRound = 0;
            }
            inRound += bucketEdges_[b];
        }
        roundStart_.push_back(buckets_);
    }

    // Fills edges_ with the edges of buckets [b0, b1): bucket by bucket, and within a bucket part
    // by part, each part in face order.
    void fileRound(std::size_t b0, std::size_t b1) {
        bucketStart_.assign(b1 - b0 + 1, 0);
        std::vector<std::size_t> cursor(std::size_t(parts_) * (b1 - b0));
        std::size_t at = 0;
        for (std::size_t b = b0; b < b1; ++b) {
            bucketStart_[b - b0] = at;
            for (unsigned p = 0; p < parts_; ++p) {
                cursor[std::size_t(p) * (b1 - b0) + (b - b0)] = at;
                at += count_[std::size_t(p) * buckets_ + b];
            }
        }
        bucketStart_[b1 - b0] = at;
        if (edges_.size() < at)
            large_arrays::assignFresh(edges_, at, StarEdge{});
        const std::uint32_t lo0 = std::uint32_t(b0 << spanBits);
        const std::uint64_t lo1 = std::uint64_t(b1) << spanBits;
        large_arrays::forParts(nf_, parts_, [&](unsigned part, std::size_t begin, std::size_t end) {
            std::size_t* mine = cursor.data() + std::size_t(part) * (b1 - b0);
            for (std::size_t f = begin; f < end; ++f)
                forEachEdge(f, [&](std::uint32_t lo, std::uint32_t hi, std::uint32_t e) {
                    if (lo < lo0 || lo >= lo1)
                        return;
                    const std::uint32_t offset = lo - lo0;
                    // The edge index carries the vertex's place in its bucket until the bucket is sorted.
                    edges_[mine[offset >> spanBits]++] =
                        StarEdge{hi, std::uint32_t(f), ((offset & (span - 1)) << 2) | e};
                });
        });
        b0_ = b0;
    }

    // Sorts one bucket by lower vertex (counting), then each vertex's edges, and links them.
    void linkBucket(std::size_t b, std::vector<StarEdge>& sorted, std::vector<std::uint32_t>& at,
                    std::vector<FaceAdjacency>& adjacency) const {
        const StarEdge* first = edges_.data() + bucketStart_[b - b0_];
        const StarEdge* last = edges_.data() + bucketStart_[b - b0_ + 1];
        if (first == last)
            return;
        std::fill(at.begin(), at.end(), 0u);
        for (const StarEdge* x = first; x < last; ++x)
            ++at[(x->edge >> 2) + 1];
        for (std::uint32_t v = 0; v < span; ++v)
            at[v + 1] += at[v];
        sorted.resize(std::size_t(last - first));
        for (const StarEdge* x = first; x < last; ++x)
            sorted[at[x->edge >> 2]++] = StarEdge{x->w, x->face, x->edge & 3u};
        // at[v] is now the end of vertex v's edges.
        StarEdge* begin = sorted.data();
        std::size_t prefetched = 0;
        for (std::uint32_t v = 0; v < span; ++v) {
            StarEdge* end = sorted.data() + at[v];
            for (const std::size_t want = std::min<std::size_t>(sorted.size(), at[v] + ahead);
                 prefetched < want; ++prefetched)
                prefetchWrite(&adjacency[sorted[prefetched].face]);
            if (end - begin > 1) {
                sortStarEdges(begin, end);
                linkStarEdges(begin, end, adjacency);
            }
            begin = end;
        }
    }

    const FragMesh& mesh_;
    const std::size_t nv_, nf_, buckets_;
    const unsigned parts_;
    std::vector<std::size_t> count_, bucketEdges_, roundStart_, bucketStart_;
    std::vector<StarEdge> edges_;
    std::size_t b0_ = 0;
};

} // namespace

void FragMesh::clear() {
    releaseVector(vertices);
    releaseVector(vertexNormals);
    releaseVector(fileColors);
    releaseVector(displayColors);
    releaseVector(highlightColors);
    releaseVector(faces);
    releaseVector(faceNormals);
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
    tree.reset();
    texture.reset();
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
    sizeExactly(displayColors, nv, white);
    sizeExactly(highlightColors, nv, white);

    sizeExactly(faceNormals, nf, Point3d(Point3d::Zero()));
    sizeExactly(marked, nf, std::uint8_t{0});
    sizeExactly(hitCounts, nf, 0);
    sizeExactly(pickColors, nf, Color4b{0, 0, 0, 255});
    if (adjacency.size() != nf) {
        large_arrays::assignFresh(adjacency, nf, FaceAdjacency{});
        setSelfAdjacency(adjacency);
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

void FragMesh::updateNormals() {
    const std::size_t nv = vertices.size();
    const std::size_t nf = faces.size();
    if (vertexNormals.size() != nv)
        large_arrays::assignFresh(vertexNormals, nv, Point3d(Point3d::Zero()));
    if (faceNormals.size() != nf)
        large_arrays::assignFresh(faceNormals, nf, Point3d(Point3d::Zero()));

    // The face normals hold the area vectors until the vertex normals have summed them.
    forRange(nf, [this, nv, nf](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            if (f + ahead < nf)
                for (std::uint32_t v : faces[f + ahead])
                    if (v < nv)
                        prefetchRead(&vertices[v]);
            const Face& t = faces[f];
            faceNormals[f] = hasValidCorners(t, nv) ? areaVector(vertices, t) : Point3d(Point3d::Zero());
        }
    });
    // Each part sums into its own range of vertices, visiting the faces in file order: every
    // vertex gets the same sum, in the same order, however the work is split.
    forRange(nv, [this, nv, nf](std::size_t first, std::size_t last) {
        std::fill(vertexNormals.begin() + std::ptrdiff_t(first), vertexNormals.begin() + std::ptrdiff_t(last),
                  Point3d::Zero());
        const auto mine = [first, last](std::uint32_t v) { return v >= first && v < last; };
        for (std::size_t f = 0; f < nf; ++f) {
            if (f + ahead < nf)
                for (std::uint32_t v : faces[f + ahead])
                    if (mine(v))
                        prefetchWrite(&vertexNormals[v]);
            const Face& t = faces[f];
            if (!hasValidCorners(t, nv))
                continue;
            for (std::uint32_t v : t)
                if (mine(v))
                    vertexNormals[v] += faceNormals[f];
        }
        for (std::size_t v = first; v < last; ++v) {
            const double len = vertexNormals[v].norm();
            if (len > 0.0)
                vertexNormals[v] /= len;
        }
    });
    forRange(nf, [this](std::size_t begin, std::size_t end) {
        for (std::size_t f = begin; f < end; ++f) {
            const double len = faceNormals[f].norm();
            if (len > 0.0)
                faceNormals[f] /= len;
            else
                faceNormals[f].setZero();
        }
    });
}

// Every edge of a proper face (three distinct, valid corners) is filed under its lower vertex; the
// edges of one vertex are sorted by their other end, face and edge index, and those with the same
// other end are linked. Faces with a repeated (or invalid) corner are not matched: all their edges
// are borders, so they never disturb the neighbourhood of the proper faces around them. Meshes of
// a million faces or more are handled in three rounds, so that the filed edges take about 12 bytes
// per face instead of 36.
void FragMesh::updateFaceFaceAdjacency() {
    if (adjacency.size() != faces.size())
        large_arrays::assignFresh(adjacency, faces.size(), FaceAdjacency{});
    setSelfAdjacency(adjacency);
    if (vertices.empty() || faces.empty())
        return;
    EdgeBuckets buckets(*this, faces.size() >= 1000000 ? 3 : 1);
    for (std::size_t r = 0; r < buckets.roundCount(); ++r)
        buckets.linkRound(r, adjacency);
}

Point3d FragMesh::vertexMean() const {
    Point3d sum = Point3d::Zero();
    for (const Point3d& p : vertices)
        sum += p;
    return vertices.empty() ? Point3d(Point3d::Zero()) : Point3d(sum / double(vertices.size()));
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
    return capacityBytes(vertices) + capacityBytes(vertexNormals) + capacityBytes(fileColors) +
           capacityBytes(displayColors) + capacityBytes(highlightColors) + capacityBytes(faces) +
           capacityBytes(faceNormals) + capacityBytes(adjacency) + capacityBytes(marked) +
           capacityBytes(hitCounts) + capacityBytes(pickColors) + (texture ? texture->memoryBytes() : 0);
}
