#include "surface_refine.h"

#include "block_sums.h"
#include "sparse_system.h"

#include <Eigen/Geometry>
#include <Eigen/LU>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <unordered_map>

namespace {
using Vec3f = TriangleTree::Vec3f;
using Vector6d = Eigen::Matrix<double, 6, 1>;

// Two sides of one break face each other: their normals are within 60 degrees of opposed.
constexpr double kOpposedCosine = -0.866;
// Matches further than this many times the pair's median distance are dropped as outliers.
constexpr double kTrimFactor = 2.5;
// A body whose user pairs end this many times further apart than before (or than the contact distance)
// was pulled onto the wrong surface.
constexpr double kStrayFactor = 3.0;
// A round in which no body moves by more than this fraction of the contact distance ends the fit.
constexpr double kSettledFraction = 1e-3;
// Triangles get points at a density this many times the thinning grid's, so that every voxel the
// surface crosses holds one.
constexpr double kOversampling = 4.0;
constexpr std::size_t kMaxPointsPerTriangle = 64;
constexpr std::size_t kChunk = 256;

// A sample of a body's surface where the body stood at the start, in world coordinates.
struct Sample {
    Point3d point, normal;
};

// The samples of one body's surface near another body's; one per direction of a joined pair.
struct ContactSide {
    std::size_t from = 0, to = 0, joint = 0;
    std::vector<Sample> samples;
};

struct Match {
    Point3d onFrom, onTo, normalTo;
    double distance = 0.0;
};

Box3d worldBox(const TriangleTree& tree, const Matrix44d& worldFromLocal) {
    Box3d box;
    if (tree.triangleCount() == 0)
        return box;
    for (int k = 0; k < 8; ++k) {
        const Vec3f corner((k & 1) ? tree.upper().x() : tree.lower().x(),
                           (k & 2) ? tree.upper().y() : tree.lower().y(),
                           (k & 4) ? tree.upper().z() : tree.lower().z());
        box.add(transformPoint(worldFromLocal, corner.cast<double>()));
    }
    return box;
}

Box3d worldBox(const RefineBody& body) {
    Box3d box;
    for (std::size_t t = 0; t < body.trees.size(); ++t)
        box.add(worldBox(*body.trees[t], body.worldFromLocal[t]));
    return box;
}

Box3d intersection(const Box3d& a, const Box3d& b) {
    Box3d box;
    if (a.isNull() || b.isNull())
        return box;
    box.min = a.min.cwiseMax(b.min);
    box.max = a.max.cwiseMin(b.max);
    return box;
}

Box3d grown(Box3d box, double margin) {
    if (!box.isNull()) {
        box.min.array() -= margin;
        box.max.array() += margin;
    }
    return box;
}

// The point k of a fixed, well-spread sequence over the triangle abc (the centre first).
Vec3f pointOnTriangle(const std::array<Vec3f, 3>& c, std::size_t k) {
    if (k == 0)
        return (c[0] + c[1] + c[2]) / 3.0f;
    // Additive recurrence with the plastic number, folded into the triangle.
    float u = float(std::fmod(0.5 + double(k) * 0.7548776662466927, 1.0));
    float w = float(std::fmod(0.5 + double(k) * 0.5698402909980532, 1.0));
    if (u + w > 1.0f) {
        u = 1.0f - u;
        w = 1.0f - w;
    }
    return c[0] + u * (c[1] - c[0]) + w * (c[2] - c[0]);
}

// Well-spread samples of the tree's triangles whose centres lie in region (world), about budget of
// them: points by area, thinned to one per cell of a grid in the tree's own frame, in slot order.
std::vector<Sample> sampleSurfaceIn(const TriangleTree& tree, const Matrix44d& worldFromLocal,
                                    const Box3d& region, std::size_t budget) {
    std::vector<Sample> samples;
    if (region.isNull() || budget == 0)
        return samples;
    const Matrix44d localFromWorld = worldFromLocal.inverse();
    Box3d local;
    for (int k = 0; k < 8; ++k) {
        const Point3d corner((k & 1) ? region.max.x() : region.min.x(),
                             (k & 2) ? region.max.y() : region.min.y(),
                             (k & 4) ? region.max.z() : region.min.z());
        local.add(transformPoint(localFromWorld, corner));
    }
    const std::vector<std::uint32_t> slots =
        tree.slotsWithCentreIn(local.min.cast<float>(), local.max.cast<float>());
    double area = 0.0;
    for (std::uint32_t s : slots)
        area += tree.areaAt(s);
    if (!(area > 0.0))
        return samples;
    const double cell = std::sqrt(area / double(budget));
    const double pointArea = cell * cell / kOversampling;
    const Eigen::Matrix3d rotation = worldFromLocal.topLeftCorner<3, 3>();
    std::unordered_map<std::uint64_t, bool> taken;
    taken.reserve(2 * budget);
    for (std::uint32_t s : slots) {
        const std::array<Vec3f, 3> c = tree.cornersAt(s);
        const Eigen::Vector3d normal = (c[1] - c[0]).cast<double>().cross((c[2] - c[0]).cast<double>());
        if (!(normal.norm() > 0.0))
            continue;
        const Point3d worldNormal = (rotation * normal).normalized();
        const auto points =
            std::min(kMaxPointsPerTriangle, std::size_t(std::ceil(tree.areaAt(s) / pointArea)));
        for (std::size_t k = 0; k < std::max<std::size_t>(1, points); ++k) {
            const Vec3f p = pointOnTriangle(c, k);
            const Eigen::Array3d index = (p.cast<double>() / cell).array().floor();
            // 21 bits per axis; a region wider than two million cells wraps, which only thins more.
            std::uint64_t key = 0;
            for (int axis = 0; axis < 3; ++axis)
                key = (key << 21) | (std::uint64_t(std::int64_t(index[axis])) & 0x1FFFFFu);
            if (!taken.emplace(key, true).second)
                continue;
            samples.push_back({transformPoint(worldFromLocal, p.cast<double>()), worldNormal});
        }
    }
    return samples;
}

// Samples of body from's surface where it may touch body to.
std::vector<Sample> sampleContactSide(const RefineBody& from, const RefineBody& to, double margin,
                                      std::size_t budget) {
    std::vector<Sample> samples;
    const Box3d near = grown(worldBox(to), margin);
    const std::size_t share = std::max<std::size_t>(1, budget / std::max<std::size_t>(1, from.trees.size()));
    for (std::size_t t = 0; t < from.trees.size(); ++t) {
        const Box3d region = intersection(worldBox(*from.trees[t], from.worldFromLocal[t]), near);
        std::vector<Sample> more = sampleSurfaceIn(*from.trees[t], from.worldFromLocal[t], region, share);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    return samples;
}

// Runs work(begin, end) over [0, count) in fixed chunks on up to threads threads. Each index is
// handled alone, so the outcome does not depend on which thread takes a chunk.
template <typename Work> void forChunks(std::size_t count, unsigned threads, const Work& work) {
    const std::size_t chunks = (count + kChunk - 1) / kChunk;
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t c; (c = next.fetch_add(1)) < chunks;)
            work(c * kChunk, std::min(count, (c + 1) * kChunk));
    };
    const unsigned helpers = unsigned(std::min<std::size_t>(threads, chunks)) - (chunks > 0 ? 1 : 0);
    std::vector<std::thread> pool;
    for (unsigned k = 0; k < helpers; ++k)
        pool.emplace_back(run);
    run();
    for (std::thread& t : pool)
        t.join();
}

