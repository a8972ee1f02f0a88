#include "triangle_tree.h"

#include "frag_mesh.h"

#include <Eigen/Geometry>
#include <Eigen/LU>
#include <algorithm>
#include <limits>
#include <numeric>

namespace {
using Vec3f = TriangleTree::Vec3f;

constexpr std::uint32_t LeafSize = 4;
// Below this many triangles a node becomes a leaf when splitting it would not pay.
constexpr std::uint32_t LargestCheapLeaf = 12;
constexpr int Bins = 16;
// Deeper than this, nodes are split in halves by count, so the traversal stacks below suffice.
constexpr int DeepestSahLevel = 56;
constexpr int StackSize = 128;
constexpr float Inf = std::numeric_limits<float>::infinity();

struct Bounds {
    Vec3f lower = Vec3f::Constant(Inf);
    Vec3f upper = Vec3f::Constant(-Inf);

    void grow(const Vec3f& p) {
        lower = lower.cwiseMin(p);
        upper = upper.cwiseMax(p);
    }
    void grow(const Bounds& b) {
        lower = lower.cwiseMin(b.lower);
        upper = upper.cwiseMax(b.upper);
    }
    float halfArea() const {
        if (lower.x() > upper.x())
            return 0.0f;
        const Vec3f e = upper - lower;
        return e.x() * e.y() + e.y() * e.z() + e.z() * e.x();
    }
};

float squaredDistanceToBox(const Vec3f& p, const Vec3f& lower, const Vec3f& upper) {
    const Vec3f below = (lower - p).cwiseMax(0.0f);
    const Vec3f above = (p - upper).cwiseMax(0.0f);
    return (below + above).squaredNorm();
}

// The squared distance from p to the closed triangle abc (the closest-point regions of the
// triangle's vertices, edges and face in turn).
float squaredDistanceToTriangle(const Vec3f& p, const Vec3f& a, const Vec3f& b, const Vec3f& c) {
    const Vec3f ab = b - a, ac = c - a, ap = p - a;
    const float d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0.0f && d2 <= 0.0f)
        return ap.squaredNorm();
    const Vec3f bp = p - b;
    const float d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0.0f && d4 <= d3)
        return bp.squaredNorm();
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f) {
        const float v = d1 / (d1 - d3);
        return (p - (a + v * ab)).squaredNorm();
    }
    const Vec3f cp = p - c;
    const float d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0.0f && d5 <= d6)
        return cp.squaredNorm();
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f) {
        const float w = d2 / (d2 - d6);
        return (p - (a + w * ac)).squaredNorm();
    }
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0.0f && d4 - d3 >= 0.0f && d5 - d6 >= 0.0f) {
        const float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return (p - (b + w * (c - b))).squaredNorm();
    }
    const float denom = 1.0f / (va + vb + vc);
    const float v = vb * denom, w = vc * denom;
    return (p - (a + ab * v + ac * w)).squaredNorm();
}

// A ray prepared for the watertight ray-triangle test: the triangle is sheared into the ray's
// frame, where the edge functions of an edge shared by two triangles are computed from the same
// numbers, so a ray crossing that edge crosses exactly one of them.
struct Ray {
    Vec3f origin, inverse;
    int kx = 0, ky = 1, kz = 2;
    float sx = 0, sy = 0, sz = 0;

    Ray(const Vec3f& p, const Vec3f& d) : origin(p), inverse(d.cwiseInverse()) {
        d.cwiseAbs().maxCoeff(&kz);
        kx = (kz + 1) % 3;
        ky = (kx + 1) % 3;
        if (d[kz] < 0.0f)
            std::swap(kx, ky);
        sx = d[kx] / d[kz];
        sy = d[ky] / d[kz];
        sz = 1.0f / d[kz];
    }

    bool meets(const Vec3f& lower, const Vec3f& upper) const {
        const Vec3f t0 = (lower - origin).cwiseProduct(inverse);
        const Vec3f t1 = (upper - origin).cwiseProduct(inverse);
        const float near = t0.cwiseMin(t1).maxCoeff();
        const float far = t0.cwiseMax(t1).minCoeff();
        return far >= std::max(near, 0.0f);
    }
};

