#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the pure logic
# natively, the windows in-process under Wine, and the real program end to end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset windows
cmake --build --preset windows
# The program once more, its adverts fetched from the end-to-end tests' own server.
cmake --preset local-publisher
cmake --build --preset local-publisher

echo "== the program's imports (Known DLLs only)"
python3 tests/check_imports.py build/windows/MorvaneShutdown.exe

echo "== reproducible download (the program and its zip, built twice and compared)"
bash scripts/repro.sh

echo "== signed download (a throwaway certificate and token, a local time-stamp authority, through the package command)"
bash scripts/signing.sh

source scripts/wine-env.sh "$root/build/wineprefix-test"
start_xvfb
init_prefix

echo "== window tests (in-process, under Wine)"
"$WINE_BIN" build/windows/morvane_window_tests.exe

echo "== end-to-end tests (the real program under Wine)"
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v

"$WINESERVER_BIN" -k 2>/dev/null || true
echo "== all tests passed"
