#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that every file says its licence, builds Quandrel and runs every
# test: the suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking, the
# server alone built without Qt Widgets, 20 s of each fuzzer, and the Debian
# packages built and checked with lintian. Loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
phase() { echo "== $1, at $((SECONDS - started)) s"; }

scripts/setup.sh test
reuse lint --quiet || reuse lint
phase "the debug build"
cmake --preset debug >/dev/null
cmake --build build/debug
ctest --preset debug -j2 --output-on-failure

phase "the sanitizer build"
cmake --preset asan >/dev/null
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j2

phase "the server alone"
# A server host: no Qt Widgets anywhere in the build. Its rules' unit tests
# run here; the server's process tests ran against the same code above.
cmake -S . -B build/server-only -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUANDREL_CLIENT=OFF >/dev/null
mapfile -t unit < <(ctest --test-dir build/server-only -L unit -N | sed -n 's/^ *Test *#[0-9]*: \(tst_\)/\1/p')
cmake --build build/server-only --target quandrel-server "${unit[@]}"
ctest --test-dir build/server-only -j2 --output-on-failure -L unit

phase "the fuzzers"
scripts/fuzz.sh 20
phase "the packages"
scripts/package.sh
phase "all done"
