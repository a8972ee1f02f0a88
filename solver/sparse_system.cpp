#include "sparse_system.h"

#include <chrono>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

void SparseSystem::reset(int size) {
    n = size < 0 ? 0 : size;
    additions.clear();
    summed = 0;
    a = Matrix(n, n);
    b = Eigen::VectorXd::Zero(n);
    x.resize(0);
}

void SparseSystem::addCoefficient(int r, int c, double v) {
    additions.emplace_back(r, c, v);
}

void SparseSystem::addSymmetric(int r, int c, double v) {
    additions.emplace_back(r, c, v);
    additions.emplace_back(c, r, v);
}

void SparseSystem::addSpring(int i, int j, double w) {
    additions.emplace_back(i, i, w);
    additions.emplace_back(j, j, w);
    additions.emplace_back(i, j, -w);
    additions.emplace_back(j, i, -w);
}

void SparseSystem::addDiagonal(int k, double w) {
    additions.emplace_back(k, k, w);
}

void SparseSystem::addRightHandSide(int k, double v) {
    b(k) += v;
}

// Every entry is the sum of its additions in the order they were made (setFromTriplets keeps that
// order); adding 0.0 turns a lone -0.0 into +0.0, which is what accumulating into an entry created
// as 0.0 gives. The list is kept whole, so reading between additions never changes the result.
void SparseSystem::flush() const {
    if (summed == additions.size())
        return;
    a.setFromTriplets(additions.begin(), additions.end());
    a.makeCompressed();
    double* v = a.valuePtr();
    for (Eigen::Index k = 0; k < a.nonZeros(); ++k)
        v[k] += 0.0;
    summed = additions.size();
}

const SparseSystem::Matrix& SparseSystem::matrix() const {
    flush();
    return a;
}

double SparseSystem::coefficient(int r, int c) const {
    flush();
    return a.coeff(r, c); // binary search in column c; inserts nothing
}

bool SparseSystem::hasEntry(int r, int c) const {
    flush();
    for (Matrix::InnerIterator it(a, c); it; ++it)
        if (it.row() == r)
            return true;
    return false;
}

SparseSystem::DumpResult SparseSystem::dumpSkipped(const char* path, int n, int maxDenseSize) {
    std::FILE* f = std::fopen(path, "w");
    if (!f)
        return DumpResult::NotOpened;
    std::fclose(f);
    std::printf("MATRIX DUMP SKIPPED: N = %d is above %d (the dense text would take about %.0f MB)\n", n,
                maxDenseSize, 4.0 * double(n) * double(n) / 1e6);
    return DumpResult::SkippedTooLarge;
}

SparseSystem::DumpResult SparseSystem::dumpMatrix(const char* path, int maxDenseSize) const {
    if (n > maxDenseSize)
        return dumpSkipped(path, n, maxDenseSize);
    std::FILE* f = std::fopen(path, "w");
    if (!f)
        return DumpResult::NotOpened;
    std::vector<char> fileBuffer(1 << 20);
    std::setvbuf(f, fileBuffer.data(), _IOFBF, fileBuffer.size());

    // Rows of A are walked through a row-major copy; absent coefficients are written as "0.0 ".
    flush();
    const Eigen::SparseMatrix<double, Eigen::RowMajor> rows = a;
    std::vector<char> zeros;
    for (int c = 0; c < n; ++c)
        zeros.insert(zeros.end(), {'0', '.', '0', ' '});
    auto writeZeros = [&zeros](std::vector<char>& line, int count) {
        line.insert(line.end(), zeros.begin(), zeros.begin() + 4 * count);
    };
    std::vector<char> line;
    char number[400];
    for (int r = 0; r < n; ++r) {
        line.clear();
        int next = 0; // first column not yet written
        for (Eigen::SparseMatrix<double, Eigen::RowMajor>::InnerIterator it(rows, r); it; ++it) {
            const int c = static_cast<int>(it.col());
            writeZeros(line, c - next);
            const int len = std::snprintf(number, sizeof number, "%1.1f ", it.value());
            line.insert(line.end(), number, number + len);
            next = c + 1;
        }
        writeZeros(line, n - next);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
    return DumpResult::Written;
}

bool SparseSystem::solveLinearSystem() {
    flush();
    x.resize(0);
    if (n == 0)
        return true; // the empty system has the empty solution
    if (!analysedPattern.matches(a)) {
        ldlt.analyzePattern(a);
        analysedPattern.remember(a);
    }
    ldlt.factorize(a);
    if (ldlt.info() != Eigen::Success || !ldlt.vectorD().allFinite())
        return false;
    Eigen::VectorXd sol = ldlt.solve(b);
    if (ldlt.info() != Eigen::Success || !sol.allFinite())
        return false;
    // One round of iterative refinement with the same factors. Without pivoting the saddle-point
    // systems of the solver come out with relative residuals near 1e-8; the refined solution is kept
    // when it has the smaller residual, which halves the steps the solver spends near its minimum.
    const Eigen::VectorXd residual = b - a * sol;
    const Eigen::VectorXd refined = sol + ldlt.solve(residual);
    if (refined.allFinite() && (b - a * refined).squaredNorm() < residual.squaredNorm())
        sol = refined;
    x = std::move(sol);
    return true;
}

bool SparsePattern::matches(const Eigen::SparseMatrix<double>& m) const {
    const auto* o = m.outerIndexPtr();
    const auto* i = m.innerIndexPtr();
    const std::size_t columns = std::size_t(m.outerSize());
    return m.isCompressed() && outer.size() == columns + 1 && std::equal(o, o + columns + 1, outer.begin()) &&
           inner.size() == std::size_t(m.nonZeros()) && std::equal(i, i + m.nonZeros(), inner.begin());
}

void SparsePattern::remember(const Eigen::SparseMatrix<double>& m) {
    outer.assign(m.outerIndexPtr(), m.outerIndexPtr() + m.outerSize() + 1);
    inner.assign(m.innerIndexPtr(), m.innerIndexPtr() + m.nonZeros());
}

bool SpdSolver::solve(const Eigen::SparseMatrix<double>& lower, const Eigen::VectorXd& rhs,
                      Eigen::VectorXd& out) {
    out.resize(0);
    const auto t0 = std::chrono::steady_clock::now();
    if (lower.rows() == 0)
        return true;
    if (!analysedPattern.matches(lower)) {
        llt.analyzePattern(lower);
        analysedPattern.remember(lower);
    }
    llt.factorize(lower);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (llt.info() != Eigen::Success)
        return false;
    bytes = std::size_t(llt.matrixL().nestedExpression().nonZeros() + lower.nonZeros()) *
            (sizeof(double) + sizeof(int));
    Eigen::VectorXd sol = llt.solve(rhs);
    if (!sol.allFinite())
        return false;
    const auto full = lower.selfadjointView<Eigen::Lower>();
    const Eigen::VectorXd residual = rhs - full * sol;
    const Eigen::VectorXd refined = sol + llt.solve(residual);
    if (refined.allFinite() && (rhs - full * refined).squaredNorm() < residual.squaredNorm())
        sol = refined;
    out = std::move(sol);
    return true;
}
