#!/bin/sh
# Installs the build into a scratch root as the package lays it out (/usr), then
# checks what a user and the desktop get: programs that run from there, a desktop
# entry and metainfo that validate and point at what is installed, manual pages.
# Usage: install_check.sh BUILD_DIR
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
app=io.github.keldro.Keldro
fail() { echo "install_check: $*" >&2; exit 1; }

version=$("$usr/bin/keldro" --version) || fail "installed keldro --version failed"
[ "$version" = "keldro $(sed -n 's/^project(keldro VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")" ] ||
    fail "installed keldro --version says '$version'"
for program in keldro-cli keldro-sim; do
    "$usr/bin/$program" --help >/dev/null || fail "installed $program --help failed"
done
# keldro-cli hands report over to the keldro-report installed beside it.
"$usr/bin/keldro-cli" report --help | grep -q '^Usage: keldro-cli report' ||
    fail "installed keldro-cli report --help does not reach keldro-report"

desktop=$usr/share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "$desktop does not validate"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$usr/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon named '$icon'"
appstreamcli validate --no-net "$usr/share/metainfo/$app.metainfo.xml" >/dev/null ||
    fail "the metainfo does not validate"

for page in keldro keldro-cli keldro-report keldro-sim; do
    [ -f "$usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page.1.gz"
done
