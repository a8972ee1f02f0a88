#include "interpenetration.h"

#include "frag_mesh.h"

#include <Eigen/LU>
#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

namespace {
using Vec3f = TriangleTree::Vec3f;
using Clock = std::chrono::steady_clock;

// Faces per piece of work: small enough to share the work evenly and to notice a cancel soon.
constexpr std::size_t ChunkFaces = 2048;

unsigned threadCount(unsigned asked) {
    return asked ? asked : std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
}

bool cancelled(const InterpenetrationControl& control) {
    return control.cancel && control.cancel->load(std::memory_order_relaxed);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs work(k) for every k in [0, n) on the given number of threads, the calling thread among
// them, handing items out in order; after each item of its own the calling thread calls between().
template <typename Work, typename Between>
void shareWork(std::size_t n, unsigned threads, const Work& work, const Between& between) {
    std::atomic<std::size_t> next{0};
    const auto loop = [&](bool caller) {
        for (std::size_t k = next++; k < n; k = next++) {
            work(k);
            if (caller)
                between();
        }
    };
    std::vector<std::thread> others;
    for (unsigned t = 1; t < threads && t < n; ++t)
        others.emplace_back(loop, false);
    loop(true);
    for (std::thread& t : others)
        t.join();
}

Box3d worldBox(const TriangleTree& tree, const Matrix44d& worldFromLocal) {
    Box3d box;
    for (int corner = 0; corner < 8; ++corner) {
        const Point3d local((corner & 1 ? tree.upper() : tree.lower()).x(),
                            (corner & 2 ? tree.upper() : tree.lower()).y(),
                            (corner & 4 ? tree.upper() : tree.lower()).z());
        box.add(transformPoint(worldFromLocal, local));
    }
    return box;
}

std::optional<Box3d> intersection(const Box3d& a, const Box3d& b) {
    Box3d both;
    both.min = a.min.cwiseMax(b.min);
    both.max = a.max.cwiseMin(b.max);
    if (a.isNull() || b.isNull() || both.isNull())
        return std::nullopt;
    return both;
}

// One piece placed: its tree and the matrices between the tree's frame and the world.
struct Placed {
    const TriangleTree* tree = nullptr;
    Matrix44d worldFromLocal, localFromWorld;
    Box3d box;
};

// The faces of piece a whose centres may lie inside piece b.
struct PairWork {
    std::size_t a = 0, b = 0;
    Matrix44d bFromA;
    std::vector<std::uint32_t> slots; // of a's tree
    std::vector<std::uint8_t> inside; // per slot
};

// Faces [begin, end) of a pair's slots.
struct Chunk {
    std::size_t pair = 0, begin = 0, end = 0;
};

// The marked faces first, first + stride, ... of a pair: spread over the whole overlap, so that the
// deepest faces are met early and most searches stop at the depth found so far.
struct DepthChunk {
    std::size_t pair = 0, first = 0, stride = 1;
};

std::vector<PairWork> overlappingPairs(const std::vector<Placed>& placed) {
    std::vector<PairWork> pairs;
    for (std::size_t a = 0; a < placed.size(); ++a) {
        for (std::size_t b = 0; b < placed.size(); ++b) {
            if (a == b || !placed[a].tree->triangleCount() || !placed[b].tree->triangleCount())
                continue;
            const std::optional<Box3d> both = intersection(placed[a].box, placed[b].box);
            if (!both)
                continue;
            // The overlap in a's frame, as a box there.
            Box3d local;
            for (int corner = 0; corner < 8; ++corner)
                local.add(transformPoint(placed[a].localFromWorld,
                                         Point3d(corner & 1 ? both->max.x() : both->min.x(),
                                                 corner & 2 ? both->max.y() : both->min.y(),
                                                 corner & 4 ? both->max.z() : both->min.z())));
            PairWork w;
            w.a = a;
            w.b = b;
            w.bFromA = placed[b].localFromWorld * placed[a].worldFromLocal;
            w.slots = placed[a].tree->slotsWithCentreIn(local.min.cast<float>(), local.max.cast<float>());
            if (w.slots.empty())
                continue;
            w.inside.assign(w.slots.size(), 0);
            pairs.push_back(std::move(w));
        }
    }
    return pairs;
}

// Face slot i of a, where b's tree sees it.
Vec3f centreInB(const std::vector<Placed>& placed, const PairWork& w, std::size_t i) {
    const Point3d centre = placed[w.a].tree->centreAt(w.slots[i]).cast<double>();
    return transformPoint(w.bFromA, centre).cast<float>();
}

void classifyChunk(const std::vector<Placed>& placed, PairWork& w, const Chunk& chunk, float tolerance) {
    const TriangleTree& b = *placed[w.b].tree;
    for (std::size_t i = chunk.begin; i < chunk.end; ++i) {
        const Vec3f q = centreInB(placed, w, i);
        w.inside[i] = b.contains(q) && !b.surfaceWithin(q, tolerance);
    }
}

// Raises the pair's greatest depth by the marked faces of the chunk. Threads share the depth found
// so far, which only makes searches stop sooner: the deepest face is always measured exactly, so
// the result is the same whatever the threads.
void measureDepths(const std::vector<Placed>& placed, const PairWork& w,
                   const std::vector<std::size_t>& marked, const DepthChunk& chunk,
                   std::atomic<float>& greatest) {
    const TriangleTree& b = *placed[w.b].tree;
    for (std::size_t j = chunk.first; j < marked.size(); j += chunk.stride) {
        float known = greatest.load(std::memory_order_relaxed);
        const float depth = b.distanceBeyond(centreInB(placed, w, marked[j]), known);
        while (depth > known && !greatest.compare_exchange_weak(known, depth, std::memory_order_relaxed)) {
        }
    }
}

} // namespace

void buildMissingTrees(std::vector<InterpenetrationPiece>& pieces, unsigned threads,
                       const InterpenetrationControl& control) {
    threads = threadCount(threads);
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        if (!pieces[i].tree)
            missing.push_back(i);
    shareWork(
        missing.size(), threads,
        [&](std::size_t k) {
            InterpenetrationPiece& p = pieces[missing[k]];
            if (cancelled(control))
                return;
            p.tree = std::make_shared<const TriangleTree>(p.source ? *p.source : TriangleTree::Source{});
            p.source.reset();
        },
        [] {});
}

namespace {
void sumFigures(const std::vector<PairWork>& pairs, const std::vector<std::atomic<float>>& depth,
                const std::vector<Placed>& placed, InterpenetrationResult& result) {
    std::map<std::pair<std::size_t, std::size_t>, OverlapFigures> figures;
    result.marked.assign(placed.size(), {});
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        const PairWork& w = pairs[p];
        const auto key = std::minmax(w.a, w.b);
        OverlapFigures* f = nullptr;
        for (std::size_t i = 0; i < w.slots.size(); ++i) {
            if (!w.inside[i])
                continue;
            if (!f) {
                f = &figures[key];
                f->first = key.first;
                f->second = key.second;
            }
            ++f->faces;
            f->area += placed[w.a].tree->areaAt(w.slots[i]);
            result.marked[w.a].push_back(placed[w.a].tree->faceAt(w.slots[i]));
        }
        if (f)
            f->greatestDepth = std::max(f->greatestDepth, double(depth[p].load()));
    }
    for (std::vector<std::uint32_t>& faces : result.marked) {
        std::sort(faces.begin(), faces.end());
        faces.erase(std::unique(faces.begin(), faces.end()), faces.end());
    }
    for (const auto& [key, f] : figures)
        result.pairs.push_back(f);
}
} // namespace