enum class Crossing { None, Through, OnEdge };

template <typename T> Crossing crossingIn(const Ray& r, const Vec3f& a, const Vec3f& b, const Vec3f& c) {
    const auto shear = [&r](const Vec3f& v, T& x, T& y, T& z) {
        const T vz = T(v[r.kz]) - T(r.origin[r.kz]);
        x = (T(v[r.kx]) - T(r.origin[r.kx])) - T(r.sx) * vz;
        y = (T(v[r.ky]) - T(r.origin[r.ky])) - T(r.sy) * vz;
        z = T(r.sz) * vz;
    };
    T ax, ay, az, bx, by, bz, cx, cy, cz;
    shear(a, ax, ay, az);
    shear(b, bx, by, bz);
    shear(c, cx, cy, cz);
    const T u = cx * by - cy * bx;
    const T v = ax * cy - ay * cx;
    const T w = bx * ay - by * ax;
    if ((u < 0 || v < 0 || w < 0) && (u > 0 || v > 0 || w > 0))
        return Crossing::None;
    const T det = u + v + w;
    if (det == 0)
        return Crossing::None; // the ray runs in the triangle's plane
    const T t = u * az + v * bz + w * cz;
    if (det > 0 ? t <= 0 : t >= 0)
        return Crossing::None; // behind the start, or the start lies on the triangle
    return (u == 0 || v == 0 || w == 0) ? Crossing::OnEdge : Crossing::Through;
}

Crossing crossing(const Ray& r, const Vec3f& a, const Vec3f& b, const Vec3f& c) {
    const Crossing single = crossingIn<float>(r, a, b, c);
    // An edge function of exactly 0 in single precision is looked at again in double.
    return single == Crossing::OnEdge ? crossingIn<double>(r, a, b, c) : single;
}

// Fixed directions for the vote: near the six axis directions, tilted by unrelated small amounts so
// that no ray runs along the edges or faces of meshes aligned with the axes.
const std::array<Vec3f, 6>& voteDirections() {
    static const std::array<Vec3f, 6> directions = {
        Vec3f(1.0f, 0.0731f, 0.0419f),   Vec3f(-1.0f, 0.0523f, -0.0887f), Vec3f(0.0613f, 1.0f, 0.0347f),
        Vec3f(-0.0457f, -1.0f, 0.0791f), Vec3f(0.0389f, -0.0677f, 1.0f),  Vec3f(0.0821f, 0.0293f, -1.0f)};
    return directions;
}
} // namespace

namespace {
// Every edge of every face has exactly one face across it, which has it back.
bool isClosed(const FragMesh& mesh) {
    if (mesh.faces.empty() || mesh.adjacency.size() != mesh.faces.size())
        return false;
    for (std::size_t f = 0; f < mesh.faces.size(); ++f)
        for (int e = 0; e < 3; ++e) {
            const std::uint32_t across = mesh.adjacency[f].face[e];
            if (across == f || across >= mesh.faces.size() ||
                mesh.adjacency[across].face[mesh.adjacency[f].edge[e] % 3] != f)
                return false;
        }
    return true;
}
} // namespace

TriangleTree::Source TriangleTree::copyOf(const FragMesh& mesh) {
    Source s;
    Box3d box;
    for (const Point3d& v : mesh.vertices)
        box.add(v);
    s.origin = box.isNull() ? Point3d::Zero() : Point3d(box.center());
    s.vertices.reserve(mesh.vertices.size());
    for (const Point3d& v : mesh.vertices)
        s.vertices.push_back((v - s.origin).cast<float>());
    s.faces.reserve(mesh.faces.size());
    const std::size_t n = mesh.vertices.size();
    for (const FragMesh::Face& f : mesh.faces)
        if (f[0] < n && f[1] < n && f[2] < n)
            s.faces.push_back(f);
    s.placement = mesh.placement;
    s.closed = isClosed(mesh);
    return s;
}