Point3d movedNormal(const Matrix44d& motion, const Point3d& n) {
    return motion.topLeftCorner<3, 3>() * n;
}

// Where every body's trees are now, and the way back into each tree's frame.
struct Placements {
    std::vector<std::vector<Matrix44d>> worldFromLocal, localFromWorld;

    Placements(const std::vector<RefineBody>& bodies, const std::vector<Matrix44d>& motions) {
        for (std::size_t b = 0; b < bodies.size(); ++b) {
            worldFromLocal.emplace_back();
            localFromWorld.emplace_back();
            for (const Matrix44d& m : bodies[b].worldFromLocal) {
                worldFromLocal.back().push_back(motions[b] * m);
                localFromWorld.back().push_back(worldFromLocal.back().back().inverse());
            }
        }
    }
};

// The nearest point of body to's surface to x, facing a surface of normal n, within reach.
std::optional<Match> nearestFacing(const RefineBody& to, const std::vector<Matrix44d>& worldFromLocal,
                                   const std::vector<Matrix44d>& localFromWorld, const Point3d& x,
                                   const Point3d& n, double reach) {
    std::optional<Match> best;
    for (std::size_t t = 0; t < to.trees.size(); ++t) {
        const float within = float(best ? best->distance : reach);
        const auto near =
            to.trees[t]->closestPoint(transformPoint(localFromWorld[t], x).cast<float>(), within);
        if (!near)
            continue;
        const Point3d q = transformPoint(worldFromLocal[t], near->point.cast<double>());
        const double distance = (q - x).norm();
        if (best && distance >= best->distance)
            continue;
        best = Match{x, q, (worldFromLocal[t].topLeftCorner<3, 3>() * near->normal.cast<double>()), distance};
    }
    if (!best || !(best->distance <= reach) || !(best->normalTo.dot(n) < kOpposedCosine))
        return std::nullopt;
    return best;
}

