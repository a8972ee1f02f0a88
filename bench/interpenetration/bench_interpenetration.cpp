// The exact interpenetration marks on real scans pushed deeply into each other: the whole run of
// `ostrakit-cli interpenetration PROJECT --marks FILE` as a child process (mesh reading included),
// the same computation in this process on one thread and on all of them, the marks' precision and
// recall against a brute-force reference, and CGAL's inside test on the same face centres.
//
//   bench_interpenetration [--quick] [--cases abcd] [--samples N] [--keep] [--cli PATH] BUNNY ELEPHANT
//
// BUNNY and ELEPHANT are two scans (binary PLY, for example the bunny and elephant of the shared
// data folder). Each is centred and scaled so that its box is 100 units long along its longest
// side, then:
//   a  both subdivided twice (about 1.2 and 1.4 million triangles), vertices and faces shuffled, the
//      centres a third of the size apart (16.7 units either side of the origin), the elephant turned
//      by 0.7 radians about y: a large part of each lies inside the other;
//   b  the pair of a moved by (1e5, -2e5, 1e5), as georeferenced scans are;
//   c  the pair of a subdivided three times instead (about 4.8 and 5.7 million triangles): tiny
//      triangles against a deep overlap;
//   d  eight pieces in a 2 x 4 grid 70 units apart, bunny and elephant in turn, each subdivided once
//      (300,000 and 356,000 triangles), turned about z by its own angle and shuffled: every piece
//      overlaps its neighbours along the rows, the columns and the diagonals.
// With --quick two small generated spheres stand for the scans (no files, no CGAL needed).
//
// Every case is written as binary PLY files and a project file in a temporary folder, through the
// program's own writers, and the meshes are read back from those files, so that every figure below
// is of the coordinates the tool reads (single precision). The tolerance is the tool's default for
// the scene (1e-4 of the diagonal of all pieces' boxes) and is passed to it explicitly.
//
// The reference is independent of the trees: for a random sample (--samples, 3000 by default, fixed
// seed) of the faces each piece tests (centre in the overlap of its box with another piece's box),
// the centre in double precision is inside another piece by a majority of the crossing parities of
// three rays in random directions, each through every triangle of that piece, and deeper than the
// tolerance when no triangle of that piece lies within the tolerance (point-triangle distance,
// every triangle). Precision and recall of the tool's marks file follow from the sample.
//
// CGAL (Side_of_triangle_mesh over an AABB tree of a Surface_mesh, Exact_predicates_inexact_
// constructions_kernel, one core) classifies the same face centres: every face of a piece whose
// centre lies in the overlap of its box with another piece's box, once per such pair, as the tool
// does. Its tree construction and queries are timed apart; making the Surface_mesh from the vertices
// and faces (through orient_polygon_soup when a face cannot be added as it is) is timed but not
// counted. The ratio printed is
// the tool's whole run over CGAL's construction plus queries.

#include "frag_group.h"
#include "frag_mesh.h"
#include "fragment.h"
#include "interpenetration.h"
#include "mesh_formats.h"
#include "mesh_loading.h"
#include "mesh_readers.h"
#include "mesh_variants.h"
#include "ply_writer.h"
#include "project_writer.h"
#include "quick_mode.h"
#include "total_graph.h"
#include "triangle_tree.h"

#include <Eigen/Geometry>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

#ifdef OSTRAKIT_HAVE_CGAL
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/orient_polygon_soup.h>
#include <CGAL/Polygon_mesh_processing/polygon_soup_to_polygon_mesh.h>
#include <CGAL/Side_of_triangle_mesh.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/version.h>
#endif

#ifndef OSTRAKIT_CLI_PATH
#define OSTRAKIT_CLI_PATH "ostrakit-cli"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

unsigned coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs work(k) for k in [0, n) on every core, handing items out in order.
template <typename Work> void onAllCores(std::size_t n, const Work& work) {
    std::atomic<std::size_t> next{0};
    const auto loop = [&] {
        for (std::size_t k = next++; k < n; k = next++)
            work(k);
    };
    std::vector<std::thread> others;
    for (unsigned t = 1; t < coreCount(); ++t)
        others.emplace_back(loop);
    loop();
    for (std::thread& t : others)
        t.join();
}

// ---------------------------------------------------------------------------------------------
// Inputs.

// Edges used by one face (holes), by more than two (non-manifold), and used twice in the same
// direction (faces turned against their neighbours).
struct Closedness {
    std::size_t edges = 0, boundary = 0, nonManifold = 0, misoriented = 0, degenerateFaces = 0;
};

Closedness closedness(const FragMesh& m) {
    std::unordered_map<std::uint64_t, std::pair<int, int>> uses; // (uses, uses from lower to higher)
    uses.reserve(m.faces.size() * 2);
    Closedness c;
    for (const FragMesh::Face& f : m.faces) {
        if (f[0] == f[1] || f[1] == f[2] || f[2] == f[0]) {
            ++c.degenerateFaces;
            continue;
        }
        for (int e = 0; e < 3; ++e) {
            const std::uint32_t a = f[e], b = f[(e + 1) % 3];
            auto& u = uses[(std::uint64_t(std::min(a, b)) << 32) | std::max(a, b)];
            ++u.first;
            u.second += a < b ? 1 : 0;
        }
    }
    c.edges = uses.size();
    for (const auto& [key, u] : uses) {
        if (u.first == 1)
            ++c.boundary;
        else if (u.first > 2)
            ++c.nonManifold;
        else if (u.second != 1)
            ++c.misoriented;
    }
    return c;
}

