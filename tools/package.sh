#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks it with lintian: it fails
# on any error and on any warning but the one the README's "Install" section names.
#   tools/package.sh [build folder]     (./build, the Qt 5 build, by default)
set -euo pipefail
build=${1:-build}
rm -f "$build"/keldro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/keldro_*.deb)
echo "package: $deb"
# initial-upload-closes-no-bugs: a first Debian upload closes its "intent to
# package" bug; this package goes to no Debian archive, so there is none to close.
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb"
echo "lintian: no error, no warning"
