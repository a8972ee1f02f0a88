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
    return s;
}

TriangleTree::TriangleTree(const Source& source)
    : origin(source.origin), builtPlacement(source.placement), sourceFaces(source.faces.size()),
      sourceVertices(source.vertices.size()) {
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

void TriangleTree::build(const Source& source) {
    const auto n = std::uint32_t(source.faces.size());
    std::vector<Bounds> boxes(n);
    std::vector<Vec3f> centres(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t k : source.faces[i])
            boxes[i].grow(source.vertices[k]);
        centres[i] = (boxes[i].lower + boxes[i].upper) * 0.5f;
    }
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    nodes.reserve(std::max<std::size_t>(1, 2 * (n / 2 + 1)));
    nodes.emplace_back();

    struct Task {
        std::uint32_t node, begin, end;
        int depth;
    };
    std::vector<Task> tasks{{0, 0, n, 0}};
    while (!tasks.empty()) {
        const Task t = tasks.back();
        tasks.pop_back();
        Bounds box, centreBox;
        for (std::uint32_t i = t.begin; i < t.end; ++i) {
            box.grow(boxes[order[i]]);
            centreBox.grow(centres[order[i]]);
        }
        nodes[t.node].lower = n ? box.lower : Vec3f::Zero();
        nodes[t.node].upper = n ? box.upper : Vec3f::Zero();
        nodes[t.node].first = t.begin;
        nodes[t.node].count = t.end - t.begin;
        const std::uint32_t count = t.end - t.begin;
        if (count <= LeafSize)
            continue;

        int axis = 0;
        const Vec3f extent = centreBox.upper - centreBox.lower;
        extent.maxCoeff(&axis);
        std::uint32_t mid = t.begin;
        if (extent[axis] > 0.0f && t.depth < DeepestSahLevel) {
            // Binned surface-area heuristic along the widest axis of the centres.
            const float scale = float(Bins) / extent[axis];
            const auto binOf = [&](std::uint32_t tri) {
                return std::min(Bins - 1, int((centres[tri][axis] - centreBox.lower[axis]) * scale));
            };
            std::array<Bounds, Bins> binBoxes;
            std::array<std::uint32_t, Bins> binCounts{};
            for (std::uint32_t i = t.begin; i < t.end; ++i) {
                const int b = binOf(order[i]);
                binBoxes[b].grow(boxes[order[i]]);
                ++binCounts[b];
            }
            std::array<float, Bins> rightCost{};
            Bounds right;
            std::uint32_t rightCount = 0;
            for (int b = Bins - 1; b > 0; --b) {
                right.grow(binBoxes[b]);
                rightCount += binCounts[b];
                rightCost[b] = right.halfArea() * float(rightCount);
            }
            Bounds left;
            std::uint32_t leftCount = 0;
            float bestCost = Inf;
            int bestBin = -1;
            for (int b = 0; b + 1 < Bins; ++b) {
                left.grow(binBoxes[b]);
                leftCount += binCounts[b];
                const float cost = left.halfArea() * float(leftCount) + rightCost[b + 1];
                if (leftCount > 0 && leftCount < count && cost < bestCost) {
                    bestCost = cost;
                    bestBin = b;
                }
            }
            // Traversing a node costs about as much as testing one triangle.
            const float leafCost = box.halfArea() * float(count);
            if (count <= LargestCheapLeaf && (bestBin < 0 || box.halfArea() + bestCost >= leafCost))
                continue;
            if (bestBin >= 0)
                mid = std::uint32_t(std::partition(order.begin() + t.begin, order.begin() + t.end,
                                                   [&](std::uint32_t tri) { return binOf(tri) <= bestBin; }) -
                                    order.begin());
        }
        if (mid == t.begin || mid == t.end) {
            // All centres in one place, or too deep: halves by count along the widest axis.
            mid = t.begin + count / 2;
            std::nth_element(order.begin() + t.begin, order.begin() + mid, order.begin() + t.end,
                             [&](std::uint32_t x, std::uint32_t y) {
                                 return centres[x][axis] < centres[y][axis] ||
                                        (centres[x][axis] == centres[y][axis] && x < y);
                             });
        }
        const auto left = std::uint32_t(nodes.size());
        nodes.emplace_back();
        nodes.emplace_back();
        nodes[t.node].first = left;
        nodes[t.node].count = 0;
        tasks.push_back({left + 1, mid, t.end, t.depth + 1});
        tasks.push_back({left, t.begin, mid, t.depth + 1});
    }

    nodes.shrink_to_fit();
    triangles.resize(n);
    faceOfSlot = std::move(order);
    for (std::uint32_t slot = 0; slot < n; ++slot) {
        const Face& f = source.faces[faceOfSlot[slot]];
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
    int inside = 0, outside = 0;
    for (int k : order) {
        const int n = crossings(p, directions[k]);
        if (n < 0)
            continue;
        (n % 2 ? inside : outside) += 1;
        if (inside == 2 || outside == 2)
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

float TriangleTree::distanceBeyond(const Vec3f& p, float bound) const {
    if (triangles.empty())
        return Inf;
    const float bound2 = bound * bound;
    float best2 = Inf;
    std::array<std::uint32_t, StackSize> stack;
    std::array<float, StackSize> near2;
    int top = 0;
    stack[top] = 0;
    near2[top++] = squaredDistanceToBox(p, lower(), upper());
    while (top > 0) {
        --top;
        if (near2[top] >= best2)
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
        for (std::uint32_t s = node.first; s < node.first + node.count; ++s) {
            const Triangle& t = triangles[s];
            best2 = std::min(best2, squaredDistanceToTriangle(p, t.a, t.b, t.c));
        }
        if (best2 <= bound2)
            break;
    }
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
    std::array<std::uint32_t, StackSize> stack;
    std::array<float, StackSize> near2;
    int top = 0;
    stack[top] = 0;
    near2[top++] = squaredDistanceToBox(p, lower(), upper());
    while (top > 0) {
        --top;
        if (near2[top] > best2)
            continue;
        const Node& node = nodes[stack[top]];
        if (node.count == 0) {
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
        for (std::uint32_t s = node.first; s < node.first + node.count; ++s) {
            const Triangle& t = triangles[s];
            const float d2 = squaredDistanceToTriangle(p, t.a, t.b, t.c);
            if (d2 < best2 || (d2 == best2 && !bestSlot)) {
                best2 = d2;
                bestSlot = s;
            }
        }
    }
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
