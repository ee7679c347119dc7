#!/usr/bin/env bash
# Runs a command while the controller simulator serves a Wine COM port.
# Usage: with-simulator.sh COMn [simulator options...] -- command [args...]
# The command finds the simulator's control file and frame log in TAKTOR_SIM_CONTROL and
# TAKTOR_SIM_LOG (Unix paths). The simulator comes from $TAKTOR_SIMULATOR, by default the native
# build's tools/simulator/taktor-sim.
set -u
. "$(dirname "$0")/wine-env.sh"

if [ $# -lt 3 ]; then
    echo "usage: $0 COMn [simulator options...] -- command [args...]" >&2
    exit 2
fi
port=$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]')
shift
case "$port" in
    com[1-9] | com[1-9][0-9] | com[1-9][0-9][0-9]) ;;
    *)
        echo "$0: not a COM port name: $port" >&2
        exit 2
        ;;
esac
sim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    sim_args+=("$1")
    shift
done
if [ $# -lt 2 ]; then
    echo "$0: no command after --" >&2
    exit 2
fi
shift

simulator=${TAKTOR_SIMULATOR:-$taktor_repo/build/native/tools/simulator/taktor-sim}
if [ ! -x "$simulator" ]; then
    echo "$0: simulator not found: $simulator (build the native tree first)" >&2
    exit 2
fi

taktor_ensure_prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-sim.XXXXXX")
control=$work/control
log=$work/frames.log
ready=$work/ready
: >"$control"

"$simulator" --pty-link "$WINEPREFIX/dosdevices/$port" --control-file "$control" --log "$log" \
    --ready-file "$ready" ${sim_args[@]+"${sim_args[@]}"} &
sim_pid=$!

stop_simulator() {
    if [ -n "${sim_pid:-}" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
        sim_pid=
    fi
}
trap 'stop_simulator; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

for _ in $(seq 1 200); do
    [ -e "$ready" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "$0: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -e "$ready" ]; then
    echo "$0: the simulator is not ready after 10 s" >&2
    exit 1
fi

export TAKTOR_SIM_CONTROL=$control TAKTOR_SIM_LOG=$log
"$@"
rc=$?
stop_simulator
if [ "$rc" != 0 ] && [ -s "$log" ]; then
    echo "--- simulator log ---" >&2
    cat "$log" >&2
fi
exit $rc