// A UV sphere (slices around, stacks from pole to pole), closed, faces outward.
FragMesh sphere(double radius, int slices, int stacks) {
    FragMesh m;
    m.vertices.push_back(Point3d(0, 0, radius));
    for (int i = 1; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const double phi = M_PI * i / stacks, theta = 2.0 * M_PI * j / slices;
            m.vertices.push_back(radius * Point3d(std::sin(phi) * std::cos(theta),
                                                  std::sin(phi) * std::sin(theta), std::cos(phi)));
        }
    m.vertices.push_back(Point3d(0, 0, -radius));
    const auto ring = [&](int i, int j) { return std::uint32_t(1 + (i - 1) * slices + (j % slices)); };
    const auto south = std::uint32_t(m.vertices.size() - 1);
    for (int j = 0; j < slices; ++j) {
        m.faces.push_back({0, ring(1, j), ring(1, j + 1)});
        m.faces.push_back({south, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
    }
    for (int i = 1; i + 1 < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            m.faces.push_back({ring(i, j), ring(i + 1, j), ring(i + 1, j + 1)});
            m.faces.push_back({ring(i, j), ring(i + 1, j + 1), ring(i, j + 1)});
        }
    return m;
}

// The mesh centred on its box, scaled so that the box's longest side is size, turned by rotation
// and moved by shift.
FragMesh placed(const FragMesh& m, double size, const Eigen::Matrix3d& rotation, const Point3d& shift) {
    Box3d box;
    for (const Point3d& v : m.vertices)
        box.add(v);
    const double scale = size / (box.max - box.min).maxCoeff();
    FragMesh out;
    out.faces = m.faces;
    out.vertices.reserve(m.vertices.size());
    for (const Point3d& v : m.vertices)
        out.vertices.push_back(rotation * ((v - box.center()) * scale) + shift);
    return out;
}

Eigen::Matrix3d turn(double angle, const Point3d& axis) {
    return Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
}

struct Case {
    std::string name, label;
    std::vector<FragMesh> meshes; // world coordinates
};

constexpr double Size = 100.0;

Case pairCase(const std::string& name, const std::string& label, const FragMesh& first,
              const FragMesh& second, int levels, const Point3d& shift) {
    Case c{name, label, {}};
    const double apart = Size / 3.0;
    c.meshes.push_back(shuffled(
        subdivided(placed(first, Size, Eigen::Matrix3d::Identity(), shift + Point3d(-apart / 2, 0, 0)),
                   levels),
        11));
    c.meshes.push_back(shuffled(
        subdivided(placed(second, Size, turn(0.7, Point3d(0, 1, 0)), shift + Point3d(apart / 2, 0, 0)),
                   levels),
        12));
    return c;
}

Case gridCase(const FragMesh& first, const FragMesh& second, int levels) {
    Case c{"d", "grid of 8", {}};
    for (int k = 0; k < 8; ++k) {
        const FragMesh& source = k % 2 ? second : first;
        const Point3d at(0.7 * Size * (k % 4), 0.7 * Size * (k / 4), 0.0);
        c.meshes.push_back(shuffled(
            subdivided(placed(source, Size, turn(0.9 * k + 0.3, Point3d(0.1, 0.2, 1.0)), at), levels),
            unsigned(20 + k)));
    }
    return c;
}

// ---------------------------------------------------------------------------------------------
// The scene as the tool reads it.

struct Scene {
    QString folder, project;
    std::vector<QString> files;                  // per piece
    std::vector<std::shared_ptr<FragMesh>> read; // per piece, as read back from its file
    std::vector<Box3d> boxes;
    double tolerance = 0.0;
    double writeSeconds = 0.0, readSeconds = 0.0;
};

bool writeScene(Case& c, const QString& folder, Scene& s, QString& error) {
    s.folder = folder;
    const Clock::time_point t0 = Clock::now();
    for (std::size_t k = 0; k < c.meshes.size(); ++k) {
        s.files.push_back(QDir(folder).filePath(QStringLiteral("piece_%1.ply").arg(k)));
        if (!writeBinaryPly(s.files.back(), c.meshes[k], error))
            return false;
    }
    c.meshes.clear();
    s.writeSeconds = secondsSince(t0);

    const Clock::time_point t1 = Clock::now();
    std::vector<MeshLoad> loads;
    for (const QString& f : s.files)
        loads.push_back(MeshLoad{QStringList{f}, nullptr, -1, {}});
    loadMeshes(loads);
    s.readSeconds = secondsSince(t1);
    TotalGraph graph;
    Box3d all;
    for (std::size_t k = 0; k < loads.size(); ++k) {
        if (!loads[k].mesh) {
            error = loads[k].error;
            return false;
        }
        s.read.push_back(loads[k].mesh);
        Box3d box;
        for (const Point3d& v : loads[k].mesh->vertices)
            box.add(v);
        s.boxes.push_back(box);
        all.add(box);
        FragGroup* w = graph.addFragment(s.files[k], loads[k].mesh, error);
        if (!w)
            return false;
        w->wrappedFragment()->setPathRelativeToProject(true);
        w->setVisible(true); // the tool measures the visible top-level fragments
    }
    s.tolerance = defaultContactTolerance(all.diag());
    s.project = QDir(folder).filePath(QStringLiteral("scene.prproj"));
    return saveProjectFile(s.project, graph, error);
}

std::optional<Box3d> overlapOf(const Box3d& a, const Box3d& b) {
    Box3d both;
    both.min = a.min.cwiseMax(b.min);
    both.max = a.max.cwiseMin(b.max);
    if (a.isNull() || b.isNull() || both.isNull())
        return std::nullopt;
    return both;
}

bool within(const Point3d& p, const Box3d& b) {
    return (p.array() >= b.min.array()).all() && (p.array() <= b.max.array()).all();
}

Point3d centreOf(const FragMesh& m, std::uint32_t face) {
    const FragMesh::Face& f = m.faces[face];
    return (m.vertices[f[0]] + m.vertices[f[1]] + m.vertices[f[2]]) / 3.0;
}

// Per piece a, per other piece b whose box meets a's: the faces of a whose centre lies in the
// overlap of the two boxes (what the tool tests, pair by pair).
struct TestedFaces {
    std::vector<std::vector<std::pair<std::size_t, std::vector<std::uint32_t>>>> byPiece;
    std::size_t total = 0;

    std::vector<std::uint32_t> unionOf(std::size_t a, std::size_t faceCount) const {
        std::vector<std::uint8_t> in(faceCount, 0);
        for (const auto& [b, faces] : byPiece[a])
            for (std::uint32_t f : faces)
                in[f] = 1;
        std::vector<std::uint32_t> out;
        for (std::uint32_t f = 0; f < faceCount; ++f)
            if (in[f])
                out.push_back(f);
        return out;
    }
};

TestedFaces testedFaces(const Scene& s) {
    TestedFaces t;
    t.byPiece.resize(s.read.size());
    for (std::size_t a = 0; a < s.read.size(); ++a)
        for (std::size_t b = 0; b < s.read.size(); ++b) {
            if (a == b)
                continue;
            const std::optional<Box3d> both = overlapOf(s.boxes[a], s.boxes[b]);
            if (!both)
                continue;
            std::vector<std::uint32_t> faces;
            for (std::uint32_t f = 0; f < s.read[a]->faces.size(); ++f)
                if (within(centreOf(*s.read[a], f), *both))
                    faces.push_back(f);
            t.total += faces.size();
            if (!faces.empty())
                t.byPiece[a].emplace_back(b, std::move(faces));
        }
    return t;
}

// ---------------------------------------------------------------------------------------------
// The tool as a child process.

struct CliRun {
    bool ok = false;
    std::string problem;
    double wallSeconds = 0.0;
    double trees = -1, bytesPerTriangle = -1, queries = -1, total = -1;
    std::size_t facesTested = 0;
    std::vector<std::vector<std::uint32_t>> marked; // per piece
};

CliRun runCli(const QString& cli, const Scene& s) {
    CliRun r;
    const QString marksPath = QDir(s.folder).filePath(QStringLiteral("marks.json"));
    QProcess p;
    p.setWorkingDirectory(s.folder);
    const QStringList args{QStringLiteral("interpenetration"), s.project,
                           QStringLiteral("--tolerance"),      QString::number(s.tolerance, 'g', 17),
                           QStringLiteral("--marks"),          marksPath};
    const Clock::time_point t0 = Clock::now();
    p.start(cli, args);
    if (!p.waitForStarted(30000)) {
        r.problem = "could not start " + cli.toStdString();
        return r;
    }
    p.waitForFinished(-1);
    r.wallSeconds = secondsSince(t0);
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        r.problem =
            "exit code " + std::to_string(p.exitCode()) + ": " + p.readAllStandardError().toStdString();
        return r;
    }
    for (const QByteArray& line : out.split('\n')) {
        const std::string l = line.toStdString();
        double x = 0, y = 0;
        unsigned long n = 0;
        if (std::sscanf(l.c_str(), "trees %lf s, %lf bytes per triangle", &x, &y) == 2) {
            r.trees = x;
            r.bytesPerTriangle = y;
        } else if (std::sscanf(l.c_str(), "queries %lf s, %lu faces tested", &x, &n) == 2) {
            r.queries = x;
            r.facesTested = n;
        } else if (std::sscanf(l.c_str(), "total %lf s", &x) == 1) {
            r.total = x;
        }
    }
    QFile f(marksPath);
    if (!f.open(QIODevice::ReadOnly)) {
        r.problem = "no marks file";
        return r;
    }
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    r.marked.assign(s.files.size(), {});
    const QJsonArray fragments = root.value(QStringLiteral("fragments")).toArray();
    if (std::size_t(fragments.size()) != s.files.size()) {
        r.problem = "the marks file lists " + std::to_string(fragments.size()) + " fragments, not " +
                    std::to_string(s.files.size());
        return r;
    }
    for (const QJsonValue& v : fragments) {
        const QJsonObject o = v.toObject();
        const QString name = QFileInfo(o.value(QStringLiteral("mesh")).toString()).fileName();
        for (std::size_t k = 0; k < s.files.size(); ++k)
            if (QFileInfo(s.files[k]).fileName() == name)
                for (const QJsonValue& face : o.value(QStringLiteral("marked")).toArray())
                    r.marked[k].push_back(std::uint32_t(face.toInteger()));
    }
    for (auto& m : r.marked)
        std::sort(m.begin(), m.end());
    r.ok = r.total >= 0;
    if (!r.ok)
        r.problem = "no total line in: " + out.toStdString();
    return r;
}

// ---------------------------------------------------------------------------------------------
// The same computation in this process.

struct InProcess {
    double build = 0, query = 0, bytesPerTriangle = 0;
    std::size_t tested = 0, marked = 0;
    std::vector<std::vector<std::uint32_t>> marks;
};

InProcess inProcess(const Scene& s, unsigned threads) {
    std::vector<InterpenetrationPiece> pieces;
    for (const auto& m : s.read) {
        InterpenetrationPiece p;
        p.source = TriangleTree::copyOf(*m);
        p.placement = m->placement;
        pieces.push_back(std::move(p));
    }
    InterpenetrationControl control;
    control.threads = threads;
    const InterpenetrationResult r = computeInterpenetration(std::move(pieces), s.tolerance, control);
    InProcess out;
    out.build = r.buildSeconds;
    out.query = r.querySeconds;
    out.tested = r.testedFaces;
    std::size_t bytes = 0, triangles = 0;
    for (const auto& t : r.trees) {
        bytes += t->memoryBytes();
        triangles += t->triangleCount();
    }
    out.bytesPerTriangle = triangles ? double(bytes) / double(triangles) : 0.0;
    out.marks = r.marked;
    for (const auto& m : r.marked)
        out.marked += m.size();
    return out;
}

// ---------------------------------------------------------------------------------------------
// The reference: every triangle, double precision, no tree.

// Every triangle of one piece in double precision, in arrays of their own: a, b - a, c - a, and a
// sphere around the triangle (its centroid and the squared distance to its farthest corner), so
// that a ray or a point far from a triangle is turned away after a few operations.
struct Soup {
    std::vector<double> ax, ay, az, ux, uy, uz, vx, vy, vz;
    std::vector<double> cx, cy, cz, radius;

    explicit Soup(const FragMesh& m) {
        for (auto* v : {&ax, &ay, &az, &ux, &uy, &uz, &vx, &vy, &vz, &cx, &cy, &cz, &radius})
            v->reserve(m.faces.size());
        for (const FragMesh::Face& f : m.faces) {
            const Point3d &a = m.vertices[f[0]], &b = m.vertices[f[1]], &c = m.vertices[f[2]];
            ax.push_back(a.x()), ay.push_back(a.y()), az.push_back(a.z());
            ux.push_back(b.x() - a.x()), uy.push_back(b.y() - a.y()), uz.push_back(b.z() - a.z());
            vx.push_back(c.x() - a.x()), vy.push_back(c.y() - a.y()), vz.push_back(c.z() - a.z());
            const Point3d g = (a + b + c) / 3.0;
            const double r =
                std::sqrt(std::max({(a - g).squaredNorm(), (b - g).squaredNorm(), (c - g).squaredNorm()}));
            cx.push_back(g.x()), cy.push_back(g.y()), cz.push_back(g.z());
            radius.push_back(r * (1.0 + 1e-9) + 1e-12);
        }
    }
    std::size_t size() const { return ax.size(); }

    // The ray from o along d passes through triangle i (Möller-Trumbore, scaled by the determinant).
    bool crosses(std::size_t i, const Point3d& o, const Point3d& d) const {
        const double px = d.y() * vz[i] - d.z() * vy[i], py = d.z() * vx[i] - d.x() * vz[i],
                     pz = d.x() * vy[i] - d.y() * vx[i];
        const double det = ux[i] * px + uy[i] * py + uz[i] * pz;
        if (det == 0.0)
            return false;
        const double sign = det < 0 ? -1.0 : 1.0;
        const double tx = o.x() - ax[i], ty = o.y() - ay[i], tz = o.z() - az[i];
        const double u = sign * (tx * px + ty * py + tz * pz);
        const double qx = ty * uz[i] - tz * uy[i], qy = tz * ux[i] - tx * uz[i], qz = tx * uy[i] - ty * ux[i];
        const double v = sign * (d.x() * qx + d.y() * qy + d.z() * qz);
        const double t = sign * (vx[i] * qx + vy[i] * qy + vz[i] * qz);
        return u >= 0.0 && v >= 0.0 && u + v <= sign * det && t > 0.0;
    }

    // For every ray k (from o[k] along unit d[k]) the number of triangles it passes through. The
    // triangles are taken in blocks that stay in the cache while every ray meets them.
    void crossings(const std::vector<Point3d>& o, const std::vector<Point3d>& d,
                   std::vector<int>& counts) const {
        counts.assign(o.size(), 0);
        const std::size_t n = size();
        for (std::size_t begin = 0; begin < n; begin += Block) {
            const std::size_t end = std::min(n, begin + Block);
            for (std::size_t k = 0; k < o.size(); ++k) {
                const double ox = o[k].x(), oy = o[k].y(), oz = o[k].z();
                const double dx = d[k].x(), dy = d[k].y(), dz = d[k].z();
                for (std::size_t i = begin; i < end; ++i) {
                    const double wx = cx[i] - ox, wy = cy[i] - oy, wz = cz[i] - oz;
                    const double along = wx * dx + wy * dy + wz * dz;
                    const double ww = wx * wx + wy * wy + wz * wz;
                    // The sphere meets the line within its radius, not behind the start.
                    if (along < -radius[i] || ww - along * along > radius[i] * radius[i] + 1e-12 * ww)
                        continue;
                    counts[k] += crosses(i, o[k], d[k]);
                }
            }
        }
    }

    // For every point k: some triangle lies within r of p[k].
    void surfaceWithin(const std::vector<Point3d>& p, double r, std::vector<std::uint8_t>& near) const {
        near.assign(p.size(), 0);
        const std::size_t n = size();
        for (std::size_t begin = 0; begin < n; begin += Block) {
            const std::size_t end = std::min(n, begin + Block);
            for (std::size_t k = 0; k < p.size(); ++k) {
                if (near[k])
                    continue;
                const double px = p[k].x(), py = p[k].y(), pz = p[k].z();
                for (std::size_t i = begin; i < end; ++i) {
                    const double wx = cx[i] - px, wy = cy[i] - py, wz = cz[i] - pz;
                    const double reach = radius[i] + r;
                    if (wx * wx + wy * wy + wz * wz > reach * reach)
                        continue;
                    const Point3d a(ax[i], ay[i], az[i]);
                    if (squaredDistance(p[k], a, a + Point3d(ux[i], uy[i], uz[i]),
                                        a + Point3d(vx[i], vy[i], vz[i])) <= r * r) {
                        near[k] = 1;
                        break;
                    }
                }
            }
        }
    }

    // The squared distance from p to the closed triangle abc: the nearest point by the regions of the
    // vertices, the edges and the inside of the triangle.
    static double squaredDistance(const Point3d& p, const Point3d& a, const Point3d& b, const Point3d& c) {
        const Point3d ab = b - a, ac = c - a, ap = p - a;
        const double d1 = ab.dot(ap), d2 = ac.dot(ap);
        if (d1 <= 0 && d2 <= 0)
            return ap.squaredNorm();
        const Point3d bp = p - b;
        const double d3 = ab.dot(bp), d4 = ac.dot(bp);
        if (d3 >= 0 && d4 <= d3)
            return bp.squaredNorm();
        const double vc = d1 * d4 - d3 * d2;
        if (vc <= 0 && d1 >= 0 && d3 <= 0)
            return (p - (a + d1 / (d1 - d3) * ab)).squaredNorm();
        const Point3d cp = p - c;
        const double d5 = ab.dot(cp), d6 = ac.dot(cp);
        if (d6 >= 0 && d5 <= d6)
            return cp.squaredNorm();
        const double vb = d5 * d2 - d1 * d6;
        if (vb <= 0 && d2 >= 0 && d6 <= 0)
            return (p - (a + d2 / (d2 - d6) * ac)).squaredNorm();
        const double va = d3 * d6 - d5 * d4;
        if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
            return (p - (b + (d4 - d3) / ((d4 - d3) + (d5 - d6)) * (c - b))).squaredNorm();
        const double denom = 1.0 / (va + vb + vc);
        return (p - (a + ab * (vb * denom) + ac * (vc * denom))).squaredNorm();
    }

    static constexpr std::size_t Block = 2048;
};

// One sampled face: inside some other piece (any depth), and deeper than the tolerance.
struct SampleTruth {
    std::size_t piece = 0;
    std::uint32_t face = 0;
    bool inside = false, deep = false;
};

// Sampled faces per piece, each decided against every other piece whose box holds its centre: inside
// by the majority of the parities of three rays in random directions, deep when no triangle of that
// piece lies within the tolerance. Work goes to the cores in batches of points.
std::vector<SampleTruth> reference(const Scene& s, const TestedFaces& tested, std::size_t perPiece,
                                   double& seconds) {
    const Clock::time_point t0 = Clock::now();
    std::vector<SampleTruth> samples;
    for (std::size_t a = 0; a < s.read.size(); ++a) {
        std::vector<std::uint32_t> faces = tested.unionOf(a, s.read[a]->faces.size());
        std::vector<std::uint32_t> chosen;
        std::sample(faces.begin(), faces.end(), std::back_inserter(chosen), perPiece,
                    std::mt19937(1000 + unsigned(a)));
        for (std::uint32_t f : chosen)
            samples.push_back({a, f, false, false});
    }
    constexpr std::size_t Batch = 32;
    for (std::size_t b = 0; b < s.read.size(); ++b) {
        std::vector<std::size_t> asked; // samples whose centre lies in b's box
        std::vector<Point3d> points;
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const Point3d p = centreOf(*s.read[samples[k].piece], samples[k].face);
            if (samples[k].piece != b && within(p, s.boxes[b])) {
                asked.push_back(k);
                points.push_back(p);
            }
        }
        if (asked.empty())
            continue;
        const Soup soup(*s.read[b]);
        std::vector<std::uint8_t> inside(asked.size(), 0), near(asked.size(), 0);
        onAllCores((asked.size() + Batch - 1) / Batch, [&](std::size_t batch) {
            const std::size_t first = batch * Batch, last = std::min(asked.size(), first + Batch);
            std::vector<Point3d> o, d;
            for (std::size_t q = first; q < last; ++q) {
                std::mt19937 rng(unsigned(7 + 7919 * asked[q] + 104729 * b));
                std::normal_distribution<double> normal;
                for (int ray = 0; ray < 3; ++ray) {
                    o.push_back(points[q]);
                    d.push_back(Point3d(normal(rng), normal(rng), normal(rng)).normalized());
                }
            }
            std::vector<int> counts;
            soup.crossings(o, d, counts);
            std::vector<Point3d> insidePoints;
            std::vector<std::size_t> insideIndex;
            for (std::size_t q = first; q < last; ++q) {
                const std::size_t j = 3 * (q - first);
                if ((counts[j] % 2) + (counts[j + 1] % 2) + (counts[j + 2] % 2) >= 2) {
                    inside[q] = 1;
                    insidePoints.push_back(points[q]);
                    insideIndex.push_back(q);
                }
            }
            std::vector<std::uint8_t> close;
            soup.surfaceWithin(insidePoints, s.tolerance, close);
            for (std::size_t j = 0; j < insideIndex.size(); ++j)
                near[insideIndex[j]] = close[j];
        });
        for (std::size_t q = 0; q < asked.size(); ++q) {
            SampleTruth& t = samples[asked[q]];
            t.inside = t.inside || inside[q];
            t.deep = t.deep || (inside[q] && !near[q]);
        }
    }
    seconds = secondsSince(t0);
    return samples;
}

