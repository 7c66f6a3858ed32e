#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for SECONDS (default 20) on a
# copy of its seeds in tests/data/fuzz/<target>/. Fails on any crash, leak, timeout or
# sanitizer report; the input that caused it is kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (TARGET without the fuzz_ prefix)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake --preset fuzz "${launcher[@]}" >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

if [ "$#" -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for seeds in tests/data/fuzz/*/; do
        targets+=("$(basename "$seeds")")
    done
fi

# The targets write their input to files: memory-backed folders run them ten times faster.
scratch_root="${TMPDIR:-/tmp}"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_root=/dev/shm
fi
work="$(mktemp -d "$scratch_root/tessarin-fuzz-run-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# What a crashed target leaves in its temporary folder goes with the work folder.
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"
artifacts="$PWD/build/fuzz/artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

total=0
failed=()
for target in "${targets[@]}"; do
    binary="build/fuzz/fuzz/fuzz_$target"
    if [ ! -x "$binary" ] || [ ! -d "tests/data/fuzz/$target" ]; then
        echo "fuzz_$target: no such target or no seeds in tests/data/fuzz/$target" >&2
        failed+=("$target")
        continue
    fi
    corpus="$work/$target/corpus"
    mkdir -p "$corpus" "$work/$target/artifacts"
    cp -r "tests/data/fuzz/$target/." "$corpus/"
    log="$work/$target/log"
    status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -detect_leaks=1 \
        -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/" "$corpus" \
        >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    runs="${runs:-0}"
    total=$((total + runs))
    # A report the sanitizers printed without ending the run counts as a failure too.
    if [ "$status" -ne 0 ] ||
        grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
        failed+=("$target")
        mkdir -p "$artifacts/$target"
        cp -r "$work/$target/artifacts/." "$artifacts/$target/" 2>/dev/null || true
        cp "$log" "$artifacts/$target/log"
        printf '%-18s %10s executions  FAILED (exit %s), see %s\n' "$target" "$runs" "$status" \
            "build/fuzz/artifacts/$target/"
        grep -m 20 -E 'ERROR|runtime error|SUMMARY|==[0-9]+==|#[0-9]+ 0x' "$log" | head -40 >&2 || true
    else
        printf '%-18s %10s executions  ok\n' "$target" "$runs"
    fi
done

echo "Total: $total executions in ${#targets[@]} targets of ${seconds} s each"
if [ "${#failed[@]}" -gt 0 ]; then
    echo "Failed: ${failed[*]}" >&2
    exit 1
fi
