#!/usr/bin/env bash
# Installs what is missing, builds keldro, runs a bounded fuzz run and every test.
#   FUZZ_SECONDS=60 by default; BUILD_DIR=build by default.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/packages.sh test
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