struct Agreement {
    std::size_t samples = 0, truePositive = 0, falsePositive = 0, falseNegative = 0, inside = 0;
    double precision() const {
        return truePositive + falsePositive ? double(truePositive) / double(truePositive + falsePositive)
                                            : 1.0;
    }
    double recall() const {
        return truePositive + falseNegative ? double(truePositive) / double(truePositive + falseNegative)
                                            : 1.0;
    }
};

Agreement agreement(const std::vector<SampleTruth>& samples,
                    const std::vector<std::vector<std::uint32_t>>& marked) {
    Agreement g;
    for (const SampleTruth& t : samples) {
        const bool m = std::binary_search(marked[t.piece].begin(), marked[t.piece].end(), t.face);
        ++g.samples;
        g.inside += t.inside;
        if (m && t.deep)
            ++g.truePositive;
        else if (m)
            ++g.falsePositive;
        else if (t.deep)
            ++g.falseNegative;
    }
    return g;
}

// ---------------------------------------------------------------------------------------------
// CGAL on one core.

struct CgalRun {
    bool available = false;
    double meshSeconds = 0, buildSeconds = 0, querySeconds = 0;
    std::size_t queries = 0, inside = 0;
    std::size_t agreeWithReference = 0, compared = 0; // inside at any depth, on the samples
    std::size_t meshesRepaired = 0;                   // made from the face list by orient_polygon_soup
};

