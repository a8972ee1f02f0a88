#pragma once
// A step of the reassembly system solved in the entity unknowns alone.
//
// The step minimises, over the entity unknowns theta_f = (a, b, c, t) and the slack points y_i,
//   1/2 sum s |x_A - x_B|^2 + 1/2 sum |y_i - p_i|^2 + 1/2 sum w_i |x_i - y_i|^2 + 1/2 eps |theta|^2
// with x_i = y_i + G(p_i) theta_f and G(p) theta = t + S(a, b, c) p. The two slack points of a pair
// appear only in that pair's terms; eliminating them leaves, per pair,
//   1/2 s / (1 + 2 s) |p_A - p_B + G(p_A) theta_A - G(p_B) theta_B|^2,
// and per point 1/2 w_i |G(p_i) theta_f|^2. What remains is a symmetric positive definite system of
// 6n unknowns with one 6 x 6 block per entity and per pair of entities that share a point pair. Its
// solution is the entity part of the saddle-point system's solution; it is 18 unknowns per point
// pair smaller and has the sparsity of the entities' graph.

#include "sparse_system.h"
#include "spring_link.h"

#include <Eigen/Core>
#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <vector>

class EntitySystem {
public:
    using Matrix = Eigen::SparseMatrix<double>;

    // What the system is built from: n entities, the links with their positions in the solve frame
    // given by origin and unit (frame position = (p - origin) / unit), the pin weight of a point of a
    // held entity and of any other, and the regularisation of every entity unknown.
    struct Input {
        int entities = 0;
        const std::vector<SpringLink>* links = nullptr;
        const std::vector<char>* held = nullptr; // per entity: its points are pinned
        Point3d origin = Point3d::Zero();
        double unit = 1.0;
        double heldPin = 0.0, freePin = 0.0, regularisation = 0.0;
    };

    // Builds H (lower triangle) and g of the step.
    void assemble(const Input& in);

    // Solves H theta = g (SpdSolver). False when H is not positive definite or the result is not
    // finite; theta then carries no result.
    bool solve();

    const Eigen::VectorXd& increments() const { return theta; } // 6 per entity: a, b, c, t
    const Matrix& lowerMatrix() const { return h; }
    const Eigen::VectorXd& rightHandSide() const { return g; }
    double lastFactorSeconds() const { return spd.lastFactorSeconds(); }
    // Bytes held by the factor and the matrix after the last solve.
    std::size_t factorBytes() const { return spd.factorBytes(); }

private:
    Matrix h;
    Eigen::VectorXd g, theta;
    SpdSolver spd;
};
