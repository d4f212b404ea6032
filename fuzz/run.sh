#!/bin/sh
# Builds the libFuzzer targets in their own build folder and runs fuzz_chunk for a
# bounded time (seconds, default 60) on a scratch copy of the seed corpus, so the
# checked-in corpus only ever holds the hand-made seeds.
# Usage: fuzz/run.sh [seconds]
set -eu

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${KELDRO_FUZZ_BUILD:-$source_dir/build-fuzz}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DKELDRO_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target fuzz_chunk -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$here/corpus" "$work/corpus"

# -error_exitcode makes any crash, leak or sanitizer report a failure of this script.
status=0
(cd "$work" && "$build_dir/fuzz/fuzz_chunk" -max_total_time="$seconds" -error_exitcode=77 \
    -print_final_stats=1 corpus) >"$work/log" 2>&1 || status=$?

grep -E '^stat::number_of_executed_units' "$work/log" |
    sed 's/^stat::number_of_executed_units: */executions: /' || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    # Keep the reproducer: rerun it with  build-fuzz/fuzz/fuzz_chunk FILE
    cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* . 2>/dev/null || true
    echo "fuzz_chunk found a problem (exit $status); reproducers copied to $(pwd)" >&2
    exit "$status"
fi
