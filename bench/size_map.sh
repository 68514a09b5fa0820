#!/usr/bin/env bash
# What the .exe is made of: its sections, its resources, the parts of the static
# runtime it pulls in (and the symbol that pulled each in), and its largest symbols.
# Relinks the windows preset's program (or another build's) once more, unstripped and
# with a link map, into build/size-map/<build>/; the shipped MorvaneShutdown.exe is untouched.
# Figures only; nothing here passes or fails.
#   bash bench/size_map.sh [how many symbols, default 25]
#   SIZE_MAP_BUILD=<build folder> bash bench/size_map.sh   (another, already configured build:
#                                                           build/windows-x86 for the 32-bit one)
set -euo pipefail
cd "$(dirname "$0")/.."
top=${1:-25}
build=${SIZE_MAP_BUILD:-build/windows}
out=build/size-map/$(basename "$build")
mkdir -p "$out"

if [ -z "${SIZE_MAP_BUILD:-}" ]; then cmake --preset windows >/dev/null; fi
cmake --build "$build" --target MorvaneShutdown >/dev/null
# The build's own binutils: x86_64-w64-mingw32- or i686-w64-mingw32-.
prefix=$(sed -n 's|^CMAKE_NM:FILEPATH=\(.*-w64-mingw32\)-nm$|\1|p' "$build/CMakeCache.txt")
[ -n "$prefix" ] || { echo "$build is not a mingw-w64 build" >&2; exit 1; }

# The link as the build runs it, without -s and with a map.
link=$(cd "$build" && ninja -t commands MorvaneShutdown.exe | tail -1)
link=${link/ -s / }
link=${link/-o MorvaneShutdown.exe/-o $PWD/$out/MorvaneShutdown.exe -Wl,-Map=$PWD/$out/MorvaneShutdown.map}
# In the C locale: the map's headings, which the reader below looks for, are translated
# in others (zh_CN, the tests' own).
(cd "$build" && export LC_ALL=C && eval "$link")
[ -e "$out/MorvaneShutdown.exe" ] || { echo "relinking with a map failed" >&2; exit 1; }

exe=$build/MorvaneShutdown.exe
echo "== $exe: $(stat -c %s "$exe") bytes ($(( $(stat -c %s "$exe") / 1024 )) KiB), stripped"
echo
echo "== sections (bytes)"
"$prefix-size" -A "$exe" | awk 'NR > 2 && $2 > 0 { printf "  %-8s %8d\n", $1, $2 }'
echo
echo "== resource files app.rc embeds (bytes)"
for f in $(grep -o '"[A-Za-z0-9_.]*\.[a-z]*"' resources/app.rc | tr -d '"' | grep -v '\.h$' | sort -u); do
  [ -e "resources/$f" ] && printf "  %-26s %8d\n" "resources/$f" "$(stat -c %s "resources/$f")"
done
echo
python3 - "$out/MorvaneShutdown.map" <<'EOF'
import re, sys, collections

text = open(sys.argv[1], encoding="utf-8", errors="replace").read()

def short(path):
    path = re.sub(r"^.*/", "", path)
    return path

# Bytes each input file (or archive member) puts into the loaded sections.
sizes = collections.Counter()
section = None
for line in text.split("\n"):
    m = re.match(r"^ (\.text|\.rdata|\.data|\.pdata|\.xdata|\.eh_frame|\.bss)(\S*)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+))?\s*$", line)
    if m:
        if m.group(3):
            sizes[short(m.group(5))] += int(m.group(4), 16)
            section = None
        else:
            section = m.group(1)
        continue
    m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)\s*$", line)
    if section and m:
        sizes[short(m.group(3))] += int(m.group(2), 16)
    section = None

by_library = collections.Counter()
for name, size in sizes.items():
    by_library[name.split("(")[0] if "(" in name else "(the program's own objects, after LTO)"] += size
print("== code and data by library (bytes: .text .rdata .data .pdata .xdata .eh_frame .bss)")
for name, size in by_library.most_common():
    if size:
        print(f"  {size:8d}  {name}")
print()
print("== largest runtime members")
for name, size in sizes.most_common(20):
    if "(" in name and size:
        print(f"  {size:8d}  {name}")
print()

# Which reference pulled each runtime member in.
block = text.split("Archive member included to satisfy reference by file (symbol)", 1)[1]
block = block.split("\n\n", 1)[0] if "\nDiscarded input sections" not in block else block.split("Discarded input sections", 1)[0]
lines = [l for l in block.strip("\n").split("\n")]
pairs, i = [], 0
while i < len(lines):
    member = lines[i].strip()
    if i + 1 < len(lines) and lines[i + 1].startswith(" "):
        pairs.append((member, lines[i + 1].strip()))
        i += 2
    else:
        i += 1
print("== runtime members and what pulled them in (system import stubs left out)")
skip = re.compile(r"lib(kernel32|user32|gdi32|shell32|wininet|comctl32|advapi32)\.a|libmsvcrt\.a\(lib(msvcrt_defs|(64|32)_libmsvcrt_os)|dhwks|dxhs|libmsvcrt_def")
for member, why in pairs:
    if skip.search(member) or "morvane" in member:
        continue
    why = re.sub(r"\S*/", "", why).replace("(symbol from plugin) ", "")
    print(f"  {short(member):52s} <- {why[:110]}")
EOF
echo
echo "== largest symbols (bytes)"
"$prefix-nm" --size-sort -S -C "$out/MorvaneShutdown.exe" | awk '$3 ~ /^[TtRrDdBb]$/' | tail -n "$top" |
  python3 -c '
import sys
for line in reversed(sys.stdin.read().splitlines()):
    address, size, kind, name = line.split(None, 3)
    print(f"  {int(size, 16):7d} {kind} {name[:130]}")'

