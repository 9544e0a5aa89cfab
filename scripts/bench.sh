#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and measures the client and the server side by side
# with their baselines; prints one table and writes build/bench.json.
# Loopback only. Takes about a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-bench quandrel-server quandrel
build/release/bench/quandrel-bench --server build/release/server/quandrel-server --json build/bench.json "$@"
