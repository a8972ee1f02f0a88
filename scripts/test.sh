#!/usr/bin/env bash
# Sets up, builds and runs every test suite. Without a display the suites run inside a virtual X
# server. "--sanitize" builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer in a
# separate build folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
options=()
if [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-asan"
  options=(-DOSTRAKIT_SANITIZE=ON -DOSTRAKIT_BUILD_BENCHMARKS=OFF)
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:fast_unwind_on_malloc=0"
fi
"$root/scripts/build.sh" "$build" "${options[@]}"

run=(ctest --test-dir "$build" --output-on-failure -j 2)
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
