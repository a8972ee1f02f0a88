#!/usr/bin/env bash
# Builds scene/ and io/ with clang 14, as the fuzz targets need them, strictly (every warning an
# error, shadowed names included); with --tests also their test suites, and runs those.
# Unoptimised and without debug information, to keep it short.
# Usage: scripts/check-clang.sh [--tests] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tests=0
if [ "${1:-}" = "--tests" ]; then
  tests=1
  shift
fi
build="${1:-$root/build-clang}"

"$root/scripts/install-deps.sh"

if [ ! -f "$build/build.ninja" ]; then
  cmake -G Ninja -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=None \
    -DOSTRAKIT_BUILD_BENCHMARKS=OFF -DOSTRAKIT_BUILD_TOOLS=OFF -DOSTRAKIT_STRICT=ON
else
  cmake "$build" -DOSTRAKIT_STRICT=ON >/dev/null
fi
suites=(test_geometry_objects test_fragment_graph test_group_moves test_interpenetration test_mesh_io test_frag_mesh
  test_project_file test_texture_io)
if [ "$tests" = 0 ]; then
  cmake --build "$build" -j "$(nproc)" --target ostrakit_scene ostrakit_io
  exit
fi
cmake --build "$build" -j "$(nproc)" --target ostrakit_scene ostrakit_io "${suites[@]}"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j 2 \
  -R "^($(IFS='|'; echo "${suites[*]}"))\$"
