#include "coarse_alignment.h"

#include "point_pair_set.h"

#include <Eigen/LU>
#include <Eigen/SVD>

Matrix44d bestRigidFit(const std::vector<Point3d>& from, const std::vector<Point3d>& to,
                       const std::vector<double>& weights) {
    Matrix44d m = Matrix44d::Identity();
    double total = 0;
    Point3d cf = Point3d::Zero(), ct = Point3d::Zero();
    for (std::size_t i = 0; i < from.size(); ++i) {
        total += weights[i];
        cf += weights[i] * from[i];
        ct += weights[i] * to[i];
    }
    if (total <= 0)
        return m;
    cf /= total;
    ct /= total;
    Eigen::Matrix3d h = Eigen::Matrix3d::Zero();
    for (std::size_t i = 0; i < from.size(); ++i)
        h += weights[i] * (from[i] - cf) * (to[i] - ct).transpose();
    Eigen::Matrix3d r = Eigen::Matrix3d::Identity();
    if (from.size() >= 2 && h.norm() > 0) {
        const Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
        Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
        d(2, 2) = (svd.matrixV() * svd.matrixU().transpose()).determinant() < 0 ? -1.0 : 1.0;
        r = svd.matrixV() * d * svd.matrixU().transpose();
    }
    m.topLeftCorner<3, 3>() = r;
    m.topRightCorner<3, 1>() = ct - r * cf;
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

std::vector<Matrix44d> coarseAlignment(const PointPairSet& pairs, int entityCount) {
    const std::size_t n = std::size_t(std::max(entityCount, 0));
    std::vector<Matrix44d> placement(n, Matrix44d::Identity());
    if (n == 0)
        return placement;
    const auto& records = pairs.records();
    auto valid = [n](int e) { return e >= 0 && std::size_t(e) < n; };
    std::vector<bool> placed(n, false);
    placed[0] = true;
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
