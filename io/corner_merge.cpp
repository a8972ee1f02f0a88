#include "corner_merge.h"

#include "frag_mesh.h"
#include "large_arrays.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

// Most corners repeat one met a few facets before (neighbouring facets share corners, and most files
// list neighbours near each other): a small cache of the latest corners finds those, and they take
// that corner's vertex. The others may repeat a corner anywhere before them (in a file written in
// scanning order, or shuffled), and one table of all vertices would be hit at random, each lookup
// waiting for memory. Instead they are sorted into buckets by the hash of their position, keeping
// file order within a bucket; each bucket is merged with a table small enough to stay in the cache;
// then the corners are walked in file order again, taking their bucket's results in turn, which
// numbers the vertices in the order they are first met. Every step reads and writes memory in order,
// and the result does not depend on how the work is split between threads (a repeat is only looked
// for within a thread's part).

namespace {

// A position as its three floats' bits.
struct Key {
    std::uint32_t x, y, z;
    bool operator==(const Key&) const = default;
};

inline Key keyAt(const unsigned char* p) {
    Key k;
    std::memcpy(&k, p, sizeof k);
    return k;
}

inline bool isFinite(const Key& k) {
    constexpr std::uint32_t exponent = 0x7f800000u; // all ones: an infinity or a NaN
    return ((k.x & exponent) != exponent) & ((k.y & exponent) != exponent) & ((k.z & exponent) != exponent);
}

inline std::uint64_t hashOf(const Key& k) {
    std::uint64_t h = ((std::uint64_t(k.y) << 32) | k.x) * 0x9e3779b97f4a7c15ull;
    h ^= (std::uint64_t(k.z) + 0x632be59bd9b4e019ull) * 0xc2b2ae3d27d4eb4full;
    h ^= h >> 29;
    return h * 0xbf58476d1ce4e5b9ull; // buckets and slots are taken from the top bits
}

Point3d pointOf(const Key& k) {
    float x, y, z;
    std::memcpy(&x, &k.x, 4);
    std::memcpy(&y, &k.y, 4);
    std::memcpy(&z, &k.z, 4);
    return Point3d(x, y, z);
}

// n values left uninitialised (each is written before it is read), in memory advised for huge
// pages: the arrays are large and touched everywhere.
template <typename T> std::unique_ptr<T[]> freshArray(std::size_t n) {
    std::unique_ptr<T[]> a(new T[n]);
    large_arrays::adviseHugePages(a.get(), n * sizeof(T));
    return a;
}

// The vertices of one bucket: an open-addressing table (linear probing) from position to the
// bucket's own vertex number, reused from bucket to bucket.
class BucketTable {
public:
    // The bucket's corners share the top bucketBits bits of their hash; the slots come from the
    // bits below.
    explicit BucketTable(unsigned bucketBits) : bucketBits_(bucketBits) {}

    // Empties the table, sized for up to `corners` corners.
    void reset(std::size_t corners) {
        std::size_t capacity = 64;
        while (capacity < corners)
            capacity *= 2;
        capacity /= 2; // a closed surface has a sixth as many vertices as corners; grown if needed
        slots_.assign(std::max<std::size_t>(capacity, 64), Slot{});
        shift_ = unsigned(64 - std::countr_zero(slots_.size()));
        count_ = 0;
    }

    // The number of the vertex at k, added (and `added` set) when k is new.
    std::uint32_t findOrAdd(const Key& k, bool& added) {
        const std::uint64_t h = hashOf(k) << bucketBits_;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h >> shift_;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.id == 0) {
                s = Slot{k, std::uint32_t(++count_)};
                added = true;
                if (count_ * 10 > slots_.size() * 7)
                    grow();
                return std::uint32_t(count_ - 1);
            }
            if (s.key == k) {
                added = false;
                return s.id - 1;
            }
        }
    }

    std::size_t size() const { return count_; }

