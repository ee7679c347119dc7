#!/usr/bin/env bash
# Sets up what is missing and builds the release packages for technicians: both Windows
# programs, for x86_64 and i686, each package a zip with the folder Taktor/ (Taktor.exe,
# Kanalyst.exe, Check-cable.cmd, README.txt). Writes build/release/taktor-<version>-win64.zip, -win32.zip and
# SHA256SUMS. The same commit gives the same bytes wherever and whenever it is built; with a
# code-signing certificate in TAKTOR_SIGN_PFX (and TAKTOR_SIGN_PASSWORD, optionally
# TAKTOR_SIGN_TIMESTAMP_URL) both programs of each package are then signed with Authenticode.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup-debian.sh
out=build/release
rm -rf "$out"
mkdir -p "$out"
for arch in win64 win32; do
    preset=release-$arch
    rm -rf "build/$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    cp build/$preset/taktor-*-$arch.zip "$out/"
done
# Signed when TAKTOR_SIGN_PFX names a certificate (see sign-release.sh); SHA256SUMS either way.
scripts/sign-release.sh "$out"
echo "Release packages in $out:"
cat "$out/SHA256SUMS"
