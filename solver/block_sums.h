#pragma once
// Sums of dense B x B blocks over the entities of a solve: one block per entity and one per pair of
// distinct entities that a link joins; turned into the lower triangle of a sparse symmetric matrix.

#include "spring_link.h"

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cstdint>
#include <vector>

template <int B> class BlockSums {
public:
    using Block = Eigen::Matrix<double, B, B>;

    BlockSums(int entities, const std::vector<SpringLink>& links)
        : diagonal(std::size_t(entities), Block::Zero()), n(entities) {
        for (const SpringLink& l : links)
            if (l.entityA != l.entityB)
                keys.push_back(key(l.entityA, l.entityB));
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        offDiagonal.assign(keys.size(), Block::Zero());
    }

    Block& diag(int e) { return diagonal[std::size_t(e)]; }
    // Block (row lo, column hi) with lo < hi; the lower triangle holds its transpose.
    Block& upper(int lo, int hi) {
        const auto it = std::lower_bound(keys.begin(), keys.end(), key(lo, hi));
        return offDiagonal[std::size_t(it - keys.begin())];
    }
    // The block of rows a and columns b of a link between distinct entities, added as the matrix
    // holds it.
    void addCross(int a, int b, const Block& m) {
        if (a < b)
            upper(a, b) += m;
        else
            upper(b, a) += m.transpose();
    }

    // The lower triangle.
    Eigen::SparseMatrix<double> lower() const {
        std::vector<Eigen::Triplet<double>> out;
        out.reserve(diagonal.size() * B * (B + 1) / 2 + keys.size() * B * B);
        for (int e = 0; e < n; ++e)
            for (int c = 0; c < B; ++c)
                for (int r = c; r < B; ++r)
                    out.emplace_back(B * e + r, B * e + c, diagonal[std::size_t(e)](r, c));
        for (std::size_t k = 0; k < keys.size(); ++k) {
            const int lo = int(keys[k] / std::uint64_t(n)), hi = int(keys[k] % std::uint64_t(n));
            for (int c = 0; c < B; ++c)
                for (int r = 0; r < B; ++r)
                    out.emplace_back(B * hi + r, B * lo + c, offDiagonal[k](c, r));
        }
        Eigen::SparseMatrix<double> m(B * n, B * n);
        m.setFromTriplets(out.begin(), out.end());
        return m;
    }

private:
    std::uint64_t key(int a, int b) const {
        return std::uint64_t(std::min(a, b)) * std::uint64_t(n) + std::uint64_t(std::max(a, b));
    }

    std::vector<Block> diagonal;
    std::vector<std::uint64_t> keys; // lo * n + hi, sorted
    std::vector<Block> offDiagonal;
    int n = 0;
};
