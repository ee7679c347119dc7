#!/usr/bin/env bash
# Runs a command with two more Wine COM ports for the cable report tests: COM22 points at a
# directory, which Wine refuses to open with "access denied", as Windows answers for a port that
# another program holds; COM23 points at nothing.
# Usage: with-com-links.sh command [args...]
set -u
. "$(dirname "$0")/../wine-env.sh"
taktor_ensure_prefix
work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-com.XXXXXX")
ln -sfn "$work" "$WINEPREFIX/dosdevices/com22"
ln -sfn "$work/nothing" "$WINEPREFIX/dosdevices/com23"
"$@"
rc=$?
rm -f "$WINEPREFIX/dosdevices/com22" "$WINEPREFIX/dosdevices/com23"
rm -rf "$work"
exit $rc
