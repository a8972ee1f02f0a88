#include "face_picking.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

namespace {

// Below this many faces one thread is faster than starting a second one.
constexpr std::size_t ParallelFaces = 200000;

// Runs work(begin, end) over [0, n), split between the calling thread and one more when large.
template <class Work> void forHalves(std::size_t n, bool parallel, Work work) {
    if (!parallel) {
        work(std::size_t(0), n);
        return;
    }
    const std::size_t half = n / 2;
    std::thread other([&] { work(half, n); });
    work(std::size_t(0), half);
    other.join();
}

// Clip-space polygon clipped at the near plane (z + w >= 0): at most four corners.
struct Polygon {
    std::array<Eigen::Vector4d, 4> p;
    int n = 0;
};

Polygon clipNear(const std::array<Eigen::Vector4d, 3>& tri) {
    Polygon out;
    for (int i = 0; i < 3; ++i) {
        const Eigen::Vector4d& a = tri[std::size_t(i)];
        const Eigen::Vector4d& b = tri[std::size_t((i + 1) % 3)];
        const double da = a.z() + a.w(), db = b.z() + b.w();
        if (da >= 0.0)
            out.p[std::size_t(out.n++)] = a;
        if ((da >= 0.0) != (db >= 0.0))
            out.p[std::size_t(out.n++)] = a + (b - a) * (da / (da - db));
    }
    return out;
}

double cross2(const Eigen::Vector2d& a, const Eigen::Vector2d& b) {
    return a.x() * b.y() - a.y() * b.x();
}

// Whether the convex polygon (window coordinates, either orientation) overlaps the square
// [x0, x0+1] x [y0, y0+1]: no separating axis among the square's and the polygon's edge normals.
bool overlapsSquare(const Eigen::Vector2d* poly, int n, double x0, double y0, double orientation) {
    double minX = poly[0].x(), maxX = minX, minY = poly[0].y(), maxY = minY;
    for (int i = 1; i < n; ++i) {
        minX = std::min(minX, poly[i].x());
        maxX = std::max(maxX, poly[i].x());
        minY = std::min(minY, poly[i].y());
        maxY = std::max(maxY, poly[i].y());
    }
    if (maxX < x0 || minX > x0 + 1.0 || maxY < y0 || minY > y0 + 1.0)
        return false;
    const Eigen::Vector2d corners[4] = {{x0, y0}, {x0 + 1.0, y0}, {x0 + 1.0, y0 + 1.0}, {x0, y0 + 1.0}};
    for (int i = 0; i < n; ++i) {
        const Eigen::Vector2d& a = poly[i];
        const Eigen::Vector2d edge = poly[(i + 1) % n] - a;
        bool allOutside = true;
        for (const Eigen::Vector2d& c : corners)
            if (orientation * cross2(edge, c - a) >= 0.0) {
                allOutside = false;
                break;
            }
        if (allOutside)
            return false;
    }
    return true;
}

// Whether the convex polygon contains the point (edges included).
bool containsPoint(const Eigen::Vector2d* poly, int n, double x, double y, double orientation) {
    for (int i = 0; i < n; ++i)
        if (orientation * cross2(poly[(i + 1) % n] - poly[i], Eigen::Vector2d(x, y) - poly[i]) < 0.0)
            return false;
    return true;
}

} // namespace

