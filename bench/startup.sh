#!/usr/bin/env bash
# How long keldro takes to start, against an empty Qt window of the same size: from
# the shell starting the process until the window has been painted once and the event
# loop has nothing more to do (the probe in src/app/startupprobe.h). The two programs
# take turns, RUNS times each (10 by default) after one unmeasured start of each, on
# one X display: Xvfb when DISPLAY is not set. Prints every run, the medians and
# their ratio.
#   bench/startup.sh [build folder]        (./build by default)
set -euo pipefail
build=${1:-build}
runs=${RUNS:-10}
for program in "$build/keldro" "$build/bench/bench_emptywindow"; do
    if [ ! -x "$program" ]; then
        echo "startup.sh: no $program; build first" >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# Milliseconds from here to the probe's report.
start_ms() {
    local before=${EPOCHREALTIME/[.,]/} idle
    idle=$(KELDRO_STARTUP_PROBE=1 timeout 20 "$1" 2>/dev/null) || {
        echo "startup.sh: $1 did not report its first idle moment" >&2
        exit 1
    }
    echo "$(((idle - before) / 100))" | sed -E 's/(.)$/.\1/; s/^\./0./'
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

start_ms "$build/keldro" >/dev/null
start_ms "$build/bench/bench_emptywindow" >/dev/null
keldro=() empty=()
for ((i = 0; i < runs; i++)); do
    keldro+=("$(start_ms "$build/keldro")")
    empty+=("$(start_ms "$build/bench/bench_emptywindow")")
done
echo "keldro (ms):       ${keldro[*]}"
echo "empty window (ms): ${empty[*]}"
k=$(printf '%s\n' "${keldro[@]}" | median)
e=$(printf '%s\n' "${empty[@]}" | median)
awk -v k="$k" -v e="$e" 'BEGIN { printf "median keldro %.1f ms, empty window %.1f ms, ratio %.2f\n", k, e, k / e }'
