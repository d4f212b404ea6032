#!/bin/bash
# keldro-cli send through a real ser2net to keldro-sim on a pseudo-terminal, COUNT
# times over rfc2217:// and COUNT times over tcp://, one process each time: how many
# commands the board took, and how many sends said so with exit status 0. keldro-sim
# logs each command it takes ("soc calibration") on standard error.
#
# Target: COUNT of COUNT over both kinds, and as many exit statuses 0.
#   bench/remote_send.sh [BUILD_DIR]  (COUNT=100 PORT_BASE=17500)
set -euo pipefail

build=${1:-build}
count=${COUNT:-100}
base=${PORT_BASE:-17500}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

"$build/keldro-sim" --interval 1000 >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
while [ ! -s "$work/sim.out" ]; do sleep 0.05; done
pty=$(head -n1 "$work/sim.out")

cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$base
  connector: serialdev,$pty,115200n81,local
connection: &tcp
  accepter: tcp,127.0.0.1,$((base + 1))
  connector: serialdev,$pty,115200n81,local
EOF
ser2net -n -u -c "$work/ser2net.yaml" 2>/dev/null &
pids+=($!)
until ss -ltn "sport = :$((base + 1))" | grep -q LISTEN; do sleep 0.05; done

taken() { grep -c "soc calibration" "$work/sim.err" || true; }

for kind in rfc2217 tcp; do
    port=$([ "$kind" = rfc2217 ] && echo "$base" || echo $((base + 1)))
    before=$(taken)
    ok=0
    start=$(date +%s%N)
    for ((i = 0; i < count; i++)); do
        if "$build/keldro-cli" send "$kind://127.0.0.1:$port" calibrate-soc --yes \
            2>>"$work/cli.err"; then
            ok=$((ok + 1))
        fi
    done
    ms=$((($(date +%s%N) - start) / 1000000 / count))
    # A command that went out with the last send is still read by the simulator.
    sleep 0.5
    echo "$kind: $(($(taken) - before)) of $count commands reached the board," \
        "$ok of $count sends exited 0, $ms ms a send"
done
