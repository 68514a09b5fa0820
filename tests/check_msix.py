#!/usr/bin/env python3
"""Makes a preset's Store package with no settings and checks it as Windows reads it: the
manifest against the program inside, the program the zip's, every block of the block map,
the zip's entries in Windows' order and at the version its reader takes, the logos at their
sizes, well-formed XML, and a throwaway signature that osslsigncode verifies and refuses once
a byte changes. Microsoft's own reader (makemsix, at ../shared/tools/msix/ or where MAKEMSIX
names it) then opens the package and its signed copy; on a machine without it, the checks
here still stand for what it checks. Called by scripts/test.sh after scripts/repro.sh (two
builds, one package):  check_msix.py [windows|windows-x86]
"""

import base64
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
APPX = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
UAP = "{http://schemas.microsoft.com/appx/manifest/uap/windows10}"
BLOCKMAP = "{http://schemas.microsoft.com/appx/2010/blockmap}"
OWN_PARTS = ["AppxManifest.xml", "AppxBlockMap.xml", "[Content_Types].xml"]
READER = Path(os.environ.get("MAKEMSIX", ROOT.parent / "shared" / "tools" / "msix" / "makemsix"))


def check(ok, what):
    if not ok:
        raise SystemExit(f"check_msix: {what}")


def pe_facts(program):
    """The architecture (PE machine) and the file version (VERSIONINFO) of a program."""
    (pe,) = struct.unpack_from("<I", program, 0x3C)
    fixed = program.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    check(fixed > 0, "the program has no VERSIONINFO")
    ms, ls = struct.unpack_from("<II", program, fixed + 8)
    machine = {0x8664: "x64", 0x14C: "x86"}.get(struct.unpack_from("<H", program, pe + 4)[0])
    return machine, f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def check_block_map(package, raw):
    files = ElementTree.fromstring(package.read("AppxBlockMap.xml")).findall(f"{BLOCKMAP}File")
    names = [urllib.parse.quote(f.get("Name").replace("\\", "/")) for f in files]
    parts = [n for n in package.namelist() if n not in OWN_PARTS[1:]]
    check(names == parts, f"the block map lists {names}, the zip {parts}")
    # Windows' reader: the payload in ascending case-insensitive ordinal order, then the
    # package's own parts; version 2.0 (or 4.5, Zip64's) needed in every header.
    payload = package.namelist()[:-3]
    in_order = sorted(payload, key=lambda n: n.replace("/", "\\").upper().encode("utf-16-be"))
    check(payload == in_order and package.namelist()[-3:] == OWN_PARTS, f"zip order {package.namelist()}")
    for info in package.infolist():
        needs = (struct.unpack_from("<H", raw, info.header_offset + 4)[0], info.extract_version)
        check(set(needs) <= {20, 45}, f"{info.filename}: version needed {needs}")
    for name, file in zip(names, files):
        info, data = package.getinfo(name), package.read(name)
        header = 30 + sum(struct.unpack_from("<HH", raw, info.header_offset + 26))
        said, found = (file.get("LfhSize"), file.get("Size")), (str(header), str(len(data)))
        check(said == found, f"{name}: LfhSize and Size {said}, not {found}")
        blocks = file.findall(f"{BLOCKMAP}Block")
        check(len(blocks) == (len(data) + 65535) // 65536, f"{name}: {len(blocks)} blocks")
        stored = raw[info.header_offset + header:][:info.compress_size]
        for i, block in enumerate(blocks):
            piece = data[i * 65536:(i + 1) * 65536]
            check(block.get("Hash") == base64.b64encode(hashlib.sha256(piece).digest()).decode(), f"{name}: hash {i}")
            if info.compress_type == zipfile.ZIP_STORED:
                check(block.get("Size") is None, f"{name}: a stored block with a Size")
                continue
            # Each block's compressed bytes stand alone: they inflate to the block by themselves.
            size = int(block.get("Size"))
            try:
                alone = zlib.decompressobj(-15).decompress(stored[:size]) == piece
            except zlib.error:
                alone = False
            check(alone, f"{name}: block {i}'s compressed bytes ({size}) do not inflate to it by themselves")
            stored = stored[size:]
        check(info.compress_type == zipfile.ZIP_STORED or not stored, f"{name}: bytes past its last block")


def check_signature(package_file, publisher, work):
    """Signed as for a sideload: a throwaway certificate whose subject is the publisher."""
    def run(*command):
        return subprocess.run(command, cwd=work, capture_output=True, text=True)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/" + publisher,
        "-addext", "basicConstraints=critical,CA:FALSE", "-addext", "keyUsage=critical,digitalSignature",
        "-addext", "extendedKeyUsage=codeSigning", "-keyout", "test.key", "-out", "test.pem")
    run("osslsigncode", "sign", "-certs", "test.pem", "-key", "test.key", "-in", package_file, "-out", "signed.msix")
    said = run("osslsigncode", "verify", "-CAfile", "test.pem", "-in", "signed.msix")
    check(said.returncode == 0 and "Signature verification: ok" in said.stdout, f"the signed copy: {said}")
    read_as_windows(Path(work, "signed.msix"), "-ac")
    signed = bytearray(Path(work, "signed.msix").read_bytes())
    with zipfile.ZipFile(Path(work, "signed.msix")) as z:
        exe = z.getinfo("MorvaneShutdown.exe")
    signed[exe.header_offset + 30 + len(exe.filename) + exe.compress_size // 2] ^= 1
    Path(work, "signed.msix").write_bytes(signed)
    said = run("osslsigncode", "verify", "-CAfile", "test.pem", "-in", "signed.msix")
    check(said.returncode != 0 and "MISMATCH" in said.stdout, "a changed package still verifies")


def read_as_windows(package_file, *options):
    """Microsoft's reader unpacks the package, or says why not."""
    if not READER.exists():
        print(f"!! ==== NOT RUN: Microsoft's MSIX reader on {package_file.name}; {READER} is not on this "
              "machine (MAKEMSIX names another place) ====")
        return ""
    with tempfile.TemporaryDirectory() as out:
        said = subprocess.run([READER, "unpack", "-p", package_file, "-d", out, *options], capture_output=True,
                              text=True)
    check(said.returncode == 0, f"Microsoft's reader refuses {package_file.name} ({' '.join(options)}): "
          f"{said.stdout}{said.stderr}")
    return "; Microsoft's reader opens it"


def main():
    preset = sys.argv[1] if len(sys.argv) > 1 else "windows"
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SIGN_", "MSIX_"))}
    made = subprocess.run(["cmake", "--build", "--preset", preset, "--target", "package"], cwd=ROOT, env=env,
                          capture_output=True, text=True)
    check(made.returncode == 0 and "IS NOT FOR RELEASE" in made.stdout + made.stderr, made.stdout + made.stderr)
    (package_file,) = (ROOT / "build" / preset).glob("MorvaneShutdown-*.msix")
    (download,) = (ROOT / "build" / preset).glob("MorvaneShutdown-*.zip")
    opened = read_as_windows(package_file, "-ss")
    raw = package_file.read_bytes()
    with zipfile.ZipFile(package_file) as package, zipfile.ZipFile(download) as z:
        program = package.read("MorvaneShutdown.exe")
        check([z.read(n) for n in z.namelist() if n.endswith("/MorvaneShutdown.exe")] == [program],
              "the program in the package is not the zip's")
        manifest = ElementTree.fromstring(package.read("AppxManifest.xml"))
        identity = manifest.find(f"{APPX}Identity")
        facts = pe_facts(program)
        said = (identity.get("ProcessorArchitecture"), identity.get("Version"))
        check(said == facts, f"the manifest says {said}, the program is {facts}")
        app = manifest.find(f"{APPX}Applications/{APPX}Application")
        check(app.get("Executable") in package.namelist(), f"no {app.get('Executable')} in the package")
        visuals = app.find(f"{UAP}VisualElements")
        for path, side in ((manifest.findtext(f"{APPX}Properties/{APPX}Logo"), 50),
                           (visuals.get("Square150x150Logo"), 150), (visuals.get("Square44x44Logo"), 44)):
            png = package.read(path.replace("\\", "/"))
            check(png[12:16] == b"IHDR" and struct.unpack(">II", png[16:24]) == (side, side), f"{path}: not {side} px")
        check_block_map(package, raw)
        ElementTree.fromstring(package.read("[Content_Types].xml"))  # well-formed; osslsigncode reads it too
    with tempfile.TemporaryDirectory() as work:
        check_signature(package_file, identity.get("Publisher"), work)
    print(f"{package_file.name}: {facts}, the zip's program; block map, logos and a test signature right{opened}")


if __name__ == "__main__":
    main()