TriangleTree::TriangleTree(const Source& source)
    : origin(source.origin), builtPlacement(source.placement), sourceFaces(source.faces.size()),
      sourceVertices(source.vertices.size()), closed(source.closed) {
    build(source);
}

bool TriangleTree::builtFrom(const FragMesh& mesh) const {
    return mesh.faceCount() == sourceFaces && mesh.vertexCount() == sourceVertices;
}

Matrix44d TriangleTree::worldFromLocal(const Matrix44d& placementNow) const {
    Matrix44d shift = Matrix44d::Identity();
    shift.topRightCorner<3, 1>() = origin;
    if (placementNow == builtPlacement)
        return shift;
    return placementNow * builtPlacement.inverse() * shift;
}

std::size_t TriangleTree::memoryBytes() const {
    return nodes.capacity() * sizeof(Node) + triangles.capacity() * sizeof(Triangle) +
           faceOfSlot.capacity() * sizeof(std::uint32_t);
}

namespace {
// A triangle while the tree is built: its box and its face.
struct Item {
    Vec3f lower, upper;
    std::uint32_t face;

    Vec3f centre() const { return (lower + upper) * 0.5f; }
};

// Spreads the low 10 bits of v so that two zero bits follow each.
std::uint32_t spreadBits(std::uint32_t v) {
    v = (v * 0x00010001u) & 0xFF0000FFu;
    v = (v * 0x00000101u) & 0x0F00F00Fu;
    v = (v * 0x00000011u) & 0xC30C30C3u;
    v = (v * 0x00000005u) & 0x49249249u;
    return v;
}

// The items in the order of a Z-order curve through their centres: scanned meshes come in any
// order (shuffled files are common), and the build below reads items range by range.
void sortAlongCurve(std::vector<Item>& items, const Bounds& centres) {
    const Vec3f extent = (centres.upper - centres.lower).cwiseMax(1e-30f);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys(items.size()), other(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Vec3f unit = (items[i].centre() - centres.lower).cwiseQuotient(extent) * 1023.0f;
        const auto cell = [&](int k) { return std::uint32_t(std::clamp(unit[k], 0.0f, 1023.0f)); };
        keys[i] = {spreadBits(cell(0)) | (spreadBits(cell(1)) << 1) | (spreadBits(cell(2)) << 2),
                   std::uint32_t(i)};
    }
    // Least significant byte first; each pass is stable, so equal codes keep their order.
    for (int shift = 0; shift < 32; shift += 8) {
        std::array<std::size_t, 257> start{};
        for (const auto& k : keys)
            ++start[((k.first >> shift) & 255u) + 1];
        for (int b = 0; b < 256; ++b)
            start[b + 1] += start[b];
        for (const auto& k : keys)
            other[start[(k.first >> shift) & 255u]++] = k;
        keys.swap(other);
    }
    std::vector<Item> sorted(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        sorted[i] = items[keys[i].second];
    items.swap(sorted);
}

struct Bin {
    Bounds box, centres;
    std::uint32_t count = 0;
};
} // namespace

void TriangleTree::build(const Source& source) {
    const auto n = std::uint32_t(source.faces.size());
    std::vector<Item> items(n);
    Bounds box, centres;
    for (std::uint32_t i = 0; i < n; ++i) {
        Bounds b;
        for (std::uint32_t k : source.faces[i])
            b.grow(source.vertices[k]);
        items[i] = {b.lower, b.upper, i};
        box.grow(b);
        centres.grow(items[i].centre());
    }
    sortAlongCurve(items, centres);
    nodes.reserve(std::max<std::size_t>(1, n / 2));
    nodes.emplace_back();

    // A node's box and its items' centres' box come from the bins of its parent.
    struct Task {
        std::uint32_t node, begin, end;
        int depth;
        Bounds box, centres;
    };
    std::vector<Task> tasks{{0, 0, n, 0, box, centres}};
    while (!tasks.empty()) {
        const Task t = tasks.back();
        tasks.pop_back();
        Node& node = nodes[t.node];
        node.lower = n ? t.box.lower : Vec3f::Zero();
        node.upper = n ? t.box.upper : Vec3f::Zero();
        node.first = t.begin;
        node.count = t.end - t.begin;
        const std::uint32_t count = t.end - t.begin;
        if (count <= LeafSize)
            continue;

        int axis = 0;
        const Vec3f extent = t.centres.upper - t.centres.lower;
        extent.maxCoeff(&axis);
        Task left{0, t.begin, t.begin, t.depth + 1, {}, {}}, right{0, t.begin, t.end, t.depth + 1, {}, {}};
        if (extent[axis] > 0.0f && t.depth < DeepestSahLevel) {
            // Binned surface-area heuristic along the widest axis of the centres.
            const float scale = float(Bins) / extent[axis];
            const float binStart = t.centres.lower[axis];
            const auto binOf = [&](const Item& item) {
                return std::min(Bins - 1, int((item.centre()[axis] - binStart) * scale));
            };
            std::array<Bin, Bins> bins;
            for (std::uint32_t i = t.begin; i < t.end; ++i) {
                Bin& b = bins[binOf(items[i])];
                b.box.grow(Bounds{items[i].lower, items[i].upper});
                b.centres.grow(items[i].centre());
                ++b.count;
            }
            std::array<float, Bins> rightCost{};
            Bounds above;
            std::uint32_t aboveCount = 0;
            for (int b = Bins - 1; b > 0; --b) {
                above.grow(bins[b].box);
                aboveCount += bins[b].count;
                rightCost[b] = above.halfArea() * float(aboveCount);
            }
            Bounds below;
            std::uint32_t belowCount = 0;
            float bestCost = Inf;
            int bestBin = -1;
            for (int b = 0; b + 1 < Bins; ++b) {
                below.grow(bins[b].box);
                belowCount += bins[b].count;
                const float cost = below.halfArea() * float(belowCount) + rightCost[b + 1];
                if (belowCount > 0 && belowCount < count && cost < bestCost) {
                    bestCost = cost;
                    bestBin = b;
                }
            }
            // Traversing a node costs about as much as testing one triangle.
            const float leafCost = t.box.halfArea() * float(count);
            if (count <= LargestCheapLeaf && (bestBin < 0 || t.box.halfArea() + bestCost >= leafCost))
                continue;
            if (bestBin >= 0) {
                for (int b = 0; b < Bins; ++b) {
                    Task& side = b <= bestBin ? left : right;
                    side.box.grow(bins[b].box);
                    side.centres.grow(bins[b].centres);
                }
                const auto mid = std::partition(items.begin() + t.begin, items.begin() + t.end,
                                                [&](const Item& item) { return binOf(item) <= bestBin; });
                left.end = right.begin = std::uint32_t(mid - items.begin());
            }
        }
        if (left.end == t.begin) {
            // All centres in one place, or too deep: halves by count along the widest axis.
            const std::uint32_t mid = t.begin + count / 2;
            std::nth_element(items.begin() + t.begin, items.begin() + mid, items.begin() + t.end,
                             [&](const Item& x, const Item& y) {
                                 const float cx = x.centre()[axis], cy = y.centre()[axis];
                                 return cx < cy || (cx == cy && x.face < y.face);
                             });
            left = {0, t.begin, mid, t.depth + 1, {}, {}};
            right = {0, mid, t.end, t.depth + 1, {}, {}};
            for (Task* side : {&left, &right})
                for (std::uint32_t i = side->begin; i < side->end; ++i) {
                    side->box.grow(Bounds{items[i].lower, items[i].upper});
                    side->centres.grow(items[i].centre());
                }
        }
        const auto first = std::uint32_t(nodes.size());
        nodes[t.node].first = first;
        nodes[t.node].count = 0;
        nodes.emplace_back();
        nodes.emplace_back();
        left.node = first;
        right.node = first + 1;
        tasks.push_back(right);
        tasks.push_back(left);
    }
    nodes.shrink_to_fit();

    triangles.resize(n);
    faceOfSlot.resize(n);
    for (std::uint32_t slot = 0; slot < n; ++slot) {
        faceOfSlot[slot] = items[slot].face;
        const Face& f = source.faces[items[slot].face];
        triangles[slot] = {source.vertices[f[0]], source.vertices[f[1]], source.vertices[f[2]]};
    }
}

TriangleTree::Vec3f TriangleTree::centreAt(std::uint32_t slot) const {
    const Triangle& t = triangles[slot];
    return (t.a + t.b + t.c) / 3.0f;
}

double TriangleTree::areaAt(std::uint32_t slot) const {
    const Triangle& t = triangles[slot];
    const Eigen::Vector3d a = t.a.cast<double>();
    return 0.5 * (t.b.cast<double>() - a).cross(t.c.cast<double>() - a).norm();
}

std::vector<std::uint32_t> TriangleTree::slotsWithCentreIn(const Vec3f& lo, const Vec3f& hi) const {
    std::vector<std::uint32_t> slots;
    if (triangles.empty())
        return slots;
    std::array<std::uint32_t, StackSize> stack;
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        if ((node.upper.array() < lo.array()).any() || (node.lower.array() > hi.array()).any())
            continue;
        if (node.count == 0) {
            // Right first, so that slots come out in ascending order.
            stack[top++] = node.first + 1;
            stack[top++] = node.first;
            continue;
        }
        for (std::uint32_t s = node.first; s < node.first + node.count; ++s) {
            const Vec3f c = centreAt(s);
            if ((c.array() >= lo.array()).all() && (c.array() <= hi.array()).all())
                slots.push_back(s);
        }
    }
    return slots;
}