#ifdef OSTRAKIT_HAVE_CGAL
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using CgalMesh = CGAL::Surface_mesh<Kernel::Point_3>;
using Side = CGAL::Side_of_triangle_mesh<CgalMesh, Kernel>;

// The mesh as a Surface_mesh, or an empty one when some face cannot be added.
CgalMesh direct(const FragMesh& m) {
    CgalMesh mesh;
    mesh.reserve(CgalMesh::size_type(m.vertices.size()), CgalMesh::size_type(3 * m.faces.size() / 2),
                 CgalMesh::size_type(m.faces.size()));
    std::vector<CgalMesh::Vertex_index> index;
    index.reserve(m.vertices.size());
    for (const Point3d& v : m.vertices)
        index.push_back(mesh.add_vertex(Kernel::Point_3(v.x(), v.y(), v.z())));
    for (const FragMesh::Face& f : m.faces)
        if (mesh.add_face(index[f[0]], index[f[1]], index[f[2]]) == CgalMesh::null_face())
            return CgalMesh();
    return mesh;
}

CgalRun runCgal(const Scene& s, const TestedFaces& tested, const std::vector<SampleTruth>& samples) {
    namespace PMP = CGAL::Polygon_mesh_processing;
    CgalRun r;
    r.available = true;
    std::vector<std::vector<std::uint8_t>> insideAny(s.read.size());
    for (std::size_t a = 0; a < s.read.size(); ++a)
        insideAny[a].assign(s.read[a]->faces.size(), 0);
    for (std::size_t b = 0; b < s.read.size(); ++b) {
        bool needed = false;
        for (std::size_t a = 0; a < s.read.size(); ++a)
            for (const auto& [other, faces] : tested.byPiece[a])
                needed = needed || other == b;
        if (!needed)
            continue;
        Clock::time_point t = Clock::now();
        // Vertices and faces as they are; a mesh that is not an oriented manifold (a face the
        // Surface_mesh refuses) is made again from the face list with its vertices split and its
        // faces turned where needed.
        CgalMesh mesh = direct(*s.read[b]);
        if (mesh.is_empty()) {
            std::vector<Kernel::Point_3> points;
            points.reserve(s.read[b]->vertices.size());
            for (const Point3d& v : s.read[b]->vertices)
                points.emplace_back(v.x(), v.y(), v.z());
            std::vector<std::array<std::size_t, 3>> polygons;
            polygons.reserve(s.read[b]->faces.size());
            for (const FragMesh::Face& f : s.read[b]->faces)
                polygons.push_back({f[0], f[1], f[2]});
            PMP::orient_polygon_soup(points, polygons);
            PMP::polygon_soup_to_polygon_mesh(points, polygons, mesh);
            ++r.meshesRepaired;
        }
        r.meshSeconds += secondsSince(t);

        t = Clock::now();
        Side::AABB_tree tree(faces(mesh).first, faces(mesh).second, mesh);
        tree.build();
        const Side side(tree);
        r.buildSeconds += secondsSince(t);

        t = Clock::now();
        for (std::size_t a = 0; a < s.read.size(); ++a)
            for (const auto& [other, faces] : tested.byPiece[a]) {
                if (other != b)
                    continue;
                for (std::uint32_t f : faces) {
                    const Point3d c = centreOf(*s.read[a], f);
                    if (side(Kernel::Point_3(c.x(), c.y(), c.z())) == CGAL::ON_BOUNDED_SIDE) {
                        ++r.inside;
                        insideAny[a][f] = 1;
                    }
                    ++r.queries;
                }
            }
        r.querySeconds += secondsSince(t);
    }
    for (const SampleTruth& t : samples) {
        ++r.compared;
        r.agreeWithReference += bool(insideAny[t.piece][t.face]) == t.inside;
    }
    return r;
}
#else
CgalRun runCgal(const Scene&, const TestedFaces&, const std::vector<SampleTruth>&) {
    return {};
}
#endif

