#!/usr/bin/env bash
# Builds the program (as shipped, and once more for a publisher site on this
# machine, as the end-to-end tests do; x64 and x86), the two bench helpers, then prints
# the benchmark table of bench/bench.py (BENCH_PART=architectures: the two builds' sizes,
# and their start-up alternated). Figures only: nothing here passes or fails on a
# time. Like the end-to-end tests, the program only ever runs with the stub cmd.exe
# and explorer.exe standing where it launches them, in the bench's own prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

for preset in windows local-publisher windows-x86 local-publisher-x86; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done

mkdir -p build/bench-tools
CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++-win32}
"$CXX" -O2 -municode -mwindows -static -o build/bench-tools/hello_window.exe bench/hello_window.cpp -lcomctl32
"$CXX" -O2 -municode -static -o build/bench-tools/memquery.exe bench/memquery.cpp -lpsapi

source scripts/wine-env.sh "$root/build/wineprefix-bench"
start_xvfb
init_prefix

python3 bench/bench.py
# What the .exe is made of, and where its private memory goes (with the About soak).
bash bench/size_map.sh 25
python3 bench/memory.py
"$WINESERVER_BIN" -k 2>/dev/null || true