// The matches of every contact side, where the bodies are now (one list per side).
std::vector<std::vector<Match>> matchSides(const std::vector<RefineBody>& bodies,
                                           const std::vector<ContactSide>& sides,
                                           const std::vector<Matrix44d>& motions, double reach,
                                           unsigned threads) {
    const Placements now(bodies, motions);
    std::vector<std::vector<Match>> matches(sides.size());
    for (std::size_t s = 0; s < sides.size(); ++s) {
        const ContactSide& side = sides[s];
        std::vector<std::optional<Match>> found(side.samples.size());
        forChunks(side.samples.size(), threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                const Sample& sample = side.samples[i];
                found[i] =
                    nearestFacing(bodies[side.to], now.worldFromLocal[side.to], now.localFromWorld[side.to],
                                  transformPoint(motions[side.from], sample.point),
                                  movedNormal(motions[side.from], sample.normal), reach);
            }
        });
        for (const std::optional<Match>& m : found)
            if (m)
                matches[s].push_back(*m);
    }
    return matches;
}

// Drops the matches of each joint beyond kTrimFactor times that joint's median distance.
void trimPerJoint(const std::vector<ContactSide>& sides, std::vector<std::vector<Match>>& matches,
                  std::size_t joints) {
    for (std::size_t j = 0; j < joints; ++j) {
        std::vector<double> distances;
        for (std::size_t s = 0; s < sides.size(); ++s)
            if (sides[s].joint == j)
                for (const Match& m : matches[s])
                    distances.push_back(m.distance);
        if (distances.empty())
            continue;
        std::nth_element(distances.begin(), distances.begin() + std::ptrdiff_t(distances.size() / 2),
                         distances.end());
        const double bar = kTrimFactor * distances[distances.size() / 2];
        for (std::size_t s = 0; s < sides.size(); ++s)
            if (sides[s].joint == j)
                std::erase_if(matches[s], [bar](const Match& m) { return m.distance > bar; });
    }
}

struct MatchFigures {
    double mean = 0.0, largest = 0.0;
};

MatchFigures figuresOf(const std::vector<std::vector<Match>>& matches) {
    MatchFigures f;
    std::size_t count = 0;
    for (const std::vector<Match>& side : matches)
        for (const Match& m : side) {
            f.mean += m.distance;
            f.largest = std::max(f.largest, m.distance);
            ++count;
        }
    if (count > 0)
        f.mean /= double(count);
    return f;
}

// The Gauss-Newton normal equations over the free bodies' unknowns: per body a small turn about its
// centre (scaled by the unit length, so both halves of the unknowns weigh alike) and a translation.
class RefineSystem {
public:
    RefineSystem(const std::vector<int>& unknownOf, const std::vector<SpringLink>& pattern, double unit)
        : unknownOf(unknownOf), unit(unit), sums(freeCount(unknownOf), pattern),
          rhs(Eigen::VectorXd::Zero(6 * freeCount(unknownOf))) {}

