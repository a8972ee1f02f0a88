#include "coarse_alignment.h"

#include "point_pair_set.h"

#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <Eigen/LU>
#include <Eigen/SVD>

#include <algorithm>
#include <map>
#include <set>

namespace {
// Weighted centre and spread (second moments about the centre) of a point set.
struct Spread {
    Point3d centre = Point3d::Zero();
    Eigen::Vector3d extents = Eigen::Vector3d::Zero(); // eigenvalues, ascending
    Eigen::Vector3d mainAxis = Eigen::Vector3d::Zero();
};

Spread spreadOf(const std::vector<Point3d>& points, const std::vector<double>& weights, double total) {
    Spread s;
    for (std::size_t i = 0; i < points.size(); ++i)
        s.centre += weights[i] * points[i];
    s.centre /= total;
    Eigen::Matrix3d moments = Eigen::Matrix3d::Zero();
    for (std::size_t i = 0; i < points.size(); ++i)
        moments += weights[i] * (points[i] - s.centre) * (points[i] - s.centre).transpose();
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(moments / total);
    s.extents = eigen.eigenvalues();
    s.mainAxis = eigen.eigenvectors().col(2);
    return s;
}

// Points fix a turn only when they span more than a line: the second principal extent is a fair
// part of the first.
bool spansMoreThanALine(const Spread& s) {
    constexpr double MinimumRatio = 1e-3; // of the extents (square roots of the eigenvalues)
    return s.extents(2) > 0 && s.extents(1) > MinimumRatio * MinimumRatio * s.extents(2);
}

// The least turn that lays the main axis of one set onto that of the other, the same way round.
Eigen::Matrix3d leastTurnBetweenLines(const std::vector<Point3d>& from, const std::vector<Point3d>& to,
                                      const std::vector<double>& weights, const Spread& f, const Spread& t) {
    if (!(f.extents(2) > 0) || !(t.extents(2) > 0))
        return Eigen::Matrix3d::Identity(); // a single place: nothing to lay
    double agreement = 0;
    for (std::size_t i = 0; i < from.size(); ++i)
        agreement += weights[i] * (from[i] - f.centre).dot(f.mainAxis) * (to[i] - t.centre).dot(t.mainAxis);
    const Eigen::Vector3d target = agreement < 0 ? Eigen::Vector3d(-t.mainAxis) : t.mainAxis;
    return Eigen::Quaterniond::FromTwoVectors(f.mainAxis, target).toRotationMatrix();
}
} // namespace

Matrix44d bestRigidFit(const std::vector<Point3d>& from, const std::vector<Point3d>& to,
                       const std::vector<double>& weights) {
    Matrix44d m = Matrix44d::Identity();
    double total = 0;
    for (std::size_t i = 0; i < from.size(); ++i)
        total += weights[i];
    if (!(total > 0))
        return m;
    const Spread f = spreadOf(from, weights, total), t = spreadOf(to, weights, total);
    Eigen::Matrix3d r = Eigen::Matrix3d::Identity();
    if (spansMoreThanALine(f) && spansMoreThanALine(t)) {
        Eigen::Matrix3d h = Eigen::Matrix3d::Zero();
        for (std::size_t i = 0; i < from.size(); ++i)
            h += weights[i] * (from[i] - f.centre) * (to[i] - t.centre).transpose();
        const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
        Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
        d(2, 2) = (svd.matrixV() * svd.matrixU().transpose()).determinant() < 0 ? -1.0 : 1.0;
        r = svd.matrixV() * d * svd.matrixU().transpose();
    } else {
        // Any turn about the line through the points fits as well; an arbitrary one would often
        // be half a turn.
        r = leastTurnBetweenLines(from, to, weights, f, t);
    }
    m.topLeftCorner<3, 3>() = r;
    m.topRightCorner<3, 1>() = t.centre - r * f.centre;
    return m;
}

double placedEnergy(const PointPairSet& pairs, const std::vector<Matrix44d>& placements) {
    const auto& records = pairs.records();
    double e = 0;
    for (const PointPair& p : pairs.pairs()) {
        const PointRecord& a = records[std::size_t(p.record0)];
        const PointRecord& b = records[std::size_t(p.record1)];
        e += p.stiffness * (transformPoint(placements[std::size_t(a.entity)], a.initial) -
                            transformPoint(placements[std::size_t(b.entity)], b.initial))
                               .norm();
    }
    return e;
}

