#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 30), side by side, one a core. New inputs go to build/fuzz/corpus-*,
# crashes to build/fuzz/artifacts; the committed seeds in fuzz/corpus are
# only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

scripts/setup.sh test
cmake --preset fuzz -DQUANDREL_WERROR=ON >/dev/null
cmake --build build/fuzz --target fuzz_received fuzz_framer
mkdir -p build/fuzz/artifacts
targets=(received framer)
pids=()
for target in "${targets[@]}"; do
    mkdir -p "build/fuzz/corpus-$target"
    echo "fuzz_$target: $seconds s"
    "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        -artifact_prefix=build/fuzz/artifacts/ "build/fuzz/corpus-$target" "fuzz/corpus/$target" \
        >"build/fuzz/fuzz_$target.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
    log="build/fuzz/fuzz_${targets[i]}.log"
    status=0
    wait "${pids[i]}" || status=$?
    grep -E "^(Done|stat::number_of_executed_units)" "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -40 "$log"
        failed=$status
    fi
done
exit "$failed"
