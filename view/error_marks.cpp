#include "error_marks.h"

#include "base_graph.h"
#include "fragment.h"

#include <algorithm>
#include <unordered_set>

namespace {
constexpr std::uint32_t NoSlot = ~0u;

std::array<std::uint32_t, 3> sortedCorners(const FragMesh::Face& f) {
    std::array<std::uint32_t, 3> s = f;
    std::sort(s.begin(), s.end());
    return s;
}

// repeated[k] is 1 when face k's vertex set occurs in another face too.
std::vector<std::uint8_t> repeatedFaces(const FragMesh& mesh) {
    const std::size_t nf = mesh.faces.size(), nv = mesh.vertices.size();
    std::vector<std::uint8_t> repeated(nf, 0);
    // Faces with the same vertex set share their smallest vertex: bucket them by it (counting
    // sort), then compare within each bucket only.
    auto proper = [nv](const FragMesh::Face& f) { return f[0] < nv && f[1] < nv && f[2] < nv; };
    std::vector<std::uint32_t> start(nv + 2, 0);
    for (const FragMesh::Face& f : mesh.faces)
        if (proper(f))
            ++start[std::min({f[0], f[1], f[2]}) + 2];
    for (std::size_t v = 2; v < start.size(); ++v)
        start[v] += start[v - 1];
    std::vector<std::uint32_t> order(start[nv + 1]);
    for (std::size_t k = 0; k < nf; ++k) {
        const FragMesh::Face& f = mesh.faces[k];
        if (proper(f))
            order[start[std::min({f[0], f[1], f[2]}) + 1]++] = std::uint32_t(k);
    }
    // start[v] is now the beginning of bucket v.
    std::vector<std::pair<std::array<std::uint32_t, 3>, std::uint32_t>> bucket;
    for (std::size_t v = 0; v < nv; ++v) {
        const std::uint32_t begin = start[v], end = start[v + 1];
        if (end - begin < 2)
            continue;
        bucket.clear();
        for (std::uint32_t i = begin; i < end; ++i)
            bucket.emplace_back(sortedCorners(mesh.faces[order[i]]), order[i]);
        std::sort(bucket.begin(), bucket.end());
        for (std::size_t i = 1; i < bucket.size(); ++i)
            if (bucket[i].first == bucket[i - 1].first)
                repeated[bucket[i].second] = repeated[bucket[i - 1].second] = 1;
    }
    return repeated;
}
} // namespace

std::vector<Fragment*> fragmentsOf(BaseGraph* graph, const std::vector<int>& objectIds) {
    std::vector<Fragment*> out;
    if (!graph)
        return out;
    std::unordered_set<const Fragment*> seen;
    for (int id : objectIds) {
        std::vector<Fragment*> inside;
        GeometrObj* o = graph->getObject(id);
        if (auto* g = dynamic_cast<FragGroup*>(o))
            g->collectFragments(inside);
        else if (auto* f = dynamic_cast<Fragment*>(o))
            inside.push_back(f);
        for (Fragment* f : inside)
            if (seen.insert(f).second)
                out.push_back(f);
    }
    return out;
}

std::size_t totalFaceCount(const std::vector<Fragment*>& fragments) {
    std::size_t n = 0;
    for (const Fragment* f : fragments)
        n += f->mesh().faceCount();
    return n;
}

void resetMarksAndAssignCodes(Fragment& f, int base) {
    FragMesh& m = f.mesh();
    const std::size_t n = m.faceCount();
    if (std::any_of(m.marked.begin(), m.marked.end(), [](std::uint8_t v) { return v != 0; }))
        m.changes |= FragMesh::Marks;
    m.marked.assign(n, 0);
    m.hitCounts.assign(n, 0);
    f.setBasePickCode(base);
    f.assignPickColors();
}

std::unique_ptr<FragGroup> makeFragmentGroup(BaseGraph* graph, const std::vector<int>& objectIds) {
    auto group = std::make_unique<TemporaryFragGroup>(graph);
    int base = 0;
    for (Fragment* f : fragmentsOf(graph, objectIds)) {
        resetMarksAndAssignCodes(*f, base);
        base += int(f->mesh().faceCount());
        group->enterWithoutAdopting(f);
    }
    return group;
}

std::vector<std::pair<std::size_t, std::size_t>> pickFaceRuns(const FragMesh& mesh) {
    const std::vector<std::uint8_t> repeated = repeatedFaces(mesh);
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    const std::size_t nf = repeated.size();
    for (std::size_t k = 0; k < nf;) {
        while (k < nf && repeated[k])
            ++k;
        const std::size_t first = k;
        while (k < nf && !repeated[k])
            ++k;
        if (k > first)
            runs.emplace_back(first, k - first);
    }
    return runs;
}

