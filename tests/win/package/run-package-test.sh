#!/usr/bin/env bash
# Tests a release package as a technician uses it, in a fresh Wine prefix of its own.
# Usage: run-package-test.sh [--linux] taktor-<version>-<win64|win32>.zip <package_win_test.exe>
#
# Without --linux: checks what the zip holds, unpacks it under "C:\Папка техника\", and runs the
# test driver's UnpackedPackage tests there under with-simulator.sh, the simulated controller
# serving COM5 and the cable registered in the prefix's device database.
#
# With --linux: the same package on a Linux laptop, faked in a mount namespace of the script's
# own: a tmpfs over /sys with a PL2303 on ttyUSB0, a CH340 on ttyUSB1 and an FTDI adapter on
# ttyUSB2 (the real
# /sys/devices/system, /sys/kernel and /sys/fs bound back), and a tmpfs /dev with the few real
# nodes Wine needs. Wine's own mount manager links the COM ports there, as on a laptop, and the
# driver's LinuxLaptop tests run in phases, each on a freshly started Wine. That needs root and
# unshare; without them it says loudly that it did not run and exits with 77 (skipped).
set -u
here=$(cd "$(dirname "$0")" && pwd)
mode=windows
if [ "${1:-}" = --linux ]; then
    mode=linux
    shift
fi
if [ $# -ne 2 ]; then
    echo "usage: $0 [--linux] PACKAGE.zip DRIVER.exe" >&2
    exit 2
fi
package=$(realpath "$1")
driver=$(realpath "$2")
name=$(basename "$package")
case "$name" in
    *-win64.zip | *-win32.zip) ;;
    *)
        echo "$0: not a release package: $name" >&2
        exit 2
        ;;
esac
if [ "$mode" = linux ] && [ -z "${TAKTOR_OWN_MOUNTS:-}" ]; then
    if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
        echo "!!!!! NOT RUN: the Linux laptop of $name. Why: it needs root and unshare, for a" \
            "mount namespace of its own"
        exit 77
    fi
    TAKTOR_OWN_MOUNTS=1 exec unshare -m --propagation private "$0" --linux "$@"
fi

if [ "$mode" = windows ]; then
    # Exactly the folder Taktor/ with the two programs, the cable check's launcher and
    # README.txt: the launcher ASCII with CR LF line ends for cmd.exe, README.txt UTF-8 with a
    # byte-order mark and CR LF line ends for Notepad.
    python3 - "$package" <<'PY' || exit 1
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = [n for n in z.namelist() if not n.endswith("/")]
    want = ["Taktor/Taktor.exe", "Taktor/Kanalyst.exe", "Taktor/Check-cable.cmd",
            "Taktor/README.txt"]
    problems = []
    if sorted(names) != sorted(want) or any(not n.startswith("Taktor/") for n in z.namelist()):
        problems.append("entries %s, expected %s" % (z.namelist(), want))
    else:
        text = z.read("Taktor/README.txt")
        if not text.startswith(b"\xef\xbb\xbf"):
            problems.append("README.txt has no byte-order mark")
        if text.replace(b"\r\n", b"").count(b"\n") or text.replace(b"\r\n", b"").count(b"\r"):
            problems.append("README.txt has line ends other than CR LF")
        try:
            text.decode("utf-8")
        except UnicodeDecodeError as e:
            problems.append("README.txt is not UTF-8: %s" % e)
        launcher = z.read("Taktor/Check-cable.cmd")
        if any(b > 0x7F for b in launcher) or launcher.replace(b"\r\n", b"").count(b"\n"):
            problems.append("Check-cable.cmd is not ASCII with CR LF line ends")
        if b"Kanalyst.exe\" /report" not in launcher:
            problems.append("Check-cable.cmd does not start the report")
