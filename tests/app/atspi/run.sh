#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs check.py under Xvfb with a private D-Bus session, whose accessibility
# bus and registry D-Bus starts on demand. Skips (exit 77) where the
# accessibility packages are not installed, as in a package build.
# usage: run.sh CLIENT SERVER
set -euo pipefail
here=$(dirname "$0")
missing=()
[ -x /usr/libexec/at-spi-bus-launcher ] || missing+=(at-spi2-core)
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || missing+=(python3-pyatspi)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v dbus-run-session >/dev/null || missing+=(dbus)
if [ ${#missing[@]} -gt 0 ]; then
    echo "skipped: not installed: ${missing[*]} (scripts/setup.sh test installs them)"
    exit 77
fi

work=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# The display Xvfb picks is written to a file, so that no number is guessed.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export XDG_RUNTIME_DIR="$work"
# Started before any service, so that the registry has the display for
# the keys it types.
dbus-run-session -- /usr/bin/python3 "$here/check.py" "$@" 2> >(grep -v '^dbus-daemon\[' >&2)
