#!/usr/bin/env bash
# Archive benchmark: generates a synthetic heavy profile, then writes it at level 9
# through the archive facade (bench_archive) and with Info-ZIP's zip, alternating, for
# ROUNDS rounds, without and with a password, and prints one table: median wall times,
# their ratio, both archive sizes and the peak resident memory of each. Then restores
# the archives into empty folders, against `unzip -o -q` (and 7-Zip for the AES one), and
# last writes a second backup beside the first, unchanged and with 1 % changed, against
# `zip -FS`.
#
#   bench/run_archive_bench.sh [MEGABYTES] [ROUNDS]
#
# Builds bench_archive in build/bench (Release), or uses the one in $BENCH_BUILD_DIR
# as it is when BENCH_PREBUILT is set. Work files go to a temporary folder
# under ${TMPDIR:-/tmp}, removed at the end; the profile is never kept.
set -euo pipefail

megabytes=${1:-300}
rounds=${2:-3}
password='Bench 42'
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${BENCH_BUILD_DIR:-$source_dir/build/bench}

if [ -z "${BENCH_PREBUILT:-}" ]; then # set: use the bench_archive built in $BENCH_BUILD_DIR
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_GUI=OFF >/dev/null
  cmake --build "$build_dir" --target bench_archive >/dev/null
fi
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
    # What reading it back costs before a backup run moves it into place.
    "$bench" --verify "$work/$label.pcv" ${pw:+"$pw"} > "$work/verify.out"
    cut -d' ' -f2 "$work/verify.out" >> "$work/verify.$label"
    cut -d' ' -f4 "$work/verify.out" >> "$work/databases.$label"
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
for label in plain password; do
  backup_s=$(cut -d' ' -f1 "$work/facade.$label" | median)
  databases_s=$(median < "$work/databases.$label")
  echo "verify $label: $(median < "$work/verify.$label") s (backup $backup_s s)"
  echo "database check $label: $databases_s s, $(awk -v d="$databases_s" -v b="$backup_s" 'BEGIN { printf "%.1f", 100 * d / b }') % of the backup"
done
awk '{ t[$1] = $2 } END { printf "password / plain backup: %.3f (target <= 1.2)\n", t["password"] / t["plain"] }' \
  "$work/summary"
echo "(medians of $rounds rounds; cpu = user + system seconds; password: tessarin AES-256,"
echo " zip -P its traditional encryption;"
echo " targets without password: ratio <= 0.40, size <= zip's, peak < 128 MiB;"
echo " with a password: at most 1.2 x the plain backup)"

# Restore: the facade's extraction against unzip into an empty folder, alternating.
seven=$(command -v 7z || command -v 7zz || true)
: > "$work/restore"
for round in $(seq "$rounds"); do
  for label in plain password; do
    pw=''; [ "$label" = password ] && pw=$password
    rm -rf "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/t" "$bench" --extract "$work/$label.pcv" "$work/out" ${pw:+"$pw"} >/dev/null
    echo "tessarin-$label $(cat "$work/t")" >> "$work/restore"
    diff -rq "$work/out" "$work/profile" >/dev/null || echo "  restore $label: content DIFFERS"
    rm -rf "$work/out"; mkdir "$work/out"
    if [ "$label" = plain ]; then
      (cd "$work/out" && /usr/bin/time -f "%e %M" -o "$work/t" unzip -o -q "$work/plain.pcv")
      echo "unzip $(cat "$work/t")" >> "$work/restore"
    elif [ -n "$seven" ]; then
      /usr/bin/time -f "%e %M" -o "$work/t" "$seven" x -y "-p$pw" "-o$work/out" "$work/password.pcv" >/dev/null
      echo "7z-aes $(cat "$work/t")" >> "$work/restore"
    fi
  done
done
rm -rf "$work/out"
stat_of() { awk -v k="$1" -v f="$2" '$1 == k {print $f}' "$work/restore"; }
tp=$(stat_of tessarin-plain 2 | median); tw=$(stat_of tessarin-password 2 | median)
uz=$(stat_of unzip 2 | median)
echo
printf '%-9s %10s %12s %7s %9s\n' restore "tessarin s" "baseline s" ratio "peak MiB"
awk -v t="$tp" -v b="$uz" -v m="$(stat_of tessarin-plain 3 | peak)" \
  'BEGIN {printf "%-9s %10.2f %12.2f %7.3f %9.1f   (baseline: unzip -o -q; target <= 0.9)\n", "plain", t, b, t / b, m / 1024}'
