#!/usr/bin/env bash
# Installs what is missing, builds keldro with Qt 5 and with Qt 6, runs a bounded fuzz
# run, every test of both builds, and builds and checks the Debian package (Qt 5).
#   FUZZ_SECONDS=60 by default, shared by the two fuzz targets; BUILD_DIR=build and
#   BUILD_DIR_QT6=build-qt6 by default.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/packages.sh test
build=${BUILD_DIR:-build}
build6=${BUILD_DIR_QT6:-build-qt6}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
cmake -S . -B "$build6" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELDRO_QT=6
cmake --build "$build6" -j"$(nproc)"
# The decoder and the record reader are the same code on both: one fuzz run covers
# them, the time shared between the two targets.
bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
for dir in "$build" "$build6"; do
    echo "== tests of $dir"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300)
done
bash tools/package.sh "$build"
