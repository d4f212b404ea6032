#!/usr/bin/env bash
# Many boards, one dashboard, no hardware: N simulated boards (default 4), one
# keldro-cli recording them all to a mosquitto of its own on 127.0.0.1, and
# mosquitto_sub -v showing every message. Ctrl+C stops everything.
#   tools/fleet-demo.sh [N] [keldro-sim options...]
#   tools/fleet-demo.sh 8 --interval 200 --noise 0.1
# Boards are named sim1..simN in the topics: keldro/sim1/telemetry, .../text, .../status.
# KELDRO_BUILD_DIR names the build folder (default ./build); FLEET_PORT the broker's
# port (default: the first free one from 18830).
set -euo pipefail

count=${1:-4}
[ $# -gt 0 ] && shift
if ! [[ $count =~ ^[1-9][0-9]*$ ]]; then
    echo "fleet-demo.sh: N must be a number of boards above 0, not \"$count\"" >&2
    exit 2
fi
build=${KELDRO_BUILD_DIR:-./build}
for program in keldro-sim keldro-cli; do
    if [ ! -x "$build/$program" ]; then
        echo "fleet-demo.sh: no $build/$program; build first or set KELDRO_BUILD_DIR" >&2
        exit 1
    fi
done
if ! [ -x /usr/sbin/mosquitto ] || ! command -v mosquitto_sub >/dev/null; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "fleet-demo.sh: needs mosquitto and mosquitto_sub: sudo bash tools/packages.sh test" >&2
        exit 1
    fi
    bash "$(dirname "$0")/packages.sh" test
fi
mosquitto=/usr/sbin/mosquitto

work=$(mktemp -d)
pids=()
recorder=
cleanup() {
    # The recorder first, while the broker still takes its boards' "offline".
    if [ -n "$recorder" ]; then
        kill "$recorder" 2>/dev/null || true
        wait "$recorder" 2>/dev/null || true
        cat "$work/keldro-cli.log" >&2
    fi
    sleep 0.2
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Each in a session of its own, out of reach of the terminal's Ctrl+C: cleanup stops
# them in order, the recorder first, while the broker still takes its "offline".
background() { setsid "$@" & }

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=${FLEET_PORT:-18830}
if [ -z "${FLEET_PORT:-}" ]; then
    while listening "$port"; do port=$((port + 1)); done
fi
{
    echo "listener $port 127.0.0.1"
    echo "allow_anonymous true"
    # Run as root, mosquitto would drop to its own user, who cannot read $work.
    echo "user $(id -un)"
} >"$work/mosquitto.conf"
background "$mosquitto" -c "$work/mosquitto.conf" 2>"$work/mosquitto.log"
pids+=($!)
for _ in $(seq 50); do listening "$port" && break; sleep 0.1; done
if ! listening "$port"; then
    echo "fleet-demo.sh: mosquitto did not start:" >&2
    cat "$work/mosquitto.log" >&2
    exit 1
fi

# Each simulator prints its pseudo-terminal's path as its first line.
ports=()
ids=()
for i in $(seq "$count"); do
    background "$build/keldro-sim" --seed "$i" "$@" >"$work/sim$i.out" 2>/dev/null
    pids+=($!)
done
for i in $(seq "$count"); do
    while [ ! -s "$work/sim$i.out" ]; do sleep 0.05; done
    ports+=("$(head -n 1 "$work/sim$i.out")")
    ids+=(--board-id "sim$i")
done

url="mqtt://127.0.0.1:$port/keldro"
echo "fleet-demo.sh: $count boards -> keldro-cli -> $url; Ctrl+C stops" >&2
background mosquitto_sub -h 127.0.0.1 -p "$port" -v -t 'keldro/#'
pids+=($!)
sleep 0.3
background "$build/keldro-cli" record "${ports[@]}" "${ids[@]}" --mqtt "$url" \
    2>"$work/keldro-cli.log"
recorder=$!
wait "$recorder" || true
