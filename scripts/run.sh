#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it under Wine on your display.
# The program starts cmd.exe from the system folder and explorer.exe from the Windows
# folder; in this script's own Wine prefix our logging stubs stand there while it runs
# (Windows' own are kept aside and put back at the end), so the countdown's shutdown
# command is recorded in launches.log in a scratch folder, never carried out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh
cmake --preset windows
cmake --build --preset windows

source scripts/wine-env.sh "$root/build/wineprefix-run"
# Wine prefers its own built-in cmd.exe to the file in the system folder: native first,
# so the stub there is what runs.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cmd.exe=n,b"
start_xvfb
init_prefix

stubs() { BUILD_DIR="$root/build/windows" python3 "$root/tests/e2e/harness.py" "$1" "$WINEPREFIX"; }
finish() {
  "$WINESERVER_BIN" -k 2>/dev/null || true
  stubs restore || echo "could not put Windows' own cmd.exe and explorer.exe back in $WINEPREFIX" >&2
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap finish EXIT
trap 'exit 130' INT TERM
# Also puts back what a run that died left behind; refuses unless the stubs run.
stubs place

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
