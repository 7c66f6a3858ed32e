#!/usr/bin/env bash
# The shipped systemd units pass systemd-analyze verify (the manual page is not
# installed here, and the command is replaced by one that exists).
set -euo pipefail
source_dir=$1
if ! command -v systemd-analyze >/dev/null; then
  echo "check-service: systemd-analyze is not installed (Debian package systemd); skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for unit in tessarin-backup.service tessarin-backup.timer; do
  sed -e '/^Documentation=/d' -e 's|^ExecStart=tessarin |ExecStart=/bin/true |' \
    "$source_dir/data/examples/$unit" > "$work/$unit"
done
systemd-analyze verify "$work/tessarin-backup.service" "$work/tessarin-backup.timer"
grep -qx 'RestartPreventExitStatus=1' "$work/tessarin-backup.service"
echo "check-service: units verified"
