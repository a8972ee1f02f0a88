#!/usr/bin/env bash
# Sets up, builds and runs every test suite. Without a display the suites run inside a virtual X
# server. "--sanitize" builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer in a
# separate build folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
sanitize=0
options=()
if [ "${1:-}" = "--sanitize" ]; then
  sanitize=1
  build="$root/build-asan"
  options=(-DOSTRAKIT_SANITIZE=ON -DOSTRAKIT_BUILD_BENCHMARKS=OFF -DOSTRAKIT_BUILD_TOOLS=OFF)
fi
"$root/scripts/build.sh" "$build" "${options[@]}"

run_ctest() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure -j 2 "$@"
  else
    ctest --test-dir "$build" --output-on-failure -j 2 "$@"
  fi
}

if [ "$sanitize" = 0 ]; then
  run_ctest
  exit
fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Suites without a display: every error and every leak counts.
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp" run_ctest -LE display
# Display suites load the GL driver, which leaks at exit from a library it has already unloaded
# (so no suppression can name it); memory errors still count, leaks are not checked there.
ASAN_OPTIONS=detect_leaks=0 run_ctest -L display
