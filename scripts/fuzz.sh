#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS seconds (default 60), one after another.
# Prints each target's executions. Exits non-zero when a target finds anything: a crash, a leak,
# a sanitizer report, a failed invariant or an input that runs too long. The inputs it found are
# kept in build/fuzz/findings/<target>/ and their paths printed.
#
# The committed seeds (tests/fuzz/corpus/<target>/) are read, never written; new inputs gather in
# build/fuzz/corpus/<target>/ from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

# Each target with the longest input it is given: the list file reaches past the 4,096-byte
# read-ahead; the reply is split at every position, so it stays short.
targets=(field_value:1024 list_file:10000 reply:512 port_list:2048 sim_frames:1024)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

build=build/fuzz
failed=0
printf '\n%-12s %14s  %s\n' target executions result
for entry in "${targets[@]}"; do
    name=${entry%%:*}
    maxLength=${entry#*:}
    corpus=$build/corpus/$name
    findings=$build/findings/$name
    log=$build/logs/$name.log
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    stamp=$build/logs/$name.start
    touch "$stamp"
    args=(-max_total_time="$seconds" -max_len="$maxLength" -timeout=30 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix="$findings/")
    if [ -f "tests/fuzz/$name.dict" ]; then
        args+=(-dict="tests/fuzz/$name.dict")
    fi
    status=0
    "$build/tests/fuzz/fuzz_$name" "${args[@]}" "$corpus" "tests/fuzz/corpus/$name" \
        >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ -z "$executions" ]; then
        # A run stopped by a finding prints no final figures; its last status line has the count.
        executions=$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    fi
    mapfile -t found < <(find "$findings" -type f -newer "$stamp")
    if [ "$status" -eq 0 ] && [ ${#found[@]} -eq 0 ]; then
        printf '%-12s %14s  no finding\n' "$name" "${executions:-?}"
        continue
    fi
    failed=1
    printf '%-12s %14s  FINDING (exit %d), log %s\n' "$name" "${executions:-?}" "$status" "$log"
    grep -E '^(invariant failed|SUMMARY|==[0-9]+==ERROR)' "$log" | head -n 5 | sed 's/^/    /' || true
    for file in "${found[@]}"; do
        echo "    input: $file"
    done
done
exit $failed
