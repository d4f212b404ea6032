#!/bin/bash
# cli_fleet.sh with the boards on another machine: BOARDS simulated boards at 20
# frames/s each behind one ser2net on 127.0.0.1 (rfc2217://, or tcp:// with
# KIND=tcp), recorded by one keldro-cli for SECONDS. Prints the rows against the
# frames the boards sent, keldro-cli's CPU (percent of one core, from /proc/PID/stat)
# and its resident memory at the start and at the end. ser2net's own CPU is not
# keldro's and is left out.
#
# Targets: rows == frames, under 5 % of a core, resident memory flat.
#   bench/remote_fleet.sh [BUILD_DIR]  (BOARDS=16 SECONDS_TO_RUN=60 KIND=rfc2217)
#
# The boards replay a recording with --interval 50: a replay starts when its port is
# opened, so every frame a board sends has a listener and the count is exact.
set -euo pipefail

build=${1:-build}
boards=${BOARDS:-16}
seconds=${SECONDS_TO_RUN:-60}
frames=$((seconds * 20))
cli=$build/keldro-cli
sim=$build/keldro-sim
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/replayfleet.sh"


start_replay_fleet 50

# One ser2net serves every board, each on a port of its own from 17400 on.
kind=${KIND:-rfc2217}
accepter=$([ "$kind" = tcp ] && echo tcp || echo "telnet(rfc2217),tcp")
{
    echo "%YAML 1.1"
    echo "---"
    for ((b = 0; b < boards; b++)); do
        echo "connection: &board$b"
        echo "  accepter: $accepter,127.0.0.1,$((17400 + b))"
        echo "  connector: serialdev,${ports[$b]},115200n81,local"
    done
} >"$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" 2>/dev/null &
pids+=($!)
urls=()
for ((b = 0; b < boards; b++)); do
    urls+=("$kind://127.0.0.1:$((17400 + b))")
    until ss -ltn | grep -q "127.0.0.1:$((17400 + b)) "; do sleep 0.05; done
done

"$cli" record "${urls[@]}" --count $((boards * frames)) --duration $((seconds + 30)) \
    -o "$work/fleet-out.csv" 2>"$work/summary.txt" &
cli_pid=$!
pids+=($cli_pid)

ticks_per_s=$(getconf CLK_TCK)
sample() { # prints "cpu_ticks rss_kB uptime_s" of the recorder
    local stat rss
    stat=$(cut -d' ' -f14,15 "/proc/$cli_pid/stat" 2>/dev/null) || return 1
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null) || return 1
    echo "$((${stat% *} + ${stat#* })) $rss $(cut -d' ' -f1 /proc/uptime)"
}
sleep 2
read -r ticks0 rss0 t0 < <(sample)
last="$ticks0 $rss0 $t0"
while now=$(sample); do
    last=$now
    sleep 1
done
read -r ticks1 rss1 t1 <<<"$last"
wait "$cli_pid" && status=0 || status=$?

rows=$(($(wc -l <"$work/fleet-out.csv") - 1))
dt=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
cpu=$(awk -v dt="$dt" -v ticks=$((ticks1 - ticks0)) -v hz="$ticks_per_s" \
    'BEGIN { printf "%.2f", 100 * ticks / hz / dt }')
echo "boards:       $boards at 20 frames/s for ${seconds} s, through ser2net ($kind://)"
echo "frames sent:  $((boards * frames))"
echo "rows written: $rows (exit status $status)"
echo "CPU:          $cpu % of one core (over $dt s)"
echo "RSS:          ${rss0} kB after 2 s, ${rss1} kB at the end"
head -1 "$work/summary.txt"
