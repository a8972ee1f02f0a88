#!/usr/bin/env bash
# Installs a built Ostrakit into a temporary prefix and checks what lands there.
# Usage: check_install_tree.sh CMAKE BUILD_DIR
set -euo pipefail
cmake_command="$1"
build="$2"

prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "install tree: $*" >&2
  exit 1
}

"$cmake_command" --install "$build" --prefix "$prefix" >/dev/null

desktop=share/applications/ostrakit.desktop
icon=share/icons/hicolor/scalable/apps/ostrakit.svg
mime=share/mime/packages/ostrakit.xml
expected="$(printf '%s\n' bin/ostrakit bin/ostrakit-cli "$desktop" "$icon" "$mime" | sort)"
# Every file and link, so that a test, benchmark or library that starts installing itself shows up.
actual="$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "installed files differ from the expected ones (< expected, > installed)"
fi

for program in ostrakit ostrakit-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
# The installed tool must start from its new place, not only exist.
version="$("$prefix/bin/ostrakit-cli" --version)"
[[ "$version" == "ostrakit-cli "* ]] || fail "bin/ostrakit-cli --version printed: $version"

entry="$prefix/$desktop"
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Exec)" = "ostrakit --in-data-folder %f" ] || fail "Exec line is '$(key Exec)'"
[ "$(key Name)" = "Ostrakit" ] || fail "Name is '$(key Name)'"
[ "$(key Terminal)" = "false" ] || fail "Terminal is '$(key Terminal)'"
# The entry's program, icon and file type are the ones installed beside it.
[ -x "$prefix/bin/$(key Exec | cut -d' ' -f1)" ] || fail "the Exec program is not in bin/"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(key Icon).svg" ] || fail "no icon named '$(key Icon)'"
categories="$(key Categories)"
[[ ";$categories" == *";Graphics;"* && ";$categories" == *";Science;"* ]] ||
  fail "Categories '$categories' lack Graphics or Science"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects $desktop"
fi

xmllint --noout "$prefix/$icon" || fail "$icon is not well-formed XML"
[ "$(xmllint --xpath 'local-name(/*)' "$prefix/$icon")" = svg ] || fail "$icon's root is not <svg>"

xmllint --noout "$prefix/$mime" || fail "$mime is not well-formed XML"
mime_value() { xmllint --xpath "string(//*[local-name()='$1']/@$2)" "$prefix/$mime"; }
declared="$(mime_value mime-type type)"
[ "$(mime_value glob pattern)" = "*.prproj" ] || fail "$mime has no *.prproj glob"
[ "$(mime_value root-XML localName)" = Project ] || fail "$mime does not name the <Project> root"
[ "$(key MimeType)" = "$declared;" ] ||
  fail "the entry's MimeType '$(key MimeType)' is not the type '$declared' that $mime declares"
echo "install tree: ok"
