#!/bin/sh
# The tool against the board simulator, no hardware needed: keldro-sim on a new
# pseudo-terminal, keldro with that terminal in its port list. Pick it, press
# Open. Arguments go to keldro-sim, for example
#   tools/sim/demo.sh --layout 1 --interval 500 --split --noise 0.2
# The simulator's report of the commands it receives goes to this terminal.
# KELDRO_BUILD_DIR names the build folder (default ./build).
set -eu

build=${KELDRO_BUILD_DIR:-./build}
for program in keldro-sim keldro; do
    if [ ! -x "$build/$program" ]; then
        echo "demo.sh: no $build/$program; build first or set KELDRO_BUILD_DIR" >&2
        exit 1
    fi
done

first_line=$(mktemp)
"$build/keldro-sim" "$@" >"$first_line" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -f "$first_line"' EXIT
trap 'exit 130' INT TERM

# The simulator prints the terminal's path as soon as the pair exists.
while [ "$(wc -l <"$first_line")" -lt 1 ]; do
    if ! kill -0 "$sim" 2>/dev/null; then
        echo "demo.sh: keldro-sim did not start" >&2
        exit 1
    fi
    sleep 0.1
done
port=$(head -n 1 "$first_line")
echo "demo.sh: board simulator on $port" >&2

status=0
"$build/keldro" --add-port "$port" || status=$?
exit "$status"
