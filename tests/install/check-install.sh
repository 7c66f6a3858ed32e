#!/usr/bin/env bash
# Installs the build into a private prefix and checks the tree a desktop, man and
# AppStream expect, then runs the installed program through its bin link.
# Usage: check-install.sh BUILD-DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in lib/tessarin/tessarin lib/tessarin/Default.lng lib/tessarin/Backup.ini \
         lib/tessarin/Profilefiles.txt lib/tessarin/side.jpg \
         share/applications/io.github.tessarin.Tessarin.desktop \
         share/metainfo/io.github.tessarin.Tessarin.metainfo.xml \
         share/icons/hicolor/scalable/apps/tessarin.svg \
         share/man/man1/tessarin.1.gz \
         share/doc/tessarin/examples/firefox-daily.ini \
         share/doc/tessarin/examples/tessarin-backup.service \
         share/doc/tessarin/examples/tessarin-backup.timer; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
for size in 16 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/tessarin.png
  [ -f "$png" ] || fail "missing $png"
  # The PNG header holds width and height as big-endian 32-bit numbers at bytes 16..23.
  dims=$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')
  [ "$dims" = "$(printf '%08x%08x' "$size" "$size")" ] || fail "$png is not ${size}x${size} ($dims)"
done

[ -L "$prefix/bin/tessarin" ] || fail "bin/tessarin is not a link"
[ "$(readlink "$prefix/bin/tessarin")" = "../lib/tessarin/tessarin" ] || fail "bin/tessarin points elsewhere"

desktop-file-validate "$prefix/share/applications/io.github.tessarin.Tessarin.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.tessarin.Tessarin.metainfo.xml" >/dev/null \
  || fail "appstreamcli validate failed"
man --warnings -l "$prefix/share/man/man1/tessarin.1.gz" >/dev/null 2>"$work/man.err" || fail "man failed"
[ ! -s "$work/man.err" ] || fail "manual page warnings: $(cat "$work/man.err")"

# Through the link, with no display and a private home: the program folder is the
# link's target folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_STATE_HOME=$work/home/.local/state
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$HOME"
"$prefix/bin/tessarin" --version | grep -qx 'tessarin [0-9.]*' || fail "--version"
"$prefix/bin/tessarin" --help | grep -qF "$prefix/lib/tessarin/Backup.ini" || fail "--help names no program folder"
set +e
"$prefix/bin/tessarin" missing.ini 2>"$work/err"
status=$?
set -e
[ "$status" = 1 ] || fail "a missing task file ended with $status"
grep -qF "tessarin: Cannot find config file missing.ini." "$work/err" || fail "no stderr line: $(cat "$work/err")"
echo "check-install: ok"