private:
    struct Slot {
        Key key{0, 0, 0};
        std::uint32_t id = 0; // the vertex number + 1; 0 for an empty slot
    };

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        shift_ -= 1;
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.id == 0)
                continue;
            std::size_t i = (hashOf(s.key) << bucketBits_) >> shift_;
            while (slots_[i].id != 0)
                i = (i + 1) & mask;
            slots_[i] = s;
        }
    }

    const unsigned bucketBits_;
    std::vector<Slot> slots_;
    unsigned shift_ = 64;
    std::size_t count_ = 0;
};

// The triangles as the file stores them.
struct Triangles {
    const unsigned char* first;
    std::size_t stride;
    std::size_t count;

    Key corner(std::size_t t, int j) const { return keyAt(first + t * stride + 12 * std::size_t(j)); }
};

// In a corner's route: the corner repeats the corner (route - repeatsCorner) places before it, met
// lately in the same part; else the route is the corner's bucket.
constexpr std::uint32_t repeatsCorner = 0x80000000u;

// In an entry's vertex number: the entry is the vertex's first corner. A bucket's own vertex numbers
// stay below it: that would take 2^31 different positions in one bucket, a file of over 30 GB.
constexpr std::uint32_t firstCorner = 0x80000000u;

class CornerMerge {
public:
    CornerMerge(const Triangles& t, unsigned parts)
        : t_(t), parts_(std::max(parts, 1u)), corners_(3 * t.count), bucketBits_(bucketBitsFor(corners_)),
          buckets_(std::size_t(1) << bucketBits_), counts_(parts_ * buckets_, 0),
          firsts_(parts_ * buckets_, 0), firstNotFinite_(parts_, t.count) {}

    std::size_t run(FragMesh& mesh) {
        route_ = freshArray<std::uint32_t>(corners_);
        inParallel(parts_, [this](std::size_t k) { routeCorners(unsigned(k)); });
        const std::size_t bad = *std::min_element(firstNotFinite_.begin(), firstNotFinite_.end());
        if (bad != t_.count)
            return bad;
        layOutBuckets();
        const std::size_t entries = bucketStart_[buckets_];
        keys_ = freshArray<Key>(entries);
        inParallel(parts_, [this](std::size_t k) { scatterKeys(unsigned(k)); });
        numbers_ = freshArray<std::uint32_t>(entries);
        groups_.assign(buckets_, 0);
        inParallel(parts_, [this](std::size_t k) { mergeBuckets(unsigned(k)); });
        numberBuckets();

        large_arrays::assignFresh(mesh.vertices, vertexCount_, Point3d(Point3d::Zero()));
        vertexNumbers_ = freshArray<std::uint32_t>(vertexCount_);
        inParallel(parts_, [&](std::size_t k) { numberVertices(unsigned(k), mesh.vertices.data()); });
        keys_.reset();
        large_arrays::assignFresh(mesh.faces, t_.count, FragMesh::Face{});
        inParallel(parts_, [&](std::size_t k) { numberCorners(unsigned(k), mesh.faces.data()); });
        return t_.count;
    }

private:
    // Buckets of about 32,000 corners, whose tables fit in the cache; at most 1024 of them, so
    // that sorting the corners into them writes few streams at once.
    static unsigned bucketBitsFor(std::size_t corners) {
        unsigned bits = 0;
        while (bits < 10 && (corners >> bits) > 32768)
            ++bits;
        return bits;
    }

