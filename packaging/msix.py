#!/usr/bin/env python3
"""Writes the Store package of the program, MorvaneShutdown-<version>-<x64|x86>.msix: the
program exactly as it goes into the zip, its three logos, and the package's own parts,
written the way Microsoft's pages on the app package describe them:

    AppxManifest.xml      who the package is and what it runs: a full-trust desktop program
    AppxBlockMap.xml      a SHA-256 of every 64 KiB of every file, which Windows checks as it
                          installs and updates
    [Content_Types].xml   the content type of every part (the Open Packaging Conventions)

Run by packaging/msix.cmake as CPack makes the zip. Standard library only, and no tool
that runs only on Windows (MakeAppx, signtool): the Store signs what it publishes.

    msix.py --program MorvaneShutdown.exe --arch x64 --version 2.0.0 --pictures DIR
            --date SECONDS --out MorvaneShutdown-2.0.0-x64.msix

The identity comes from the package command's environment, as the signing settings do:
MSIX_IDENTITY_NAME and MSIX_PUBLISHER (the Name and Publisher Partner Center shows once
the name is reserved) and MSIX_PUBLISHER_DISPLAY_NAME. Without any of them the package
gets an identity that says it is not for release; some without the others is an error.
Exits 1, saying why, and leaves no package.
"""

from __future__ import annotations

import argparse
import base64
import hashlib
import os
import re
import struct
import sys
import time
import urllib.parse
import zlib
from typing import Dict, List, NamedTuple, Optional, Tuple
from xml.sax.saxutils import escape, quoteattr

DISPLAY_NAME = "Morvane关机"
DESCRIPTION = "定时关机：输入秒数，选择关机或重启，计时到零时运行 Windows 自带的关机命令。"
# The middle of the emblem's blue-to-green tile, behind the logos where Windows plates them.
BACKGROUND = "#1C8DBC"
# Windows 10 1809, the oldest Windows 10 that Microsoft still supports (LTSC 2019), and so
# the oldest on which the package can still be tried. MSIX itself came with 1709 (16299);
# anyone on an older Windows takes the zip, which runs from Windows 7 SP1.
MIN_VERSION = "10.0.17763.0"
# Windows 11 24H2, the newest Windows that docs/windows.md goes through; raised once the
# package has been tried on a newer one (Windows applies its compatibility fixes by it).
MAX_VERSION_TESTED = "10.0.26100.0"

# Without the release's identity: values that say so wherever Windows shows them.
TEST_IDENTITY = ("MorvaneShutdown.TestOnly", "CN=Not for release - test only", "Morvane (not for release)")

# The logos: the file in resources/store, and its side in pixels.
LOGOS = {"StoreLogo.png": 50, "Square44x44Logo.png": 44, "Square150x150Logo.png": 150}

BLOCK = 65536  # the block map's block: 64 KiB of a file's uncompressed data
VERSION_NEEDED = 20  # zip 2.0, in every entry (zip_bytes says why)
MACHINES = {0x8664: "x64", 0x14C: "x86"}

# Identity's Name: 3 to 50 letters, digits, periods and dashes, and not a DOS device name.
NAME = re.compile(r"[A-Za-z0-9.-]{3,50}")
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{n}" for d in ("COM", "LPT") for n in range(1, 10)}
# Identity's Publisher: the distinguished name pattern of the manifest schema.
_RDN = (r'(CN|L|O|OU|E|C|S|STREET|T|G|I|SN|DC|SERIALNUMBER|Description|PostalCode|POBox|Phone|X21Address|'
        r'dnQualifier|(OID\.(0|[1-9][0-9]*)(\.(0|[1-9][0-9]*))+))=(([^,+="<>#;])+|".*")')
PUBLISHER = re.compile(f"{_RDN}(, {_RDN})*")


class Failure(Exception):
    pass


class Identity(NamedTuple):
    name: str
    publisher: str
    publisher_display_name: str
    for_release: bool