    // Adds w |e + Ja thetaA - Jb thetaB|^2 for a residual of k rows.
    template <int K>
    void add(std::size_t a, std::size_t b, const Eigen::Matrix<double, K, 6>& ja,
             const Eigen::Matrix<double, K, 6>& jb, const Eigen::Matrix<double, K, 1>& e, double w) {
        const int ua = unknownOf[a], ub = unknownOf[b];
        if (ua >= 0) {
            sums.diag(ua) += w * ja.transpose() * ja;
            rhs.segment<6>(6 * ua) -= w * ja.transpose() * e;
        }
        if (ub >= 0) {
            sums.diag(ub) += w * jb.transpose() * jb;
            rhs.segment<6>(6 * ub) += w * jb.transpose() * e;
        }
        if (ua >= 0 && ub >= 0 && ua != ub)
            sums.addCross(ua, ub, -w * ja.transpose() * jb);
    }

    // Turn rows of a point at offset r from its body's centre: d(n . x) = ((r x n) / unit) . a + n . t.
    Eigen::Matrix<double, 1, 6> planeRow(const Point3d& r, const Point3d& n) const {
        Eigen::Matrix<double, 1, 6> row;
        row << r.cross(n).transpose() / unit, n.transpose();
        return row;
    }
    Eigen::Matrix<double, 3, 6> pointRows(const Point3d& r) const {
        Eigen::Matrix<double, 3, 6> rows;
        rows.leftCols<3>() << 0.0, r.z(), -r.y(), -r.z(), 0.0, r.x(), r.y(), -r.x(), 0.0;
        rows.leftCols<3>() /= unit;
        rows.rightCols<3>().setIdentity();
        return rows;
    }

    // The increments (6 per free body), or none when the system cannot be solved.
    std::optional<Eigen::VectorXd> solve() {
        const int n = freeCount(unknownOf);
        double largest = 0.0;
        for (int u = 0; u < n; ++u)
            largest = std::max(largest, sums.diag(u).diagonal().maxCoeff());
        if (n == 0 || !(largest > 0.0))
            return Eigen::VectorXd::Zero(6 * n);
        // A body nothing holds in some direction stays where it is in that direction.
        for (int u = 0; u < n; ++u)
            sums.diag(u).diagonal().array() += 1e-9 * largest;
        Eigen::VectorXd theta;
        if (!spd.solve(sums.lower(), rhs, theta))
            return std::nullopt;
        return theta;
    }

    static int freeCount(const std::vector<int>& unknownOf) {
        return int(std::count_if(unknownOf.begin(), unknownOf.end(), [](int u) { return u >= 0; }));
    }

private:
    const std::vector<int>& unknownOf;
    double unit;
    BlockSums<6> sums;
    Eigen::VectorXd rhs;
    SpdSolver spd;
};

Matrix44d incrementOf(const Vector6d& theta, double unit, const Point3d& centre) {
    const Eigen::Vector3d turn = theta.head<3>() / unit;
    const double angle = turn.norm();
    const Eigen::Matrix3d r =
        angle > 0.0 ? Eigen::AngleAxisd(angle, turn / angle).toRotationMatrix() : Eigen::Matrix3d::Identity();
    Matrix44d m = Matrix44d::Identity();
    m.topLeftCorner<3, 3>() = r;
    m.topRightCorner<3, 1>() = centre + theta.tail<3>() - r * centre;
    return m;
}

// The largest distance a corner of box travels under increment.
double travelOf(const Matrix44d& increment, const Box3d& box) {
    double largest = 0.0;
    for (int k = 0; k < 8; ++k) {
        const Point3d corner((k & 1) ? box.max.x() : box.min.x(), (k & 2) ? box.max.y() : box.min.y(),
                             (k & 4) ? box.max.z() : box.min.z());
        largest = std::max(largest, (transformPoint(increment, corner) - corner).norm());
    }
    return largest;
}

