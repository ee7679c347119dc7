#!/usr/bin/env bash
# Prints figures for Taktor.exe under Wine: start to window, and press to result message of a
# write confirmed by the simulated controller paced at 9600 baud. Needs the native and win64
# builds (scripts/test.sh makes both).
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/win/wine-env.sh
taktor_ensure_display
trap 'wineserver -k 2>/dev/null || true; taktor_stop_display' EXIT
taktor_ensure_prefix
wine_path() { local p; p=$(realpath "$1"); p=${p//\//\\}; echo "Z:$p"; }
export TAKTOR_EXE=$(wine_path build/win64/app/Taktor.exe)
export TAKTOR_FAKE_TOOL=$(wine_path build/win64/tests/win/e2e/fake_kanalyst.exe)
tests/win/with-simulator.sh COM5 --paced -- "$TAKTOR_WINE" build/win64/tests/win/e2e/taktor_wine_bench.exe
