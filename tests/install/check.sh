#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that what lands there
# works: the server answers a join on loopback, the client starts and stays up.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$prefix"; }
trap cleanup EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/quandrel bin/quandrel-server share/applications/quandrel.desktop \
         share/icons/hicolor/32x32/apps/quandrel.png lib/systemd/system/quandrel-server.service; do
    [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
grep -q '^Exec=quandrel$' "$prefix/share/applications/quandrel.desktop"
grep -q '^ExecStart=.*/quandrel-server --listen 127.0.0.1 --port 2579$' \
    "$prefix/lib/systemd/system/quandrel-server.service"

"$prefix/bin/quandrel-server" --listen 127.0.0.1 --port 0 2>"$prefix/server.log" &
pid=$!
port=
for _ in $(seq 50); do
    port=$(sed -n 's/.*listening on 127.0.0.1 port \([0-9]*\).*/\1/p' "$prefix/server.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "server did not start"; cat "$prefix/server.log"; exit 1; }
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '\nx\0' >&3
IFS= read -r -t 3 -N 13 reply <&3
exec 3>&-
[ "$reply" = "ClientNumber0" ] || { echo "server said: $reply"; exit 1; }

set +e
QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/bin/quandrel" 2>/dev/null
rc=$?
set -e
[ "$rc" -eq 124 ] || { echo "client ended with $rc instead of running"; exit 1; }
echo "installed and working"
