#!/usr/bin/env bash
# Runs the end-to-end tests N times in a row, in one Wine prefix and on one display,
# and prints each run's result and a tally of the tests that failed. For telling a
# test that fails by chance from one that fails for a reason, and for running a few.
#
#   bash scripts/repeat-e2e.sh 20                          # the whole suite, 20 times
#   bash scripts/repeat-e2e.sh 5 test_main                 # one file
#   bash scripts/repeat-e2e.sh 1 test_main.CountdownTest   # one class (or Class.test)
#
# Each run's whole output (with any trace a failed timing check printed) is kept in
# build/repeat-e2e/run-<k>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-10}
shift || true

bash scripts/deps.sh
for preset in windows local-publisher; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

source scripts/wine-env.sh "$root/build/wineprefix-test"
# A display of its own, which every run then shares with the prefix's desktop.
E2E_XVFB=1 start_xvfb
init_prefix

# The tests that failed in a run's log, each once.
failures() { grep -E '^(FAIL|ERROR): ' "$1" | sed -E 's/^(FAIL|ERROR): ([^ ]+) \(([^)]*)\).*/\3/' | sort -u || true; }

logs=$root/build/repeat-e2e
rm -rf "$logs"
mkdir -p "$logs"
passed=0
for k in $(seq "$runs"); do
  log=$logs/run-$k.log
  started=$(date +%s)
  if (cd tests/e2e && python3 -m unittest -v "$@") >"$log" 2>&1; then
    result=pass
    passed=$((passed + 1))
  else
    result=FAIL
  fi
  took=$(($(date +%s) - started))
  failed=$(failures "$log" | tr '\n' ' ')
  printf 'run %2d: %s in %3d s %s\n' "$k" "$result" "$took" "$failed"
done
"$WINESERVER_BIN" -k 2>/dev/null || true

echo "== $passed of $runs runs passed"
# A test counts once per run, however many of its checks failed.
tally=$(for log in "$logs"/run-*.log; do failures "$log"; done | sort | uniq -c | sort -rn)
if [ -n "$tally" ]; then
  echo "runs in which each test failed:"
  echo "$tally"
fi
[ "$passed" -eq "$runs" ]
