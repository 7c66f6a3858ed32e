#!/usr/bin/env bash
# Memory benchmark: peak resident memory of a backup and a restore at the two extremes
# of profile shape, with and without a password:
#   files - FILES small mail messages, one file each (a maildir store), 0.2-2.5 KB;
#   mbox  - one mbox mail folder of MBOX_MB megabytes.
# Each archive is written, checked and restored through the archive facade
# (bench_archive), the restored tree is compared with the profile, and the small-files
# profile is also backed up by the built tessarin in batch mode, as cron runs it, which
# adds what the program itself keeps per file (catalogue, component walk, index).
#
#   bench/run_memory_bench.sh [FILES] [MBOX_MB]        # defaults: 200000, 2048
#
# Needs about 3 x MBOX_MB of free space in ${TMPDIR:-/tmp} and /usr/bin/time.
set -euo pipefail

files=${1:-200000}
mbox_mb=${2:-2048}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
bench_dir=${BENCH_BUILD_DIR:-$source_dir/build/bench}
batch_dir=${BENCH_BATCH_BUILD_DIR:-$source_dir/build/bench-batch}

if [ -z "${BENCH_PREBUILT:-}" ]; then # set: use the programs of the two build folders
  cmake -S "$source_dir" -B "$bench_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_GUI=OFF >/dev/null
  cmake --build "$bench_dir" --target bench_archive >/dev/null
  cmake -S "$source_dir" -B "$batch_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTESSARIN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$batch_dir" --target tessarin tessarin_data >/dev/null
fi
bench="$bench_dir/bench/bench_archive"
program="$batch_dir/bin/tessarin"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-memory-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
home="$work/home"
profile="$home/.thunderbird/bench0001.default-release"

# A Thunderbird profile whose one account keeps its mail in Mail/Local Folders.
make_profile() { # kind
  rm -rf "$home"
  mkdir -p "$profile/Mail/Local Folders"
  printf '// Mozilla User Preferences\n\nuser_pref("mail.server.server1.directory-rel", "[ProfD]Mail/Local Folders");\nuser_pref("mail.server.server1.hostname", "Local Folders");\nuser_pref("mail.server.server1.type", "none");\n' \
    > "$profile/prefs.js"
  printf '[Profile0]\nName=default-release\nIsRelative=1\nPath=bench0001.default-release\nDefault=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n' \
    > "$home/.thunderbird/profiles.ini"
  local app="$home/.local/share/flatpak/app/org.mozilla.Thunderbird/current/active/files/lib/thunderbird"
  mkdir -p "$app"
  printf '[App]\nVendor=Mozilla\nName=Thunderbird\nVersion=128.5.0esr\n' > "$app/application.ini"
  python3 - "$profile/Mail/Local Folders" "$1" "$files" "$mbox_mb" <<'PY'
import os, random, sys
folder, kind, files, mbox_mb = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(20090302)
words = [bytes(rng.choice(b"etaoinshrdlu") for _ in range(rng.randint(2, 9))) for _ in range(500)]
def message(n, size):
    head = b"From - Mon Mar  2 10:00:00 2009\nFrom: someone%d@example.org\nSubject: %s\n\n" % (
        n, b" ".join(rng.choices(words, k=5)))
    body = bytearray()
    while len(body) < size:
        if rng.random() < 0.3:  # base64 of an attachment: does not shrink much
            body += rng.randbytes(57).hex().encode()[:76] + b"\n"
        else:
            body += b" ".join(rng.choices(words, k=12)) + b"\n"
    return head + bytes(body[:size]) + b"\n"
if kind == "files":
    cur = os.path.join(folder, "Inbox", "cur")
    os.makedirs(cur)
    for n in range(files):
        with open(os.path.join(cur, "%010d.%06d.mail.example.org:2,S" % (1230000000 + n, n)), "wb") as out:
            out.write(message(n, rng.randint(200, 2500)))
else:
    left = mbox_mb << 20
    chunk = b"".join(message(n, rng.randint(2000, 60000)) for n in range(400))
    with open(os.path.join(folder, "Inbox"), "wb") as out:
        while left > 0:  # the same messages over and over: generating stays fast
            out.write(chunk[:left])
            left -= min(left, len(chunk))
PY
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
timed() { /usr/bin/time -f "%e %M" -o "$work/t" "$@" > "$work/out.log" 2>&1; cat "$work/t"; }

printf '%-6s %-9s %9s %12s %8s %9s %8s %9s %9s %9s %8s\n' case password files bytes \
  backup_s backup_MiB check_s check_MiB restore_s restore_MiB same
for kind in files mbox; do
  make_profile "$kind"
  count=$(find "$profile" -type f | wc -l)
  bytes=$(du -sb "$profile" | cut -f1)
  tar -cf /dev/null -C "$home" .thunderbird # into the page cache
  for pw in "" "Heslo 42"; do
    rm -rf "$work/a.pcv" "$work/restored"
    read -r b_s b_k < <(timed "$bench" "$profile" "$work/a.pcv" 9 ${pw:+"$pw"})
    read -r c_s c_k < <(timed "$bench" --verify "$work/a.pcv" ${pw:+"$pw"})
    read -r r_s r_k < <(timed "$bench" --extract "$work/a.pcv" "$work/restored" ${pw:+"$pw"})
    same=no
    diff -r -q "$profile" "$work/restored" > /dev/null && same=yes
    printf '%-6s %-9s %9d %12d %8.2f %9s %8.2f %9s %9.2f %11s %6s\n' "$kind" "$([ -n "$pw" ] && echo yes || echo no)" \
      "$count" "$bytes" "$b_s" "$(mib "$b_k")" "$c_s" "$(mib "$c_k")" "$r_s" "$(mib "$r_k")" "$same"
  done
  rm -rf "$work/a.pcv" "$work/restored"
  if [ "$kind" = files ]; then
    # The whole program: a batch backup of the same profile, with no display.
    printf '[General]\naction=backup\napplication=thunderbird\nprofile=default\noutput=%s\n' \
      "$work/batch.pcv" > "$work/task.ini"
    read -r t_s t_k < <(timed env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
      HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.local/state" \
      "$program" "$work/task.ini")
    stored=$(unzip -Z1 "$work/batch.pcv" | wc -l)
    echo "batch   tessarin backup of the same profile: $stored entries, $t_s s, peak $(mib "$t_k") MiB"
    rm -f "$work/batch.pcv"
  fi
done
echo "(peak = maximum resident set size; target < 128 MB, i.e. 122 MiB, for every row;"
echo " check = the read-back a backup run makes before the archive replaces an earlier one)"
