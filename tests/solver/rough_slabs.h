#pragma once
// A block broken into a stack of slabs by rough cuts: each slab is a closed mesh, and two
// neighbouring slabs share their cut surface vertex for vertex, as two sides of one break. Shared by
// the refinement suite and its benchmark.

#include "frag_mesh.h"

#include <cmath>
#include <cstdint>
#include <vector>

struct RoughSlabs {
    int pieces = 2;
    int grid = 40;           // cells along x and along y; a slab has 4 grid^2 + 8 grid triangles
    double size = 1.0;       // the block's side along x and y
    double thickness = 0.5;  // of each slab, on average
    double roughness = 0.06; // height of the cuts' relief

    // Height of cut k (0: the flat bottom, pieces: the flat top) above (x, y).
    double cutHeight(int k, double x, double y, int i, int j) const {
        const double flat = k * thickness;
        if (k == 0 || k == pieces)
            return flat;
        constexpr double tau = 6.283185307179586;
        const double u = x / size, v = y / size;
        const double waves = 0.6 * std::sin(tau * (1.3 * u + 0.2 * k)) * std::cos(tau * 0.9 * v) +
                             0.4 * std::sin(tau * (3.1 * u + 2.3 * v) + k);
        // A fixed grain per vertex, so the cut is rough at every scale and not only wavy.
        std::uint32_t h =
            std::uint32_t(i) * 73856093u ^ std::uint32_t(j) * 19349663u ^ std::uint32_t(k) * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        const double grain = double(h & 0xFFFFu) / 65535.0 - 0.5;
        return flat + roughness * (waves + 0.15 * grain);
    }

    // Slab k: between cut k below and cut k + 1 above, walls along the block's sides.
    FragMesh slab(int k) const {
        FragMesh m;
        const int n = grid + 1;
        const auto index = [n](int layer, int i, int j) { return std::uint32_t(layer * n * n + i * n + j); };
        for (int layer = 0; layer < 2; ++layer)
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    const double x = size * i / grid, y = size * j / grid;
                    m.vertices.emplace_back(x, y, cutHeight(k + layer, x, y, i, j));
                }
        for (int i = 0; i < grid; ++i)
            for (int j = 0; j < grid; ++j) {
                // Top (layer 1) faces up, bottom (layer 0) faces down.
                m.faces.push_back({index(1, i, j), index(1, i + 1, j), index(1, i + 1, j + 1)});
                m.faces.push_back({index(1, i, j), index(1, i + 1, j + 1), index(1, i, j + 1)});
                m.faces.push_back({index(0, i, j), index(0, i + 1, j + 1), index(0, i + 1, j)});
                m.faces.push_back({index(0, i, j), index(0, i, j + 1), index(0, i + 1, j + 1)});
            }
        // The boundary loop, counter-clockwise seen from above; each step gets an outward wall quad.
        std::vector<std::pair<int, int>> loop;
        for (int i = 0; i < grid; ++i)
            loop.emplace_back(i, 0);
        for (int j = 0; j < grid; ++j)
            loop.emplace_back(grid, j);
        for (int i = grid; i > 0; --i)
            loop.emplace_back(i, grid);
        for (int j = grid; j > 0; --j)
            loop.emplace_back(0, j);
        for (std::size_t s = 0; s < loop.size(); ++s) {
            const auto [ui, uj] = loop[s];
            const auto [vi, vj] = loop[(s + 1) % loop.size()];
            m.faces.push_back({index(0, ui, uj), index(0, vi, vj), index(1, vi, vj)});
            m.faces.push_back({index(0, ui, uj), index(1, vi, vj), index(1, ui, uj)});
        }
        m.allocateAttributes();
        m.updateBoundingBox();
        return m;
    }

    double diagonal() const {
        return std::sqrt(2.0 * size * size + (pieces * thickness) * (pieces * thickness));
    }
};