std::vector<FaceHit> pickFacesUnderPixel(const FragMesh& mesh, int x, int y,
                                         const Eigen::Matrix4d& projection, const Eigen::Matrix4d& modelView,
                                         const std::array<int, 4>& viewport, float depthAtPixel,
                                         double tolerance) {
    std::vector<FaceHit> hits;
    const std::size_t nv = mesh.vertices.size(), nf = mesh.faces.size();
    if (nf == 0 || viewport[2] <= 0 || viewport[3] <= 0)
        return hits;

    const Eigen::Matrix4d clip = projection * modelView;
    // The pixel's square in normalised device coordinates.
    const double x0n = 2.0 * (x - viewport[0]) / viewport[2] - 1.0;
    const double x1n = 2.0 * (x + 1 - viewport[0]) / viewport[2] - 1.0;
    const double y0n = 2.0 * (y - viewport[1]) / viewport[3] - 1.0;
    const double y1n = 2.0 * (y + 1 - viewport[1]) / viewport[3] - 1.0;
    // The pick frustum as six half-spaces of model coordinates (inside where plane . (p, 1) >= 0):
    // left, right, bottom, top, near, far.
    Eigen::Matrix<double, 6, 4, Eigen::RowMajor> planes;
    planes.row(0) = clip.row(0) - x0n * clip.row(3);
    planes.row(1) = x1n * clip.row(3) - clip.row(0);
    planes.row(2) = clip.row(1) - y0n * clip.row(3);
    planes.row(3) = y1n * clip.row(3) - clip.row(1);
    planes.row(4) = clip.row(2) + clip.row(3);
    planes.row(5) = clip.row(3) - clip.row(2);

    // One bit per half-space a vertex lies outside of.
    const std::unique_ptr<std::uint8_t[]> codes(new std::uint8_t[nv]);
    const bool parallel = nf >= ParallelFaces;
    forHalves(nv, parallel, [&](std::size_t begin, std::size_t end) {
        for (std::size_t v = begin; v < end; ++v) {
            const Point3d& p = mesh.vertices[v];
            std::uint8_t code = 0;
            for (int k = 0; k < 6; ++k) {
                const double d =
                    planes(k, 0) * p.x() + planes(k, 1) * p.y() + planes(k, 2) * p.z() + planes(k, 3);
                code |= std::uint8_t(d < 0.0) << k;
            }
            codes[v] = code;
        }
    });

    // Faces with all corners outside one half-space cannot meet the pixel; the rest are few.
    std::vector<std::uint32_t> candidates[2];
    forHalves(nf, parallel, [&](std::size_t begin, std::size_t end) {
        std::vector<std::uint32_t>& out = candidates[begin == 0 ? 0 : 1];
        for (std::size_t k = begin; k < end; ++k) {
            const FragMesh::Face& f = mesh.faces[k];
            if ((codes[f[0]] & codes[f[1]] & codes[f[2]]) == 0)
                out.push_back(std::uint32_t(k));
        }
    });

    const double cx = x + 0.5, cy = y + 0.5;
    for (const std::vector<std::uint32_t>& list : candidates)
        for (std::uint32_t k : list) {
            const FragMesh::Face& f = mesh.faces[k];
            std::array<Eigen::Vector4d, 3> tri;
            for (std::size_t c = 0; c < 3; ++c) {
                const Point3d& p = mesh.vertices[f[c]];
                tri[c] = clip * Eigen::Vector4d(p.x(), p.y(), p.z(), 1.0);
            }
            const Polygon poly = clipNear(tri);
            if (poly.n < 3)
                continue;
            Eigen::Vector2d win[4];
            double depth[4];
            bool usable = true;
            for (int i = 0; i < poly.n; ++i) {
                const Eigen::Vector4d& q = poly.p[std::size_t(i)];
                if (q.w() <= 0.0) {
                    usable = false;
                    break;
                }
                win[i] = {viewport[0] + (q.x() / q.w() + 1.0) * 0.5 * viewport[2],
                          viewport[1] + (q.y() / q.w() + 1.0) * 0.5 * viewport[3]};
                depth[i] = (q.z() / q.w() + 1.0) * 0.5;
            }
            if (!usable)
                continue;
            // The fan triangle with the largest area fixes the plane (and the orientation).
            int best = 1;
            double bestArea = 0.0;
            for (int i = 1; i + 1 < poly.n; ++i) {
                const double a = cross2(win[i] - win[0], win[i + 1] - win[0]);
                if (std::abs(a) > std::abs(bestArea)) {
                    bestArea = a;
                    best = i;
                }
            }
            if (bestArea == 0.0 || !std::isfinite(bestArea))
                continue; // seen edge-on: covers no pixel
            if (!overlapsSquare(win, poly.n, x, y, bestArea > 0.0 ? 1.0 : -1.0))
                continue;
            const Eigen::Vector2d e1 = win[best] - win[0], e2 = win[best + 1] - win[0];
            const Eigen::Vector2d r(cx - win[0].x(), cy - win[0].y());
            const double l1 = cross2(r, e2) / bestArea;
            const double l2 = cross2(e1, r) / bestArea;
            const double z = depth[0] + l1 * (depth[best] - depth[0]) + l2 * (depth[best + 1] - depth[0]);
            if (z <= double(depthAtPixel) + tolerance)
                hits.push_back({k, z, containsPoint(win, poly.n, cx, cy, bestArea > 0.0 ? 1.0 : -1.0)});
        }
    std::sort(hits.begin(), hits.end(), [](const FaceHit& a, const FaceHit& b) {
        if (a.coversCentre != b.coversCentre)
            return a.coversCentre;
        return a.depth < b.depth || (a.depth == b.depth && a.face < b.face);
    });
    return hits;
}

std::vector<std::uint32_t> pickVisibleFaces(const FragMesh& mesh, int x, int y,
                                            const Eigen::Matrix4d& projection,
                                            const Eigen::Matrix4d& modelView,
                                            const std::array<int, 4>& viewport, float depthAtPixel) {
    const std::vector<FaceHit> hits =
        pickFacesUnderPixel(mesh, x, y, projection, modelView, viewport, depthAtPixel);
    std::vector<std::uint32_t> faces;
    faces.reserve(hits.size());
    for (const FaceHit& h : hits)
        faces.push_back(h.face);
    return faces;
}
