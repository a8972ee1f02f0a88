#include "entity_system.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace {
using Matrix66d = Eigen::Matrix<double, 6, 6>;
using Matrix36d = Eigen::Matrix<double, 3, 6>;
using Vector6d = Eigen::Matrix<double, 6, 1>;

// G(q): theta = (a, b, c, t) -> t + S(a, b, c) q, S = [[0, -c, -b], [c, 0, -a], [b, a, 0]].
Matrix36d pointJacobian(const Point3d& q) {
    Matrix36d j;
    j << 0.0, -q.z(), -q.y(), 1.0, 0.0, 0.0, //
        -q.z(), 0.0, q.x(), 0.0, 1.0, 0.0,   //
        q.y(), q.x(), 0.0, 0.0, 0.0, 1.0;
    return j;
}

// The 6 x 6 blocks of H: one per entity and one per pair of distinct entities joined by a link.
class BlockSum {
public:
    BlockSum(int entities, const std::vector<SpringLink>& links) : diagonal(std::size_t(entities)), n(entities) {
        for (Matrix66d& d : diagonal)
            d.setZero();
        for (const SpringLink& l : links)
            if (l.entityA != l.entityB)
                keys.push_back(key(l.entityA, l.entityB));
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        offDiagonal.assign(keys.size(), Matrix66d::Zero());
    }

    Matrix66d& diag(int e) { return diagonal[std::size_t(e)]; }
    // Block (row lo, column hi) with lo < hi; the lower triangle holds its transpose.
    Matrix66d& upper(int lo, int hi) {
        const auto it = std::lower_bound(keys.begin(), keys.end(), key(lo, hi));
        return offDiagonal[std::size_t(it - keys.begin())];
    }

    void addTo(std::vector<Eigen::Triplet<double>>& out) const {
        for (int e = 0; e < n; ++e)
            for (int c = 0; c < 6; ++c)
                for (int r = c; r < 6; ++r)
                    out.emplace_back(6 * e + r, 6 * e + c, diagonal[std::size_t(e)](r, c));
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const int lo = int(keys[k] / std::uint64_t(n)), hi = int(keys[k] % std::uint64_t(n));
            for (int c = 0; c < 6; ++c)
                for (int r = 0; r < 6; ++r)
                    out.emplace_back(6 * hi + r, 6 * lo + c, offDiagonal[k](c, r));
        }
    }

private:
    std::uint64_t key(int a, int b) const {
        return std::uint64_t(std::min(a, b)) * std::uint64_t(n) + std::uint64_t(std::max(a, b));
    }

    std::vector<Matrix66d> diagonal;
    std::vector<std::uint64_t> keys; // lo * n + hi, sorted
    std::vector<Matrix66d> offDiagonal;
    int n = 0;
};
} // namespace

void EntitySystem::assemble(const Input& in) {
    const int n = in.entities;
    const std::vector<SpringLink>& links = *in.links;
    BlockSum blocks(n, links);
    g = Eigen::VectorXd::Zero(6 * n);
    const auto frame = [&in](const Point3d& p) -> Point3d { return (p - in.origin) / in.unit; };
    const auto pin = [&in](int e) { return (*in.held)[std::size_t(e)] ? in.heldPin : in.freePin; };
    for (const SpringLink& l : links) {
        const Point3d qA = frame(l.pA), qB = frame(l.pB);
        const Matrix36d jA = pointJacobian(qA), jB = pointJacobian(qB);
        const double s = l.stiffness / (1.0 + 2.0 * l.stiffness); // after the slack points' elimination
        const Point3d r = qA - qB;
        blocks.diag(l.entityA).noalias() += pin(l.entityA) * jA.transpose() * jA;
        blocks.diag(l.entityB).noalias() += pin(l.entityB) * jB.transpose() * jB;
        if (l.entityA == l.entityB) {
            const Matrix36d j = jA - jB;
            blocks.diag(l.entityA).noalias() += s * j.transpose() * j;
            g.segment<6>(6 * l.entityA).noalias() -= s * j.transpose() * r;
            continue;
        }
        blocks.diag(l.entityA).noalias() += s * jA.transpose() * jA;
        blocks.diag(l.entityB).noalias() += s * jB.transpose() * jB;
        const bool aFirst = l.entityA < l.entityB;
        const Matrix66d cross = -s * (aFirst ? jA.transpose() * jB : jB.transpose() * jA);
        blocks.upper(std::min(l.entityA, l.entityB), std::max(l.entityA, l.entityB)) += cross;
        g.segment<6>(6 * l.entityA).noalias() -= s * jA.transpose() * r;
        g.segment<6>(6 * l.entityB).noalias() += s * jB.transpose() * r;
    }
    for (int e = 0; e < n; ++e)
        blocks.diag(e).diagonal().array() += in.regularisation;
    std::vector<Eigen::Triplet<double>> entries;
    blocks.addTo(entries);
    h.resize(6 * n, 6 * n);
    h.setFromTriplets(entries.begin(), entries.end());
}

bool EntitySystem::solve() {
    theta.resize(0);
    const auto t0 = std::chrono::steady_clock::now();
    if (h.rows() == 0)
        return true;
    if (!analysedPattern.matches(h)) {
        llt.analyzePattern(h);
        analysedPattern.remember(h);
    }
    llt.factorize(h);
    factorSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (llt.info() != Eigen::Success)
        return false;
    bytes = std::size_t(llt.matrixL().nestedExpression().nonZeros() + h.nonZeros()) *
            (sizeof(double) + sizeof(Matrix::StorageIndex));
    Eigen::VectorXd sol = llt.solve(g);
    if (!sol.allFinite())
        return false;
    const Eigen::VectorXd residual = g - h.selfadjointView<Eigen::Lower>() * sol;
    const Eigen::VectorXd refined = sol + llt.solve(residual);
    if (refined.allFinite() && (g - h.selfadjointView<Eigen::Lower>() * refined).squaredNorm() <
                                   residual.squaredNorm())
        sol = refined;
    theta = std::move(sol);
    return true;
}
