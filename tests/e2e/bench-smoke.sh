#!/usr/bin/env bash
# Runs both benchmark scripts on tiny generated profiles with the programs of one build
# folder and checks what they print. Usage: bench-smoke.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
export BENCH_PREBUILT=1 BENCH_BUILD_DIR=$2 BENCH_BATCH_BUILD_DIR=$2
fail() { echo "bench-smoke: $*" >&2; exit 1; }

archive=$(bash "$source_dir/bench/run_archive_bench.sh" 4 1 2>&1) || { echo "$archive"; fail "archive bench failed"; }
echo "$archive"
for row in '^plain ' '^password ' '^password / plain backup: ' '^verify plain: ' '^database check plain: '; do
  grep -q "$row" <<<"$archive" || fail "archive bench printed no line matching $row"
done
! grep -q 'FAILED\|DIFFERS' <<<"$archive" || fail "archive bench found a broken archive"

memory=$(bash "$source_dir/bench/run_memory_bench.sh" 300 2 2>&1) || { echo "$memory"; fail "memory bench failed"; }
echo "$memory"
[ "$(grep -cE '^(files|mbox) +(no|yes) .* yes$' <<<"$memory")" -eq 4 ] ||
  fail "memory bench: not every archive came back whole"
grep -qE '^batch .*: 30[0-9] entries' <<<"$memory" || fail "memory bench: no batch backup line"
