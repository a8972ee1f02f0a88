#include "sample_vessel.h"

#include "frag_group.h"
#include "frag_mesh.h"
#include "fragment.h"
#include "mesh_readers.h"
#include "ply_writer.h"
#include "project_writer.h"
#include "rband.h"
#include "total_graph.h"

#include <Eigen/Geometry>
#include <QDir>
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {
constexpr int Sectors = 4, Bands = 2, Pieces = Sectors * Bands;
constexpr double Height = 2.0;
constexpr double TwoPi = 2.0 * M_PI;

// Radius of the body at height fraction t (0 foot, 1 rim) and angle a, with its relief.
double radiusAt(double t, double a) {
    const double body = 0.45 + 0.3 * std::sin(M_PI * (0.1 + 0.95 * t)) - 0.12 * t * t + 0.06 * t * t * t * t;
    const double ribs = 0.006 * std::sin(24.0 * a + 5.0 * t) * std::sin(M_PI * t);
    const double grooves = 0.004 * std::cos(70.0 * t);
    const double wear = 0.002 * std::sin(13.0 * a) * std::cos(17.0 * t + 3.0 * a);
    return body + ribs + grooves + wear;
}

// Terracotta with a painted band and a meander above the belly.
Color4b colourAt(double t, double a) {
    double r = 182, g = 98, b = 62;
    if (t > 0.56 && t < 0.63)
        r = 48, g = 36, b = 30;
    if (t > 0.66 && t < 0.74 && std::sin(12.0 * a + (t > 0.70 ? 0.8 : 0.0)) > 0.35)
        r = 60, g = 42, b = 34;
    const double shade = 0.92 + 0.08 * std::sin(31.0 * a) * std::sin(47.0 * t);
    auto byte = [shade](double v) { return static_cast<std::uint8_t>(std::clamp(v * shade, 0.0, 255.0)); };
    return {byte(r), byte(g), byte(b), 255};
}

// Piece of a point on the body: sectors split by wavy meridians, bands by a wavy parallel.
int pieceAt(double t, double a) {
    const double band = 0.5 + 0.08 * std::sin(3.0 * a) + 0.04 * std::sin(7.0 * a + 1.0);
    const int row = t < band ? 0 : 1;
    for (int k = Sectors - 1; k >= 0; --k) {
        const double border =
            k * TwoPi / Sectors + 0.22 * std::sin(3.0 * M_PI * t + k) + 0.08 * std::sin(11.0 * t + 2.0 * k);
        if (a >= border || (k == 0))
            return row * Sectors + k;
    }
    return row * Sectors;
}

struct Vessel {
    FragMesh mesh;
    std::vector<double> t, a; // per vertex: height fraction and angle
};

Vessel buildVessel(int around, int up) {
    Vessel v;
    auto addVertex = [&v](double t, double a, double radius) {
        v.mesh.vertices.emplace_back(radius * std::cos(a), radius * std::sin(a), t * Height);
        v.mesh.fileColors.push_back(colourAt(t, a));
        v.t.push_back(t);
        v.a.push_back(a);
        return static_cast<std::uint32_t>(v.mesh.vertices.size() - 1);
    };
    // Body: rings from foot to rim.
    for (int j = 0; j < up; ++j)
        for (int i = 0; i < around; ++i) {
            const double t = double(j) / (up - 1), a = TwoPi * i / around;
            addVertex(t, a, radiusAt(t, a));
        }
    auto body = [around](int j, int i) { return static_cast<std::uint32_t>(j * around + (i % around)); };
    for (int j = 0; j + 1 < up; ++j)
        for (int i = 0; i < around; ++i) {
            v.mesh.faces.push_back({body(j, i), body(j, i + 1), body(j + 1, i + 1)});
            v.mesh.faces.push_back({body(j, i), body(j + 1, i + 1), body(j + 1, i)});
        }
    // Foot: a flat disc closing the bottom ring.
    const int rings = 5;
    const std::uint32_t centre = addVertex(0.0, 0.0, 0.0);
    std::vector<std::uint32_t> previous(static_cast<std::size_t>(around), centre);
    for (int r = 1; r <= rings; ++r) {
        std::vector<std::uint32_t> ring(static_cast<std::size_t>(around));
        for (int i = 0; i < around; ++i) {
            const double a = TwoPi * i / around;
            ring[std::size_t(i)] = r == rings ? body(0, i) : addVertex(0.0, a, radiusAt(0.0, a) * r / rings);
        }
        for (int i = 0; i < around; ++i) {
            const std::size_t i0 = std::size_t(i), i1 = std::size_t((i + 1) % around);
            if (r == 1) {
                v.mesh.faces.push_back({centre, ring[i1], ring[i0]});
            } else {
                v.mesh.faces.push_back({previous[i0], ring[i1], ring[i0]});
                v.mesh.faces.push_back({previous[i0], previous[i1], ring[i1]});
            }
        }
        previous = ring;
    }
    v.mesh.hasVertexColors = true;
    return v;
}

// A uniformly random rotation (from a unit quaternion) and a translation in [-spread, spread]^3.
Matrix44d randomMotion(std::mt19937& rng, double spread) {
    std::normal_distribution<double> gauss;
    Eigen::Quaterniond q(gauss(rng), gauss(rng), gauss(rng), gauss(rng));
    q.normalize();
    std::uniform_real_distribution<double> shift(-spread, spread);
    Matrix44d m = Matrix44d::Identity();
    m.topLeftCorner<3, 3>() = q.toRotationMatrix();
    m.topRightCorner<3, 1>() = Point3d(shift(rng), shift(rng), shift(rng));
    return m;
}

// Three of the shared points, spread along the common border: the first, the one farthest from
// it, and the one farthest from both.
std::vector<std::uint32_t> spreadPoints(const std::vector<std::uint32_t>& shared, const FragMesh& m) {
    std::vector<std::uint32_t> chosen{shared.front()};
    while (chosen.size() < 3) {
        std::uint32_t best = shared.front();
        double bestDistance = -1;
        for (std::uint32_t s : shared) {
            double nearest = 1e300;
            for (std::uint32_t c : chosen)
                nearest = std::min(nearest, (m.vertices[s] - m.vertices[c]).norm());
            if (nearest > bestDistance)
                bestDistance = nearest, best = s;
        }
        chosen.push_back(best);
    }
    return chosen;
}
} // namespace

