# Sourced by the fleet benchmarks. Starts $boards keldro-sim boards that replay one
# board's run of $frames frames, one every $1 ms, and fills the array ports with their
# paths. A replay starts when its port is opened, so every frame a board sends has a
# listener and the frames sent are exactly boards x frames.
# Needs: sim, cli, work, boards, frames, and the array pids (for the cleanup).
start_replay_fleet() {
    local interval=$1
    # A short live recording, repeated to one board's run of rows.
    "$sim" --interval "$interval" --seed 1 >"$work/seed.path" 2>/dev/null &
    pids+=($!)
    until [ -s "$work/seed.path" ]; do sleep 0.05; done
    "$cli" record "$(head -1 "$work/seed.path")" --count 20 -o "$work/seed.csv" 2>/dev/null
    {
        head -1 "$work/seed.csv"
        for ((i = 0; i < frames; i += 20)); do tail -n +2 "$work/seed.csv"; done | head -n "$frames"
    } >"$work/fleet.csv"

    ports=()
    local b
    for ((b = 0; b < boards; b++)); do
        "$sim" --replay "$work/fleet.csv" --interval "$interval" >"$work/path.$b" 2>/dev/null &
        pids+=($!)
    done
    for ((b = 0; b < boards; b++)); do
        until [ -s "$work/path.$b" ]; do sleep 0.05; done
        ports+=("$(head -1 "$work/path.$b")")
    done
}