std::vector<Matrix44d> coarseAlignment(const PointPairSet& pairs, int entityCount,
                                       const std::vector<char>& held) {
    const std::size_t n = std::size_t(std::max(entityCount, 0));
    std::vector<Matrix44d> placement(n, Matrix44d::Identity());
    if (n == 0)
        return placement;
    const auto& records = pairs.records();
    auto valid = [n](int e) { return e >= 0 && std::size_t(e) < n; };
    std::vector<bool> placed(n, false);
    placed[0] = true;
    for (std::size_t e = 0; e < n && e < held.size(); ++e)
        placed[e] = placed[e] || held[e] != 0;
    for (;;) {
        // The unplaced entity with the most pairs (by stiffness) to placed ones.
        std::vector<double> pull(n, 0.0);
        for (const PointPair& p : pairs.pairs()) {
            const int a = records[std::size_t(p.record0)].entity, b = records[std::size_t(p.record1)].entity;
            if (!valid(a) || !valid(b) || a == b)
                continue;
            if (placed[std::size_t(a)] != placed[std::size_t(b)])
                pull[std::size_t(placed[std::size_t(a)] ? b : a)] += std::max(p.stiffness, 1e-12);
        }
        std::size_t next = n;
        for (std::size_t e = 0; e < n; ++e)
            if (!placed[e] && pull[e] > 0 && (next == n || pull[e] > pull[next]))
                next = e;
        if (next == n)
            break; // the rest is not connected to what is placed: it keeps its place
        std::vector<Point3d> from, to;
        std::vector<double> weights;
        for (const PointPair& p : pairs.pairs()) {
            const PointRecord& ra = records[std::size_t(p.record0)];
            const PointRecord& rb = records[std::size_t(p.record1)];
            if (!valid(ra.entity) || !valid(rb.entity))
                continue;
            const PointRecord* own = nullptr;
            const PointRecord* partner = nullptr;
            if (std::size_t(ra.entity) == next && placed[std::size_t(rb.entity)])
                own = &ra, partner = &rb;
            else if (std::size_t(rb.entity) == next && placed[std::size_t(ra.entity)])
                own = &rb, partner = &ra;
            if (!own)
                continue;
            from.push_back(own->initial);
            to.push_back(transformPoint(placement[std::size_t(partner->entity)], partner->initial));
            weights.push_back(std::max(p.stiffness, 1e-12));
        }
        placement[next] = bestRigidFit(from, to, weights);
        placed[next] = true;
    }
    return placement;
}

namespace {
// The edges whose removal splits the graph, by Tarjan's low-link walk (iterative: chains of
// thousands of pieces would overflow a recursive one). neighbours: sorted, without repeats.
std::set<std::pair<int, int>> bridgesOf(const std::vector<std::vector<int>>& neighbours) {
    const int n = int(neighbours.size());
    std::vector<int> order(std::size_t(n), -1), low(std::size_t(n), 0);
    std::set<std::pair<int, int>> bridges;
    int counter = 0;
    struct Frame {
        int vertex, parent;
        std::size_t next;
    };
    for (int root = 0; root < n; ++root) {
        if (order[std::size_t(root)] >= 0)
            continue;
        std::vector<Frame> stack{{root, -1, 0}};
        order[std::size_t(root)] = low[std::size_t(root)] = counter++;
        while (!stack.empty()) {
            Frame& f = stack.back();
            const auto& adjacent = neighbours[std::size_t(f.vertex)];
            if (f.next < adjacent.size()) {
                const int w = adjacent[f.next++];
                if (w == f.parent)
                    continue;
                if (order[std::size_t(w)] < 0) {
                    order[std::size_t(w)] = low[std::size_t(w)] = counter++;
                    stack.push_back({w, f.vertex, 0});
                } else
                    low[std::size_t(f.vertex)] = std::min(low[std::size_t(f.vertex)], order[std::size_t(w)]);
                continue;
            }
            const int v = f.vertex, parent = f.parent;
            stack.pop_back();
            if (parent < 0)
                continue;
            low[std::size_t(parent)] = std::min(low[std::size_t(parent)], low[std::size_t(v)]);
            if (low[std::size_t(v)] > order[std::size_t(parent)])
                bridges.insert({std::min(v, parent), std::max(v, parent)});
        }
    }
    return bridges;
}

int distinctPoints(const std::vector<Point3d>& points) {
    Box3d extent;
    for (const Point3d& p : points)
        extent.add(p);
    const double apart = 1e-9 * (extent.isNull() ? 0.0 : extent.diag());
    std::vector<Point3d> distinct;
    for (const Point3d& p : points)
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const Point3d& q) { return (p - q).norm() <= apart; }))
            distinct.push_back(p);
    return int(distinct.size());
}
} // namespace

std::vector<HingeJoint> openJoints(const PointPairSet& pairs, int entityCount) {
    const int n = std::max(entityCount, 0);
    const auto& records = pairs.records();
    std::map<std::pair<int, int>, std::vector<Point3d>> sideA; // points on the smaller entity's side
    for (const PointPair& p : pairs.pairs()) {
        const PointRecord& r0 = records[std::size_t(p.record0)];
        const PointRecord& r1 = records[std::size_t(p.record1)];
        if (r0.entity == r1.entity || !(p.stiffness > 0.0) || r0.entity < 0 || r1.entity < 0 ||
            r0.entity >= n || r1.entity >= n)
            continue;
        const PointRecord& own = r0.entity < r1.entity ? r0 : r1;
        sideA[{std::min(r0.entity, r1.entity), std::max(r0.entity, r1.entity)}].push_back(own.initial);
    }
    std::vector<std::vector<int>> neighbours(static_cast<std::size_t>(n));
    for (const auto& [joint, points] : sideA) {
        neighbours[std::size_t(joint.first)].push_back(joint.second);
        neighbours[std::size_t(joint.second)].push_back(joint.first);
    }
    const std::set<std::pair<int, int>> bridges = bridgesOf(neighbours);
    std::vector<HingeJoint> open;
    for (const auto& [joint, points] : sideA) {
        if (!bridges.count(joint))
            continue;
        const std::vector<double> weights(points.size(), 1.0);
        if (!spansMoreThanALine(spreadOf(points, weights, double(points.size()))))
            open.push_back({joint.first, joint.second, distinctPoints(points)});
    }
    return open;
}
