#!/usr/bin/env bash
# Every C++ file of the repository is laid out as .clang-format says; lists the ones that are not.
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/install-deps.sh"
format=clang-format-14
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ "${#bad[@]}" -gt 0 ]; then
  printf 'not formatted (scripts/check-format.sh --fix): %s\n' "${bad[@]}" >&2
  exit 1
fi
