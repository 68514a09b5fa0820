#!/usr/bin/env python3
"""Checks that the program imports no DLL that Windows would look for in the
program's own folder, and that it starts on Windows 7 SP1: every import one that
Windows 7 SP1 exports (tests/windows7_exports.txt), the header's versions 6.1 or
lower, and the manifest naming Windows 7 to 11 and the program's own architecture.

Windows loads a Known DLL (HKLM\\System\\CurrentControlSet\\Control\\Session
Manager\\KnownDLLs) from the system folder whatever lies beside the program. Any
other imported DLL is searched for in the program's folder first, and so are its
own imports, before the program's first line runs and can restrict the search: a
copy dropped there would load. (comctl32 6.0 is no Known DLL either, manifest or
not: the program loads it itself, once it has restricted the search.)

    check_imports.py [--objdump PROGRAM] MorvaneShutdown.exe...
    check_imports.py --entry-point planted.dll...

Reads the import table with objdump -p. Exits 1, naming what is refused. With
--entry-point, checks only that each DLL has an entry point: ld writes none, silently,
when the name it is given is not found.
"""

from __future__ import annotations

import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path
from typing import Dict, List, Set, Tuple

# The Known DLLs that Windows 10 and 11 (x64) both list (Windows 7's list holds those the
# program imports as well, for both architectures).
KNOWN_DLLS = frozenset("""
advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32
shlwapi user32 wldap32 ws2_32
""".split())


def objdump_p(objdump: str, exe: Path) -> str:
    # In the C locale: binutils translates its headings in others (zh_CN among them).
    return subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True, text=True,
                          env=dict(os.environ, LC_ALL="C")).stdout


def imported_dlls(objdump: str, exe: Path) -> List[str]:
    dump = objdump_p(objdump, exe)
    # A delay-load table would hold imports this check does not read.
    delay = re.search(r"^Entry d ([0-9a-fA-F]+) ([0-9a-fA-F]+) Delay Import Directory", dump, re.M)
    if delay is None or int(delay.group(1), 16) or int(delay.group(2), 16):
        raise SystemExit(f"{exe}: has a delay-load import table (or objdump's output is not understood)")
    return re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)


WINDOWS7_EXPORTS = Path(__file__).with_name("windows7_exports.txt")
ARCHITECTURES = {0x8664: "amd64", 0x14C: "x86"}
# The manifest's supportedOS entries: Windows 10 and 11, 8.1, 8 and 7.
SUPPORTED_OS = {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}


def windows7_exports() -> Dict[str, Set[str]]:
    text = re.sub(r"(?m)^#.*$", "", WINDOWS7_EXPORTS.read_text(encoding="utf-8"))
    return {dll.lower(): set(names.split()) for dll, names in re.findall(r"\[(\S+)\]([^[]*)", text)}


def imported_functions(objdump: str, exe: Path) -> List[Tuple[str, str]]:
    functions, dll = [], ""
    for named, entry in re.findall(r"(?m)^\s*DLL Name: (\S+)|^\t[0-9a-f]+\t +[0-9]+  (\S+)", objdump_p(objdump, exe)):
        dll = named.lower() or dll
        if entry:
            functions.append((dll, entry))
    return functions


def header(exe: Path) -> Tuple[int, Tuple[int, int], Tuple[int, int], int]:
    """The machine, the OS and subsystem versions and the entry point of a PE file."""
    data = exe.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    return (struct.unpack_from("<H", data, pe + 4)[0], struct.unpack_from("<HH", data, optional + 40),
            struct.unpack_from("<HH", data, optional + 48), struct.unpack_from("<I", data, optional + 16)[0])


def windows7_refusals(objdump: str, exe: Path) -> List[str]:
    refused = []
    exports = windows7_exports()
    missing = sorted({f"{dll}!{name}" for dll, name in imported_functions(objdump, exe)
                      if name not in exports.get(dll, ())})
    if missing:
        refused.append(f"imports what Windows 7 SP1 may lack (see {WINDOWS7_EXPORTS.name}): {', '.join(missing)}")
    machine, os_version, subsystem_version, _ = header(exe)
    for what, version in (("OS", os_version), ("subsystem", subsystem_version)):
        if version > (6, 1):
            refused.append(f"its header's {what} version is {version[0]}.{version[1]}, above Windows 7's 6.1")
    data = exe.read_bytes()
    start, end = data.find(b"<assembly"), data.find(b"</assembly>")
    if start < 0 or end < 0:
        return refused + ["has no manifest"]
    manifest = ElementTree.fromstring(data[start:end + len(b"</assembly>")])
    spaces = {"asm": "urn:schemas-microsoft-com:asm.v1", "compat": "urn:schemas-microsoft-com:compatibility.v1"}
    identity = manifest.find("asm:assemblyIdentity", spaces)
    architecture = identity.get("processorArchitecture") if identity is not None else None
    if architecture != ARCHITECTURES.get(machine):
        refused.append(f"its manifest names {architecture} for a program of machine {machine:#x}")
    supported = {system.get("Id") for system in manifest.iterfind(".//compat:supportedOS", spaces)}
    if supported != SUPPORTED_OS:
        refused.append(f"its manifest names the systems {sorted(supported)}, not Windows 7 to 11")
    return refused


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--entry-point", action="store_true")
    parser.add_argument("exe", type=Path, nargs="+")
    args = parser.parse_args(argv)

    failed = False
    for exe in args.exe:
        if args.entry_point:
            entry = header(exe)[3]
            print(f"{exe}: " + (f"entry point at {entry:#x}" if entry else "no entry point"),
                  file=sys.stdout if entry else sys.stderr)
            failed |= not entry
            continue
        dlls = imported_dlls(args.objdump, exe)
        refused = [dll for dll in dlls if dll.lower().removesuffix(".dll") not in KNOWN_DLLS]
        problems = ([] if dlls else ["no import table found"]) + (
            [f"imports DLLs Windows would look for beside it: {', '.join(refused)}"] if refused else [])
        problems += windows7_refusals(args.objdump, exe)
        for problem in problems:
            print(f"{exe}: {problem}", file=sys.stderr)
        if not problems:
            print(f"{exe}: imports only Known DLLs, and only what Windows 7 SP1 exports: {', '.join(dlls)}")
        failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
