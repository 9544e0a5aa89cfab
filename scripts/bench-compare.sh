#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures two builds side by side, in turns (old, new, old, new, ...) so
# that both see the same machine, and prints the median of each row for
# each. For a change that should leave the speed as it was:
#   scripts/bench-compare.sh OLD [NEW] [ROUNDS] [PARTS]
# OLD and NEW are release build folders (with bench/quandrel-bench and
# server/quandrel-server), or server binaries alone, measured with this
# tree's benchmark. NEW defaults to this tree's release build, PARTS to the
# client's and the server's rows ("idle startup step apply server flood
# attack"). Loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."

old=${1:?usage: $0 OLD [NEW] [ROUNDS] [PARTS]}
new=${2:-build/release}
rounds=${3:-3}
read -r -a parts <<<"${4:-idle startup step apply server flood attack}"
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-bench quandrel-server quandrel
# A build folder brings its own benchmark (and so its own client); a server
# binary is measured by this tree's.
bench_of() { if [ -d "$1" ]; then echo "$1/bench/quandrel-bench"; else echo build/release/bench/quandrel-bench; fi; }
server_of() { if [ -d "$1" ]; then echo "$1/server/quandrel-server"; else echo "$1"; fi; }
out=$(mktemp -d)
for round in $(seq "$rounds"); do
    for which in old new; do
        build=$old
        [ "$which" = new ] && build=$new
        for part in "${parts[@]}"; do
            echo "round $round, $which, $part" >&2
            "$(bench_of "$build")" --server "$(server_of "$build")" --only "$part" \
                --json "$out/$which-$round-$part.json" >/dev/null
        done
    done
done
python3 - "$out" <<'PY'
import json, pathlib, statistics, sys
rows = {}
for f in sorted(pathlib.Path(sys.argv[1]).glob('*.json')):
    which = f.name.split('-')[0]
    for row in json.loads(f.read_text()):
        rows.setdefault(row['measure'], {}).setdefault(which, []).append(row['value'])
def median(values):
    parts = [v.split('/') for v in values]
    return '/'.join('%.4g' % statistics.median(float(p[i]) for p in parts)
                    for i in range(len(parts[0])))
print('%-70s %-18s %-18s' % ('measure (median of the rounds)', 'old', 'new'))
for measure, by in rows.items():
    print('%-70s %-18s %-18s' % (measure, median(by.get('old', ['0'])), median(by.get('new', ['0']))))
PY
