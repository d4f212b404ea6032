#!/usr/bin/env bash
# A board on another machine, on this one: keldro-sim behind a ser2net of its own on
# 127.0.0.1, and the keldro window on its URL. Pick the host:port entry in the port
# box and click Open/Close; the baud box sets the simulated line's rate. Closing the
# window stops everything.
#   tools/remote-demo.sh [tcp] [keldro-sim options...]
#   tools/remote-demo.sh --interval 200 --noise 0.1
# With tcp first the port is served as raw TCP (tcp://) instead of RFC 2217.
# KELDRO_BUILD_DIR names the build folder (default ./build); REMOTE_PORT the TCP
# port (default: the first free one from 17000).
set -euo pipefail

kind=rfc2217
if [ "${1:-}" = tcp ]; then
    kind=tcp
    shift
fi
build=${KELDRO_BUILD_DIR:-./build}
for program in keldro keldro-sim; do
    if [ ! -x "$build/$program" ]; then
        echo "remote-demo.sh: no $build/$program; build first or set KELDRO_BUILD_DIR" >&2
        exit 1
    fi
done
if ! command -v ser2net >/dev/null; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "remote-demo.sh: needs ser2net: sudo bash tools/packages.sh test" >&2
        exit 1
    fi
    bash "$(dirname "$0")/packages.sh" test
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$build/keldro-sim" "$@" >"$work/sim.out" 2>"$work/sim.log" &
pids+=($!)
while [ ! -s "$work/sim.out" ]; do
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.05
done
pty=$(head -n 1 "$work/sim.out")

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=${REMOTE_PORT:-17000}
if [ -z "${REMOTE_PORT:-}" ]; then
    while listening "$port"; do port=$((port + 1)); done
fi
accepter=$([ "$kind" = tcp ] && echo tcp || echo "telnet(rfc2217),tcp")
cat >"$work/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &board
  accepter: $accepter,127.0.0.1,$port
  connector: serialdev,$pty,115200n81,local
  options:
    # Hand each byte on at once instead of packing them for up to 20 ms.
    chardelay: false
YAML
# -n: in the foreground, stopped with the demo; -u: no UUCP lock files.
ser2net -n -u -c "$work/ser2net.yaml" 2>"$work/ser2net.log" &
pids+=($!)
for _ in $(seq 50); do ss -ltn | grep -q "127.0.0.1:$port " && break; sleep 0.1; done

url="$kind://127.0.0.1:$port"
echo "remote-demo.sh: keldro-sim on $pty, served by ser2net as $url" >&2
echo "remote-demo.sh: also try: $build/keldro-cli record $url --count 5" >&2
"$build/keldro" --add-port "$url" || true