bool writeSampleVessel(const QString& folder, SampleVessel& out, QString& error,
                       const SampleVesselOptions& options) {
    installMeshReaders();
    const QDir dir(folder);
    const Vessel vessel = buildVessel(std::max(options.around, 16), std::max(options.up, 8));
    const FragMesh& whole = vessel.mesh;
    Box3d box;
    for (const Point3d& p : whole.vertices)
        box.add(p);

    // Break: every face goes to the piece of its centre; border vertices are copied into every
    // piece that uses them.
    std::vector<FragMesh> pieces(Pieces);
    std::vector<std::map<std::uint32_t, std::uint32_t>> local(Pieces);
    for (const FragMesh::Face& f : whole.faces) {
        double t = 0, sx = 0, sy = 0;
        for (std::uint32_t v : f) {
            t += vessel.t[v] / 3.0;
            sx += std::cos(vessel.a[v]);
            sy += std::sin(vessel.a[v]);
        }
        double a = std::atan2(sy, sx);
        if (a < 0)
            a += TwoPi;
        const int p = pieceAt(t, a);
        FragMesh& piece = pieces[std::size_t(p)];
        FragMesh::Face g;
        for (int k = 0; k < 3; ++k) {
            auto [it, fresh] =
                local[std::size_t(p)].try_emplace(f[std::size_t(k)], std::uint32_t(piece.vertices.size()));
            if (fresh) {
                piece.vertices.push_back(whole.vertices[f[std::size_t(k)]]);
                piece.fileColors.push_back(whole.fileColors[f[std::size_t(k)]]);
            }
            g[std::size_t(k)] = it->second;
        }
        piece.faces.push_back(g);
    }

    std::mt19937 rng(options.seed);
    out = SampleVessel{};
    out.size = box.diag();
    TotalGraph graph;
    std::vector<FragGroup*> wrappers;
    for (int p = 0; p < Pieces; ++p) {
        FragMesh& piece = pieces[std::size_t(p)];
        piece.hasVertexColors = true;
        const Matrix44d motion = randomMotion(rng, options.spread);
        piece.transform(motion);
        const QString name = QStringLiteral("piece_%1.ply").arg(p + 1);
        if (!writeBinaryPly(dir.filePath(name), piece, error))
            return false;
        FragGroup* w = FragGroup::wrapFragment(&graph, dir.filePath(name));
        graph.addObject(w);
        if (!w->wrappedFragment()->hasMesh()) {
            error = w->wrappedFragment()->loadError();
            return false;
        }
        w->wrappedFragment()->setPathRelativeToProject(true);
        wrappers.push_back(w);
        out.meshPaths.push_back(dir.filePath(name));
        out.motions.push_back(motion);
        out.pieceTriangles.push_back(piece.faces.size());
    }

    // Three constraints between every two pieces that share a border.
    for (int p = 0; p < Pieces; ++p)
        for (int q = p + 1; q < Pieces; ++q) {
            std::vector<std::uint32_t> shared;
            for (const auto& [v, lp] : local[std::size_t(p)])
                if (local[std::size_t(q)].count(v))
                    shared.push_back(v);
            if (shared.size() < 6)
                continue;
            for (std::uint32_t v : spreadPoints(shared, whole)) {
                FragGroup* a = wrappers[std::size_t(p)];
                FragGroup* b = wrappers[std::size_t(q)];
                auto* c = new RBand(graph.nextConstraintId(), &a->objId(), &b->objId());
                c->addLeafFrag(&a->wrappedFragment()->objId());
                c->addLeafFrag(&b->wrappedFragment()->objId());
                c->addPoint(&a->objId(), transformPoint(out.motions[std::size_t(p)], whole.vertices[v]));
                c->addPoint(&b->objId(), transformPoint(out.motions[std::size_t(q)], whole.vertices[v]));
                for (int k = 0; k < 2; ++k) {
                    FragGroup* o = k == 0 ? a : b;
                    c->setRadius(k, RBand::radiusFor(*o));
                }
                graph.addConstraint(c);
                a->attachConstraint(c);
                b->attachConstraint(c);
                ++out.constraintCount;
            }
        }
    out.projectPath = dir.filePath(QStringLiteral("sample.prproj"));
    return saveProjectFile(out.projectPath, graph, error);
}
