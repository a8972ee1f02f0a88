#!/usr/bin/env bash
# Builds Ostrakit, makes its Debian package in build/ with CPack, and checks the package from its
# unpacked files: dependencies, the command-line tool, the desktop entry and the project file type.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/build.sh" "$build"

# One package in build/ afterwards, so that the name below cannot pick up an older version.
rm -f "$build"/ostrakit_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/ostrakit_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || {
  echo "package: cpack left no single ostrakit_*.deb in $build" >&2
  exit 1
}
deb="${debs[0]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package check: $*" >&2
  exit 1
}

echo "== contents"
dpkg-deb -c "$deb"
desktop=usr/share/applications/ostrakit.desktop
mime=usr/share/mime/packages/ostrakit.xml
expected="$(printf '%s\n' usr/bin/ostrakit usr/bin/ostrakit-cli "$desktop" \
  usr/share/icons/hicolor/scalable/apps/ostrakit.svg "$mime" | sort)"
actual="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)"
[ "$actual" = "$expected" ] || fail "the package holds other files than the programs and data files"

echo "== dependencies"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
[ -n "$depends" ] || fail "empty Depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6opengl6 qt6-qpa-plugins; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends does not name $lib"
done
# apt resolves the dependencies against the archive without installing anything.
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install --simulate "$deb" >"$work/apt.txt" 2>&1 || {
    cat "$work/apt.txt" >&2
    fail "apt cannot resolve the package's dependencies"
  }
  tail -n 3 "$work/apt.txt"
fi

echo "== unpacked programs"
dpkg -x "$deb" "$work/root"
for program in ostrakit ostrakit-cli; do
  # Stripped: the symbol and debug sections stay in the build folder.
  if readelf -S "$work/root/usr/bin/$program" | grep -q -E '\.debug_info|\.symtab'; then
    fail "usr/bin/$program is not stripped"
  fi
done
export QT_QPA_PLATFORM=offscreen
cli="$work/root/usr/bin/ostrakit-cli"
"$cli" --version
"$cli" make-sample "$work/sample"
"$cli" info "$work/sample/piece_1.ply" | tee "$work/info.txt"
grep -q '^faces [1-9]' "$work/info.txt" || fail "ostrakit-cli info read no faces"
"$cli" info "$work/sample/sample.prproj" >/dev/null

echo "== desktop entry"
desktop-file-validate "$work/root/$desktop"
echo "$desktop: valid"

echo "== project file type"
# A copy of the package's share/mime, compiled alone, shows what the system's trigger will build.
mkdir -p "$work/share"
cp -r "$work/root/usr/share/mime" "$work/share/mime"
export XDG_DATA_HOME="$work/share" XDG_DATA_DIRS=/usr/share
update-mime-database "$work/share/mime"
type=application/x-ostrakit-project
db="$work/share/mime"
grep -q -x "[0-9]*:$type:\*\.prproj" "$db/globs2" || fail "*.prproj does not give $type"
grep -q -x " Project $type" "$db/XMLnamespaces" || fail "a <Project> root does not give $type"
grep -q -x "$type application/xml" "$db/subclasses" || fail "$type is no kind of application/xml"
grep -q -F '<Project>' "$db/magic" || fail "no magic rule for a file starting with <Project>"
# Where GLib is present, ask it for the type of real files, our database in front of the system's:
# by name, and by content for copies without a suffix, one behind an XML declaration. (A copy named
# .xml stays application/xml for GLib, whose single glob match wins over the content.)
if command -v gio >/dev/null; then
  cp "$work/sample/sample.prproj" "$work/sample/vessel"
  { echo '<?xml version="1.0" encoding="UTF-8"?>'; cat "$work/sample/sample.prproj"; } >"$work/sample/declared"
  for f in sample.prproj vessel declared; do
    got="$(gio info -a standard::content-type "$work/sample/$f" | sed -n 's/^ *standard::content-type: //p')"
    echo "$f: $got"
    [ "$got" = "$type" ] || fail "gio gives $f the type '$got'"
  done
fi
echo "globs2, XMLnamespaces, subclasses and magic name $type"

shown="$deb"
if [[ "$deb" == "$PWD/"* ]]; then
  shown="./${deb#"$PWD/"}" # apt takes a local file only as a path with a slash
fi
echo
echo "Package: $deb"
echo "Install it with:  sudo apt install $shown"
