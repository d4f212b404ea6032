#!/bin/sh
# Builds the libFuzzer targets in their own build folder, replays every input of the
# checked-in corpus (the hand-made seeds and each crash or slow input found so far),
# then runs each target for its share of a bounded time (seconds, default 60, split
# evenly between fuzz_chunk and fuzz_record) on a scratch copy of its corpus, so that
# the checked-in corpus only grows by hand.
# Usage: fuzz/run.sh [seconds]
set -eu

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${KELDRO_FUZZ_BUILD:-$source_dir/build-fuzz}
targets="chunk record"
share=$((seconds / 2))
[ "$share" -ge 1 ] || share=1

launcher=
command -v ccache >/dev/null && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DKELDRO_FUZZ=ON \
    $launcher >/dev/null
cmake --build "$build_dir" --target fuzz_chunk fuzz_record -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A crash, leak or sanitizer report fails the script; its reproducer goes into the
# checked-in corpus, to be committed with the fix. Rerun it with
#   build-fuzz/fuzz/fuzz_TARGET fuzz/corpus/TARGET/crash-...
failed() {
    target=$1 status=$2
    tail -n 60 "$work/$target/log"
    for found in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
        "$work/$target"/slow-unit-*; do
        [ -f "$found" ] && cp "$found" "$here/corpus/$target/"
    done
    echo "fuzz_$target found a problem (exit $status); reproducers copied to fuzz/corpus/$target" >&2
    exit "$status"
}

for target in $targets; do
    binary=$build_dir/fuzz/fuzz_$target
    mkdir -p "$work/$target"
    # Every input found before, each on its own: what once crashed or crawled is tried
    # first, and its time shows.
    status=0
    (cd "$work/$target" && "$binary" -error_exitcode=77 "$here/corpus/$target"/*) \
        >"$work/$target/log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || failed "$target" "$status"
    slowest=$(sed -n 's/^Executed .* in \([0-9]*\) ms$/\1/p' "$work/$target/log" | sort -n | tail -n 1)
    echo "fuzz_$target replayed $(ls "$here/corpus/$target" | wc -l) inputs, slowest ${slowest:-0} ms"

    cp -r "$here/corpus/$target" "$work/$target/corpus"
    # -error_exitcode makes any crash, leak or sanitizer report a failure of this script;
    # an input that takes over a second (-report_slow_units) is kept like a crash.
    status=0
    (cd "$work/$target" && "$binary" -max_total_time="$share" -error_exitcode=77 \
        -report_slow_units=1 -print_final_stats=1 corpus) >"$work/$target/log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || failed "$target" "$status"
    sed -n 's/^stat::number_of_executed_units: *//p; s/^stat::average_exec_per_sec: *//p' \
        "$work/$target/log" | paste -sd' ' |
        awk -v t="fuzz_$target" '{ printf "%s executions: %d (%d a second)\n", t, $1, $2 }'
    for slow in "$work/$target"/slow-unit-*; do
        [ -f "$slow" ] || continue
        cp "$slow" "$here/corpus/$target/"
        echo "fuzz_$target kept a slow input: fuzz/corpus/$target/$(basename "$slow")" >&2
    done
done
