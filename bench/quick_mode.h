#pragma once
// "--quick" among a benchmark's arguments: a tiny input through the same code, so that CTest runs
// every benchmark in seconds and none of them rots unnoticed.

#include <algorithm>
#include <cstring>

inline bool quickMode(int argc, char* argv[]) {
    return std::any_of(argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--quick") == 0; });
}
