#!/usr/bin/env bash
# Sets up, builds and starts Ostrakit. Arguments are passed to the program; without any, a sample
# reassembly is created once (folder sample/) and opened.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" "$root/build"
if [ $# -eq 0 ]; then
  # First start: a generated broken vessel to reassemble, made once and opened from then on.
  sample="$root/sample"
  [ -f "$sample/sample.prproj" ] || "$root/build/app/ostrakit-cli" make-sample "$sample"
  set -- "$sample/sample.prproj"
fi
exec "$root/build/app/ostrakit" "$@"