bool cancelled(const RefineOptions& options) {
    return options.cancel && options.cancel->load();
}

struct Problem {
    const std::vector<RefineBody>& bodies;
    std::vector<std::pair<std::size_t, std::size_t>> joints; // valid joined pairs
    std::vector<RefinePointPair> pairs;                      // valid point pairs
    std::vector<ContactSide> sides;
    std::vector<int> unknownOf; // per body; -1 when held
    std::vector<SpringLink> pattern;
    double unit = 1.0;
};

Problem prepare(const std::vector<RefineBody>& bodies,
                const std::vector<std::pair<std::size_t, std::size_t>>& joined,
                const std::vector<RefinePointPair>& pairs, const RefineOptions& options) {
    Problem p{bodies, {}, {}, {}, {}, {}, 1.0};
    const std::size_t n = bodies.size();
    for (const auto& [a, b] : joined)
        if (a < n && b < n && a != b)
            p.joints.emplace_back(a, b);
    for (const RefinePointPair& pair : pairs)
        if (pair.bodyA < n && pair.bodyB < n && pair.bodyA != pair.bodyB && pair.stiffness > 0.0)
            p.pairs.push_back(pair);

    const bool anyHeld =
        std::any_of(bodies.begin(), bodies.end(), [](const RefineBody& b) { return b.held; });
    int next = 0;
    for (std::size_t b = 0; b < n; ++b)
        p.unknownOf.push_back((bodies[b].held || (!anyHeld && b == 0)) ? -1 : next++);
    const auto link = [&p](std::size_t a, std::size_t b) {
        if (p.unknownOf[a] < 0 || p.unknownOf[b] < 0)
            return;
        SpringLink l;
        l.entityA = p.unknownOf[a];
        l.entityB = p.unknownOf[b];
        p.pattern.push_back(l);
    };
    for (const auto& [a, b] : p.joints)
        link(a, b);
    for (const RefinePointPair& pair : p.pairs)
        link(pair.bodyA, pair.bodyB);

    Box3d all;
    for (const RefineBody& b : bodies)
        all.add(worldBox(b));
    p.unit = all.diag() > 0.0 ? all.diag() : 1.0;

    // Sampled once, where the bodies stand: a refinement moves them by little, so the region near the
    // other body is grown by a margin.
    const std::size_t budget = std::max<std::size_t>(1, options.samplesPerPair / 2);
    for (std::size_t j = 0; j < p.joints.size(); ++j) {
        const auto [a, b] = p.joints[j];
        const double margin =
            std::max(4.0 * options.contactDistance,
                     0.02 * std::min(worldBox(bodies[a]).diag(), worldBox(bodies[b]).diag()));
        p.sides.push_back({a, b, j, sampleContactSide(bodies[a], bodies[b], margin, budget)});
        p.sides.push_back({b, a, j, sampleContactSide(bodies[b], bodies[a], margin, budget)});
    }
    return p;
}

std::vector<Point3d> centresOf(const std::vector<RefineBody>& bodies) {
    std::vector<Point3d> centres;
    for (const RefineBody& b : bodies) {
        const Box3d box = worldBox(b);
        centres.push_back(box.isNull() ? Point3d::Zero() : box.center());
    }
    return centres;
}

