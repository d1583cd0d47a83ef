#!/bin/sh
# The main job against the simulated reader: starts the simulator on a
# pseudo-terminal, then drives it with the command-line tool.
set -eu
BUILD=${1:-build}
BIN="$BUILD/bin"
WORK=$(mktemp -d)
trap 'kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT INT TERM

mkfifo "$WORK/sim.out"
"$BIN/vantel-rfid-sim" --no-control --link "$WORK/reader" < /dev/null > "$WORK/sim.out" 2> "$WORK/sim.log" &
SIM_PID=$!
read -r PTY < "$WORK/sim.out"
echo "simulated reader on $PTY (link $WORK/reader)"
# Keep draining the simulator's output so it never blocks.
cat "$WORK/sim.out" > /dev/null &

run() {
    echo
    echo "\$ vantel-rfid $*"
    "$BIN/vantel-rfid" --device "$WORK/reader" "$@"
}

run reader info
run reader beep
run reader led 1 0
run raw 0301
echo
echo "demo finished"
