#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test: the native tests (also under
# AddressSanitizer/UndefinedBehaviorSanitizer and ThreadSanitizer), the formatting check, and the
# Windows-side tests of the x86_64 and the i686 build under Wine on a virtual display. Where no
# i686 program can run, it says so loudly, runs the rest and ends without "All tests passed".
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s (at %d s)\n' "$*" "$SECONDS"; }

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

for preset in win64 win32; do
    step "Windows build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

. tests/win/wine-env.sh
taktor_ensure_display
trap 'wineserver -k 2>/dev/null || true; taktor_stop_display' EXIT
taktor_ensure_prefix

step "Windows-side tests under Wine: x86_64"
ctest --preset win64

step "Windows-side tests under Wine: i686"
if taktor_can_run_i686; then
    ctest --preset win32
    step "All tests passed"
else
    # The checks of the i686 program files need no Wine.
    ctest --preset win32 -L files
    step "Tests passed, but the i686 Windows-side tests under Wine were NOT run (see above)"
fi
