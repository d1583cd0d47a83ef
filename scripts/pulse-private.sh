#!/bin/sh
# A private PulseAudio server for the audio link's tests and demo: no sound
# hardware, no session bus, two sinks on the system clock that form a
# duplex line ("down": host to reader, "up": reader to host; each records
# the other's monitor).
#
#   scripts/pulse-private.sh start DIR [PID]
#                                        start a server in DIR (created), print
#                                        the environment a client needs; with
#                                        PID, stop it when that process is gone
#   scripts/pulse-private.sh stop DIR    stop it and remove DIR
#   scripts/pulse-private.sh run CMD...  start one, run CMD with the client
#                                        environment, stop it; CMD's status
#
# Samples travel over the socket: memfd pools do not work in this kind of
# container, and POSIX shared-memory pools make every client map and unmap
# a segment per block it reads (several percent of a core for one stream).
#
# Client environment: PULSE_SERVER, PULSE_RUNTIME_PATH, PULSE_STATE_PATH,
# XDG_RUNTIME_DIR and HOME point into DIR; PULSE_SINK=down and
# PULSE_SOURCE=up.monitor are the host's side of the line.
set -eu

client_env() {
    dir=$1
    echo "PULSE_SERVER=unix:$dir/native"
    echo "PULSE_RUNTIME_PATH=$dir"
    echo "PULSE_STATE_PATH=$dir"
    echo "XDG_RUNTIME_DIR=$dir"
    echo "HOME=$dir/home"
    echo "PULSE_SINK=down"
    echo "PULSE_SOURCE=up.monitor"
}

start() {
    dir=$1
    mkdir -p "$dir/home"
    chmod 700 "$dir"
    (
        export PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir" XDG_RUNTIME_DIR="$dir" HOME="$dir/home"
        exec pulseaudio -n --daemonize=no --use-pid-file=no --system=no --exit-idle-time=-1 \
            --disallow-exit --realtime=no --high-priority=no --enable-memfd=no --disable-shm=yes \
            --log-target="file:$dir/pa.log" \
            -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
            -L "module-pipe-sink file=$dir/down sink_name=down rate=44100 format=s16le channels=2 use_system_clock_for_timing=yes" \
            -L "module-pipe-sink file=$dir/up sink_name=up rate=44100 format=s16le channels=2 use_system_clock_for_timing=yes"
    ) </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/pid"
    if [ -n "${2:-}" ]; then watch_owner "$dir" "$2"; fi
    tries=0
    until PULSE_SERVER="unix:$dir/native" HOME="$dir/home" pactl info >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
            echo "pulse-private: the server did not start (see $dir/pa.log)" >&2
            return 1
        fi
        sleep 0.1
    done
    client_env "$dir"
}

# A test killed on a time-out never calls stop: a watcher stops the server
# once the process that started it is gone.
watch_owner() {
    dir=$1
    owner=$2
    server=$(cat "$dir/pid")
    (
        while kill -0 "$owner" 2>/dev/null && kill -0 "$server" 2>/dev/null; do sleep 1; done
        stop_server "$server"
        rm -rf "$dir"
    ) </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/watcher"
}

# The server was started by this script's shell, not by the caller: wait
# for it to be gone, and kill it if it does not go.
stop_server() {
    pid=$1
    kill -TERM "$pid" 2>/dev/null || return 0
    tries=0
    while kill -0 "$pid" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 50 ]; then
            kill -KILL "$pid" 2>/dev/null || true
            return 0
        fi
        sleep 0.1
    done
}

stop() {
    dir=$1
    if [ -f "$dir/watcher" ]; then kill -TERM "$(cat "$dir/watcher")" 2>/dev/null || true; fi
    if [ -f "$dir/pid" ]; then stop_server "$(cat "$dir/pid")"; fi
    rm -rf "$dir"
}

case ${1:-} in
start) start "$2" "${3:-}" ;;
stop) stop "$2" ;;
run)
    shift
    dir=$(mktemp -d)
    trap 'stop "$dir"' EXIT INT TERM
    env_lines=$(start "$dir" $$)
    status=0
    env $env_lines "$@" || status=$?
    exit $status
    ;;
*)
    echo "usage: $0 start DIR [PID] | stop DIR | run CMD..." >&2
    exit 2
    ;;
esac