awk -v t="$tw" -v b="$tp" -v m="$(stat_of tessarin-password 3 | peak)" \
  'BEGIN {printf "%-9s %10.2f %12.2f %7.3f %9.1f   (baseline: the plain restore; target <= 1.5)\n", "password", t, b, t / b, m / 1024}'
if [ -s "$work/restore" ] && grep -q '^7z-aes' "$work/restore"; then
  echo "7-Zip extracting the AES archive: $(stat_of 7z-aes 2 | median) s"
fi

# A second backup beside the first: unchanged files are copied from it as stored. Against
# Info-ZIP's file sync (zip -FS) on a copy of zip's own archive, with the same password.
# First with the profile as it was, then with a few files changed (1 % of the bytes).
second_round() { # $1 label, $2 password, $3 state (unchanged|changed)
  local label=$1 pw=$2 state=$3 round
  local zip_args=(-FS -r -9 -q)
  [ -n "$pw" ] && zip_args+=(-P "$pw")
  for round in $(seq "$rounds"); do
    rm -f "$work/$label.next.pcv"
    /usr/bin/time -f "%e %M" -o "$work/t" \
      "$bench" --reuse "$work/$label.pcv" "$work/profile" "$work/$label.next.pcv" 9 ${pw:+"$pw"} \
      > "$work/next.out"
    echo "$(cat "$work/t") $(sed -n 's/.* reused \([0-9]*\).*/\1/p' "$work/next.out")" >> "$work/next.$label.$state"
    cp "$work/$label.zip" "$work/$label.fs.zip"
    (cd "$work/profile" && /usr/bin/time -f "%e" -o "$work/t" zip "${zip_args[@]}" "$work/$label.fs.zip" .)
    cat "$work/t" >> "$work/fs.$label.$state"
  done
  # The second backup must be a whole backup of the profile as it is now.
  rm -rf "$work/out"
  "$bench" --extract "$work/$label.next.pcv" "$work/out" ${pw:+"$pw"} >/dev/null
  diff -rq "$work/out" "$work/profile" >/dev/null || echo "  second $label $state: content DIFFERS"
  rm -rf "$work/out"
}
for label in plain password; do
  pw=''; [ "$label" = password ] && pw=$password
  second_round "$label" "$pw" unchanged
done
# 1 % of the bytes: a few whole files, the largest below 2 % of the profile each, one
# byte flipped and the time now.
python3 - "$work/profile" <<'PY'
import os, sys, time
root = sys.argv[1]
files = [os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs]
total = sum(os.path.getsize(f) for f in files)
changed = 0
for path in sorted(files, key=os.path.getsize, reverse=True):
    size = os.path.getsize(path)
    if size > total * 0.02 or changed + size > total * 0.015:
        continue
    with open(path, "r+b") as f:
        f.seek(size // 2)
        byte = f.read(1)
        f.seek(size // 2)
        f.write(bytes([byte[0] ^ 0x5A]))
    os.utime(path, (time.time() + 5, time.time() + 5))
    changed += size
    if changed >= total * 0.01:
        break
print(f"changed {changed} of {total} bytes ({100 * changed / total:.2f} %)")
PY
for label in plain password; do
  pw=''; [ "$label" = password ] && pw=$password
  second_round "$label" "$pw" changed
done
echo
printf '%-20s %10s %9s %7s %10s %11s %7s %9s\n' "second backup" "tessarin s" "first s" ratio \
  "zip -FS s" "/ zip -FS" reused "peak MiB"
for label in plain password; do
  first=$(cut -d' ' -f1 "$work/facade.$label" | median)
  for state in unchanged changed; do
    t=$(cut -d' ' -f1 "$work/next.$label.$state" | median)
    fs_s=$(median < "$work/fs.$label.$state")
    awk -v l="$label $state" -v t="$t" -v f="$first" -v z="$fs_s" \
      -v r="$(cut -d' ' -f3 "$work/next.$label.$state" | tail -1)" \
      -v m="$(cut -d' ' -f2 "$work/next.$label.$state" | peak)" \
      'BEGIN {printf "%-20s %10.2f %9.2f %7.3f %10.2f %11.2f %7d %9.1f\n", l, t, f, t / f, z, (z > 0 ? t / z : 0), r, m / 1024}'
  done
done
echo "(targets: unchanged <= 0.15 x the first backup; 1 % changed <= 0.25 x and no slower"
echo " than zip -FS; peak < 128 MiB. zip -FS: Info-ZIP updating a copy of its own archive)"
