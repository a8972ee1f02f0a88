#include "large_arrays.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdint>

namespace large_arrays {

void adviseHugePages(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole huge pages inside the block: the advice covers a range and may not spill into
    // memory the allocator handed to someone else.
    constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(huge - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

void touchPages(void* p, std::size_t bytes) {
    // Fresh memory from the system reads as zero, so writing a zero into each page changes nothing
    // but makes the page resident.
    constexpr std::size_t page = 4096;
    auto* bytesAt = static_cast<volatile unsigned char*>(p);
    forRange(
        bytes / page + 1,
        [bytesAt, bytes](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end && k * page < bytes; ++k)
                bytesAt[k * page] = 0;
        },
        2048);
}

unsigned partsFor(std::size_t n, std::size_t minPart) {
    const std::size_t wanted = n / std::max<std::size_t>(minPart, 1);
    // Asking for the number of cores reads system files each time: not for a loop that stays whole.
    if (wanted <= 1)
        return 1;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    return unsigned(std::clamp<std::size_t>(wanted, 1, cores));
}

} // namespace large_arrays
