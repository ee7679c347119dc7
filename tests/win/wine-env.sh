# Sourced by the scripts that run Windows programs under Wine: makes sure there is a display and
# a ready Wine prefix (created once, with a virtual desktop so that windows get frames and
# message boxes come up at once), and exports WINEPREFIX, DISPLAY, the quiet settings and
# TAKTOR_WINE, the command that starts a Windows program. taktor_can_run_i686 tells whether
# i686 programs run here.
# shellcheck shell=bash

taktor_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${TAKTOR_WINEPREFIX:-$taktor_repo/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

# What Wine can do with 32-bit code here: "ok"; "no-wine32" without wine32:i386; "no-exec" when
# the kernel refuses to start its 32-bit loader.
taktor_wine32_state() {
    local loader=/usr/lib/wine/wine
    if [ ! -x "$loader" ]; then
        echo no-wine32
    elif "$loader" --version >/dev/null 2>&1; then
        echo ok
    else
        echo no-exec
    fi
}
taktor_wine32=$(taktor_wine32_state)

# Debian's wine starts the 32-bit loader whenever wine32 is installed, even for x86_64 programs;
# where the kernel cannot run it, no program starts at all. The 64-bit loader still runs x86_64
# programs: then "wine" is a wrapper early in PATH that calls it directly.
export TAKTOR_WINE=wine
if [ "$taktor_wine32" = no-exec ] && [ -x /usr/lib/wine/wine64 ]; then
    export WINELOADER=/usr/lib/wine/wine64
    taktor_wine_bin=$taktor_repo/build/wine-bin
    if [ ! -x "$taktor_wine_bin/wine" ]; then
        mkdir -p "$taktor_wine_bin"
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$taktor_wine_bin/wine"
        chmod +x "$taktor_wine_bin/wine"
    fi
    case ":$PATH:" in
        *":$taktor_wine_bin:"*) ;;
        *) export PATH="$taktor_wine_bin:$PATH" ;;
    esac
fi

# The marker in the prefix records the 32-bit state it was made in. A prefix made before wine32
# was installed fails every 32-bit program with "could not load kernel32.dll", so a prefix is
# made anew whenever that state has changed (or was not recorded, as in older prefixes).
taktor_ensure_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ "$(cat "$WINEPREFIX/.taktor-ready" 2>/dev/null)" != "wine32=$taktor_wine32" ]; then
            if [ -e "$WINEPREFIX" ]; then
                echo "Making the Wine prefix $WINEPREFIX anew (32-bit support: $taktor_wine32)" >&2
                wineserver -k 2>/dev/null || true
                rm -rf "$WINEPREFIX"
            fi
            "$TAKTOR_WINE" wineboot -i >/dev/null 2>&1
            wineserver -w
            "$TAKTOR_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
                >/dev/null 2>&1
            "$TAKTOR_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 \
                /f >/dev/null 2>&1
            wineserver -w
            echo "wine32=$taktor_wine32" >"$WINEPREFIX/.taktor-ready"
        fi
        # Wine draws the caption buttons with its Marlett font; a prefix made where the 32-bit
        # loader cannot run lacks it, and the buttons show as letters.
        local fonts=$WINEPREFIX/drive_c/windows/Fonts
        if [ -d "$fonts" ] && [ ! -e "$fonts/marlett.ttf" ] && [ -e /usr/share/wine/fonts/marlett.ttf ]
        then
            cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Whether this machine runs i686 Windows programs: builds a tiny one and runs it in the prefix
# (made anew once if it cannot load the 32-bit system DLLs). When it does not run, prints one
# line saying that what needs it (the argument; by default the i686 Windows-side tests) was NOT
# run, and why, and fails.
taktor_can_run_i686() {
    local what=${1:-the i686 Windows-side tests} dir out why=
    dir=$(mktemp -d "${TMPDIR:-/tmp}/taktor-i686.XXXXXX")
    printf '#include <stdio.h>\nint main(void) { printf("%%u-bit\\n", %s); return 0; }\n' \
        '(unsigned)(8 * sizeof(void *))' >"$dir/probe.c"
    if [ "$taktor_wine32" = no-exec ]; then
        why="the kernel does not run Wine's 32-bit loader (Exec format error)"
    elif [ "$taktor_wine32" = no-wine32 ]; then
        why="wine32:i386 is not installed (scripts/setup-debian.sh does it)"
    elif ! out=$(i686-w64-mingw32-gcc -o "$dir/probe.exe" "$dir/probe.c" 2>&1); then
        why="no i686 program could be built: ${out%%$'\n'*}"
    else
        taktor_ensure_prefix
        out=$(timeout 120 "$TAKTOR_WINE" "$dir/probe.exe" 2>&1 | tr -d '\r') || true
        if [ "$out" != 32-bit ] && [ "$taktor_wine32" = ok ] && [[ $out == *kernel32* ]]; then
            rm -f "$WINEPREFIX/.taktor-ready"
            taktor_ensure_prefix
            out=$(timeout 120 "$TAKTOR_WINE" "$dir/probe.exe" 2>&1 | tr -d '\r') || true
        fi
        if [ "$out" != 32-bit ]; then
            why="a tiny i686 program did not run: ${out:-no output}"
        fi
    fi
    rm -rf "$dir"
    if [ -n "$why" ]; then
        printf '!!!!! NOT RUN: %s. Why: %s\n' "$what" "${why//$'\n'/ | }" >&2
        return 1
    fi
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
