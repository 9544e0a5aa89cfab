#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders docs/stage.png without a display: a local server, two clients on
# the stage, the first client's window at twice its size.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-screenshot
QT_QPA_PLATFORM=offscreen build/release/tools/quandrel-screenshot docs/stage.png
# The page in the browser, at desktop and phone width.
scripts/setup.sh test
cmake --build build/release --target quandrel-server
QUANDREL_SERVER=build/release/server/quandrel-server \
    node tests/web/screenshots.mjs docs/web-desktop.png docs/web-phone.png
