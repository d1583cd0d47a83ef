#!/bin/sh
# The main job against the simulated reader: starts the simulator on a
# pseudo-terminal, then drives it with the command-line tool: the reader's
# own commands, then a MIFARE Classic card placed in its field, which the
# Java example program reads, then an Ultralight C, an ISO 14443-4 CPU card
# and the PRC identity card; last, a card read over the simulated audio
# line.
set -eu
BUILD=${1:-build}
BIN="$BUILD/bin"
WORK=$(mktemp -d)
SIM_PID=
trap 'exec 3>&- 2>/dev/null || true; [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT INT TERM

# The simulator reads control commands on its standard input: a fifo held
# open on descriptor 3 carries them.
mkfifo "$WORK/sim.in" "$WORK/sim.out"
"$BIN/vantel-rfid-sim" --link "$WORK/reader" < "$WORK/sim.in" > "$WORK/sim.out" 2> "$WORK/sim.log" &
SIM_PID=$!
exec 3> "$WORK/sim.in"
# The first line is the device path; the rest (control answers) is kept.
{
    read -r PTY
    echo "$PTY" > "$WORK/sim.path"
    cat > "$WORK/sim.answers"
} < "$WORK/sim.out" &
while [ ! -s "$WORK/sim.path" ]; do sleep 0.05; done
echo "simulated reader on $(cat "$WORK/sim.path") (link $WORK/reader)"

# Sends one control line and prints its answer (waits up to 2 s).
control() {
    before=$(wc -l < "$WORK/sim.answers" 2>/dev/null || echo 0)
    echo "$*" >&3
    tries=0
    while [ "$(wc -l < "$WORK/sim.answers" 2>/dev/null || echo 0)" -le "$before" ] && [ $tries -lt 40 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
    tail -n 1 "$WORK/sim.answers"
}

# Runs the tool against the simulated reader.
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
echo "simulator: $(control card place mifare_s50 DEADBEEF)  (card place mifare_s50 DEADBEEF)"
KEY=FFFFFFFFFFFF
run card
run mifare write 4 48656C6C6F2C2063617264210000FF7F --key $KEY
run mifare read 4 --key $KEY
run mifare dump "$WORK/card.json" --key $KEY
run mifare convert "$WORK/card.json" "$WORK/card.mfd"

# The same card from Java: examples/java/ReadCard.java through the host
# classes (build/java/vantel-rfid.jar) and the library's natives.
echo
echo "\$ java ReadCard $WORK/reader 4"
status=0
java -Djava.library.path="$BUILD/lib" \
     -cp "$BUILD/java/vantel-rfid.jar:$BUILD/java/vantel-rfid-examples.jar" \
     ReadCard "$WORK/reader" 4 2> "$WORK/java.err" || status=$?
grep -v 'JNI_LIBLOG' "$WORK/java.err" >&2 || true
[ $status -eq 0 ] || exit $status

echo
echo "simulator: $(control card place mifare_ulc)  (card place mifare_ulc)"
run card
run ultralight write 4 56524442 --key 49454D4B41455242214E4143554F5946
run ultralight dump "$WORK/ulc.json"

echo
echo "simulator: $(control card place cpu_card)  (card place cpu_card)"
run apdu 00A4040C08F056525445535401 00B0810008 00B2021400

echo
echo "simulator: $(control card place pboc_card)  (card place pboc_card)"
run bank info
echo
echo "(the issuer's answer on standard input: finish 8A023030, response code \"00\")"
echo "finish 8A023030" | run bank purchase 1.00

echo
echo "simulator: $(control card place id_card)  (card place id_card)"
run card
run idcard read --photo "$WORK/photo.bin" --fingerprint "$WORK/finger.bin"

# The same reader over the audio link: the tool runs a simulated reader on
# the library's virtual line (the headset jack's samples, modulated and
# demodulated both ways) and reads a card through it.
echo
echo "\$ vantel-rfid --sim --audio --sim-control \"card place mifare_s50 C0FFEE01\" mifare read 1 --key $KEY"
status=0
VANTEL_RFID_AUDIO=line "$BIN/vantel-rfid" --sim --audio --sim-control "card place mifare_s50 C0FFEE01" \
    mifare read 1 --key $KEY 2> "$WORK/tool.err" || status=$?
grep -v '^JNI_LIBLOG' "$WORK/tool.err" >&2 || true
[ $status -eq 0 ]
echo
echo "demo finished"