def identity(environ: Dict[str, str]) -> Identity:
    names = ("MSIX_IDENTITY_NAME", "MSIX_PUBLISHER", "MSIX_PUBLISHER_DISPLAY_NAME")
    given = [environ.get(n, "") for n in names]
    if not any(given):
        return Identity(*TEST_IDENTITY, False)
    # Some without the others: a setting that did not come through (not exported, misspelt)
    # would otherwise give a package that looks released and is not.
    missing = [n for n, v in zip(names, given) if not v]
    if missing:
        raise Failure(f"{' and '.join(missing)} not set, but the other identity settings are. Give all three "
                      "(Partner Center, the app's Product identity page), or none for a test package.")
    name, publisher, display = given
    if not NAME.fullmatch(name) or name.upper() in RESERVED_NAMES:
        raise Failure(f"MSIX_IDENTITY_NAME must be 3 to 50 letters, digits, periods or dashes "
                      f"(Package/Identity/Name in Partner Center), not {name!r}.")
    if len(publisher) > 8192 or not PUBLISHER.fullmatch(publisher):
        raise Failure(f"MSIX_PUBLISHER must be a distinguished name such as CN=..., as Partner Center shows it "
                      f"(Package/Identity/Publisher), not {publisher!r}.")
    if len(display) > 256 or not display.isprintable():
        raise Failure(f"MSIX_PUBLISHER_DISPLAY_NAME must be the publisher's display name, not {display!r}.")
    return Identity(name, publisher, display, True)


def machine(program: bytes) -> str:
    """The architecture of a PE file, by its header's machine field."""
    if program[:2] != b"MZ":
        raise Failure("the program is not a Windows program (no MZ header)")
    (pe,) = struct.unpack_from("<I", program, 0x3C)
    if program[pe:pe + 4] != b"PE\0\0":
        raise Failure("the program is not a Windows program (no PE header)")
    (code,) = struct.unpack_from("<H", program, pe + 4)
    if code not in MACHINES:
        raise Failure(f"the program is for machine 0x{code:04x}, neither x64 nor x86")
    return MACHINES[code]


def png_side(data: bytes) -> Optional[Tuple[int, int]]:
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def manifest(who: Identity, version: str, arch: str) -> str:
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10"
         xmlns:uap="http://schemas.microsoft.com/appx/manifest/uap/windows10"
         xmlns:rescap="http://schemas.microsoft.com/appx/manifest/foundation/windows10/restrictedcapabilities"
         IgnorableNamespaces="uap rescap">
  <Identity Name={quoteattr(who.name)} Publisher={quoteattr(who.publisher)} Version="{version}" ProcessorArchitecture="{arch}"/>
  <Properties>
    <DisplayName>{escape(DISPLAY_NAME)}</DisplayName>
    <PublisherDisplayName>{escape(who.publisher_display_name)}</PublisherDisplayName>
    <Logo>Assets\\StoreLogo.png</Logo>
  </Properties>
  <Resources>
    <Resource Language="zh-CN"/>
  </Resources>
  <Dependencies>
    <TargetDeviceFamily Name="Windows.Desktop" MinVersion="{MIN_VERSION}" MaxVersionTested="{MAX_VERSION_TESTED}"/>
  </Dependencies>
  <Capabilities>
    <rescap:Capability Name="runFullTrust"/>
  </Capabilities>
  <Applications>
    <Application Id="MorvaneShutdown" Executable="MorvaneShutdown.exe" EntryPoint="Windows.FullTrustApplication">
      <uap:VisualElements DisplayName={quoteattr(DISPLAY_NAME)} Description={quoteattr(DESCRIPTION)} BackgroundColor="{BACKGROUND}"
                          Square150x150Logo="Assets\\Square150x150Logo.png" Square44x44Logo="Assets\\Square44x44Logo.png"/>
    </Application>
  </Applications>