InterpenetrationPiece pieceOf(const FragMesh& mesh) {
    InterpenetrationPiece piece;
    if (mesh.tree && mesh.tree->builtFrom(mesh))
        piece.tree = mesh.tree;
    else
        piece.source = TriangleTree::copyOf(mesh);
    piece.placement = mesh.placement;
    return piece;
}

const OverlapFigures* InterpenetrationResult::worst() const {
    const OverlapFigures* w = nullptr;
    for (const OverlapFigures& f : pairs)
        if (!w || f.greatestDepth > w->greatestDepth)
            w = &f;
    return w;
}

InterpenetrationResult computeInterpenetration(std::vector<InterpenetrationPiece> pieces, double tolerance,
                                               const InterpenetrationControl& control) {
    InterpenetrationResult result;
    const unsigned threads = threadCount(control.threads);
    const Clock::time_point buildStart = Clock::now();
    buildMissingTrees(pieces, threads, control);
    result.buildSeconds = secondsSince(buildStart);
    if (cancelled(control)) {
        result.cancelled = true;
        return result;
    }

    const Clock::time_point queryStart = Clock::now();
    std::vector<Placed> placed(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        placed[i].tree = pieces[i].tree.get();
        placed[i].worldFromLocal = pieces[i].tree->worldFromLocal(pieces[i].placement);
        placed[i].localFromWorld = placed[i].worldFromLocal.inverse();
        placed[i].box = worldBox(*pieces[i].tree, placed[i].worldFromLocal);
        result.trees.push_back(pieces[i].tree);
    }
    std::vector<PairWork> pairs = overlappingPairs(placed);
    std::vector<Chunk> chunks;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        for (std::size_t begin = 0; begin < pairs[p].slots.size(); begin += ChunkFaces)
            chunks.push_back({p, begin, std::min(begin + ChunkFaces, pairs[p].slots.size())});
        result.testedFaces += pairs[p].slots.size();
    }
    std::atomic<std::size_t> done{0};
    const auto reportProgress = [&] {
        // Measuring the depths takes about a tenth of the time.
        if (control.progress)
            control.progress(0.9 * double(done.load()) /
                             double(std::max<std::size_t>(1, result.testedFaces)));
    };
    const float localTolerance = float(tolerance);
    shareWork(
        chunks.size(), threads,
        [&](std::size_t k) {
            if (cancelled(control))
                return;
            classifyChunk(placed, pairs[chunks[k].pair], chunks[k], localTolerance);
            done += chunks[k].end - chunks[k].begin;
        },
        reportProgress);

    std::vector<std::vector<std::size_t>> marked(pairs.size());
    std::vector<DepthChunk> depthChunks;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        for (std::size_t i = 0; i < pairs[p].slots.size(); ++i)
            if (pairs[p].inside[i])
                marked[p].push_back(i);
        const std::size_t stride = (marked[p].size() + ChunkFaces - 1) / ChunkFaces;
        for (std::size_t first = 0; first < stride; ++first)
            depthChunks.push_back({p, first, stride});
    }
    std::vector<std::atomic<float>> depth(pairs.size());
    for (std::atomic<float>& d : depth)
        d = 0.0f;
    shareWork(
        depthChunks.size(), threads,
        [&](std::size_t k) {
            if (!cancelled(control))
                measureDepths(placed, pairs[depthChunks[k].pair], marked[depthChunks[k].pair], depthChunks[k],
                              depth[depthChunks[k].pair]);
        },
        [] {});
    if (cancelled(control)) {
        result.cancelled = true;
        return result;
    }
    sumFigures(pairs, depth, placed, result);
    result.querySeconds = secondsSince(queryStart);
    return result;
}

double defaultContactTolerance(double diagonal) {
    return 1e-4 * diagonal;
}
