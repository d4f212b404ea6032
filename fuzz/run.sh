#!/bin/sh
# Builds the libFuzzer targets in their own build folder and runs each for its share of a
# bounded time (seconds, default 60, split evenly between fuzz_chunk and fuzz_record),
# each on a scratch copy of its seed corpus, so the checked-in corpus only ever holds
# the hand-made seeds.
# Usage: fuzz/run.sh [seconds]
set -eu

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${KELDRO_FUZZ_BUILD:-$source_dir/build-fuzz}
targets="chunk record"
share=$((seconds / 2))
[ "$share" -ge 1 ] || share=1

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DKELDRO_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target fuzz_chunk fuzz_record -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in $targets; do
    mkdir -p "$work/$target"
    cp -r "$here/corpus/$target" "$work/$target/corpus"
    # -error_exitcode makes any crash, leak or sanitizer report a failure of this script.
    status=0
    (cd "$work/$target" && "$build_dir/fuzz/fuzz_$target" -max_total_time="$share" \
        -error_exitcode=77 -print_final_stats=1 corpus) >"$work/$target/log" 2>&1 || status=$?

    grep -E '^stat::number_of_executed_units' "$work/$target/log" |
        sed "s/^stat::number_of_executed_units: */fuzz_$target executions: /" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/$target/log"
        # Keep the reproducer: rerun it with  build-fuzz/fuzz/fuzz_TARGET FILE
        cp "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* . \
            2>/dev/null || true
        echo "fuzz_$target found a problem (exit $status); reproducers copied to $(pwd)" >&2
        exit "$status"
    fi
done
