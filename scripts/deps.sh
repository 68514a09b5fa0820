#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks to build the program (x64 and x86),
# sign its download, run both under Wine and redraw its pictures (resources/make_pictures.py,
# with Debian's Python and Pillow), and generates the Chinese locale the tests
# run in. Does nothing (and needs no network) when everything is there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest python3 locales
  fonts-arphic-uming python3-fonttools python3-pil
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei
  osslsigncode openssl softhsm2 libengine-pkcs11-openssl
  libicu72  # Microsoft's MSIX reader (../shared/tools/msix), which the Store package test runs
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

# wine32 is the i386 architecture's: the 32-bit program runs in Wine's 32-bit half.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives 936, as on a Chinese
# desk. Without the generated locale Wine falls back to en-US and code page 1252.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "Generating the zh_CN.UTF-8 locale" >&2
  "${sudo_cmd[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