</Package>
"""


class Part(NamedTuple):
    path: str  # as the block map names it, with / between folders
    data: bytes
    method: int  # 0 stored, 8 deflated
    stored: bytes  # the bytes in the zip
    block_sizes: List[int]  # for a deflated part: the compressed bytes of each block


def packed(path: str, data: bytes) -> Part:
    """A part deflated block by block: each 64 KiB of the file ends in a full flush, so its
    compressed bytes stand alone, and the block map can give each block's Size. Stored as it
    is when deflate saves nothing (the PNGs), or when it is empty."""
    deflater = zlib.compressobj(9, zlib.DEFLATED, -15)
    pieces = []
    for start in range(0, len(data), BLOCK):
        last = start + BLOCK >= len(data)
        pieces.append(deflater.compress(data[start:start + BLOCK]) +
                      deflater.flush(zlib.Z_FINISH if last else zlib.Z_FULL_FLUSH))
    deflated = b"".join(pieces)
    if not data or len(deflated) >= len(data):
        return Part(path, data, 0, data, [])
    return Part(path, data, 8, deflated, [len(p) for p in pieces])


def payload_order(path: str) -> bytes:
    """A payload file's place in the package: ascending case-insensitive ordinal order of its
    name, upper-cased, with either slash as a backslash, compared as UTF-16 code units."""
    return path.replace("/", "\\").upper().encode("utf-16-be")


def zip_name(path: str) -> str:
    # A part's name as the Open Packaging Conventions put it in a zip, percent-encoded; the
    # content types' own entry is no part, and keeps its name.
    return path if path == "[Content_Types].xml" else urllib.parse.quote(path, safe="/")


def block_map(parts: List[Part]) -> str:
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             '<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap" '
             'HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for part in parts:
        lfh_size = 30 + len(zip_name(part.path).encode("utf-8"))  # no extra field
        lines.append(f'  <File Name={quoteattr(part.path.replace("/", chr(92)))} Size="{len(part.data)}" '
                     f'LfhSize="{lfh_size}">')
        for i in range(0, len(part.data), BLOCK):
            digest = base64.b64encode(hashlib.sha256(part.data[i:i + BLOCK]).digest()).decode("ascii")
            size = f' Size="{part.block_sizes[i // BLOCK]}"' if part.method == 8 else ""
            lines.append(f'    <Block Hash="{digest}"{size}/>')
        lines.append("  </File>")
    lines.append("</BlockMap>")
    return "\n".join(lines) + "\n"


def content_types(parts: List[Part]) -> str:
    # AppxSignature.p7x is named here by whoever signs the package, as MakeAppx leaves it.
    types = {"exe": "application/x-msdownload", "png": "image/png"}
    extensions = sorted({p.path.rsplit(".", 1)[-1].lower() for p in parts if p.path != "AppxManifest.xml"})
    defaults = "".join(f'<Default Extension="{e}" ContentType="{types[e]}"/>' for e in extensions)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">' + defaults +
            '<Override PartName="/AppxManifest.xml" ContentType="application/vnd.ms-appx.manifest+xml"/>'
            '<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>'
            '</Types>\n')


def dos_time(seconds: int) -> Tuple[int, int]:
    t = time.gmtime(max(seconds, 315532800))  # UTC, whatever TZ says; no earlier than 1980
    return (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2,
            (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday)


def zip_bytes(parts: List[Part], seconds: int) -> bytes:
    """A plain zip: sizes and CRC in each local header (no data descriptors), no extra
    fields, no Zip64 (the APPX format takes Zip32: APPX_PACKAGE_SETTINGS.forceZip32).

    Every entry, stored or deflated, says version 2.0 is needed to extract it, in its local
    and its central header: Windows' reader takes 2.0 or 4.5 there and nothing else (1.0, the
    zip format's own minimum for a stored file, is refused). 2.0 is the Zip32 writer's own
    minimum; 4.5 is what MakeAppx writes, for the Zip64 fields it adds, which these entries
    do not have, so 4.5 would claim a feature they do not use."""
    clock, day = dos_time(seconds)
    body, directory = bytearray(), bytearray()
    for part in parts:
        name = zip_name(part.path).encode("utf-8")
        fields = (VERSION_NEEDED, 0, part.method, clock, day, zlib.crc32(part.data), len(part.stored), len(part.data),
                  len(name), 0)
        directory += struct.pack("<IH", 0x02014B50, VERSION_NEEDED) + struct.pack("<HHHHHIIIHH", *fields)
        directory += struct.pack("<HHHII", 0, 0, 0, 0, len(body)) + name
        body += struct.pack("<I", 0x04034B50) + struct.pack("<HHHHHIIIHH", *fields) + name + part.stored
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(parts), len(parts), len(directory), len(body), 0)
    return bytes(body + directory + end)


def package(program: bytes, arch: str, version: str, pictures: str, who: Identity, seconds: int) -> bytes:
    found = machine(program)
    if found != arch:
        raise Failure(f"the program is built for {found}, not {arch}")
    parts = [packed("MorvaneShutdown.exe", program)]
    for logo, side in LOGOS.items():
        path = os.path.join(pictures, logo)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as e:
            raise Failure(f"the logo {path} cannot be read ({e.strerror}): "
                          "python3 resources/make_pictures.py draws it") from None
        if png_side(data) != (side, side):
            raise Failure(f"the logo {path} is not a {side} x {side} PNG")
        parts.append(packed(f"Assets/{logo}", data))
    # Windows' reader wants the payload in this order, in the zip and in the block map
    # (otherwise 0x80080205, "The Appx package's block map is invalid"); the package's own
    # parts follow, as MakeAppx lays them out.
    parts.sort(key=lambda part: payload_order(part.path))
    parts.append(packed("AppxManifest.xml", manifest(who, version, arch).encode("utf-8")))
    listed = parts[:]
    parts.append(packed("AppxBlockMap.xml", block_map(listed).encode("utf-8")))
    parts.append(packed("[Content_Types].xml", content_types(listed).encode("utf-8")))
    return zip_bytes(parts, seconds)


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(MACHINES.values()))
    parser.add_argument("--version", required=True, help="the program's version, three numbers")
    parser.add_argument("--pictures", required=True, help="the folder holding the logos")
    parser.add_argument("--date", required=True, type=int, help="the entries' date, in seconds since 1970")
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv)
    try:
        os.remove(args.out)  # a package from an earlier build would pass for this one's
    except FileNotFoundError:
        pass
    try:
        if not re.fullmatch(r"[1-9][0-9]{0,4}\.[0-9]{1,5}\.[0-9]{1,5}", args.version):
            raise Failure(f"the version must be three numbers, the first not 0, each at most 65535, "
                          f"not {args.version!r}")
        # The Store takes four numbers, the last 0: it keeps that one for itself.
        version = args.version + ".0"
        if any(int(n) > 65535 for n in version.split(".")):
            raise Failure(f"a number of the version {args.version} is above 65535")
        who = identity(dict(os.environ))
        with open(args.program, "rb") as f:
            data = package(f.read(), args.arch, version, args.pictures, who, args.date)
    except (Failure, OSError) as e:
        print(f"The Store package was not made: {e}", file=sys.stderr)
        return 1
    with open(args.out + ".part", "wb") as f:
        f.write(data)
    os.replace(args.out + ".part", args.out)
    name = os.path.basename(args.out)
    if who.for_release:
        print(f"{name}: {who.name}, {who.publisher} ({who.publisher_display_name}), {version}, {args.arch}")
    else:
        print(f"""
    *** {name} IS NOT FOR RELEASE ***
    It carries a test identity ({who.name}, {who.publisher}): the Store refuses it.
    Give the identity Partner Center shows in the package command's environment:
    MSIX_IDENTITY_NAME, MSIX_PUBLISHER and MSIX_PUBLISHER_DISPLAY_NAME (docs/releasing.md).
""", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
