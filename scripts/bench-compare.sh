#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the server's benchmark rows of two server binaries side by side,
# in turns (old, new, old, new, ...) so that both see the same machine, and
# prints the median of each row for each. For a change that should leave
# the server's speed as it was:
#   scripts/bench-compare.sh OLD_SERVER [NEW_SERVER] [ROUNDS]
# NEW_SERVER defaults to this tree's release build. Loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."

old=${1:?usage: $0 OLD_SERVER [NEW_SERVER] [ROUNDS]}
new=${2:-build/release/server/quandrel-server}
rounds=${3:-3}
cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
cmake --build build/release --target quandrel-bench quandrel-server
out=$(mktemp -d)
for round in $(seq "$rounds"); do
    for which in old new; do
        server=$old
        [ "$which" = new ] && server=$new
        for part in server flood attack; do
            echo "round $round, $which, $part" >&2
            build/release/bench/quandrel-bench --server "$server" --only "$part" \
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
