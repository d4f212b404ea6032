#!/bin/bash
# Many boards, one dashboard, measured: BOARDS simulated boards at 10 frames/s each for
# SECONDS_TO_RUN, recorded by one keldro-cli that publishes them (--mqtt, no file) to a
# mosquitto of its own on 127.0.0.1, and one mosquitto_sub counting what arrives.
# Prints the frames sent against the telemetry messages received (and any twice),
# keldro-cli's CPU (percent of one core, from /proc/PID/stat, every thread) and the
# latency from a frame's arrival (its record's "time") to the subscriber's clock.
#
# Targets: every frame delivered, under 5 % of a core, latency p99 under 50 ms.
#   bench/mqtt_fleet.sh [BUILD_DIR]     (BOARDS=32 SECONDS_TO_RUN=60 by default)
#
# The boards replay a recording with --interval 100: a replay starts when its port is
# opened, so the frames sent are exactly BOARDS x SECONDS_TO_RUN x 10.
set -euo pipefail

build=${1:-build}
boards=${BOARDS:-32}
seconds=${SECONDS_TO_RUN:-60}
frames=$((seconds * 10))
cli=$build/keldro-cli
sim=$build/keldro-sim
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/replayfleet.sh"

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=18900
while listening "$port"; do port=$((port + 1)); done
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\nmax_queued_messages 0\n' \
    "$port" "$(id -un)" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" 2>"$work/mosquitto.log" &
pids+=($!)
until listening "$port"; do sleep 0.05; done

start_replay_fleet 100

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'bench/+/telemetry' -F '%U %p' >"$work/received" &
sub_pid=$!
pids+=($sub_pid)
sleep 0.5

"$cli" record "${ports[@]}" --mqtt "mqtt://127.0.0.1:$port/bench" \
    --count $((boards * frames)) --duration $((seconds + 30)) 2>"$work/summary.txt" &
cli_pid=$!
pids+=($cli_pid)

ticks_per_s=$(getconf CLK_TCK)
threads() { # prints "name:ticks" for each thread of the recorder
    local task
    for task in /proc/$cli_pid/task/*; do
        awk '{ sub(/^[0-9]+ \(/, ""); name = $0; sub(/\).*/, "", name); sub(/^[^)]*\) /, "")
               printf "%s:%d ", name, $12 + $13 }' "$task/stat" 2>/dev/null || true
    done
}
sample() { # prints "cpu_ticks rss_kB uptime_s" of the recorder
    local stat rss
    stat=$(cut -d' ' -f14,15 "/proc/$cli_pid/stat" 2>/dev/null) || return 1
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null) || return 1
    echo "$((${stat% *} + ${stat#* })) $rss $(cut -d' ' -f1 /proc/uptime)"
}
sleep 2
if ! first=$(sample); then
    echo "mqtt_fleet.sh: keldro-cli ended within 2 s:" >&2
    cat "$work/summary.txt" >&2
    exit 1
fi
read -r ticks0 rss0 t0 <<<"$first"
threads0=$(threads)
last="$ticks0 $rss0 $t0"
while now=$(sample); do
    last=$now
    threads1=$(threads)
    sleep 1
done
read -r ticks1 rss1 t1 <<<"$last"
wait "$cli_pid" && status=0 || status=$?
sleep 1
kill "$sub_pid" 2>/dev/null || true

dt=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
cpu=$(awk -v dt="$dt" -v ticks=$((ticks1 - ticks0)) -v hz="$ticks_per_s" \
    'BEGIN { printf "%.2f", 100 * ticks / hz / dt }')
# Latency: the subscriber's receive time (%U, seconds) minus the record's "time" (UTC,
# milliseconds), turned into epoch milliseconds with the days-from-civil formula.
awk '
function epoch_ms(t,    y, m, d, era, yoe, doy, doe) {
    y = substr(t, 1, 4) + 0; m = substr(t, 6, 2) + 0; d = substr(t, 9, 2) + 0
    y -= (m <= 2)
    era = int(y / 400); yoe = y - era * 400
    doy = int((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5) + d - 1
    doe = yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy
    return ((((era * 146097 + doe - 719468) * 24 + substr(t, 12, 2)) * 60 + substr(t, 15, 2)) \
            * 60 + substr(t, 18, 2)) * 1000 + substr(t, 21, 3)
}
{
    if (!match($0, /"time":"[^"]*"/)) next
    t = substr($0, RSTART + 8, 24)
    key = substr($0, index($0, " ") + 1)
    if (key in seen) { twice++; next }
    seen[key] = 1
    printf "%.3f\n", $1 * 1000 - epoch_ms(t)
}
END { print twice + 0 > "/dev/stderr" }' "$work/received" 2>"$work/twice" | sort -n >"$work/latency"
received=$(wc -l <"$work/received")
n=$(wc -l <"$work/latency")
pick() { sed -n "$(awk -v n="$n" -v q="$1" 'BEGIN { i = int(n * q + 0.999); print (i < 1 ? 1 : i) }')p" "$work/latency"; }

echo "boards:        $boards at 10 frames/s for ${seconds} s"
echo "frames sent:   $((boards * frames))"
echo "received:      $received telemetry messages, $n distinct, $(cat "$work/twice") twice (keldro-cli exit status $status)"
echo "CPU:           $cpu % of one core (over $dt s)"
echo "  by thread:   $(awk -v a="$threads0" -v b="$threads1" -v dt="$dt" -v hz="$ticks_per_s" 'BEGIN {
    n = split(a, x, " "); for (i = 1; i <= n; i++) { split(x[i], p, ":"); before[p[1]] += p[2] }
    n = split(b, x, " "); for (i = 1; i <= n; i++) { split(x[i], p, ":"); after[p[1]] += p[2] }
    for (name in after) printf "%s %.2f %%  ", name, 100 * (after[name] - before[name]) / hz / dt }')"
echo "RSS:           ${rss0} kB after 2 s, ${rss1} kB at the end"
echo "latency (ms):  p50 $(pick 0.50)  p99 $(pick 0.99)  max $(tail -1 "$work/latency")"
grep -E '^keldro-cli: |mqtt' "$work/summary.txt" | tail -2
