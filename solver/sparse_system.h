#pragma once
// The sparse symmetric system A x = b under the reassembly solver: accumulation primitives, the text
// dump of A and the LDL^T solve.

#include <Eigen/Core>
#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <vector>

// The sparsity pattern a factorisation was analysed for: its ordering and elimination tree serve
// every matrix of the same pattern.
class SparsePattern {
public:
    bool matches(const Eigen::SparseMatrix<double>& m) const;
    void remember(const Eigen::SparseMatrix<double>& m);

private:
    std::vector<Eigen::SparseMatrix<double>::StorageIndex> outer, inner;
};

// A symmetric positive definite system given by its lower triangle, solved by LL^T with approximate
// minimum degree ordering (kept while the pattern stays the same) and one round of iterative
// refinement. False when the matrix is not positive definite or the result is not finite.
class SpdSolver {
public:
    bool solve(const Eigen::SparseMatrix<double>& lower, const Eigen::VectorXd& rhs, Eigen::VectorXd& out);
    double lastFactorSeconds() const { return seconds; }
    std::size_t factorBytes() const { return bytes; } // factor and matrix, after the last solve

private:
    Eigen::SimplicialLLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>> llt;
    SparsePattern analysedPattern;
    double seconds = 0.0;
    std::size_t bytes = 0;
};

class SparseSystem {
public:
    using Matrix = Eigen::SparseMatrix<double>; // column storage, rows sorted in each column

    // Above this size the dense text dump is not written (N^2 coefficients, about 4 bytes each).
    static constexpr int kMaxDenseDumpSize = 2000;

    enum class DumpResult { Written, SkippedTooLarge, NotOpened };

    // A := N x N without entries, b := N zeros, x emptied.
    void reset(int n);
    int size() const { return n; }

    // Accumulation; every call adds to what is there and creates the entry when missing.
    void addCoefficient(int r, int c, double v); // A(r,c) += v
    void addSymmetric(int r, int c, double v);   // A(r,c) += v, A(c,r) += v; r != c
    void addSpring(int i, int j, double w);      // A(i,i) += w, A(j,j) += w, A(i,j) -= w, A(j,i) -= w
    void addDiagonal(int k, double w);           // A(k,k) += w
    void addRightHandSide(int k, double v);      // b(k) += v

    // A(r,c), 0 when there is no entry; never creates one.
    double coefficient(int r, int c) const;
    // Whether A stores an entry at (r,c) (possibly of value 0).
    bool hasEntry(int r, int c) const;
    // The assembled matrix (entries added so far, duplicates summed in the order they were added).
    const Matrix& matrix() const;
    const Eigen::VectorXd& rightHandSide() const { return b; }
    // Solution of the last successful solveLinearSystem(); meaningless after a failed one.
    const Eigen::VectorXd& solution() const { return x; }

    // Writes A as N lines of N "%1.1f " values (absent coefficients as 0.0) to path, truncating it.
    // For N > maxDenseSize nothing is written (the file is truncated so that no stale matrix remains)
    // and one line on standard output says why. Never changes A.
    DumpResult dumpMatrix(const char* path = "matrix.txt", int maxDenseSize = kMaxDenseDumpSize) const;
    // What dumpMatrix does for a matrix of size n above maxDenseSize, without one.
    static DumpResult dumpSkipped(const char* path, int n, int maxDenseSize);

    // Solves A x = b by LDL^T with approximate minimum degree ordering, reading the lower triangle of
    // the (symmetric) A. False when a pivot is exactly 0 or when the factors or x are not finite;
    // x then carries no result. One round of iterative refinement follows the solve. The ordering and
    // elimination tree are kept and reused while the pattern of A stays the same (the same numbers result;
    // the solver's steps repeat their pattern).
    bool solveLinearSystem();

private:
    void flush() const;

    int n = 0;
    std::vector<Eigen::Triplet<double>> additions; // every addition to A since reset, in order
    mutable std::size_t summed = 0;                // how many of them a holds
    mutable Matrix a;
    Eigen::VectorXd b;
    Eigen::VectorXd x;
    Eigen::SimplicialLDLT<Matrix, Eigen::Lower, Eigen::AMDOrdering<int>> ldlt;
    SparsePattern analysedPattern;
};
