#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test: the native tests (also under
# AddressSanitizer/UndefinedBehaviorSanitizer and ThreadSanitizer), the formatting check, a short
# run of every fuzz target, the Windows program's tests under Wine on a virtual display, and the
# i686 build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

step "Setting up"
scripts/setup-debian.sh

step "Formatting"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print)
clang-format --dry-run -Werror "${sources[@]}"

for preset in native asan tsan; do
    step "Native build and tests: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

step "Fuzzing: every target for 10 seconds"
scripts/fuzz.sh 10

step "Windows build (x86_64) and its tests under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"
. tests/win/wine-env.sh
taktor_ensure_display
trap 'wineserver -k 2>/dev/null || true; taktor_stop_display' EXIT
taktor_ensure_prefix
ctest --preset win64

step "Windows build (i686), compiled only"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

step "All tests passed"
