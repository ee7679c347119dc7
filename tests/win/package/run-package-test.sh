#!/usr/bin/env bash
# Tests a release package as a technician uses it. Checks what the zip holds, unpacks it into a
# fresh Wine prefix under "C:\Папка техника\", and runs the test driver there under
# with-simulator.sh, the simulated controller serving COM5; then the package on the Linux laptop
# of linux-laptop.sh.
# Usage: run-package-test.sh taktor-<version>-<win64|win32>.zip <package_win_test.exe>
set -u
here=$(cd "$(dirname "$0")" && pwd)
# A mount namespace of the script's own, for the Linux laptop.
if [ -z "${TAKTOR_OWN_MOUNTS:-}" ] && [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
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

export TAKTOR_PACKAGE_DIR="$folder/Taktor"
"$here/../with-simulator.sh" COM5 -- wine "$driver" --gtest_filter='UnpackedPackage.*'
rc=$?
if [ -n "${TAKTOR_OWN_MOUNTS:-}" ]; then
    . "$here/linux-laptop.sh"
    laptop_phases || rc=1
else
    echo "!!!!! NOT RUN: the Linux laptop of the package test. Why: it needs root and unshare"
    [ $rc != 0 ] || rc=77
fi
wineserver -k 2>/dev/null
if [ "$started_display" = 1 ]; then
    taktor_stop_display
fi
exit $rc