for p in problems:
    print("package: " + p, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
fi

# The Linux laptop: the fake trees are laid out before the prefix is made, so that Wine's mount
# manager links the laptop's terminals from its very first start.
if [ "$mode" = linux ]; then
    laptop=$(dirname "$package")/linux-laptop-$name
    rm -rf "$laptop" && mkdir -p "$laptop/fake" "$laptop/real-sys" "$laptop/real-dev"
    fake_usb_serial() { # BUS-PORT TTY VENDOR PRODUCT DRIVER
        local sys=$laptop/fake usb=devices/pci0000:00/0000:00:14.0/usb1/$1
        local port=$usb/$1:1.0/$2
        mkdir -p "$sys/$port/tty/$2" "$sys/class/tty" "$sys/bus/usb/devices" \
            "$sys/bus/usb-serial/drivers/$5"
        printf '%s\n' "$3" >"$sys/$usb/idVendor" && printf '%s\n' "$4" >"$sys/$usb/idProduct"
        ln -s ../.. "$sys/$port/tty/$2/device"
        ln -s "../../../../../../../bus/usb-serial/drivers/$5" "$sys/$port/driver"
        ln -s "../../$port/tty/$2" "$sys/class/tty/$2"
        ln -s "../../../$usb" "$sys/bus/usb/devices/$1"
    }
    fake_usb_serial 1-1 ttyUSB0 067b 2303 pl2303
    fake_usb_serial 1-2 ttyUSB1 1a86 7523 ch341-uart
    fake_usb_serial 1-3 ttyUSB2 0403 6001 ftdi_sio # no node: the driver plugs it in late
    mount --rbind /sys "$laptop/real-sys" && mount --rbind /dev "$laptop/real-dev" &&
        mount -t tmpfs -o mode=755 tmpfs /sys && cp -a "$laptop/fake/." /sys/ || exit 1
    for dir in devices/system kernel fs; do
        mkdir -p "/sys/$dir" && mount --rbind "$laptop/real-sys/$dir" "/sys/$dir" || exit 1
    done
    # nodev: a device node made here refuses to open, root included, as one does that Linux does
    # not let the user open.
    mount -t tmpfs -o nodev,mode=755 tmpfs /dev || exit 1
    for node in null zero full random urandom tty ttyUSB0; do
        touch "/dev/$node" && mount --bind "$laptop/real-dev/${node/ttyUSB0/null}" "/dev/$node" ||
            exit 1
    done
    for dir in pts shm; do
        mkdir "/dev/$dir" && mount --rbind "$laptop/real-dev/$dir" "/dev/$dir" || exit 1
    done
    ln -s pts/ptmx /dev/ptmx && ln -s /proc/self/fd /dev/fd
fi

# A prefix of the test's own, made afresh: the cable registered in its device database must
# not show up for other tests, and nothing of an earlier run may help this one.
export TAKTOR_WINEPREFIX
TAKTOR_WINEPREFIX=$(dirname "$package")/wineprefix-package-$mode
rm -rf "$TAKTOR_WINEPREFIX"
. "$here/../wine-env.sh"
if [[ $name == *-win32.zip ]] && ! taktor_can_run_i686 "the package test of $name"; then
    exit 77
fi
started_display=0
if [ -z "${DISPLAY:-}" ]; then
    taktor_ensure_display || exit 1
    started_display=1
fi
finish() {
    wineserver -k 2>/dev/null
    if [ "$started_display" = 1 ]; then
        taktor_stop_display
    fi
    exit "$1"
}
taktor_ensure_prefix

if [ "$mode" = windows ]; then
    folder="$WINEPREFIX/drive_c/Папка техника"
    mkdir -p "$folder"
    python3 -m zipfile -e "$package" "$folder" || exit 1

    # The launcher alone, as Explorer extracts it when it is double-clicked inside the zip: it
    # names the missing tool and waits for a key instead of failing.
    alone="$WINEPREFIX/drive_c/Temp1_$name/Taktor"
    mkdir -p "$alone" && cp "$folder/Taktor/Check-cable.cmd" "$alone/"
    if ! echo | wine cmd /c "C:\\Temp1_$name\\Taktor\\Check-cable.cmd" 2>/dev/null |
        grep -q "Extract the whole archive first"; then
        echo "package: Check-cable.cmd without Kanalyst.exe does not say to extract the archive" >&2
        finish 1
    fi
    export TAKTOR_PACKAGE_DIR="$folder/Taktor"
    "$here/../with-simulator.sh" COM5 -- wine "$driver" --gtest_filter='UnpackedPackage.*'
    finish $?
fi

# The Linux laptop's phases. The package lies where the README tells a technician to put it,
# under the prefix's drive_c, and every program starts by its C: path.
python3 -m zipfile -e "$package" "$WINEPREFIX/drive_c" || finish 1
cp "$driver" "$WINEPREFIX/drive_c/package_win_test.exe" || finish 1
export TAKTOR_PACKAGE_DIR='C:\Taktor'
rc=0
# phase TEST [command prefix...]: the driver's test LinuxLaptop.TEST on a freshly started Wine.
phase() {
    local test=$1
    shift
    wineserver -k 2>/dev/null
    wineserver -w
    echo "package: phase $test"
    "$@" "$TAKTOR_WINE" 'C:\package_win_test.exe' --gtest_filter="LinuxLaptop.$test" || rc=1
}
# The simulator's files as the driver reads them, by the Unix side's own paths.
unix_paths() {
    TAKTOR_SIM_CONTROL="\\\\?\\unix${TAKTOR_SIM_CONTROL//\//\\}" \
        TAKTOR_SIM_LOG="\\\\?\\unix${TAKTOR_SIM_LOG//\//\\}" "$@"
}
export -f phase unix_paths
export rc

# The CH340's terminal leads on to the simulator's line.
ln -s "$WINEPREFIX/dosdevices/com5" /dev/ttyUSB1
"$here/../with-simulator.sh" COM5 -- bash -c \
    'phase WritesThroughTheCableLinuxKnows unix_paths; exit $rc' || rc=1
# The CH340's terminal refuses to open.
rm /dev/ttyUSB1 && mknod /dev/ttyUSB1 c 188 1 || finish 1
phase ReportsATerminalTheUserMayNotOpen
finish $rc
