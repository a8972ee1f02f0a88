#pragma once
// Helpers for the arrays of large meshes (hundreds of megabytes): memory backed by huge pages where
// the system offers them, so that touching it costs few page faults and random access few TLB
// misses, and loops split across the cores.

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace large_arrays {

// Asks the system to back [p, p + bytes) with huge pages when it is next touched. Harmless where
// huge pages are not offered.
void adviseHugePages(void* p, std::size_t bytes);

// The number of parts a loop over n items is split into: one per core (at most 8), each of at least
// minPart items, so that small meshes never pay for starting threads.
unsigned partsFor(std::size_t n, std::size_t minPart = 100000);

// Runs fn(part, begin, end) for each of parts consecutive ranges that split [0, n), each on its
// own thread; part k covers [n * k / parts, n * (k + 1) / parts). fn must write only data owned by
// its own range and must not throw.
template <typename Fn> void forParts(std::size_t n, unsigned parts, Fn&& fn) {
    if (parts <= 1) {
        fn(0u, std::size_t{0}, n);
        return;
    }
    std::vector<std::thread> others;
    others.reserve(parts - 1);
    for (unsigned k = 1; k < parts; ++k)
        others.emplace_back([&fn, n, k, parts] { fn(k, n * k / parts, n * (k + 1) / parts); });
    fn(0u, std::size_t{0}, n / parts);
    for (std::thread& t : others)
        t.join();
}

// Runs fn(begin, end) over [0, n) split into partsFor(n, minPart) ranges (see forParts).
template <typename Fn> void forRange(std::size_t n, Fn&& fn, std::size_t minPart = 100000) {
    forParts(n, partsFor(n, minPart),
             [&fn](unsigned, std::size_t begin, std::size_t end) { fn(begin, end); });
}

// Makes the system back [p, p + bytes) with memory now, on all cores: the first touch of fresh
// memory is what costs, and it is as slow as filling it. The bytes are left as they were (zero).
void touchPages(void* p, std::size_t bytes);

// Replaces v by n copies of value, with exactly n elements of capacity. Large arrays get fresh
// memory, advised for huge pages and touched on all cores before it is filled.
template <typename T> void assignFresh(std::vector<T>& v, std::size_t n, const T& value) {
    std::vector<T> fresh;
    fresh.reserve(n);
    if (n * sizeof(T) >= (std::size_t(8) << 20)) {
        adviseHugePages(fresh.data(), n * sizeof(T));
        touchPages(fresh.data(), n * sizeof(T));
    }
    fresh.resize(n, value);
    v.swap(fresh);
}

} // namespace large_arrays
