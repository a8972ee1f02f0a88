#!/usr/bin/env bash
# Checks that another program reads Ostrakit's ALN files as Ostrakit means them: MeshLab's
# command-line server (Debian package meshlab) loads the ALN written by aln_interop_case, flattens
# the placed layers into one mesh, and the placed vertices are compared with Ostrakit's own.
# Usage: tools/aln_interop/check.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
command -v meshlabserver >/dev/null || { echo "needs meshlabserver (apt-get install meshlab)"; exit 2; }
cmake --build "$build" --target aln_interop_case >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/tools/aln_interop/aln_interop_case" "$work"
cat > "$work/flatten.mlx" <<'MLX'
<!DOCTYPE FilterScript>
<FilterScript>
 <filter name="Flatten Visible Layers">
  <Param type="RichBool" value="false" name="MergeVisible"/>
  <Param type="RichBool" value="true" name="DeleteLayer"/>
  <Param type="RichBool" value="false" name="MergeVertices"/>
  <Param type="RichBool" value="false" name="AlsoUnreferenced"/>
 </filter>
</FilterScript>
MLX
run=(meshlabserver -p "$work/placed.aln" -s "$work/flatten.mlx" -o "$work/merged.ply" -m sa)
if [ -z "${DISPLAY:-}" ]; then run=(xvfb-run -a "${run[@]}"); fi
(cd "$work" && "${run[@]}" >"$work/meshlab.log" 2>&1) || { cat "$work/meshlab.log"; exit 1; }
python3 - "$work/merged.ply" "$work/expected.txt" <<'PY'
import sys
ply, expected = sys.argv[1], sys.argv[2]
with open(ply) as f:
    lines = f.read().split('\n')
count = int(next(l for l in lines if l.startswith('element vertex')).split()[2])
body = lines.index('end_header') + 1
got = [tuple(map(float, l.split()[:3])) for l in lines[body:body + count]]
want = [tuple(map(float, l.split())) for l in open(expected) if l.strip()]
if len(got) != len(want):
    sys.exit(f"vertex count differs: other program {len(got)}, Ostrakit {len(want)}")
# Both sides place float32 file coordinates with the same matrices; the other program stores the
# result in single precision, so compare relative to each coordinate's magnitude.
worst = max(abs(a - b) / max(1.0, abs(b)) for g, w in zip(got, want) for a, b in zip(g, w))
print(f"{len(got)} placed vertices compared, largest relative difference {worst:.2e}")
sys.exit(0 if worst < 1e-6 else 1)
PY
