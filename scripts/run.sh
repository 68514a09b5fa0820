#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine on your display.
# It runs from a scratch folder where cmd.exe and explorer.exe are our logging stubs,
# so the countdown's shutdown command is recorded (launches.log), never carried out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh
cmake --preset windows
cmake --build --preset windows

source scripts/wine-env.sh "$root/build/wineprefix-run"
start_xvfb
init_prefix

scratch=$(mktemp -d)
cp build/windows/MorvaneShutdown.exe build/windows/tools/cmd.exe build/windows/tools/explorer.exe "$scratch/"
echo "Running from $scratch; launched commands go to $scratch/launches.log"
cd "$scratch"
"$WINE_BIN" MorvaneShutdown.exe || true
"$WINESERVER_BIN" -w || true
[ -f launches.log ] && { echo "Launches:"; cat launches.log; }
exit 0
