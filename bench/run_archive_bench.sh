#!/usr/bin/env bash
# Archive benchmark: generates a synthetic heavy profile, then writes it at level 9
# through the archive facade (bench_archive) and with Info-ZIP's "zip -r -9", in the
# same run, alternating, and prints the wall-time ratio and the peak resident memory.
#
#   bench/run_archive_bench.sh [MEGABYTES] [ROUNDS]
#
# Builds bench_archive in build/bench (Release). Work files go to a temporary folder
# under ${TMPDIR:-/tmp}, removed at the end.
set -euo pipefail

megabytes=${1:-300}
rounds=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${BENCH_BUILD_DIR:-$source_dir/build/bench}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_GUI=OFF >/dev/null
cmake --build "$build_dir" --target bench_archive >/dev/null
bench="$build_dir/bench/bench_archive"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/make_profile.py" "$work/profile" --megabytes "$megabytes"
# Both sides read from the page cache.
tar -cf /dev/null -C "$work" profile

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

: > "$work/zip.times"; : > "$work/facade.times"
for round in $(seq "$rounds"); do
  rm -f "$work/zip.zip" "$work/facade.pcv"
  (cd "$work/profile" && /usr/bin/time -f "%e %M" -o "$work/t" zip -r -9 -q "$work/zip.zip" .)
  cat "$work/t" >> "$work/zip.times"
  /usr/bin/time -f "%e %M" -o "$work/t" "$bench" "$work/profile" "$work/facade.pcv" 9 > "$work/facade.out"
  cat "$work/t" >> "$work/facade.times"
  echo "round $round: zip $(cat "$work/zip.times" | tail -1) facade $(tail -1 "$work/facade.times") (seconds, peak KiB)"
done

zip_s=$(cut -d' ' -f1 "$work/zip.times" | median)
facade_s=$(cut -d' ' -f1 "$work/facade.times" | median)
zip_kib=$(cut -d' ' -f2 "$work/zip.times" | sort -g | tail -1)
facade_kib=$(cut -d' ' -f2 "$work/facade.times" | sort -g | tail -1)
echo "facade: $(cat "$work/facade.out")"
echo "sizes: zip $(stat -c %s "$work/zip.zip") bytes, facade $(stat -c %s "$work/facade.pcv") bytes"
awk -v z="$zip_s" -v f="$facade_s" -v zk="$zip_kib" -v fk="$facade_kib" 'BEGIN {
  printf "median wall time: zip -r -9 %.2f s, facade %.2f s, ratio %.3f (target <= 1.10)\n", z, f, f / z
  printf "peak RSS: zip %.1f MiB, facade %.1f MiB (target < 64 MiB)\n", zk / 1024, fk / 1024
}'
