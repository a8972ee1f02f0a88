#!/usr/bin/env bash
# Sets up, builds and starts Ostrakit. Arguments are passed to the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" "$root/build"
exec "$root/build/app/ostrakit" "$@"
