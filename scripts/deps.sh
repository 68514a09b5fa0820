#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks to build the program, sign its
# download and run it under Wine. Does nothing (and needs no network) when everything is
# there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest python3
  fonts-arphic-uming python3-fonttools
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei
  osslsigncode openssl softhsm2 libengine-pkcs11-openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
