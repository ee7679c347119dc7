# Sourced by the scripts that run Windows programs under Wine: makes sure there is a display and
# a ready Wine prefix (created once, with a virtual desktop so that windows get frames and
# message boxes come up at once), and exports WINEPREFIX, DISPLAY and the quiet settings.
# shellcheck shell=bash

taktor_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${TAKTOR_WINEPREFIX:-$taktor_repo/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

# Debian's wine command always starts the 32-bit loader once wine32 is installed. On a machine
# whose kernel cannot run 32-bit programs that fails for every program ("Exec format error"),
# 64-bit ones included, so take the 64-bit loader there. Only 64-bit programs then run.
if [ -x /usr/lib/wine/wine64 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine() { WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$@"; }
    export -f wine
fi

taktor_ensure_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.taktor-ready" ]; then
            rm -rf "$WINEPREFIX"
            wine wineboot -i >/dev/null 2>&1
            wineserver -w
            wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
            wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
                >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.taktor-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Starts Xvfb on a free display number when there is no display, and exports DISPLAY.
taktor_ensure_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            taktor_xvfb_pid=$!
            export DISPLAY=":$n"
            local i
            for i in $(seq 1 100); do
                [ -e "/tmp/.X11-unix/X$n" ] && return 0
                sleep 0.05
            done
            echo "Xvfb did not start on :$n" >&2
            return 1
        fi
    done
    echo "no free display number" >&2
    return 1
}

taktor_stop_display() {
    if [ -n "${taktor_xvfb_pid:-}" ]; then
        kill "$taktor_xvfb_pid" 2>/dev/null
        wait "$taktor_xvfb_pid" 2>/dev/null
        unset taktor_xvfb_pid
    fi
}
