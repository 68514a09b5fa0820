#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine on your display.
# The program starts cmd.exe (or shutdown.exe) from the system folder and explorer.exe
# from the Windows folder; in this script's own Wine prefix our logging stubs stand there
# while it runs (Windows' own are kept aside and put back at the end), so the countdown's
# shutdown command is recorded in launches.log in a scratch folder, never carried out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh
cmake --preset windows
cmake --build --preset windows

source scripts/wine-env.sh "$root/build/wineprefix-run"
start_xvfb
init_prefix
place_stubs

scratch=$(mktemp -d)
cp build/windows/MorvaneShutdown.exe "$scratch/"
export MORVANE_LAUNCH_LOG="Z:${scratch//\//\\}\\launches.log"
echo "Running from $scratch; launched commands go to $scratch/launches.log"
cd "$scratch"
# In the background, so a signal to this script ends the run (and restores) at once.
"$WINE_BIN" MorvaneShutdown.exe &
wait $! || true
"$WINESERVER_BIN" -w || true
if [ -f launches.log ]; then
  echo "Launches:"
  cat launches.log
fi
exit 0
