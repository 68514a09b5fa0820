#!/usr/bin/env bash
# Retakes docs/screenshot.png: the main window as a user sees it just after start, run
# under Wine on a private Xvfb display, with the same Wine set-up as scripts/run.sh
# (scripts/wine-env.sh): our logging stubs stand where it starts cmd.exe, shutdown.exe
# and explorer.exe, though nothing is clicked.
# Usage: bash scripts/screenshot.sh [output.png]   (default docs/screenshot.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-docs/screenshot.png}")

bash scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target MorvaneShutdown stub_cmd stub_shutdown stub_explorer

# Always a private display: the shot must not depend on the desktop it is taken from.
export E2E_XVFB=1
source scripts/wine-env.sh "$root/build/wineprefix-shot"
start_xvfb
init_prefix
place_stubs

scratch=$(mktemp -d)
cp build/windows/MorvaneShutdown.exe "$scratch/"
cd "$scratch"
"$WINE_BIN" MorvaneShutdown.exe >/dev/null 2>&1 &

# The main window is the one visible window with the program's name in its title (the
# splash has none); it appears once the advert fetches have finished or given up.
window=
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name Morvane 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then
  "$WINESERVER_BIN" -k || true
  echo "the main window did not appear" >&2
  exit 1
fi
sleep 2 # let it paint
# -strip: no time stamps in the PNG, so an unchanged window gives an unchanged file.
import -window "$window" -strip "$out"
"$WINESERVER_BIN" -k || true
cd "$root"
rm -rf "$scratch"
echo "wrote $out"