// One Gauss-Newton step from the current matches and the user's pairs; the increments per body, or
// none when the system cannot be solved.
std::optional<std::vector<Matrix44d>> stepOf(const Problem& p, const std::vector<std::vector<Match>>& matches,
                                             const std::vector<Matrix44d>& motions,
                                             const std::vector<Point3d>& centres,
                                             const RefineOptions& options) {
    RefineSystem system(p.unknownOf, p.pattern, p.unit);
    std::vector<std::size_t> perJoint(p.joints.size(), 0);
    for (std::size_t s = 0; s < p.sides.size(); ++s)
        perJoint[p.sides[s].joint] += matches[s].size();
    for (std::size_t s = 0; s < p.sides.size(); ++s) {
        const ContactSide& side = p.sides[s];
        const double w = options.contactWeight / double(std::max<std::size_t>(1, perJoint[side.joint]));
        for (const Match& m : matches[s]) {
            const Point3d& n = m.normalTo;
            const Eigen::Matrix<double, 1, 1> e(n.dot(m.onFrom - m.onTo));
            system.add<1>(side.from, side.to, system.planeRow(m.onFrom - centres[side.from], n),
                          system.planeRow(m.onTo - centres[side.to], n), e, w);
        }
    }
    for (const RefinePointPair& pair : p.pairs) {
        const Point3d a = transformPoint(motions[pair.bodyA], pair.onA);
        const Point3d b = transformPoint(motions[pair.bodyB], pair.onB);
        system.add<3>(pair.bodyA, pair.bodyB, system.pointRows(a - centres[pair.bodyA]),
                      system.pointRows(b - centres[pair.bodyB]), a - b, pair.stiffness);
    }
    const std::optional<Eigen::VectorXd> theta = system.solve();
    if (!theta || !theta->allFinite())
        return std::nullopt;
    std::vector<Matrix44d> increments(p.bodies.size(), Matrix44d::Identity());
    for (std::size_t b = 0; b < p.bodies.size(); ++b)
        if (p.unknownOf[b] >= 0)
            increments[b] = incrementOf(theta->segment<6>(6 * p.unknownOf[b]), p.unit, centres[b]);
    return increments;
}

// Re-orthonormalised, so that rounding does not pile up over the rounds.
Matrix44d orthonormalised(Matrix44d m) {
    const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(r, Eigen::ComputeFullU | Eigen::ComputeFullV);
    m.topLeftCorner<3, 3>() = svd.matrixU() * svd.matrixV().transpose();
    return m;
}

// The rounds of the fit, from where the bodies are.
RefineResult fit(const Problem& p, const RefineOptions& options, unsigned threads) {
    const std::vector<RefineBody>& bodies = p.bodies;
    RefineResult result;
    result.motions.assign(bodies.size(), Matrix44d::Identity());
    const double reach = std::max(0.0, options.contactDistance);
    std::vector<Matrix44d> motions(bodies.size(), Matrix44d::Identity());
    std::vector<Point3d> centres = centresOf(bodies);
    std::vector<Box3d> boxes;
    for (const RefineBody& b : bodies)
        boxes.push_back(worldBox(b));
    const double settled = std::max(kSettledFraction * reach, 1e-12 * p.unit);

    const auto matchNow = [&] {
        std::vector<std::vector<Match>> m = matchSides(bodies, p.sides, motions, reach, threads);
        trimPerJoint(p.sides, m, p.joints.size());
        return m;
    };
    std::vector<std::vector<Match>> matches = matchNow();
    const MatchFigures before = figuresOf(matches);
    result.meanBefore = before.mean;
    result.largestBefore = before.largest;

    for (int round = 0; round < options.maxRounds; ++round) {
        if (cancelled(options)) {
            result.cancelled = true;
            result.motions.assign(bodies.size(), Matrix44d::Identity());
            return result;
        }
        const auto start = std::chrono::steady_clock::now();
        const std::optional<std::vector<Matrix44d>> step = stepOf(p, matches, motions, centres, options);
        if (!step)
            break;
        double largestTravel = 0.0;
        for (std::size_t b = 0; b < bodies.size(); ++b) {
            const Matrix44d& inc = (*step)[b];
            Box3d now;
            for (int k = 0; k < 8; ++k)
                now.add(transformPoint(motions[b], Point3d((k & 1) ? boxes[b].max.x() : boxes[b].min.x(),
                                                           (k & 2) ? boxes[b].max.y() : boxes[b].min.y(),
                                                           (k & 4) ? boxes[b].max.z() : boxes[b].min.z())));
            largestTravel = std::max(largestTravel, travelOf(inc, now));
            motions[b] = orthonormalised(inc * motions[b]);
            centres[b] = transformPoint(inc, centres[b]);
        }
        matches = matchNow();
        result.rounds = round + 1;
        result.roundSeconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (options.progress)
            options.progress(round + 1, double(round + 1) / double(options.maxRounds));
        if (largestTravel <= settled)
            break;
    }

    const MatchFigures after = figuresOf(matches);
    result.meanAfter = after.mean;
    result.largestAfter = after.largest;
    result.motions = motions;
    std::vector<std::size_t> perJoint(p.joints.size(), 0);
    for (std::size_t s = 0; s < p.sides.size(); ++s) {
        perJoint[p.sides[s].joint] += matches[s].size();
        for (const Match& m : matches[s])
            result.matches.push_back({p.sides[s].from, p.sides[s].to, m.onFrom, m.onTo});
    }
    for (std::size_t j = 0; j < p.joints.size(); ++j)
        if (perJoint[j] == 0)
            result.withoutContact.push_back(p.joints[j]);
    return result;
}

