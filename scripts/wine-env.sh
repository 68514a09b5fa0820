# Sourced by the scripts: the environment for running Windows programs under Wine, a
# prefix of the given folder's own, and a virtual display when there is none. The one
# Wine set-up: the end-to-end tests and the benchmarks take theirs from it.
# Usage: source scripts/wine-env.sh <prefix folder>; start_xvfb; init_prefix

WINE_BIN=${WINE_BIN:-/usr/lib/wine/wine64}
[ -x "$WINE_BIN" ] || WINE_BIN=$(command -v wine64 || command -v wine)
WINESERVER_BIN=$(dirname "$WINE_BIN")/wineserver
[ -x "$WINESERVER_BIN" ] || WINESERVER_BIN=$(command -v wineserver)
# The 32-bit loader, of Debian's wine32: the 32-bit build runs in Wine's 32-bit half.
WINE32_BIN=${WINE32_BIN:-$(dirname "$WINE_BIN")/wine}
export WINE_BIN WINESERVER_BIN WINE32_BIN
MORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$1}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A Chinese user locale, as on the systems the program is written for: Wine then links
# CJK fonts into its own captions and message boxes.
export LANG=zh_CN.UTF-8

# The display in use, or with E2E_XVFB=1 (or none at all) a private Xvfb, ended at exit.
start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && [ "${E2E_XVFB:-0}" != 1 ]; then return; fi
  local n
  for n in $(seq 90 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    # Another session may have taken the display in the meantime: then this Xvfb is gone.
    if ! kill -0 "$XVFB_PID" 2>/dev/null || [ ! -e "/tmp/.X11-unix/X$n" ]; then
      kill "$XVFB_PID" 2>/dev/null || true
      continue
    fi
    export DISPLAY=":$n"
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
    return
  done
  echo "no free display for Xvfb" >&2
  return 1
}

init_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER_BIN" -w || true
  fi
  # Wine draws the window frames itself, as Windows does, instead of leaving them to
  # an X window manager that a bare display does not have.
  "$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  install_marlett
  install_standin_simsun
}

# The title-bar buttons, scroll arrows and check marks are glyphs of the Marlett font;
# without it Wine draws their codes as letters ("0", "1", "r"). Debian's fonts-wine puts
# marlett.ttf in /usr/share/wine/fonts, but Debian's wine never looks there: its loader
# lives in /usr/lib/wine, so it calls its data folder /usr/lib/wine/../../share/wine;
# the nls files under that name open, but the font code turns it into a Windows path
# with ".." in it and never opens a font file there (strace shows no attempt). Wine does
# load every font in the prefix's own Fonts folder, so Marlett goes there. Only Marlett:
# Wine's other fonts (Tahoma...) would change the faces our windows get.
install_marlett() {
  local source=/usr/share/wine/fonts/marlett.ttf fonts=$WINEPREFIX/drive_c/windows/Fonts
  if [ ! -f "$source" ]; then
    echo "$source not found (Debian package fonts-wine): title-bar buttons will show as letters" >&2
    return 0
  fi
  mkdir -p "$fonts"
  cmp -s "$source" "$fonts/marlett.ttf" || cp "$source" "$fonts/marlett.ttf"
}

# The windows were drawn for 宋体 (SimSun) 9 pt, which Wine lacks and whose place any
# face it falls back to would take with other metrics. A stand-in with 宋体's metrics,
# made from a Ming face Debian ships (fonts-arphic-uming) by
# tests/tools/make_standin_font.py, goes in the prefix's Fonts folder under the names
# SimSun and 宋体, so layouts are checked in the room they have on Chinese Windows.
install_standin_simsun() {
  local source=/usr/share/fonts/truetype/arphic/uming.ttc script=$MORVANE_ROOT/tests/tools/make_standin_font.py
  local target=$WINEPREFIX/drive_c/windows/Fonts/simsun.ttf python=/usr/bin/python3
  [ -x "$python" ] || python=python3
  if [ ! -f "$source" ]; then
    echo "$source not found (Debian package fonts-arphic-uming): no 宋体 stand-in in $WINEPREFIX" >&2
    return 0
  fi
  mkdir -p "$(dirname "$target")"
  if [ ! -f "$target" ] || [ "$target" -ot "$script" ] || [ "$target" -ot "$source" ]; then
    "$python" "$script" "$source" "$target.tmp" && mv "$target.tmp" "$target" ||
      { echo "could not make the 宋体 stand-in (Debian package python3-fonttools)" >&2; return 0; }
  fi
  # The font carries both names, but Wine registers a localised family name only under a
  # system locale of that language, which this machine may not have generated: the
  # Chinese name is made a substitute for the English one, as a name Windows resolves.
  grep -qF '"\x5b8b\x4f53"="SimSun"' "$WINEPREFIX/system.reg" 2>/dev/null && return 0
  local reg=$WINEPREFIX/standin-simsun.reg
  printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n"宋体"="SimSun"\r\n' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' |
    iconv -f UTF-8 -t UTF-16 >"$reg"
  "$WINE_BIN" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 || echo "could not register 宋体 in $WINEPREFIX" >&2
}

# For running the program itself (scripts/run.sh, scripts/screenshot.sh): our logging
# stubs stand where it starts cmd.exe, shutdown.exe and explorer.exe, shown to run there,
# until the script exits; then Windows' own are put back. Wine prefers its built-in
# cmd.exe and shutdown.exe to the files in the system folder: native first, so the stubs
# there are what runs.
place_stubs() {
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cmd.exe=n,b;shutdown.exe=n,b"
  trap restore_stubs EXIT
  trap 'exit 130' INT TERM
  # Also puts back what a run that died left behind; refuses unless the stubs run.
  python3 "$MORVANE_ROOT/tests/e2e/harness.py" place "$WINEPREFIX"
}

restore_stubs() {
  "$WINESERVER_BIN" -k 2>/dev/null || true
  python3 "$MORVANE_ROOT/tests/e2e/harness.py" restore "$WINEPREFIX" ||
    echo "could not put Windows' own cmd.exe, shutdown.exe and explorer.exe back in $WINEPREFIX" >&2
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# The prefix as a Windows 7 machine at 125 % (a system DPI of 120): Wine then reports
# version 6.1, and the window tests hide every newer function (--as-windows7).
as_windows7_at_120_dpi() {
  "$WINE_BIN" reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null 2>&1 &&
    "$WINE_BIN" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 120 /f >/dev/null 2>&1 &&
    "$WINESERVER_BIN" -w
}
