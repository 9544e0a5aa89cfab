#!/usr/bin/env bash
# Builds Quandrel and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset debug -G Ninja >/dev/null
cmake --build build/debug
ctest --preset debug -j2
