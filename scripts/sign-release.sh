#!/usr/bin/env bash
# Finishes the release packages in DIR (default build/release): signs Taktor.exe and
# Kanalyst.exe in every taktor-*.zip there with Authenticode when given a code-signing
# certificate, then writes DIR/SHA256SUMS. scripts/release.sh calls it after the build.
#   TAKTOR_SIGN_PFX            the certificate and its private key, a PKCS#12 file (.pfx)
#   TAKTOR_SIGN_PASSWORD       the password of that file
#   TAKTOR_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so that the signature
#                              stays valid after the certificate has expired
# Without TAKTOR_SIGN_PFX the packages stay as they are, byte for byte. Signing changes only the
# two programs, each by its signature; the rest of each zip keeps its bytes, order and dates.
set -euo pipefail
dir=${1:-build/release}

if [ -n "${TAKTOR_SIGN_PFX:-}" ]; then
    pfx=$(realpath "$TAKTOR_SIGN_PFX")
    work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-sign.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    # The password reaches osslsigncode through a file, never on a command line.
    (umask 077 && printf '%s' "${TAKTOR_SIGN_PASSWORD:-}" >"$work/password")
    sign=(osslsigncode sign -pkcs12 "$pfx" -readpass "$work/password" -h sha256 -n Taktor)
    if [ -n "${TAKTOR_SIGN_TIMESTAMP_URL:-}" ]; then
        sign+=(-ts "$TAKTOR_SIGN_TIMESTAMP_URL")
    fi
    for package in "$dir"/taktor-*.zip; do
        python3 - "$package" "$work" "${sign[@]}" <<'PY'
import os, subprocess, sys, zipfile

package, work, sign = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(package) as archive:
    entries = [(info, archive.read(info)) for info in archive.infolist()]
unsigned, signed = os.path.join(work, "unsigned.exe"), os.path.join(work, "signed.exe")
with zipfile.ZipFile(package + ".part", "w") as archive:
    for info, data in entries:
        if info.filename.endswith(".exe"):
            with open(unsigned, "wb") as f:
                f.write(data)
            if os.path.exists(signed):
                os.remove(signed)
            subprocess.run(sign + ["-in", unsigned, "-out", signed], check=True,
                           stdout=subprocess.DEVNULL)
            with open(signed, "rb") as f:
                data = f.read()
        archive.writestr(info, data, compresslevel=9)
os.replace(package + ".part", package)
PY
        echo "Signed the programs in $(basename "$package")"
    done
fi

(cd "$dir" && sha256sum taktor-*.zip >SHA256SUMS)
