#!/usr/bin/env python3
"""Makes the Store package of a preset's build through the package command, with no
settings, and checks it as Windows reads it: the manifest against the program inside (its
architecture by the PE header, its version by VERSIONINFO), the program the same bytes as
in the zip, every block of the block map (hash, Size, LfhSize) recomputed, a content type
for every part, each logo the manifest names there at its size, and a signature made with
a throwaway key that osslsigncode verifies, and refuses once a byte of the program changes.

    check_msix.py [windows|windows-x86]

Called by scripts/test.sh for each preset, after scripts/repro.sh (which checks that two
builds give the same package). Exits 1, naming what is wrong.
"""

import base64
import hashlib
import os
import re
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
FOUNDATION = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
UAP = "{http://schemas.microsoft.com/appx/manifest/uap/windows10}"
BLOCKMAP = "{http://schemas.microsoft.com/appx/2010/blockmap}"
TYPES = "{http://schemas.openxmlformats.org/package/2006/content-types}"
PACKAGE_PARTS = {"AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x"}


def check(ok, what):
    if not ok:
        raise SystemExit(f"check_msix: {what}")


def pe_facts(program):
    """The architecture (PE machine) and the file version (VERSIONINFO) of a program."""
    (pe,) = struct.unpack_from("<I", program, 0x3C)
    (code,) = struct.unpack_from("<H", program, pe + 4)
    fixed = program.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    check(fixed > 0, "the program has no VERSIONINFO")
    ms, ls = struct.unpack_from("<II", program, fixed + 8)
    return {0x8664: "x64", 0x14C: "x86"}.get(code), f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def check_block_map(package, raw):
    entries = {i.filename: i for i in package.infolist()}
    files = ElementTree.fromstring(package.read("AppxBlockMap.xml")).findall(f"{BLOCKMAP}File")
    names = [urllib.parse.quote(f.get("Name").replace("\\", "/"), safe="/") for f in files]
    check(names == [n for n in entries if n not in PACKAGE_PARTS], f"the block map lists {names}, the zip {list(entries)}")
    for name, file in zip(names, files):
        info, data = entries[name], package.read(name)
        n, m = struct.unpack_from("<HH", raw, info.header_offset + 26)
        check(int(file.get("LfhSize")) == 30 + n + m, f"{name}: LfhSize {file.get('LfhSize')}, not {30 + n + m}")
        check(int(file.get("Size")) == len(data), f"{name}: Size {file.get('Size')}, not {len(data)}")
        blocks = file.findall(f"{BLOCKMAP}Block")
        check(len(blocks) == (len(data) + 65535) // 65536, f"{name}: {len(blocks)} blocks")
        stored = raw[info.header_offset + 30 + n + m:][:info.compress_size]
        for i, block in enumerate(blocks):
            piece = data[i * 65536:(i + 1) * 65536]
            digest = base64.b64encode(hashlib.sha256(piece).digest()).decode()
            check(block.get("Hash") == digest, f"{name}: block {i}'s hash")
            if info.compress_type == zipfile.ZIP_DEFLATED:
                # Each block's compressed bytes stand alone: they inflate to the block by themselves.
                size = int(block.get("Size"))
                try:
                    alone = zlib.decompressobj(-15).decompress(stored[:size]) == piece
                except zlib.error:
                    alone = False
                check(alone, f"{name}: block {i}'s compressed bytes ({size}) do not inflate to it by themselves")
                stored = stored[size:]
            else:
                check(block.get("Size") is None, f"{name}: a stored block with a Size")
        check(info.compress_type == zipfile.ZIP_STORED or not stored, f"{name}: bytes past its last block")


def check_signature(package_file, publisher, work):
    subject = "/" + publisher  # a plain CN=... as the test identity has
    def run(*command):
        return subprocess.run(command, cwd=work, check=True, capture_output=True, text=True)

    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Throwaway-CA",
        "-keyout", "ca.key", "-out", "ca.pem")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", "signer.key", "-out", "csr")
    Path(work, "ext").write_text("keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    run("openssl", "x509", "-req", "-in", "csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-extfile", "ext", "-out", "signer.pem")
    run("osslsigncode", "sign", "-certs", "signer.pem", "-key", "signer.key", "-in", str(package_file),
        "-out", "signed.msix")
    verify = ["osslsigncode", "verify", "-CAfile", "ca.pem", "-in"]
    said = run(*verify, "signed.msix").stdout
    check("Signature verification: ok" in said and f"Subject: {subject}" in said, "the signed copy:\n" + said)
    signed = bytearray(Path(work, "signed.msix").read_bytes())
    with zipfile.ZipFile(Path(work, "signed.msix")) as z:
        exe = z.getinfo("MorvaneShutdown.exe")
    signed[exe.header_offset + 30 + len(exe.filename) + exe.compress_size // 2] ^= 1
    Path(work, "changed.msix").write_bytes(signed)
    said = subprocess.run(verify + ["changed.msix"], cwd=work, capture_output=True, text=True)
    check(said.returncode != 0 and "MISMATCH" in said.stdout, "a changed package still verifies")
    print(f"signed with a throwaway key for {publisher}: verifies; one byte of the program changed: fails")


def main():
    preset = sys.argv[1] if len(sys.argv) > 1 else "windows"
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SIGN_", "MSIX_"))}
    made = subprocess.run(["cmake", "--build", "--preset", preset, "--target", "package"], cwd=ROOT, env=env,
                          capture_output=True, text=True)
    check(made.returncode == 0, made.stdout + made.stderr)
    check("IS NOT FOR RELEASE" in made.stdout + made.stderr, "a test package not said to be one")
    out = ROOT / "build" / preset
    (package_file,) = out.glob("MorvaneShutdown-*.msix")
    (download,) = out.glob("MorvaneShutdown-*.zip")
    raw = package_file.read_bytes()
    with zipfile.ZipFile(package_file) as package, zipfile.ZipFile(download) as z:
        program = package.read("MorvaneShutdown.exe")
        zipped = [z.read(n) for n in z.namelist() if n.endswith("/MorvaneShutdown.exe")]
        check(zipped == [program], "the program in the package is not the one in the zip")
        manifest = ElementTree.fromstring(package.read("AppxManifest.xml"))
        identity = manifest.find(f"{FOUNDATION}Identity")
        arch, version = pe_facts(program)
        check(identity.get("ProcessorArchitecture") == arch, f"the manifest says {identity.get('ProcessorArchitecture')}"
              f", the program is {arch}")
        check(identity.get("Version") == version, f"the manifest says {identity.get('Version')}, the program {version}")
        check(re.fullmatch(rf"MorvaneShutdown-{version[:-2]}-{arch}\.msix", package_file.name), package_file.name)
        app = manifest.find(f"{FOUNDATION}Applications/{FOUNDATION}Application")
        check(app.get("Executable") in package.namelist(), f"no {app.get('Executable')} in the package")
        visuals = app.find(f"{UAP}VisualElements")
        logos = [(manifest.findtext(f"{FOUNDATION}Properties/{FOUNDATION}Logo"), 50),
                 (visuals.get("Square150x150Logo"), 150), (visuals.get("Square44x44Logo"), 44)]
        for path, side in logos:
            png = package.read(path.replace("\\", "/"))
            check(png[12:16] == b"IHDR" and struct.unpack(">II", png[16:24]) == (side, side), f"{path}: not {side} px")
        check_block_map(package, raw)
        types = ElementTree.fromstring(package.read("[Content_Types].xml"))
        defaults = {d.get("Extension").lower() for d in types.findall(f"{TYPES}Default")}
        overrides = {o.get("PartName") for o in types.findall(f"{TYPES}Override")}
        for name in package.namelist():
            check(name == "[Content_Types].xml" or "/" + name in overrides or name.rsplit(".", 1)[-1].lower()
                  in defaults, f"{name} has no content type")
    print(f"{package_file.name}: {arch} {version}; the zip's program; block map, content types and logos right")
    with tempfile.TemporaryDirectory() as work:
        check_signature(package_file, identity.get("Publisher"), work)


if __name__ == "__main__":
    main()