PickClassifier::PickClassifier(std::vector<Fragment*> fragments)
    : members(std::move(fragments)), dirty(members.size(), 0) {
    std::size_t end = 0;
    for (const Fragment* f : members) {
        bases.push_back(f->getBasePickCode());
        end = std::max(end, std::size_t(std::max(f->getBasePickCode(), 0)) + f->mesh().faceCount());
    }
    if (end > MaxPickFaces) {
        valid = false;
        return;
    }
    slotOfCode.assign(end, NoSlot);
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::size_t n = members[i]->mesh().faceCount();
        if (bases[i] < 0) {
            valid = false;
            return;
        }
        for (std::size_t k = 0; k < n; ++k) {
            std::uint32_t& slot = slotOfCode[std::size_t(bases[i]) + k];
            if (slot != NoSlot) {
                valid = false;
                return;
            }
            slot = std::uint32_t(i);
        }
    }
}

void PickClassifier::startDirection(std::size_t pixelCount, const float* depthLimits) {
    counters.assign(pixelCount, 0);
    if (depthLimits)
        limits.assign(depthLimits, depthLimits + pixelCount);
    else
        limits.assign(pixelCount, 1.0f);
}

void PickClassifier::hit(Color4b pickColour, int threshold) {
    const std::uint32_t code =
        pickColour.r | (std::uint32_t(pickColour.g) << 8) | (std::uint32_t(pickColour.b) << 16);
    if (code >= slotOfCode.size() || slotOfCode[code] == NoSlot)
        return;
    const std::uint32_t slot = slotOfCode[code];
    FragMesh& m = members[slot]->mesh();
    const std::size_t face = code - std::uint32_t(bases[slot]);
    if (++m.hitCounts[face] < threshold)
        return;
    m.marked[face] = 1;
    m.hitCounts[face] = 0;
    dirty[slot] = 1;
}

bool PickClassifier::classifyPass(PassImage front, PassImage back, float tolerance, float* lastDepth) {
    bool done = true;
    const float doneDepth = 1.0f - tolerance;
    for (std::size_t q = 0; q < counters.size(); ++q) {
        // Behind the limit faces only pair with those in front of it as contacts; beyond the
        // tolerance nothing counts, in this pass or the next (the layer peeled is the last).
        const float limit = limits[q], countLimit = limit + tolerance;
        const float zf = front.depths[q] <= countLimit ? front.depths[q] : 1.0f;
        const float zb = back.depths[q] <= countLimit ? back.depths[q] : 1.0f;
        if (zf < doneDepth || zb < doneDepth)
            done = false;
        const bool hasFront = zf < 1.0f, hasBack = zb < 1.0f;
        const bool useFront = hasFront && (!hasBack || zf <= zb + tolerance);
        const bool useBack = hasBack && (!hasFront || zb <= zf + tolerance);
        // Solids the line of sight is in at this layer, not counting one that ends here.
        const int inside = counters[q] - (useBack ? 1 : 0);
        if (inside >= 1) {
            if (useFront && zf <= limit)
                hit(front.colours[q], 2);
            if (useBack && zb <= limit)
                hit(back.colours[q], 1);
        }
        counters[q] = inside + (useFront ? 1 : 0);
        lastDepth[q] = useFront && useBack ? std::max(zf, zb) : useFront ? zf : useBack ? zb : 1.0f;
    }
    return done;
}

void smoothMarks(FragMesh& mesh) {
    const std::size_t nf = mesh.faceCount();
    if (mesh.marked.size() != nf || markedFaceCount(mesh) == 0)
        return;
    if (mesh.adjacency.size() != nf)
        mesh.updateFaceFaceAdjacency();
    mesh.hitCounts.resize(nf, 0);
    std::vector<std::uint8_t> before;
    // Each step looks at the marks as the previous step left them.
    auto step = [&](std::uint8_t from, int atLeast) {
        before = mesh.marked;
        for (std::size_t f = 0; f < nf; ++f) {
            if (before[f] != from)
                continue;
            int others = 0;
            for (std::uint32_t n : mesh.adjacency[f].face)
                others += before[n] != from;
            if (others >= atLeast) {
                mesh.marked[f] = from ? 0 : 1;
                mesh.hitCounts[f] = 0;
            }
        }
    };
    for (int round = 0; round < 2; ++round) {
        step(0, 2); // fill
        step(1, 2); // erode
    }
}

std::size_t markedFaceCount(const FragMesh& mesh) {
    return std::size_t(
        std::count_if(mesh.marked.begin(), mesh.marked.end(), [](std::uint8_t v) { return v; }));
}
