#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that every file says its licence, builds Quandrel and runs every
# test once, under AddressSanitizer and UndefinedBehaviorSanitizer with leak
# checking: the rules, the windows, the real server binary, the page in
# headless Chromium, the installation and the soak. Then builds the server
# alone without Qt Widgets, runs 20 s of each fuzzer, and builds the Debian
# packages and checks them with lintian. Loopback only.
# (`ctest --preset debug` runs the same suite on a plain debug build.)
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
phase() { echo "== $1, at $((SECONDS - started)) s"; }

scripts/setup.sh test
reuse lint --quiet || reuse lint

phase "the suite under the sanitizers"
# Any warning from our own sources fails, deprecations included.
cmake --preset asan -DQUANDREL_WERROR=ON >/dev/null
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j2 --output-on-failure

phase "the server alone"
# A server host: no Qt Widgets anywhere in the build (the build itself
# refuses a core library that links them; this shows the server needs none).
cmake -S . -B build/server-only -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUANDREL_CLIENT=OFF \
    -DBUILD_TESTING=OFF -DQUANDREL_WERROR=ON >/dev/null
cmake --build build/server-only --target quandrel-server
build/server-only/server/quandrel-server --version

phase "the fuzzers"
scripts/fuzz.sh 20
phase "the packages"
scripts/package.sh
phase "all done"