int TriangleTree::crossings(const Vec3f& p, const Vec3f& direction) const {
    if (triangles.empty())
        return 0;
    const Ray ray(p, direction);
    int count = 0;
    std::array<std::uint32_t, StackSize> stack;
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        if (!ray.meets(node.lower, node.upper))
            continue;
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = node.first + 1;
            continue;
        }
        for (std::uint32_t s = node.first; s < node.first + node.count; ++s) {
            const Triangle& t = triangles[s];
            switch (crossing(ray, t.a, t.b, t.c)) {
            case Crossing::None:
                break;
            case Crossing::Through:
                ++count;
                break;
            case Crossing::OnEdge:
                return -1;
            }
        }
    }
    return count;
}

bool TriangleTree::contains(const Vec3f& p) const {
    if (triangles.empty() || (p.array() < lower().array()).any() || (p.array() > upper().array()).any())
        return false;
    const std::array<Vec3f, 6>& directions = voteDirections();
    std::array<float, 6> exit{};
    std::array<int, 6> order{};
    for (int k = 0; k < 6; ++k) {
        const Vec3f& d = directions[k];
        const Vec3f t = ((d.array() > 0.0f).select(upper(), lower()) - p).cwiseQuotient(d);
        exit[k] = t.minCoeff();
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return exit[x] < exit[y]; });
    const int enough = closed ? 1 : 2;
    int inside = 0, outside = 0;
    for (int k : order) {
        const int n = crossings(p, directions[k]);
        if (n < 0)
            continue;
        (n % 2 ? inside : outside) += 1;
        if (inside == enough || outside == enough)
            break;
    }
    return inside > outside;
}