// The root mean square gap of each body's user pairs under motions (0 for a body without any).
std::vector<double> pairGaps(const std::vector<RefinePointPair>& pairs,
                             const std::vector<Matrix44d>& motions) {
    std::vector<double> sum(motions.size(), 0.0), count(motions.size(), 0.0);
    for (const RefinePointPair& pair : pairs) {
        const double gap2 =
            (transformPoint(motions[pair.bodyA], pair.onA) - transformPoint(motions[pair.bodyB], pair.onB))
                .squaredNorm();
        for (std::size_t b : {pair.bodyA, pair.bodyB}) {
            sum[b] += gap2;
            count[b] += 1.0;
        }
    }
    for (std::size_t b = 0; b < sum.size(); ++b)
        sum[b] = count[b] > 0.0 ? std::sqrt(sum[b] / count[b]) : 0.0;
    return sum;
}

// Bodies whose user pairs the fit pulled far apart: their surfaces were matched to the wrong places.
std::vector<std::size_t> strayedBodies(const Problem& p, const std::vector<Matrix44d>& motions,
                                       double contactDistance) {
    const std::vector<double> before =
        pairGaps(p.pairs, std::vector<Matrix44d>(motions.size(), Matrix44d::Identity()));
    const std::vector<double> after = pairGaps(p.pairs, motions);
    std::vector<std::size_t> strayed;
    for (std::size_t b = 0; b < motions.size(); ++b)
        if (after[b] > kStrayFactor * std::max(before[b], contactDistance))
            strayed.push_back(b);
    return strayed;
}
} // namespace

RefineResult refineBodies(const std::vector<RefineBody>& bodies,
                          const std::vector<std::pair<std::size_t, std::size_t>>& joined,
                          const std::vector<RefinePointPair>& pairs, const RefineOptions& options) {
    RefineResult result;
    result.motions.assign(bodies.size(), Matrix44d::Identity());
    for (const RefineBody& b : bodies)
        if (b.trees.size() != b.worldFromLocal.size() ||
            std::any_of(b.trees.begin(), b.trees.end(), [](const auto& t) { return !t; }))
            return result;
    if (cancelled(options)) {
        result.cancelled = true;
        return result;
    }
    const unsigned threads =
        options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    result = fit(prepare(bodies, joined, pairs, options), options, threads);
    if (result.cancelled)
        return result;
    // A body that strayed is fitted again without its contacts, so the user's pairs place it.
    const Problem first = prepare(bodies, {}, pairs, options);
    const std::vector<std::size_t> strayed = strayedBodies(first, result.motions, options.contactDistance);
    if (strayed.empty())
        return result;
    std::vector<std::pair<std::size_t, std::size_t>> kept;
    for (const auto& j : joined)
        if (std::find(strayed.begin(), strayed.end(), j.first) == strayed.end() &&
            std::find(strayed.begin(), strayed.end(), j.second) == strayed.end())
            kept.push_back(j);
    const int roundsBefore = result.rounds;
    std::vector<double> secondsBefore = result.roundSeconds;
    result = fit(prepare(bodies, kept, pairs, options), options, threads);
    result.strayed = strayed;
    result.rounds += roundsBefore;
    secondsBefore.insert(secondsBefore.end(), result.roundSeconds.begin(), result.roundSeconds.end());
    result.roundSeconds = secondsBefore;
    return result;
}
