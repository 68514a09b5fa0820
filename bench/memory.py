"""Where the program's private memory goes, and whether About keeps any of it.

Prints figures only; nothing here passes or fails.

  1. RssAnon (Linux /proc/pid/status) of the program 3 s after the main window
     shows, pointer parked off the windows, against `hello_window.exe dlls` in
     the same state; and, for both, the anonymous pages of each mapping in
     /proc/pid/smaps, grouped by the file mapped (a PE DLL's written pages) or as
     unnamed memory (heaps, stacks, DIB sections), largest differences first.
  2. A soak: 关于 opened and closed SOAK_CYCLES times (default 500) through the
     UI driver, RssAnon read every 100 cycles; growth per 100 cycles over the
     cycles after the first 100 (which warm caches up).
  3. What Wine itself keeps of each static control destroyed (static_font_leak.exe,
     a bare Win32 program): the system's and the common controls 6 statics, with and
     without a font. The labels of About are common controls 6 statics with a font.

Environment: SOAK_CYCLES, BENCH_TOOLS (folder with hello_window.exe and
static_font_leak.exe, default build/bench-tools: built here when missing).
Run by bench/run.sh (or under the environment of scripts/wine-env.sh).
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import time
from collections import defaultdict
from pathlib import Path
from typing import Dict, List

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402
from controls import ABOUT, ABOUT_OK, COMMAND3, MAIN  # noqa: E402
from harness import ProgramRun, UiDriver  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import BENCH_TOOLS, HELLO, REPO, Hello, linux_pid, park_pointer  # noqa: E402

KIB = 1024
MIB = 1024 * 1024
SETTLE_S = 3.0


def log(*args) -> None:
    print(*args, file=sys.stderr, flush=True)


def rss_anon(pid: int) -> int:
    text = Path(f"/proc/{pid}/status").read_text()
    return int(re.search(r"^RssAnon:\s+(\d+)", text, re.M).group(1)) * KIB


# Wine puts the Windows side's own allocations (heaps, thread stacks, DIB sections) low
# in the address space; the Linux libraries' (malloc arenas, X11, FreeType) sit high.
UNIX_SIDE = 0x7F0000000000


def smaps_anon(pid: int) -> Dict[str, int]:
    """Anonymous bytes per mapping name; unnamed mappings split into the Windows and
    the Linux side."""
    out: Dict[str, int] = defaultdict(int)
    name = ""
    for line in Path(f"/proc/{pid}/smaps").read_text().splitlines():
        fields = line.split()
        if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
            start = int(fields[0].split("-")[0], 16)
            if len(fields) > 5:
                name = fields[5]
            elif start < UNIX_SIDE:
                name = "(unnamed, Windows side: heaps, thread stacks, DIB sections)"
            else:
                name = "(unnamed, Linux side: malloc, X11, FreeType)"
            name = os.path.basename(name) if name.startswith("/") else name
        elif fields and fields[0] == "Anonymous:":
            out[name] += int(fields[1]) * KIB
    return out


def ensure_tool(name: str, *flags: str) -> Path:
    exe = BENCH_TOOLS / f"{name}.exe"
    if not exe.is_file():
        BENCH_TOOLS.mkdir(parents=True, exist_ok=True)
        cxx = os.environ.get("MINGW_CXX", "x86_64-w64-mingw32-g++-win32")
        subprocess.run([cxx, "-O2", "-municode", "-static", "-o", str(exe), str(REPO / "bench" / f"{name}.cpp"),
                        *flags], check=True)
    return exe


def ensure_hello() -> Path:
    return ensure_tool("hello_window", "-mwindows", "-lcomctl32")


def print_static_leak(sess) -> None:
    exe = ensure_tool("static_font_leak", "-lgdi32")
    for args in ([], ["font"], ["v6"], ["v6", "font"]):
        out = subprocess.run([sess.wine, str(exe), *args], env=sess.env(), stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=60, text=True).stdout.strip()
        print(f"bare Win32: {out}")


def measure_hello(sess, driver) -> Dict[str, int]:
    ensure_hello()
    hello = Hello(sess, driver, "dlls")
    try:
        hello.start()
        if not driver.wait(HELLO, 30):
            raise harness.HarnessError("hello_window.exe never showed its window")
        time.sleep(SETTLE_S)
        pid = linux_pid(hello.exe, hello.proc.pid)
        maps = smaps_anon(pid)
        maps["RssAnon"] = rss_anon(pid)
        return maps
    finally:
        hello.stop()


def about_cycle(driver) -> None:
    driver.click(MAIN, COMMAND3)
    if not driver.wait(ABOUT, 5):
        raise harness.HarnessError("关于 did not open the About window")
    driver.click(ABOUT, ABOUT_OK)
    if not driver.gone(ABOUT, 5):
        raise harness.HarnessError("确定 did not close the About window")


def main() -> int:
    cycles = int(os.environ.get("SOAK_CYCLES", "500"))
    sess = harness.session()
    driver = UiDriver(sess)
    park_pointer(sess)
    try:
        log("hello_window.exe dlls ...")
        hello = measure_hello(sess, driver)
        log("the program ...")
        run = ProgramRun(sess, driver)
        try:
            run.start()
            if not driver.wait(MAIN, 60):
                raise harness.HarnessError("no main window")
            park_pointer(sess)
            time.sleep(SETTLE_S)
            pid = linux_pid(run.exe, run.proc.pid)
            program = smaps_anon(pid)
            program["RssAnon"] = rss_anon(pid)

            print(f"program: {program_exe_size()} bytes; RssAnon {program['RssAnon'] / MIB:.2f} MiB, "
                  f"hello_window.exe dlls {hello['RssAnon'] / MIB:.2f} MiB, "
                  f"above it {(program['RssAnon'] - hello['RssAnon']) / MIB:.2f} MiB "
                  f"(3 s after the window showed, pointer parked)")
            print("anonymous pages by mapping, KiB (program, hello dlls, difference), largest differences first:")
            names = set(program) | set(hello)
            names.discard("RssAnon")
            rows = sorted(names, key=lambda n: -abs(program.get(n, 0) - hello.get(n, 0)))
            for n in rows[:15]:
                p, h = program.get(n, 0), hello.get(n, 0)
                if p == h == 0:
                    continue
                print(f"  {p // KIB:7d} {h // KIB:7d} {(p - h) // KIB:+7d}  {n}")

            if cycles <= 0:
                return 0
            log(f"About soak, {cycles} cycles ...")
            samples: List[int] = [rss_anon(pid)]
            started = time.monotonic()
            for n in range(1, cycles + 1):
                about_cycle(driver)
                if n % 100 == 0:
                    time.sleep(0.5)
                    samples.append(rss_anon(pid))
            took = time.monotonic() - started
            print(f"About soak: {cycles} open/close cycles in {took:.0f} s; RssAnon every 100 cycles, KiB: "
                  + ", ".join(str(s // KIB) for s in samples))
            if len(samples) > 2:
                per100 = (samples[-1] - samples[1]) / (len(samples) - 2)
                print(f"About soak: growth {per100 / 1000:.1f} kB per 100 cycles after the first 100 "
                      f"(first 100: {(samples[1] - samples[0]) / 1000:+.1f} kB)")
        finally:
            run.stop()
        print_static_leak(sess)
    finally:
        driver.close()
    return 0


def program_exe_size() -> int:
    return harness.program_path().stat().st_size


if __name__ == "__main__":
    sys.exit(main())
