#!/usr/bin/env bash
# End-to-end batch benchmark: generates the synthetic heavy profile as a Thunderbird
# profile in a private home, runs the built tessarin on a task file with no display
# (what cron does), then "zip -r -9" on exactly the files the backup stored, in the
# same run, alternating, and prints the wall-time ratio and peak resident memory.
#
#   bench/run_batch_bench.sh [MEGABYTES] [ROUNDS]      # defaults: 300, 3
#
# Builds tessarin in build/bench-batch (Release). Needs /usr/bin/time (package "time").
set -euo pipefail

megabytes=${1:-300}
rounds=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build_dir=${BENCH_BUILD_DIR:-$source_dir/build/bench-batch}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTESSARIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target tessarin tessarin_data >/dev/null
program="$build_dir/bin/tessarin"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-batch-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
home="$work/home"
profile="$home/.thunderbird/bench0001.default-release"
app="$home/.local/share/flatpak/app/org.mozilla.Thunderbird/current/active/files/lib/thunderbird"
mkdir -p "$app" "$work/out"
printf '[App]\nVendor=Mozilla\nName=Thunderbird\nVersion=128.5.0esr\n' > "$app/application.ini"
python3 "$here/make_profile.py" "$profile" --megabytes "$megabytes"
# The mail accounts that make the backup take the mail folders.
cat >> "$profile/prefs.js" <<PREFS
user_pref("mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders");
user_pref("mail.server.server1.hostname", "Local Folders");
user_pref("mail.server.server1.type", "none");
user_pref("mail.server.server2.directory-rel", "[ProfD]ImapMail/imap.example.org");
user_pref("mail.server.server2.hostname", "imap.example.org");
user_pref("mail.server.server2.type", "imap");
PREFS
printf '[Profile0]\nName=default-release\nIsRelative=1\nPath=bench0001.default-release\nDefault=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n' \
  > "$home/.thunderbird/profiles.ini"
printf '[General]\naction=backup\napplication=thunderbird\nprofile=default\noutput=%s\n' \
  "$work/out/batch.pcv" > "$work/task.ini"
tar -cf /dev/null -C "$home" .thunderbird

run_batch() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" \
    XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.local/state" \
    /usr/bin/time -f "%e %M" -o "$work/t" "$program" "$work/task.ini" > "$work/batch.log" 2>&1
}

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# The first run tells which files a batch backup stores; zip gets the same list.
run_batch
unzip -Z1 "$work/out/batch.pcv" | grep -v '^indexfile.txt$' > "$work/list"
echo "batch backup stores $(wc -l < "$work/list") files of $(find "$profile" -type f | wc -l)"

: > "$work/zip.times"; : > "$work/batch.times"
for round in $(seq "$rounds"); do
  rm -f "$work/zip.zip" "$work/out/batch.pcv"
  (cd "$profile" && /usr/bin/time -f "%e %M" -o "$work/t" zip -9 -q "$work/zip.zip" -@ < "$work/list")
  cat "$work/t" >> "$work/zip.times"
  run_batch
  cat "$work/t" >> "$work/batch.times"
  echo "round $round: zip $(tail -1 "$work/zip.times") batch $(tail -1 "$work/batch.times") (seconds, peak KiB)"
done

zip_s=$(cut -d' ' -f1 "$work/zip.times" | median)
batch_s=$(cut -d' ' -f1 "$work/batch.times" | median)
zip_kib=$(cut -d' ' -f2 "$work/zip.times" | sort -g | tail -1)
batch_kib=$(cut -d' ' -f2 "$work/batch.times" | sort -g | tail -1)
echo "sizes: zip $(stat -c %s "$work/zip.zip") bytes, batch $(stat -c %s "$work/out/batch.pcv") bytes"
awk -v z="$zip_s" -v b="$batch_s" -v zk="$zip_kib" -v bk="$batch_kib" 'BEGIN {
  printf "median wall time: zip -9 %.2f s, tessarin batch %.2f s, ratio %.3f\n", z, b, b / z
  printf "peak RSS: zip %.1f MiB, tessarin batch %.1f MiB\n", zk / 1024, bk / 1024
}'
