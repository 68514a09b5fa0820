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
  echo "== Store package, $preset (manifest against the program, block map, logos, a throwaway signature)"
  python3 tests/check_msix.py $preset
done

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
echo "== window tests, the 32-bit build (in-process, under Wine's 32-bit half)"
window_tests "$WINE32_BIN" build/windows-x86/morvane_window_tests.exe

echo "== end-to-end tests (the real program under Wine)"
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v
echo "== end to end, the 32-bit build: a countdown, and a start of the 64-bit build reaching it"
(cd tests/e2e && E2E_PROGRAM=build/windows-x86/MorvaneShutdown.exe python3 -m unittest -v \
  test_main.CountdownTest.test_countdown_ends_in_shutdown test_main.CountdownTest.test_a_start_of_the_other_build_reaches_this_copy)

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
echo "== all tests passed"
