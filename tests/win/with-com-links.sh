#!/usr/bin/env bash
# Runs a command with two more Wine COM ports: BUSY points at a directory, which Wine refuses to
# open with "access denied", as Windows answers for a port that another program holds (Wine
# does not enforce exclusive access to a device itself); GONE points at nothing, a port whose
# device has gone.
# Usage: with-com-links.sh BUSY GONE command [args...]   (for example COM22 COM23 ...)
set -u
. "$(dirname "$0")/wine-env.sh"
busy=$(printf '%s' "$1" | tr '[:upper:]' '[:lower:]')
gone=$(printf '%s' "$2" | tr '[:upper:]' '[:lower:]')
shift 2
taktor_ensure_prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-com.XXXXXX")
ln -sfn "$work" "$WINEPREFIX/dosdevices/$busy"
ln -sfn "$work/nothing" "$WINEPREFIX/dosdevices/$gone"
"$@"
rc=$?
rm -f "$WINEPREFIX/dosdevices/$busy" "$WINEPREFIX/dosdevices/$gone"
rm -rf "$work"
exit $rc
