#!/usr/bin/env bash
# Runs a Windows program under Wine: the emulator CTest uses for every cross-built test.
# Usage: wine-run.sh program.exe [arguments...]
set -u
. "$(dirname "$0")/wine-env.sh"
started_display=0
if [ -z "${DISPLAY:-}" ]; then
    taktor_ensure_display || exit 1
    started_display=1
fi
taktor_ensure_prefix
"$TAKTOR_WINE" "$@"
rc=$?
if [ "$started_display" = 1 ]; then
    wineserver -k 2>/dev/null
    taktor_stop_display
fi
exit $rc
