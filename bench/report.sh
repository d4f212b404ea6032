#!/usr/bin/env bash
# What a station report of a day costs: a simulated 24 h recording at 10 frames/s
# (864,000 frames, a load switched between 5 A and 30 A every 10 s, a cell of high
# resistance, an alarm) made once with bench_makerecording, then keldro-cli report of
# it as PDF and as HTML, RUNS times each (3 by default): the wall time, the CPU time
# and the peak memory of each run, and the size of the reports. The goals: under 5 s
# and a PDF under 2 MB.
#   bench/report.sh [build folder] [recording folder]   (./build, /tmp/keldro-bench-report)
set -euo pipefail
build=${1:-build}
folder=${2:-/tmp/keldro-bench-report}
runs=${RUNS:-3}
for program in "$build/keldro-cli" "$build/keldro-report" "$build/bench/bench_makerecording"; do
    if [ ! -x "$program" ]; then
        echo "report.sh: no $program; build first (with -DKELDRO_BENCH=ON)" >&2
        exit 1
    fi
done
mkdir -p "$folder"
day=$folder/day.csv
if [ ! -f "$day" ]; then
    "$build/bench/bench_makerecording" "$day" 24 --rate 10 --load -5/-30/10 \
        --cell-resistance 7=5.5 --fault cell7=4300mV@3600-3660
fi
printf '[cells]\nmin_mV = 2800\nmax_mV = 4250\n[health]\nmax_resistance_mOhm = 4\n' \
    >"$folder/limits.toml"
echo "recording: $day, $(du -m "$day" | cut -f1) MB"
for format in pdf html; do
    for run in $(seq "$runs"); do
        out=$folder/day.$format
        # The report FAILs (status 4); time then says so on a line before its figures.
        /usr/bin/time -f "%e %U %S %M" -o "$folder/time" \
            "$build/keldro-cli" report "$day" --limits "$folder/limits.toml" -o "$out" \
            2>/dev/null || [ $? -eq 4 ]
        read -r wall user system kilobytes < <(tail -n 1 "$folder/time")
        echo "$format run $run: ${wall} s wall, $(echo "$user + $system" | bc) s CPU," \
            "$((kilobytes / 1024)) MB peak, report $(($(stat -c %s "$out") / 1024)) KiB"
    done
done
