#!/usr/bin/env bash
# The receive path under a stopped process, again and again: each round stops the
# receiving process with SIGSTOP for 500 ms while the board sends a frame every
# 50 ms, continues it, and checks that every frame arrived, in order.
#   bench/stall_soak.sh [rounds] [build folder]     (100 rounds, build/ by default)
# Prints the rounds that lost a frame and a closing line "N passed, N failed".
set -u
rounds=${1:-100}
build=${2:-build}
export QT_QPA_PLATFORM=offscreen
cases=("$build/tests/tst_link stalledWindowLosesNoFrame")
[ -x "$build/tests/tst_cli" ] && cases+=("$build/tests/tst_cli stoppedProcess_everyFrameARow")
passed=0 failed=0
for ((i = 1; i <= rounds; i++)); do
    for c in "${cases[@]}"; do
        if $c >/tmp/stall_soak.$$ 2>&1; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "round $i: $c lost a frame:"
            grep -E 'FAIL|Actual|Expected' /tmp/stall_soak.$$ | head -n 5
        fi
    done
done
rm -f /tmp/stall_soak.$$
echo "stall soak: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