// ---------------------------------------------------------------------------------------------

struct Row {
    std::string name;
    std::size_t triangles = 0, tested = 0, marked = 0;
    double build1 = 0, buildAll = 0, query1 = 0, queryAll = 0, cliWall = 0, cliTotal = 0, bytes = 0;
    double precision = 0, recall = 0, cgalBuild = 0, cgalQuery = 0;
    bool cgal = false;
};

long peakResidentKib(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

std::optional<Row> runCase(Case c, const QString& cli, std::size_t perPiece, bool keep) {
    std::printf("\n== case %s: %s, %zu pieces\n", c.name.c_str(), c.label.c_str(), c.meshes.size());
    QTemporaryDir dir;
    dir.setAutoRemove(!keep);
    Scene s;
    QString error;
    if (!dir.isValid() || !writeScene(c, dir.path(), s, error)) {
        std::printf("could not write the case: %s\n", error.toLocal8Bit().constData());
        return std::nullopt;
    }
    Row row;
    row.name = c.name;
    for (std::size_t k = 0; k < s.read.size(); ++k) {
        const Box3d& b = s.boxes[k];
        std::printf("piece %zu: %zu triangles, %zu vertices, box (%.6g %.6g %.6g) - (%.6g %.6g %.6g)\n", k,
                    s.read[k]->faces.size(), s.read[k]->vertices.size(), b.min.x(), b.min.y(), b.min.z(),
                    b.max.x(), b.max.y(), b.max.z());
        row.triangles += s.read[k]->faces.size();
    }
    std::printf("written in %.2f s, read back in %.2f s; tolerance %.6g; folder %s\n", s.writeSeconds,
                s.readSeconds, s.tolerance, keep ? dir.path().toLocal8Bit().constData() : "(removed)");

    const CliRun run = runCli(cli, s);
    if (!run.ok) {
        std::printf("ostrakit-cli failed: %s\n", run.problem.c_str());
        return std::nullopt;
    }
    row.cliWall = run.wallSeconds;
    row.cliTotal = run.total;
    row.bytes = run.bytesPerTriangle;
    for (const auto& m : run.marked)
        row.marked += m.size();
    std::printf(
        "ostrakit-cli: start to exit %.2f s; its lines: trees %.2f s, %.1f bytes per triangle; queries "
        "%.2f s, %zu faces tested; total %.2f s; %zu faces marked; largest child resident set so far "
        "%.0f MB\n",
        run.wallSeconds, run.trees, run.bytesPerTriangle, run.queries, run.facesTested, run.total, row.marked,
        double(peakResidentKib(RUSAGE_CHILDREN)) / 1024.0);

    const InProcess one = inProcess(s, 1);
    const InProcess all = inProcess(s, 0);
    row.build1 = one.build;
    row.query1 = one.query;
    row.buildAll = all.build;
    row.queryAll = all.query;
    std::printf(
        "in process, 1 thread: trees %.2f s, queries %.2f s; %u threads: trees %.2f s, queries %.2f s; "
        "trees %.1f bytes per triangle; %zu faces tested, %zu marked; marks %s the tool's\n",
        one.build, one.query, coreCount(), all.build, all.query, all.bytesPerTriangle, all.tested, all.marked,
        one.marks == run.marked && all.marks == run.marked ? "equal to" : "DIFFERENT FROM");

    const TestedFaces tested = testedFaces(s);
    row.tested = tested.total;
    double refSeconds = 0;
    const std::vector<SampleTruth> samples = reference(s, tested, perPiece, refSeconds);
    const Agreement g = agreement(samples, run.marked);
    row.precision = g.precision();
    row.recall = g.recall();
    std::printf(
        "reference (%zu sampled faces of %zu tested in double-precision boxes, %.1f s): %zu inside, %zu "
        "deeper than the tolerance; marked and deep %zu, marked but not %zu, deep but unmarked %zu; "
        "precision %.4f, recall %.4f\n",
        g.samples, tested.total, refSeconds, g.inside, g.truePositive + g.falseNegative, g.truePositive,
        g.falsePositive, g.falseNegative, g.precision(), g.recall());

    const CgalRun cg = runCgal(s, tested, samples);
    row.cgal = cg.available;
    if (cg.available) {
        row.cgalBuild = cg.buildSeconds;
        row.cgalQuery = cg.querySeconds;
        std::printf(
            "CGAL, one core: Surface_mesh made in %.2f s (%zu made through orient_polygon_soup), AABB trees "
            "%.2f s, %zu queries %.2f s (%.1f us each), %zu inside; agrees with the reference's inside "
            "on %zu of %zu samples; ostrakit-cli whole run / CGAL trees and queries = %.3f\n",
            cg.meshSeconds, cg.meshesRepaired, cg.buildSeconds, cg.queries, cg.querySeconds,
            cg.queries ? 1e6 * cg.querySeconds / double(cg.queries) : 0.0, cg.inside, cg.agreeWithReference,
            cg.compared, run.wallSeconds / (cg.buildSeconds + cg.querySeconds));
    } else {
        std::printf("CGAL not found\n");
    }
    std::fflush(stdout);
    return row;
}

struct Options {
    bool quick = false, keep = false;
    std::string cases = "abcd";
    std::size_t samples = 3000;
    QString cli = QStringLiteral(OSTRAKIT_CLI_PATH);
    std::vector<QString> scans;
};

bool parseOptions(int argc, char* argv[], Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick")
            o.quick = true;
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--cases" && i + 1 < argc)
            o.cases = argv[++i];
        else if (a == "--samples" && i + 1 < argc)
            o.samples = std::size_t(std::max(1, std::atoi(argv[++i])));
        else if (a == "--cli" && i + 1 < argc)
            o.cli = QString::fromLocal8Bit(argv[++i]);
        else if (a.rfind("--", 0) == 0)
            return false;
        else
            o.scans.push_back(QString::fromLocal8Bit(argv[i]));
    }
    return o.quick || o.scans.size() == 2;
}

