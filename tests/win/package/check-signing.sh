#!/usr/bin/env bash
# Signs a release package as scripts/sign-release.sh does, with a throwaway self-signed
# code-signing certificate, and checks the result: osslsigncode verifies both programs against
# that certificate, each differs from the unsigned one by its signature alone, the zip holds the
# same entries with the other files unchanged, and SHA256SUMS matches the signed zip.
# Usage: check-signing.sh PACKAGE.zip   (exit code 77, counted as skipped: no osslsigncode/openssl)
set -eu
if ! command -v osslsigncode >/dev/null || ! command -v openssl >/dev/null; then
    echo "!!!!! NOT RUN: the signing test. Why: no osslsigncode or openssl (setup-debian.sh)"
    exit 77
fi
repo=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/taktor-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Taktor test signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:test \
    -out "$work/cert.pfx"
mkdir "$work/release"
cp "$1" "$work/release/"
TAKTOR_SIGN_PFX=$work/cert.pfx TAKTOR_SIGN_PASSWORD=test "$repo/scripts/sign-release.sh" \
    "$work/release" >/dev/null
(cd "$work/release" && sha256sum --quiet -c SHA256SUMS)

python3 - "$1" "$work/release/$(basename "$1")" "$work" <<'PY'
import subprocess, sys, zipfile

original, signed, work = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2]), sys.argv[3]
entries = lambda z: [(i.filename, i.date_time, i.external_attr) for i in z.infolist()]
assert entries(signed) == entries(original), "entries %s, before %s" % (entries(signed), entries(original))
for name in original.namelist():
    before, after = original.read(name), signed.read(name)
    if not name.endswith(".exe"):
        assert after == before, name + " changed"
        continue
    path = work + "/" + name.split("/")[-1]
    with open(path, "wb") as f:
        f.write(after)
    quiet = dict(check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["osslsigncode", "verify", "-CAfile", work + "/cert.pem", "-in", path], **quiet)
    subprocess.run(["osslsigncode", "remove-signature", "-in", path, "-out", path + ".bare"], **quiet)
    with open(path + ".bare", "rb") as f:
        assert f.read() == before, name + " differs from the unsigned program by more than a signature"
PY
