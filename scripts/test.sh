#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the pure logic
# natively, the windows in-process under Wine (64-bit, 32-bit, and as on Windows 7), and
# the real program end to end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset windows
cmake --build --preset windows
cmake --preset windows-x86
cmake --build --preset windows-x86
# The program once more, its adverts fetched from the end-to-end tests' own server.
cmake --preset local-publisher
cmake --build --preset local-publisher

echo "== the programs' imports (Known DLLs, and only what Windows 7 SP1 exports), headers and manifests"
python3 tests/check_imports.py build/windows/MorvaneShutdown.exe build/windows-x86/MorvaneShutdown.exe
python3 tests/check_imports.py --entry-point build/windows/tools/planted.dll build/windows-x86/tools/planted.dll

for preset in windows windows-x86; do
  echo "== reproducible download, $preset (the program and its zip, built twice and compared)"
  bash scripts/repro.sh $preset
  echo "== signed download, $preset (a throwaway certificate and token, a local time-stamp authority, through the package command)"
  bash scripts/signing.sh $preset
  echo "== Store package, $preset (manifest against the program, block map, order, logos, a throwaway signature, Microsoft's reader)"
  python3 tests/check_msix.py $preset
done

# Some machines run 64-bit user code only (their kernel has IA-32 emulation off): no
# 32-bit program runs there, Wine's 32-bit half included. There the x86 program is still
# built and checked above; only the runs that execute it are left out, and said so.
# Whether 32-bit code runs is found by starting a 32-bit program: where it does, every
# 32-bit run runs and fails the whole as ever.
runs32=yes
python3 tests/e2e/harness.py runs-32bit || { [ $? -eq 1 ] && runs32=no; } || exit 1
not_run_32() { # what was left out
  echo "!! ==== NOT RUN: $1; the 32-bit runs did not run: this machine runs 64-bit code only ===="
}

# Wine's exit code is not enough (a 32-bit program that never loaded may give 0): a run
# passes when GoogleTest says that every test passed.
window_tests() { # the Wine loader, the tests and their arguments
  local log
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || true
  grep -Eq '^\[  PASSED  \] [0-9]+ tests?\.' "$log" && ! grep -q '^\[  FAILED  \]' "$log"
}

source scripts/wine-env.sh "$root/build/wineprefix-test"
start_xvfb
init_prefix

echo "== window tests (in-process, under Wine)"
window_tests "$WINE_BIN" build/windows/morvane_window_tests.exe
if [ $runs32 = yes ]; then
  echo "== window tests, the 32-bit build (in-process, under Wine's 32-bit half)"
  window_tests "$WINE32_BIN" build/windows-x86/morvane_window_tests.exe
else
  not_run_32 "window tests, the 32-bit build"
fi

echo "== end-to-end tests (the real program under Wine)"
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v
if [ $runs32 = yes ]; then
  echo "== end to end, the 32-bit build: a countdown, and a start of the 64-bit build reaching it"
  (cd tests/e2e && E2E_PROGRAM=build/windows-x86/MorvaneShutdown.exe python3 -m unittest -v \
    test_main.CountdownTest.test_countdown_ends_in_shutdown test_main.CountdownTest.test_a_start_of_the_other_build_reaches_this_copy)
else
  not_run_32 "end to end, the 32-bit build, and a start of it reaching the 64-bit copy"
fi

"$WINESERVER_BIN" -k 2>/dev/null || true

echo "== window tests as on Windows 7 SP1 at 125 % (Wine set to Windows 7, the newer functions hidden)"
export WINEPREFIX=$root/build/wineprefix-win7
init_prefix
as_windows7_at_120_dpi
# A wininet.dll beside the tests, taken before Wine's own as Windows takes a DLL file on disk.
cp build/windows/tools/planted.dll build/windows/wininet.dll && rm -f build/windows/wininet.dll.loaded
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wininet=n,b" window_tests "$WINE_BIN" build/windows/morvane_window_tests.exe --as-windows7
rm -f build/windows/wininet.dll
"$WINESERVER_BIN" -k 2>/dev/null || true
if [ $runs32 = yes ]; then
  echo "== all tests passed"
else
  echo "== all tests passed; the 32-bit runs did not run: this machine runs 64-bit code only"
fi