void printClosedness(const char* name, const FragMesh& m) {
    const Closedness c = closedness(m);
    std::printf("%s: %zu triangles, %zu vertices, %zu edges: %zu on a hole (one face), %zu non-manifold "
                "(more than two), %zu between faces turned against each other, %zu degenerate faces: %s\n",
                name, m.faces.size(), m.vertices.size(), c.edges, c.boundary, c.nonManifold, c.misoriented,
                c.degenerateFaces,
                c.boundary + c.nonManifold == 0 ? "closed"
                                                : "NOT closed (ray parity is not exact everywhere)");
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it is made, also into a file
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: bench_interpenetration [--quick] [--cases abcd] [--samples N] [--keep] "
                             "[--cli PATH] BUNNY.ply ELEPHANT.ply\n");
        return 2;
    }
    installMeshReaders();
    FragMesh first, second;
    int levels = 2, fineLevels = 3, gridLevels = 1;
    if (o.quick) {
        first = sphere(1.0, 24, 12);
        second = sphere(1.0, 32, 16);
        levels = 1;
        fineLevels = 2;
        gridLevels = 0;
        o.samples = std::min<std::size_t>(o.samples, 200);
    } else {
        QString error;
        if (!readMeshFile(o.scans[0], first, error) || !readMeshFile(o.scans[1], second, error)) {
            std::fprintf(stderr, "bench_interpenetration: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
    }
    std::printf("exact interpenetration marks: ostrakit-cli %s, %u cores, %zu sampled faces per piece%s\n",
                o.cli.toLocal8Bit().constData(), coreCount(), o.samples,
#ifdef OSTRAKIT_HAVE_CGAL
                ", CGAL " CGAL_VERSION_STR
#else
                ", CGAL not found"
#endif
    );
    printClosedness(o.quick ? "first sphere" : o.scans[0].toLocal8Bit().constData(), first);
    printClosedness(o.quick ? "second sphere" : o.scans[1].toLocal8Bit().constData(), second);

    std::vector<Row> rows;
    for (const char c : o.cases) {
        std::optional<Case> made;
        if (c == 'a')
            made = pairCase("a", "deep pair, " + std::to_string(levels) + " subdivisions, shuffled", first,
                            second, levels, Point3d::Zero());
        else if (c == 'b')
            made = pairCase("b", "deep pair at (1e5, -2e5, 1e5)", first, second, levels,
                            Point3d(1e5, -2e5, 1e5));
        else if (c == 'c')
            made = pairCase("c", "finely meshed pair, " + std::to_string(fineLevels) + " subdivisions", first,
                            second, fineLevels, Point3d::Zero());
        else if (c == 'd')
            made = gridCase(first, second, gridLevels);
        if (!made)
            continue;
        if (std::optional<Row> r = runCase(std::move(*made), o.cli, o.samples, o.keep))
            rows.push_back(*r);
        else
            return 1;
    }

    std::printf("\n%-4s %10s %9s %9s %8s %8s %8s %8s %8s %8s %6s %9s %7s %8s %8s %7s\n", "case", "triangles",
                "tested", "marked", "tree1 s", "treeN s", "query1 s", "queryN s", "cli s", "cliTot s",
                "B/tri", "precision", "recall", "cgalB s", "cgalQ s", "ratio");
    for (const Row& r : rows) {
        std::printf("%-4s %10zu %9zu %9zu %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %6.1f %9.4f %7.4f",
                    r.name.c_str(), r.triangles, r.tested, r.marked, r.build1, r.buildAll, r.query1,
                    r.queryAll, r.cliWall, r.cliTotal, r.bytes, r.precision, r.recall);
        if (r.cgal)
            std::printf(" %8.2f %8.2f %7.3f\n", r.cgalBuild, r.cgalQuery,
                        r.cliWall / (r.cgalBuild + r.cgalQuery));
        else
            std::printf(" %8s %8s %7s\n", "-", "-", "-");
    }
    std::printf(
        "(tree1/query1: in process on one thread; treeN/queryN: on all cores; cli s: ostrakit-cli start to "
        "exit; cliTot s: its own total line; ratio: cli s / (cgalB + cgalQ), CGAL on one core)\n");
    return 0;
}
