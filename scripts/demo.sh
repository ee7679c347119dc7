#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the configurator under Wine against the simulated
# controller: the simulator serves COM5, and a stand-in for the port-listing tool names COM5 as
# the CH340 cable. With a display the window opens there; press "Запись в EEPROM" and the write
# ends with "Выполнено". Without a display it runs on Xvfb, presses the button itself and leaves
# screenshots in build/demo/: the window before the press (window.png) and the result.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup-debian.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target taktor-sim
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs" --target Taktor fake_kanalyst demo_press

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build/win64/app/Taktor.exe "$demo/"
cp build/win64/tests/win/e2e/fake_kanalyst.exe "$demo/Kanalyst.exe"
printf 'COMMUNICATIONS PORT (COM1)\nUSB-SERIAL CH340 (COM5)\n' >"$demo/fake_list.txt"

. tests/win/wine-env.sh
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
    (cd "$demo" && wine Taktor.exe)
else
    (cd "$demo" && wine Taktor.exe) &
    # The window alone, cut from the desktop around it (the picture in docs/ comes from here).
    if wine build/win64/tests/win/e2e/demo_press.exe --wait; then
        sleep 1
        import -window root "$demo/desktop.png"
        convert "$demo/desktop.png" -trim +repage "$demo/window.png"
        echo "Screenshot of the window: $demo/window.png"
    fi
    wine build/win64/tests/win/e2e/demo_press.exe || true
    sleep 1
    import -window root "$demo/screenshot.png"
    echo "Screenshot of the result: $demo/screenshot.png"
fi
echo "--- simulator log ---"
cat "$demo/simulator.log"