bool TriangleTree::surfaceWithin(const Vec3f& p, float r) const {
    if (triangles.empty())
        return false;
    const float r2 = r * r;
    std::array<std::uint32_t, StackSize> stack;
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        if (squaredDistanceToBox(p, node.lower, node.upper) > r2)
            continue;
        if (node.count == 0) {
            stack[top++] = node.first;
            stack[top++] = node.first + 1;
            continue;
        }
        for (std::uint32_t s = node.first; s < node.first + node.count; ++s) {
            const Triangle& t = triangles[s];
            if (squaredDistanceToTriangle(p, t.a, t.b, t.c) <= r2)
                return true;
        }
    }
    return false;
}

template <typename OnLeaf>
void TriangleTree::visitNearestFirst(const Vec3f& p, float& best2, bool pruneTies, OnLeaf&& onLeaf) const {
    std::array<std::uint32_t, StackSize> stack;
    std::array<float, StackSize> near2;
    int top = 0;
    stack[top] = 0;
    near2[top++] = squaredDistanceToBox(p, lower(), upper());
    while (top > 0) {
        --top;
        if (near2[top] > best2 || (pruneTies && near2[top] == best2))
            continue;
        const Node& node = nodes[stack[top]];
        if (node.count == 0) {
            // The nearer child is taken first.
            const std::uint32_t a = node.first, b = node.first + 1;
            const float da = squaredDistanceToBox(p, nodes[a].lower, nodes[a].upper);
            const float db = squaredDistanceToBox(p, nodes[b].lower, nodes[b].upper);
            const bool aFirst = da <= db;
            stack[top] = aFirst ? b : a;
            near2[top++] = aFirst ? db : da;
            stack[top] = aFirst ? a : b;
            near2[top++] = aFirst ? da : db;
            continue;
        }
        if (onLeaf(node.first, node.first + node.count))
            return;
    }
}

