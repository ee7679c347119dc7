#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test: the native tests (also under
# AddressSanitizer/UndefinedBehaviorSanitizer and ThreadSanitizer), the formatting check, a short
# run of every fuzz target, the Windows-side tests of the x86_64 and the i686 build under Wine on
# a virtual display (the release package of each build unpacked and used among them), and a
# second build of the packages that must give the same bytes. Where no i686 program can run, it
# says so loudly, runs the rest and ends without "All tests passed".
#
# scripts/test.sh --quick is the tier to run before each commit: the formatting check, the
# native build and its tests, and the whole write of the x86_64 program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--quick]" >&2
    exit 2
fi

step() { printf '\n=== %s (at %d s)\n' "$*" "$SECONDS"; }

step "Setting up"
scripts/setup-debian.sh

step "Formatting"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -print)
clang-format --dry-run -Werror "${sources[@]}"

presets=(native asan tsan)
[ "$quick" = 1 ] && presets=(native)
for preset in "${presets[@]}"; do
    step "Native build and tests: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

if [ "$quick" = 1 ]; then
    step "Windows build: win64, the program and its end-to-end driver"
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 -j "$jobs" --target taktor_e2e
    . tests/win/wine-env.sh
    taktor_ensure_display
    trap 'wineserver -k 2>/dev/null || true; taktor_stop_display' EXIT
    taktor_ensure_prefix
    step "Whole writes of the x86_64 program under Wine"
    ctest --preset win64 -R '^e2e\.Write$'
    step "Quick tests passed (scripts/test.sh runs them all)"
    exit 0
fi

step "Fuzzing: every target for 10 seconds"
scripts/fuzz.sh 10

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
i686=ran
if taktor_can_run_i686; then
    ctest --preset win32
else
    i686="NOT run"
    # The checks of the i686 program files need no Wine, nor does the package test's check of
    # what the zip holds; it then says loudly that it did not run the package.
    ctest --preset win32 -L 'files|package'
fi

step "Release packages: the same bytes when built elsewhere and later"
scripts/check-reproducible.sh build/win64/taktor-*-win64.zip build/win32/taktor-*-win32.zip

if [ "$i686" = ran ]; then
    step "All tests passed"
else
    step "Tests passed, but the i686 Windows-side tests under Wine were NOT run (see above)"
fi
