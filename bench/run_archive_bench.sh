#!/usr/bin/env bash
# Archive benchmark: generates a synthetic heavy profile, then writes it at level 9
# through the archive facade (bench_archive) and with Info-ZIP's zip, alternating, for
# ROUNDS rounds, without and with a password, and prints one table: median wall times,
# their ratio, both archive sizes and the peak resident memory of each.
#
#   bench/run_archive_bench.sh [MEGABYTES] [ROUNDS]
#
# Builds bench_archive in build/bench (Release). Work files go to a temporary folder
# under ${TMPDIR:-/tmp}, removed at the end; the profile is never kept.
set -euo pipefail

megabytes=${1:-300}
rounds=${2:-3}
password='Bench 42'
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
echo "cores: $(nproc), rounds: $rounds"

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
peak() { sort -g | tail -1; }

# One kind of backup: $1 label, $2 password ('' for none).
run_kind() {
  local label=$1 pw=$2 round
  local zip_args=(-r -9 -q)
  [ -n "$pw" ] && zip_args+=(-P "$pw")
  : > "$work/zip.$label"; : > "$work/facade.$label"
  for round in $(seq "$rounds"); do
    rm -f "$work/$label.zip" "$work/$label.pcv"
    (cd "$work/profile" && /usr/bin/time -f "%e %M %U %S" -o "$work/t" zip "${zip_args[@]}" "$work/$label.zip" .)
    cat "$work/t" >> "$work/zip.$label"
    /usr/bin/time -f "%e %M %U %S" -o "$work/t" \
      "$bench" "$work/profile" "$work/$label.pcv" 9 ${pw:+"$pw"} > "$work/facade.out.$label"
    cat "$work/t" >> "$work/facade.$label"
    echo "  $label round $round: zip $(tail -1 "$work/zip.$label"), tessarin $(tail -1 "$work/facade.$label") (wall s, peak KiB, user s, sys s)"
  done
  # The archive must be whole: the standard tools test it (Info-ZIP's unzip has no AES).
  if [ -z "$pw" ] && command -v unzip >/dev/null; then
    unzip -tq "$work/$label.pcv" >/dev/null || echo "  $label: unzip -t FAILED"
  fi
  local seven
  seven=$(command -v 7z || command -v 7zz || true)
  if [ -n "$seven" ]; then
    "$seven" t ${pw:+"-p$pw"} "$work/$label.pcv" >/dev/null || echo "  $label: 7z t FAILED"
  fi
  cpu() { awk '{print $3 + $4}' "$1" | median; }
  printf '%s %s %s %s %s %s %s %s\n' "$label" \
    "$(cut -d' ' -f1 "$work/facade.$label" | median)" "$(cut -d' ' -f1 "$work/zip.$label" | median)" \
    "$(stat -c %s "$work/$label.pcv")" "$(stat -c %s "$work/$label.zip")" \
    "$(cut -d' ' -f2 "$work/facade.$label" | peak)" \
    "$(cpu "$work/facade.$label")" "$(cpu "$work/zip.$label")" >> "$work/summary"
}

: > "$work/summary"
run_kind plain ''
run_kind password "$password"

echo
awk 'BEGIN {
  printf "%-9s %10s %12s %7s %14s %14s %7s %9s %13s %8s\n", "backup", "tessarin s", "zip -r -9 s",
         "ratio", "tessarin bytes", "zip bytes", "size", "peak MiB", "cpu tessarin", "cpu zip"
}
{
  printf "%-9s %10.2f %12.2f %7.3f %14d %14d %6.1f%% %9.1f %13.2f %8.2f\n", $1, $2, $3, $2 / $3,
         $4, $5, 100 * $4 / $5, $6 / 1024, $7, $8
}' "$work/summary"
echo "(medians of $rounds rounds; cpu = user + system seconds; password: tessarin AES-256,"
echo " zip -P its traditional encryption;"
echo " targets without password: ratio <= 0.40, size <= zip's, peak < 128 MiB)"
