#!/usr/bin/env bash
# Runs the end-to-end suite N times in a row, in one Wine prefix and on one display,
# and prints each run's result and a tally of the tests that failed. For telling a
# test that fails by chance from one that fails for a reason.
#
#   bash scripts/repeat-e2e.sh 20            # builds first if needed
#   E2E_ONLY=test_main bash scripts/repeat-e2e.sh 5
#
# Each run's whole output (with any trace a failed timing check printed) is kept in
# build/repeat-e2e/run-<k>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-10}
pattern=${E2E_ONLY:+$E2E_ONLY.py}
pattern=${pattern:-test_*.py}

if [ ! -x build/windows/MorvaneShutdown.exe ] || [ ! -f build/windows/tools/uidriver.exe ]; then
  bash scripts/deps.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows
fi

source scripts/wine-env.sh "$root/build/wineprefix-test"
# A display of its own, which every run then shares with the prefix's desktop.
E2E_XVFB=1 start_xvfb
export E2E_XVFB=0
init_prefix

logs=$root/build/repeat-e2e
rm -rf "$logs"
mkdir -p "$logs"
passed=0
for k in $(seq "$runs"); do
  log=$logs/run-$k.log
  started=$(date +%s)
  if BUILD_DIR="$root/build/windows" python3 -m unittest discover -s tests/e2e -p "$pattern" -v >"$log" 2>&1; then
    result=pass
    passed=$((passed + 1))
  else
    result=FAIL
  fi
  took=$(($(date +%s) - started))
  failed=$(grep -E '^(FAIL|ERROR): ' "$log" | sed -E 's/^(FAIL|ERROR): ([^ ]+) \(([^)]*)\).*/\3/' | sort -u |
    tr '\n' ' ' || true)
  printf 'run %2d: %s in %3d s %s\n' "$k" "$result" "$took" "$failed"
done
"$WINESERVER_BIN" -k 2>/dev/null || true

echo "== $passed of $runs runs passed"
# A test counts once per run, however many of its checks failed.
tally=$(for log in "$logs"/run-*.log; do
  grep -E '^(FAIL|ERROR): ' "$log" | sed -E 's/^(FAIL|ERROR): ([^ ]+) \(([^)]*)\).*/\3/' | sort -u
done | sort | uniq -c | sort -rn || true)
if [ -n "$tally" ]; then
  echo "runs in which each test failed:"
  echo "$tally"
fi
[ "$passed" -eq "$runs" ]