float TriangleTree::distanceBeyond(const Vec3f& p, float bound) const {
    if (triangles.empty())
        return Inf;
    const float bound2 = bound * bound;
    float best2 = Inf;
    visitNearestFirst(p, best2, true, [&](std::uint32_t first, std::uint32_t end) {
        for (std::uint32_t s = first; s < end; ++s) {
            const Triangle& t = triangles[s];
            best2 = std::min(best2, squaredDistanceToTriangle(p, t.a, t.b, t.c));
        }
        return best2 <= bound2;
    });
    return std::sqrt(best2);
}

namespace {
// The point of the closed triangle abc nearest to p (the same regions as squaredDistanceToTriangle).
Vec3f closestOnTriangle(const Vec3f& p, const Vec3f& a, const Vec3f& b, const Vec3f& c) {
    const Vec3f ab = b - a, ac = c - a, ap = p - a;
    const float d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0.0f && d2 <= 0.0f)
        return a;
    const Vec3f bp = p - b;
    const float d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0.0f && d4 <= d3)
        return b;
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f)
        return a + (d1 / (d1 - d3)) * ab;
    const Vec3f cp = p - c;
    const float d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0.0f && d5 <= d6)
        return c;
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f)
        return a + (d2 / (d2 - d6)) * ac;
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0.0f && d4 - d3 >= 0.0f && d5 - d6 >= 0.0f)
        return b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b);
    const float denom = 1.0f / (va + vb + vc);
    return a + ab * (vb * denom) + ac * (vc * denom);
}
} // namespace

std::optional<TriangleTree::Nearest> TriangleTree::closestPoint(const Vec3f& p, float maxDistance) const {
    if (triangles.empty() || !(maxDistance >= 0.0f))
        return std::nullopt;
    float best2 = maxDistance * maxDistance;
    std::optional<std::uint32_t> bestSlot;
    visitNearestFirst(p, best2, false, [&](std::uint32_t first, std::uint32_t end) {
        for (std::uint32_t s = first; s < end; ++s) {
            const Triangle& t = triangles[s];
            const float d2 = squaredDistanceToTriangle(p, t.a, t.b, t.c);
            if (d2 < best2 || (d2 == best2 && !bestSlot)) {
                best2 = d2;
                bestSlot = s;
            }
        }
        return false;
    });
    if (!bestSlot)
        return std::nullopt;
    const Triangle& t = triangles[*bestSlot];
    Nearest n;
    n.point = closestOnTriangle(p, t.a, t.b, t.c);
    const Eigen::Vector3d normal =
        (t.b.cast<double>() - t.a.cast<double>()).cross(t.c.cast<double>() - t.a.cast<double>());
    const double length = normal.norm();
    n.normal = length > 0.0 ? Vec3f((normal / length).cast<float>()) : Vec3f::Zero();
    n.distance = std::sqrt(best2);
    n.slot = *bestSlot;
    return n;
}

std::array<TriangleTree::Vec3f, 3> TriangleTree::cornersAt(std::uint32_t slot) const {
    const Triangle& t = triangles[slot];
    return {t.a, t.b, t.c};
}
