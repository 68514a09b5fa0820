#!/usr/bin/env python3
"""Checks that the program imports no DLL that Windows would look for in the
program's own folder.

Windows loads a Known DLL (HKLM\\System\\CurrentControlSet\\Control\\Session
Manager\\KnownDLLs) from the system folder whatever lies beside the program. Any
other imported DLL is searched for in the program's folder first, and so are its
own imports, before the program's first line runs and can restrict the search: a
copy dropped there would load. (comctl32 6.0 is no Known DLL either, manifest or
not: the program loads it itself, once it has restricted the search.)

    check_imports.py [--objdump PROGRAM] MorvaneShutdown.exe

Reads the import table with objdump -p. Exits 1, naming the DLLs, when one is not
allowed.
"""

from __future__ import annotations

import argparse
import re
import subprocess
import sys
from pathlib import Path
from typing import List

# The Known DLLs that Windows 10 and 11 (x64) both list.
KNOWN_DLLS = frozenset("""
advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32
shlwapi user32 wldap32 ws2_32
""".split())


def imported_dlls(objdump: str, exe: Path) -> List[str]:
    dump = subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True, text=True).stdout
    # A delay-load table would hold imports this check does not read.
    delay = re.search(r"^Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+) Delay Import Directory", dump, re.M)
    if delay is None or int(delay.group(1), 16) or int(delay.group(2), 16):
        raise SystemExit(f"{exe}: has a delay-load import table (or objdump's output is not understood)")
    return re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("exe", type=Path)
    args = parser.parse_args(argv)

    dlls = imported_dlls(args.objdump, args.exe)
    if not dlls:
        print(f"{args.exe}: no import table found", file=sys.stderr)
        return 1
    refused = [dll for dll in dlls if dll.lower().removesuffix(".dll") not in KNOWN_DLLS]
    if refused:
        print(f"{args.exe}: imports DLLs Windows would look for beside it: {', '.join(refused)}", file=sys.stderr)
        return 1
    print(f"{args.exe}: imports only Known DLLs: {', '.join(dlls)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
