#!/usr/bin/env bash
# Tests a release package as a technician uses it. Checks what the zip holds, unpacks it into a
# fresh Wine prefix under "C:\Папка техника\", lays out a Linux laptop's cables in fake sysfs
# trees, and runs the test driver there under with-simulator.sh, the simulated controller
# serving COM5.
# Usage: run-package-test.sh taktor-<version>-<win64|win32>.zip <package_win_test.exe>
set -u
here=$(cd "$(dirname "$0")" && pwd)
# A mount namespace of the script's own, for the Linux laptop's terminal that refuses to open.
if [ -z "${TAKTOR_OWN_MOUNTS:-}" ] && unshare -m true 2>/dev/null; then
    TAKTOR_OWN_MOUNTS=1 exec unshare -m --propagation private "$0" "$@"
fi
if [ $# -ne 2 ]; then
    echo "usage: $0 PACKAGE.zip DRIVER.exe" >&2
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

# Exactly the folder Taktor/ with the two programs, the cable check's launcher and README.txt:
# the launcher ASCII with CR LF line ends for cmd.exe, README.txt UTF-8 with a byte-order mark
# and CR LF line ends for Notepad.
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

# A prefix of the test's own, made afresh: the cable registered in its device database must
# not show up for other tests, and nothing of an earlier run may help this one.
export TAKTOR_WINEPREFIX
TAKTOR_WINEPREFIX=$(dirname "$package")/wineprefix-package
rm -rf "$TAKTOR_WINEPREFIX"
. "$here/../wine-env.sh"
# Exit code 77 counts as skipped in CTest.
if [[ $name == *-win32.zip ]] && ! taktor_can_run_i686 "the package test of $name"; then
    exit 77
fi
started_display=0
if [ -z "${DISPLAY:-}" ]; then
    taktor_ensure_display || exit 1
    started_display=1
fi
taktor_ensure_prefix

folder="$WINEPREFIX/drive_c/Папка техника"
mkdir -p "$folder"
python3 -m zipfile -e "$package" "$folder" || exit 1

# The launcher alone, as Explorer extracts it when it is double-clicked inside the zip: it names
# the missing tool and waits for a key instead of failing.
alone="$WINEPREFIX/drive_c/Temp1_$name/Taktor"
mkdir -p "$alone" && cp "$folder/Taktor/Check-cable.cmd" "$alone/"
if ! echo | wine cmd /c "C:\\Temp1_$name\\Taktor\\Check-cable.cmd" 2>/dev/null |
    grep -q "Extract the whole archive first"; then
    echo "package: Check-cable.cmd without Kanalyst.exe does not say to extract the archive" >&2
    exit 1
fi

# A Linux laptop whose cables Wine's SetupAPI does not know (see package_test.cpp): a CH340 and
# a PL2303 in a fake sysfs tree, COM33 and COM4 linked to their terminals, the CH340's terminal
# linked on to the simulator's line. Beside it the tree "refusing", the same but for the CH340's
# terminal (on COM36): a device node that open() refuses, root included, since its file system
# is mounted nodev; without a mount namespace of our own, a directory, which Wine refuses with
# the same "access denied".
laptop=$(dirname "$package")/linux-laptop
rm -rf "$laptop" && mkdir -p "$laptop/dev" "$laptop/refusing/dev"
fake_usb_serial() {  # BUS-PORT TTY VENDOR PRODUCT DRIVER
    local sys=$laptop/sys usb=devices/pci0000:00/0000:00:14.0/usb1/$1
    local port=$usb/$1:1.0/$2
    mkdir -p "$sys/$port/tty/$2" "$sys/class/tty" "$sys/bus/usb/devices"
    printf '%s\n' "$3" >"$sys/$usb/idVendor" && printf '%s\n' "$4" >"$sys/$usb/idProduct"
    ln -s ../.. "$sys/$port/tty/$2/device"
    ln -s "../../../../../../../bus/usb-serial/drivers/$5" "$sys/$port/driver"
    ln -s "../../$port/tty/$2" "$sys/class/tty/$2"
    ln -s "../../../$usb" "$sys/bus/usb/devices/$1"
}
fake_usb_serial 1-1 ttyUSB0 1a86 7523 ch341-uart
fake_usb_serial 1-2 ttyUSB1 067b 2303 pl2303
ln -s "$WINEPREFIX/dosdevices/com5" "$laptop/dev/ttyUSB0"
ln -s /dev/null "$laptop/dev/ttyUSB1"
ln -s ../sys "$laptop/refusing/sys"
if [ -n "${TAKTOR_OWN_MOUNTS:-}" ] && mount -t tmpfs -o nodev tmpfs "$laptop/refusing/dev" &&
    mknod "$laptop/refusing/dev/ttyUSB0" c 188 0; then
    echo "package: the refusing terminal is a device node on a nodev file system"
else
    mkdir -p "$laptop/refusing/dev/ttyUSB0"
    echo "package: no mount namespace here; the refusing terminal is a directory"
fi
ln -s /dev/null "$laptop/refusing/dev/ttyUSB1"
ln -s "$laptop/dev/ttyUSB1" "$WINEPREFIX/dosdevices/com4"
ln -s "$laptop/dev/ttyUSB0" "$WINEPREFIX/dosdevices/com33"
ln -s "$laptop/refusing/dev/ttyUSB0" "$WINEPREFIX/dosdevices/com36"

export TAKTOR_PACKAGE_DIR="$folder/Taktor" TAKTOR_LINUX_LAPTOP=$laptop
"$here/../with-simulator.sh" COM5 -- wine "$driver"
rc=$?
wineserver -k 2>/dev/null
if [ "$started_display" = 1 ]; then
    taktor_stop_display
fi
exit $rc
