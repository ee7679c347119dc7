#!/usr/bin/env bash
# Checks that the release packages do not depend on where or when they are built: copies the
# sources (tracked and new files, local changes included, no build tree) to a directory of
# another name, builds the packages there with scripts/release.sh in another time zone and with
# another umask, and compares them byte by byte with the given ones.
# Usage: check-reproducible.sh PACKAGE.zip...   (for example those in build/release/)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
    echo "usage: $0 PACKAGE.zip..." >&2
    exit 2
fi
for package in "$@"; do
    [ -f "$package" ] || { echo "$0: no package $package" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy="$work/другая копия"
mkdir -p "$copy"
if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null -T - -cf - | tar -xf - -C "$copy"
else
    tar --exclude=./build -cf - . | tar -xf - -C "$copy"
fi

# The unsigned packages are the reproducible ones: no certificate for the second build.
unset TAKTOR_SIGN_PFX TAKTOR_SIGN_PASSWORD TAKTOR_SIGN_TIMESTAMP_URL
(umask 077 && cd "$copy" && TZ=Pacific/Kiritimati scripts/release.sh >"$work/release.log" 2>&1) || {
    cat "$work/release.log" >&2
    echo "$0: the release build in $copy failed" >&2
    exit 1
}

status=0
for package in "$@"; do
    other="$copy/build/release/$(basename "$package")"
    if [ ! -f "$other" ]; then
        echo "NOT REPRODUCED: the second build made no $(basename "$package")"
        status=1
    elif cmp -s "$package" "$other"; then
        echo "reproduced: $(basename "$package") $(sha256sum <"$package" | cut -c1-64)"
    else
        echo "NOT REPRODUCED: $(basename "$package") differs between $PWD and $copy:"
        cmp "$package" "$other" || true
        status=1
    fi
done
exit $status
