#!/usr/bin/env python3
"""Checks that the program imports no DLL that Windows would look for in the
program's own folder.

Windows loads a Known DLL (HKLM\\System\\CurrentControlSet\\Control\\Session
Manager\\KnownDLLs) from the system folder whatever lies beside the program, and
comctl32 through the Common-Controls dependency of the embedded manifest, from
WinSxS. Any other imported DLL is searched for in the program's folder first,
before the program's first line runs, so a copy dropped there would load.

    check_imports.py [--objdump PROGRAM] MorvaneShutdown.exe

Reads the import table with objdump -p, and the manifest embedded in the exe.
Exits 1, naming the DLLs, when one is not allowed.
"""

from __future__ import annotations

import argparse
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import List, Optional

# The Known DLLs that Windows 10 and 11 (x64) both list.
KNOWN_DLLS = frozenset("""
advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32
shlwapi user32 wldap32 ws2_32
""".split())
COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"


def imported_dlls(objdump: str, exe: Path) -> List[str]:
    dump = subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True, text=True).stdout
    # A delay-load table would hold imports this check does not read.
    delay = re.search(r"^Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+) Delay Import Directory", dump, re.M)
    if delay is None or int(delay.group(1), 16) or int(delay.group(2), 16):
        raise SystemExit(f"{exe}: has a delay-load import table (or objdump's output is not understood)")
    return re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)


def embedded_manifest(exe: Path) -> Optional[bytes]:
    """The manifest XML stored in the program's resources, or None."""
    found = re.search(rb"<\?xml[^>]*\?>\s*<assembly\b.*?</assembly>", exe.read_bytes(), re.S)
    return found.group(0) if found else None


def declares_common_controls(manifest: bytes) -> bool:
    root = ET.fromstring(manifest)
    for identity in root.iterfind(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity"):
        if identity.get("name") == COMMON_CONTROLS and identity.get("version", "").startswith("6."):
            return True
    return False


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("exe", type=Path)
    args = parser.parse_args(argv)

    dlls = imported_dlls(args.objdump, args.exe)
    if not dlls:
        print(f"{args.exe}: no import table found", file=sys.stderr)
        return 1
    manifest = embedded_manifest(args.exe)
    comctl32_allowed = manifest is not None and declares_common_controls(manifest)
    refused = []
    for dll in dlls:
        base = dll.lower().removesuffix(".dll")
        if base in KNOWN_DLLS or (base == "comctl32" and comctl32_allowed):
            continue
        refused.append(dll)
    if refused:
        why = "" if comctl32_allowed else f" (comctl32 only with the manifest's {COMMON_CONTROLS} dependency)"
        print(f"{args.exe}: imports DLLs Windows would look for beside it: {', '.join(refused)}{why}",
              file=sys.stderr)
        return 1
    print(f"{args.exe}: imports only Known DLLs{' and comctl32, through the manifest' if comctl32_allowed else ''}: "
          f"{', '.join(dlls)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
