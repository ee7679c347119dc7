#!/usr/bin/env bash
# Installs what building, running and testing the configurator need on Debian 12, skipping what
# is there already. Needs root (or sudo).
set -euo pipefail

packages=(
    # native build and tests
    cmake make g++ googletest libgtest-dev clang-format
    # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
    clang libclang-rt-14-dev
    # the Windows program, cross-built
    g++-mingw-w64-x86-64 g++-mingw-w64-i686
    # running it: Wine for x86_64 and i686 programs, a virtual display, screenshots
    wine wine64 wine32:i386 fonts-wine xvfb xauth imagemagick
    # the check that the asset generator still makes the committed pictures
    python3 python3-pil fonts-liberation2
    # signing the release packages with Authenticode, and the test that makes a certificate
    osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=
if [ "$(id -u)" != 0 ]; then
    sudo=sudo
fi
# wine32 comes from the i386 architecture, which must be known before the package lists are read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (for wine32)"
    $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
