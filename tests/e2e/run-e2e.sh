#!/usr/bin/env bash
# Runs one end-to-end scenario of the wizard on a private X server (Xvfb) with a private
# session bus, on which the accessibility bus starts on demand.
# Usage: run-e2e.sh SCENARIO PROGRAM DATA_DIR
#   E2E_TIMEOUT  seconds for the whole run (default 150, 900 for real-*), below ctest's
#                TIMEOUT so this script, not ctest, ends everything and says where it stood.
#   real-firefox, real-thunderbird, real-firstrun run the installed applications: only
#                with TESSARIN_REAL_APPS=1, otherwise they end at once with status 77
#                (skipped).
#   E2E_SHOTS=FOLDER  real-*: PNG pictures of every page and dialog into FOLDER.
#   E2E_BIG_MB=N real-firefox: an N MiB file in the profile, so the run lasts long enough
#                for a picture of the Processing page.
#   E2E_KEEP=1   keep the work folder (home, backup, program log) even when it passed.
#   E2E_DUMP_PAGES=1  print the accessible tree of each page as it is reached.
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 cancel|roundtrip|hostile|real-firefox|real-thunderbird|real-firstrun PROGRAM DATA_DIR" >&2
  exit 2
fi
scenario="$1"
program="$2"
data="$3"
here="$(cd "$(dirname "$0")" && pwd)"
limit="${E2E_TIMEOUT:-150}"
real=0
case "$scenario" in
  real-*)
    real=1
    if [ "${TESSARIN_REAL_APPS:-0}" != 1 ]; then
      echo "e2e: scenario $scenario skipped: set TESSARIN_REAL_APPS=1 to run the installed applications"
      exit 77
    fi
    # Starting and quitting the applications takes most of it.
    limit="${E2E_TIMEOUT:-900}"
    ;;
esac
python=/usr/bin/python3 # Debian's, the one python3-pyatspi installs into

# A missing tool is a failure that names its package; CI installs them with the script.
missing=()
need() { command -v "$1" >/dev/null 2>&1 || [ -x "$1" ] || missing+=("$1 (Debian package $2)"); }
need Xvfb xvfb
need dbus-run-session dbus
need dbus-daemon dbus
need /usr/libexec/at-spi-bus-launcher at-spi2-core
need /usr/libexec/at-spi2-registryd at-spi2-core
need timeout coreutils
need "$python" python3
if [ "$real" -eq 1 ]; then
  case "$scenario" in
    real-firefox)
      need sqlite3 sqlite3
      need /usr/lib/firefox-esr/firefox-esr firefox-esr
      ;;
    real-thunderbird)
      need sqlite3 sqlite3
      need /usr/lib/thunderbird/thunderbird thunderbird
      ;;
    real-firstrun)
      need /usr/lib/firefox-esr/firefox-esr firefox-esr
      need /usr/lib/thunderbird/thunderbird thunderbird
      ;;
  esac
  if [ -n "${E2E_SHOTS:-}" ]; then
    need xwd x11-apps
    need xwininfo x11-utils
    need /usr/bin/convert imagemagick
  fi
fi
if [ -x "$python" ] && ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0"); import pyatspi' \
    >/dev/null 2>&1; then
  missing+=("pyatspi for $python (Debian package python3-pyatspi)")
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "e2e: FAILED: missing prerequisites:" >&2
  printf '  - %s\n' "${missing[@]}" >&2
  echo "e2e: install them with: bash scripts/install-deps.sh" >&2
  exit 1
fi
if [ ! -x "$program" ]; then
  echo "e2e: FAILED: the program $program is not built" >&2
  exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tessarin-e2e.XXXXXX")"
xvfb_pid=""
status=1
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ "$status" -eq 0 ] && [ "${E2E_KEEP:-0}" != 1 ]; then
    rm -rf "$work"
  else
    echo "e2e: work folder kept: $work"
  fi
}
trap cleanup EXIT

# -displayfd lets the server pick a free display, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
display="$(tr -d '[:space:]' <"$work/display" 2>/dev/null)"
if [ -z "$display" ]; then
  echo "e2e: FAILED: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

echo "e2e: scenario $scenario on display :$display, work folder $work"
# Nothing of the real session leaks in: the buses, the driver and the program all live in
# the work folder.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
unset DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME \
  WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
# timeout signals its whole process group: the driver, the program, the session bus and
# the accessibility services it started all end with it.
DISPLAY=":$display" XAUTHORITY=/dev/null \
  timeout --kill-after=10 "$limit" \
  dbus-run-session -- "$python" "$here/wizard_e2e.py" \
  --scenario "$scenario" --program "$program" --data "$data" --work "$work" \
  --timeout "$((limit - 15))"
status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "e2e: FAILED: the scenario ran over $limit seconds and was stopped" >&2
fi
exit "$status"
