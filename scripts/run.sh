#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Quandrel, starts a stage server on 127.0.0.1 at the client's default
# port, with its page for web browsers, and opens the client, ready to
# connect to it. The server stops when the client closes.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: run this from a desktop session (or under xvfb-run)." >&2
    exit 1
fi

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build build/release --target quandrel quandrel-server

port=2579 # the client's default
web_port=2580
server_pid=
if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    build/release/server/quandrel-server --listen 127.0.0.1 --port "$port" --web-port "$web_port" &
    server_pid=$!
    trap 'kill "$server_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
else
    echo "A server already answers on 127.0.0.1 port $port; using it."
fi
echo "The stage in a web browser: http://127.0.0.1:$web_port/"
build/release/app/quandrel
