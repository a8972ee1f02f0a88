#include "entity_system.h"

#include "block_sums.h"

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

double pairWeight(double stiffness) {
    return stiffness > 0.0 ? stiffness / (1.0 + 2.0 * stiffness) : 0.0;
}

using BlockSum = BlockSums<6>;
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
        const double s = pairWeight(l.stiffness); // after the slack points' elimination
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
        blocks.addCross(l.entityA, l.entityB, -s * jA.transpose() * jB);
        g.segment<6>(6 * l.entityA).noalias() -= s * jA.transpose() * r;
        g.segment<6>(6 * l.entityB).noalias() += s * jB.transpose() * r;
    }
    for (int e = 0; e < n; ++e)
        blocks.diag(e).diagonal().array() += in.regularisation;
    h = blocks.lower();
}

bool EntitySystem::solve() {
    return spd.solve(h, g, theta);
}