    template <typename Fn> static void inParallel(std::size_t n, Fn&& fn) {
        large_arrays::forParts(n, unsigned(n), [&fn](unsigned, std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k)
                fn(k);
        });
    }

    std::size_t firstTriangle(unsigned part) const { return t_.count * part / parts_; }

    // Each corner's route: a corner met a few facets before (neighbouring facets share corners, and
    // most files list neighbours near each other) repeats it; any other goes to its bucket. Also
    // the number of the part's corners in each bucket, and the first triangle with a coordinate
    // that is not finite.
    void routeCorners(unsigned part) {
        struct Recent {
            Key key{0, 0, 0};
            std::size_t corner = 0; // + 1; 0 for none
        };
        constexpr std::size_t recentSlots = 4096;
        std::vector<Recent> recent(recentSlots);
        std::size_t* counts = &counts_[part * buckets_];
        for (std::size_t t = firstTriangle(part); t < firstTriangle(part + 1); ++t) {
            for (int j = 0; j < 3; ++j) {
                const Key k = t_.corner(t, j);
                if (!isFinite(k)) {
                    firstNotFinite_[part] = t;
                    return;
                }
                const std::size_t c = 3 * t + std::size_t(j);
                const std::uint64_t h = hashOf(k);
                Recent& r = recent[(h >> 20) & (recentSlots - 1)];
                if (r.corner != 0 && r.key == k && c + 1 - r.corner < repeatsCorner) {
                    route_[c] = repeatsCorner | std::uint32_t(c + 1 - r.corner);
                } else {
                    const unsigned b = bucketBits_ ? unsigned(h >> (64 - bucketBits_)) : 0u;
                    route_[c] = b;
                    ++counts[b];
                }
                r = Recent{k, c + 1};
            }
        }
    }

    // Bucket by bucket, the parts' corners in part order: file order within each bucket.
    void layOutBuckets() {
        bucketStart_.assign(buckets_ + 1, 0);
        start_.assign(parts_ * buckets_, 0);
        std::size_t at = 0;
        for (std::size_t b = 0; b < buckets_; ++b) {
            bucketStart_[b] = at;
            for (unsigned k = 0; k < parts_; ++k) {
                start_[k * buckets_ + b] = at;
                at += counts_[k * buckets_ + b];
            }
        }
        bucketStart_[buckets_] = at;
    }

    void scatterKeys(unsigned part) {
        walkCorners(part, [&](std::size_t t, int j, unsigned, std::size_t e) { keys_[e] = t_.corner(t, j); });
    }

    // Numbers the vertices of each bucket of the part's share, in the order of the bucket's
    // corners, and counts the first corners that lie in each part.
    void mergeBuckets(unsigned share) {
        BucketTable table(bucketBits_);
        for (std::size_t b = buckets_ * share / parts_; b < buckets_ * (share + 1) / parts_; ++b) {
            table.reset(bucketStart_[b + 1] - bucketStart_[b]);
            for (unsigned k = 0; k < parts_; ++k) {
                const std::size_t begin = start_[k * buckets_ + b];
                const std::size_t end = begin + counts_[k * buckets_ + b];
                std::size_t firsts = 0;
                for (std::size_t e = begin; e < end; ++e) {
                    bool added = false;
                    const std::uint32_t v = table.findOrAdd(keys_[e], added);
                    numbers_[e] = v | (added ? firstCorner : 0u);
                    firsts += added;
                }
                firsts_[k * buckets_ + b] = firsts;
            }
            groups_[b] = table.size();
        }
    }

    // Where each bucket's vertices begin in vertexNumbers_, and where each part's first corners
    // begin in the mesh's vertices.
    void numberBuckets() {
        groupStart_.assign(buckets_, 0);
        std::size_t at = 0;
        for (std::size_t b = 0; b < buckets_; ++b) {
            groupStart_[b] = at;
            at += groups_[b];
        }
        vertexCount_ = at;
        partVertexStart_.assign(parts_, 0);
        std::size_t before = 0;
        for (unsigned k = 0; k < parts_; ++k) {
            partVertexStart_[k] = before;
            for (std::size_t b = 0; b < buckets_; ++b)
                before += firsts_[k * buckets_ + b];
        }
    }

    // Walks the part's corners that went to buckets in file order, each taking the next place of
    // its bucket: fn(triangle, corner, bucket, place).
    template <typename Fn> void walkCorners(unsigned part, Fn&& fn) const {
        std::vector<std::size_t> next(start_.begin() + std::ptrdiff_t(part * buckets_),
                                      start_.begin() + std::ptrdiff_t((part + 1) * buckets_));
        for (std::size_t t = firstTriangle(part); t < firstTriangle(part + 1); ++t)
            for (int j = 0; j < 3; ++j) {
                const std::uint32_t route = route_[3 * t + std::size_t(j)];
                if (!(route & repeatsCorner))
                    fn(t, j, unsigned(route), next[route]++);
            }
    }

    // The first corners of the vertices get the next vertex numbers, in file order, and give the
    // vertices their positions.
    void numberVertices(unsigned part, Point3d* vertices) {
        std::size_t vertex = partVertexStart_[part];
        walkCorners(part, [&](std::size_t, int, unsigned b, std::size_t e) {
            const std::uint32_t v = numbers_[e];
            if (v & firstCorner) {
                vertexNumbers_[groupStart_[b] + (v & ~firstCorner)] = std::uint32_t(vertex);
                vertices[vertex++] = pointOf(keys_[e]);
            }
        });
    }

    // Each corner's vertex number, in file order: a repeating corner copies the number of the corner
    // it repeats, written before it.
    void numberCorners(unsigned part, FragMesh::Face* faces) const {
        std::vector<std::size_t> next(start_.begin() + std::ptrdiff_t(part * buckets_),
                                      start_.begin() + std::ptrdiff_t((part + 1) * buckets_));
        for (std::size_t t = firstTriangle(part); t < firstTriangle(part + 1); ++t)
            for (std::size_t j = 0; j < 3; ++j) {
                const std::size_t c = 3 * t + j;
                const std::uint32_t route = route_[c];
                if (route & repeatsCorner) {
                    const std::size_t same = c - (route & ~repeatsCorner);
                    faces[t][j] = faces[same / 3][same % 3];
                } else {
                    const std::uint32_t v = numbers_[next[route]++];
                    faces[t][j] = vertexNumbers_[groupStart_[route] + (v & ~firstCorner)];
                }
            }
    }

    const Triangles t_;
    const unsigned parts_;
    const std::size_t corners_;
    const unsigned bucketBits_;
    const std::size_t buckets_;
    std::vector<std::size_t> counts_; // [part * buckets + bucket]: corners
    std::vector<std::size_t> firsts_; // [part * buckets + bucket]: first corners of vertices
    std::vector<std::size_t> firstNotFinite_;
    std::vector<std::size_t> start_;       // [part * buckets + bucket]: where the part's corners begin
    std::vector<std::size_t> bucketStart_; // buckets + 1
    std::vector<std::size_t> groups_;      // per bucket: its vertices
    std::vector<std::size_t> groupStart_;
    std::vector<std::size_t> partVertexStart_;
    std::size_t vertexCount_ = 0;
    std::unique_ptr<std::uint32_t[]> route_;         // per corner
    std::unique_ptr<Key[]> keys_;                    // per corner in a bucket, bucket by bucket
    std::unique_ptr<std::uint32_t[]> numbers_;       // the same: the bucket's vertex
    std::unique_ptr<std::uint32_t[]> vertexNumbers_; // per bucket vertex, bucket by bucket
};

unsigned partsFor(std::size_t triangles, const MergeParts& options) {
    const std::size_t minPart = std::max<std::size_t>(options.minPartTriangles, 1);
    if (options.maxParts)
        return unsigned(std::clamp<std::size_t>(triangles / minPart, 1, options.maxParts));
    return large_arrays::partsFor(triangles, minPart);
}

} // namespace

std::size_t mergeCorners(const unsigned char* first, std::size_t stride, std::size_t triangles,
                         FragMesh& mesh, const MergeParts& parts) {
    CornerMerge merge(Triangles{first, stride, triangles}, partsFor(triangles, parts));
    const std::size_t read = merge.run(mesh);
    if (read != triangles) {
        mesh.vertices.clear();
        mesh.faces.clear();
    }
    return read;
}
