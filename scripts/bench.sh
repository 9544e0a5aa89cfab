#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and measures the client, the server, the page in
# the browser and many stages on this host side by side with their
# baselines; prints three tables and writes build/bench.json,
# build/bench-web.json and build/bench-stages.json. Loopback only. Takes
# about ten minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-bench quandrel-stages quandrel-server quandrel
build/release/bench/quandrel-bench --server build/release/server/quandrel-server --json build/bench.json "$@"
# Node 20 has a WebSocket client behind a flag, for the row without a browser.
websocket=()
node --experimental-websocket -e 0 2>/dev/null && websocket=(--experimental-websocket)
node "${websocket[@]}" bench/web.mjs --server build/release/server/quandrel-server --json build/bench-web.json
# Many stages: a process each, as systemd runs them, beside an echo relay.
build/release/bench/quandrel-stages --server build/release/server/quandrel-server \
    --stages 300,1000,2000 --scrape 300,1000 --shared 300 --flood 300 --json build/bench-stages.json
