#!/usr/bin/env bash
# Builds the program, its zip and its Store package twice, from two copies of this tree
# in unrelated folders, one after the other and in different time zones and umasks, and
# checks that the .exe, the zip, the .msix and SHA256SUMS come out byte for byte the
# same. The first copy lies inside this checkout and dates the zip from git; the second
# lies outside any checkout and gets the same date the standard way (SOURCE_DATE_EPOCH).
# Only the program and the package are built, not the tests. Called by scripts/test.sh,
# once for each preset: windows (the default) and windows-x86.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
preset=${1:-windows}

# This tree as it is (tracked and new files, uncommitted changes included), no build.
copy_tree() {
  mkdir -p "$1"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$1"
  else
    tar --exclude=./build -cf - . | tar -xf - -C "$1"
  fi
}

# The build a user makes: configure, the program, then what the package target does.
build_package() {
  local src=$1 log=$1.log
  if ! (cd "$src" && cmake --preset "$preset" && cmake --build --preset "$preset" --target MorvaneShutdown &&
    cd "build/$preset" && cpack) >"$log" 2>&1; then
    cat "$log" >&2
    echo "build in $src failed" >&2
    exit 1
  fi
}

one=$root/build/repro-$preset/one
other_root=$(mktemp -d "${TMPDIR:-/tmp}/morvane-repro.XXXXXX")
two=$other_root/a/second/folder
rm -rf "$one"
copy_tree "$one"
copy_tree "$two"

build_package "$one"
epoch=$(git log -1 --format=%ct 2>/dev/null || true)
(
  [ -n "$epoch" ] && export SOURCE_DATE_EPOCH=$epoch
  export TZ=CST-8
  umask 077
  build_package "$two"
)

built=build/$preset
zip=$(cd "$one/$built" && ls MorvaneShutdown-*-win*.zip)
msix=$(cd "$one/$built" && ls MorvaneShutdown-*.msix)
status=0
for file in MorvaneShutdown.exe "$zip" "$msix" SHA256SUMS; do
  if cmp "$one/$built/$file" "$two/$built/$file"; then
    echo "same bytes: $file ($(stat -c %s "$one/$built/$file") bytes)"
  else
    status=1
  fi
done
(cd "$one/$built" && sha256sum -c SHA256SUMS) || status=1
if [ $status -ne 0 ]; then
  echo "the two builds differ; they are kept in $one and $two" >&2
  exit 1
fi
cat "$one/$built/SHA256SUMS"
rm -rf "$one" "$one.log" "$other_root"
