#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the configurator under Wine against the simulated
# controller: the simulator serves COM5, and a stand-in for the port-listing tool names COM5 as
# the CH340 cable. With a display the window opens there; press "Запись в EEPROM" and the write
# ends with "Выполнено". Without a display it runs on Xvfb, presses the button itself and leaves
# screenshots in build/demo/: the window before the press (window.png) and the result.
# Usage: demo.sh [--i686]   (--i686: the 32-bit program instead of the x86_64 one)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

preset=win64
case "${1:-}" in
    "") ;;
    --i686) preset=win32 ;;
    *)
        echo "usage: $0 [--i686]" >&2
        exit 2
        ;;
esac

scripts/setup-debian.sh
. tests/win/wine-env.sh
if [ "$preset" = win32 ] && ! taktor_can_run_i686 "the i686 demo"; then
    exit 1
fi
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target taktor-sim
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs" --target Taktor fake_kanalyst demo_press
win=build/$preset

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$win/app/Taktor.exe" "$demo/"
cp "$win/tests/win/e2e/fake_kanalyst.exe" "$demo/Kanalyst.exe"
printf 'COMMUNICATIONS PORT (COM1)\nUSB-SERIAL CH340 (COM5)\n' >"$demo/fake_list.txt"

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    taktor_ensure_display
fi
taktor_ensure_prefix

build/native/tools/simulator/taktor-sim --pty-link "$WINEPREFIX/dosdevices/com5" --paced \
    --log "$demo/simulator.log" --ready-file "$demo/simulator.ready" &
simulator=$!
cleanup() {
    kill "$simulator" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    taktor_stop_display
}
trap cleanup EXIT
while [ ! -e "$demo/simulator.ready" ]; do sleep 0.05; done

echo "The simulated controller serves COM5; its log is $demo/simulator.log."
if [ "$headless" = 0 ]; then
    echo "Starting the configurator. Press \"Запись в EEPROM\"; close the window to end the demo."
    (cd "$demo" && "$TAKTOR_WINE" Taktor.exe)
else
    (cd "$demo" && "$TAKTOR_WINE" Taktor.exe) &
    # The window alone, cut from the desktop around it (the picture in docs/ comes from here).
    if "$TAKTOR_WINE" "$win/tests/win/e2e/demo_press.exe" --wait; then
        sleep 1
        import -window root "$demo/desktop.png"
        convert "$demo/desktop.png" -trim +repage "$demo/window.png"
        echo "Screenshot of the window: $demo/window.png"
    fi
    "$TAKTOR_WINE" "$win/tests/win/e2e/demo_press.exe" || true
    sleep 1
    import -window root "$demo/screenshot.png"
    echo "Screenshot of the result: $demo/screenshot.png"
fi
echo "--- simulator log ---"
cat "$demo/simulator.log"
