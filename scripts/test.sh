#!/usr/bin/env bash
# Builds Quandrel and runs every test: the suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking, and 30 s
# of each fuzzer. Loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset debug -G Ninja >/dev/null
cmake --build build/debug
ctest --preset debug -j2

cmake --preset asan -G Ninja >/dev/null
cmake --build build/asan
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j2

scripts/fuzz.sh 30
