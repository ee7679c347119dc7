#!/usr/bin/env bash
# Runs the end-to-end driver under Wine against Taktor.exe, with the simulated controller on a
# pseudo-terminal as COM5 and COM8 a port that cannot be opened (a link to no device).
# Usage: run-e2e.sh <taktor_e2e.exe> <Taktor.exe> <fake_kanalyst.exe> [driver arguments...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine-env.sh"
driver=$1 program=$2 tool=$3
shift 3

wine_path() { local p; p=$(realpath "$1"); p=${p//\//\\}; echo "Z:$p"; }

started_display=0
if [ -z "${DISPLAY:-}" ]; then
    taktor_ensure_display || exit 1
    started_display=1
fi
taktor_ensure_prefix
ln -sfn /nonexistent/taktor-no-device "$WINEPREFIX/dosdevices/com8"

export TAKTOR_EXE=$(wine_path "$program")
export TAKTOR_FAKE_TOOL=$(wine_path "$tool")
"$here/../with-simulator.sh" COM5 -- "$TAKTOR_WINE" "$driver" "$@"
rc=$?
if [ "$started_display" = 1 ]; then
    wineserver -k 2>/dev/null
    taktor_stop_display
fi
exit $rc
