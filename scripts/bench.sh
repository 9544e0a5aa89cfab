#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and measures the client, the server and the page in
# the browser side by side with their baselines; prints two tables and writes
# build/bench.json and build/bench-web.json. Loopback only. Takes about two
# minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-bench quandrel-server quandrel
build/release/bench/quandrel-bench --server build/release/server/quandrel-server --json build/bench.json "$@"
# Node 20 has a WebSocket client behind a flag, for the row without a browser.
websocket=()
node --experimental-websocket -e 0 2>/dev/null && websocket=(--experimental-websocket)
node "${websocket[@]}" bench/web.mjs --server build/release/server/quandrel-server --json build/bench-web.json
node bench/stages.mjs --server build/release/server/quandrel-server --json build/bench-stages.json
