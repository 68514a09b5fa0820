#!/usr/bin/env python3
"""Benchmarks of MorvaneShutdown.exe under Wine: start-up time, countdown
accuracy, CPU at rest and while counting down in the tray, memory, and the
size of the .exe. Prints one table of figures with how each was obtained and
the target it is held against; it never fails on a figure.

Run through bench/run.sh, which builds everything, sets up Wine and a display.
Stdlib only; the program is run exactly as the end-to-end tests run it
(tests/e2e/harness.py): with our stub cmd.exe and explorer.exe standing in
the system and Windows folders of the prefix, so the shutdown at the end of a
countdown only writes a line to launches.log.

The publisher is the end-to-end tests' advert server (tests/e2e/advert_server.py),
for the program built with the preset local-publisher.

Environment:
  BENCH_RUNS      start-ups timed per kind (default 7, at least 5)
  BENCH_TOOLS     folder holding hello_window.exe and memquery.exe
                  (default build/bench-tools)
  BENCH_PART      "startup" for the start-up figures alone (publishers that
                  answer at once, in 0.4 s, in 4 s and never); "compare" for
                  the start of the program against BENCH_BASELINE, alternated;
                  default all
  BENCH_BASELINE  for "compare": another build of the program for the local
                  publisher (an earlier commit's, say)
"""

from __future__ import annotations

import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Dict, List, Optional, Tuple

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

import harness  # noqa: E402
from advert_server import SILENT, WHOLE, AdvertServer, Reply  # noqa: E402
from controls import ABOUT, ABOUT_OK, COMMAND1, COMMAND3, COMMAND4, MAIN, SPLASH, SPLASH_HINT, TEXT1  # noqa: E402
from harness import ProgramRun, UiDriver, local_publisher, program_path, session, wait_until  # noqa: E402

HELLO = "bench-hello"
BENCH_TOOLS = Path(os.environ.get("BENCH_TOOLS") or REPO / "build" / "bench-tools")
RUNS = max(5, int(os.environ.get("BENCH_RUNS", "7")))
# The countdown hidden in the tray begins above a minute, so that it passes the warning
# the program gives at 60.
HIDDEN_SECONDS = 65
MINGW_RUNTIME = {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libgcc_s_dw2-1.dll", "libwinpthread-1.dll"}
MIB = 1024 * 1024
CLK_TCK = os.sysconf("SC_CLK_TCK")


def log(*args) -> None:
    print(*args, file=sys.stderr, flush=True)


# ------------------------------------------------------------------ the table


class Table:
    def __init__(self) -> None:
        self.rows: List[Tuple[str, str, str, str, str]] = []

    def add(self, figure: str, value: str, how: str, target: str = "", verdict: Optional[bool] = None) -> None:
        mark = "" if verdict is None else ("met" if verdict else "MISSED")
        self.rows.append((figure, value, target, mark, how))

    def print(self) -> None:
        print("| Figure | Value | Target | Verdict | How it was obtained |")
        print("|---|---|---|---|---|")
        for row in self.rows:
            print("| " + " | ".join(cell.replace("|", "/") for cell in row) + " |")


def ms(seconds: float) -> str:
    return f"{seconds * 1000:.0f} ms"


def spread(values: List[float]) -> str:
    """'median (min..max)' in ms, from seconds."""
    return f"{ms(statistics.median(values))} (min {ms(min(values))}, max {ms(max(values))}, n={len(values)})"


# ------------------------------------------------------------ publisher site


class Publisher(AdvertServer):
    """Serves gg1.txt and gg2.txt, each `delay` seconds after its request came
    (at once by default), or never when `delay` is None."""

    BODIES = {"/gg1.txt": "基准测试广告位1".encode("gbk"), "/gg2.txt": "基准测试广告位2".encode("gbk")}

    def __init__(self, port: int) -> None:
        try:
            super().__init__(port)
        except OSError as exc:
            raise SystemExit(f"cannot serve the publisher site on 127.0.0.1:{port}: {exc}")
        self.port = port
        self.answer_after(0.0)

    def answer_after(self, delay: Optional[float]) -> None:
        for path, body in self.BODIES.items():
            self.serve(path, Reply(body, content_type="text/plain; charset=gbk", delay=delay or 0.0,
                                   kind=SILENT if delay is None else WHOLE))


# ------------------------------------------------------------- the processes


class BenchRun(ProgramRun):
    """The harness's program run (scratch folder, stub checks), with
    the given build of the program in it."""

    def __init__(self, sess, driver, exe: Path) -> None:
        super().__init__(sess, driver)
        if exe != program_path():
            shutil.copy2(exe, self.exe)

    def linux_pid(self) -> int:
        assert self.proc is not None
        return linux_pid(self.exe, self.proc.pid)


def linux_pid(exe: Path, first_guess: int) -> int:
    """The Linux process running the .exe (the wine loader execs into it)."""
    for pid in [first_guess] + [int(p) for p in os.listdir("/proc") if p.isdigit()]:
        try:
            if Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0", 1)[0] == str(exe).encode():
                return pid
        except OSError:
            continue
    raise harness.HarnessError(f"no Linux process runs {exe}")


def xdotool(sess, *args: str) -> bool:
    if shutil.which("xdotool") is None:
        return False
    env = dict(os.environ, DISPLAY=sess.display)
    return subprocess.run(["xdotool", *args], env=env, timeout=10, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def park_pointer(sess) -> bool:
    """Puts the X pointer in the screen's bottom left corner, off every window:
    under Wine a pointer resting on a push button costs CPU (see below)."""
    return xdotool(sess, "mousemove", "2", "1020")


def cpu_seconds(pid: int) -> Tuple[float, float]:
    """(utime+stime from /proc/<pid>/stat, sum of the live threads' schedstat run
    time), both in seconds."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    ticks = (int(fields[11]) + int(fields[12])) / CLK_TCK
    ns = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            ns += int(Path(f"/proc/{pid}/task/{task}/schedstat").read_text().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return ticks, ns / 1e9


def wineserver_pid(prefix: Path) -> Optional[int]:
    """The wineserver of `prefix`: it works in .../server-<dev>-<inode of prefix>."""
    st = os.stat(prefix)
    suffix = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for p in os.listdir("/proc"):
        if not p.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{p}/cwd").endswith(suffix) and b"wineserver" in Path(f"/proc/{p}/cmdline").read_bytes():
                return int(p)
        except OSError:
            continue
    return None


def linux_memory(pid: int) -> Dict[str, int]:
    """Bytes: VmHWM, VmRSS, RssAnon from status; Private = Private_Clean +
    Private_Dirty from smaps_rollup."""
    out: Dict[str, int] = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, rest = line.partition(":")
        if key in ("VmHWM", "VmRSS", "RssAnon"):
            out[key] = int(rest.split()[0]) * 1024
    private = 0
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
        key, _, rest = line.partition(":")
        if key in ("Private_Clean", "Private_Dirty"):
            private += int(rest.split()[0]) * 1024
    out["Private"] = private
    return out


def windows_memory(sess, win_pid: int) -> Optional[Dict[str, int]]:
    """GetProcessMemoryInfo, through memquery.exe in the same prefix."""
    exe = BENCH_TOOLS / "memquery.exe"
    if not exe.is_file():
        return None
    done = subprocess.run([sess.wine, str(exe), str(win_pid)], env=sess.env(), capture_output=True, timeout=60)
    words = done.stdout.decode("ascii", "replace").split()
    if len(words) != 5 or words[0] != "ok":
        log(f"memquery: {done.stdout!r}")
        return None
    peak_ws, ws, private, peak_pagefile = (int(w) for w in words[1:])
    return {"PeakWorkingSetSize": peak_ws, "WorkingSetSize": ws, "PrivateUsage": private,
            "PeakPagefileUsage": peak_pagefile}


class Hello:
    """hello_window.exe: Wine's own cost of bringing a window up."""

    def __init__(self, sess, driver, *args: str) -> None:
        self.sess, self.driver, self.args = sess, driver, list(args)
        self.folder = Path(tempfile.mkdtemp(prefix="morvane-bench-hello-"))
        self.exe = self.folder / "hello_window.exe"
        shutil.copy2(BENCH_TOOLS / "hello_window.exe", self.exe)
        self.proc: Optional[subprocess.Popen] = None

    def start(self) -> float:
        started = time.monotonic()
        self.proc = subprocess.Popen([self.sess.wine, str(self.exe), *self.args], cwd=str(self.folder), env=self.sess.env(),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return started

    def stop(self) -> None:
        if self.proc and self.proc.poll() is None:
            try:
                self.driver.close_window(HELLO)
            except harness.DriverError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


# ---------------------------------------------------------------- the figures


def time_hello(sess, driver) -> List[float]:
    times = []
    for n in range(RUNS + 1):
        hello = Hello(sess, driver)
        try:
            started = hello.start()
            if not driver.wait(HELLO, 30):
                raise harness.HarnessError("hello_window.exe never showed its window")
            if n:  # the first start warms Wine up and is not counted
                times.append(time.monotonic() - started)
        finally:
            hello.stop()
    return times


def hello_memory(sess, driver, *args: str) -> Tuple[Dict[str, int], Optional[Dict[str, int]]]:
    hello = Hello(sess, driver, *args)
    try:
        hello.start()
        driver.wait(HELLO, 30)
        time.sleep(1.0)
        return linux_memory(hello.proc.pid), windows_memory(sess, driver.pid(HELLO))
    finally:
        hello.stop()


def time_program(sess, driver, exe: Path, publisher: Optional[Publisher], runs: int):
    splash, main, fetches, first_get, last_get = [], [], [], [], []
    for n in range(runs + 1):
        run = BenchRun(sess, driver, exe)
        try:
            before = len(publisher.requests()) if publisher else 0
            started = run.start()
            if not driver.wait(SPLASH, 30):
                raise harness.HarnessError("no splash window")
            at_splash = time.monotonic()
            if not driver.wait(MAIN, 60):
                raise harness.HarnessError("no main window")
            at_main = time.monotonic()
            if n:
                splash.append(at_splash - started)
                main.append(at_main - started)
                if publisher:
                    got = publisher.requests()[before:]
                    fetches.append(len(got))
                    if got:
                        first_get.append(got[0][0] - at_splash)
                        last_get.append(at_main - got[-1][0])
        finally:
            run.stop()
    return splash, main, fetches, first_get, last_get


def time_startup(sess, driver, exe: Path, publisher: Publisher, delay: Optional[float], runs: int):
    """Start -> splash, start -> main and start -> splash hint (None where it never
    showed), in seconds, per start, with the publisher answering after `delay`;
    and the requests per start."""
    publisher.answer_after(delay)
    rows = []
    for n in range(runs + 1):
        run = BenchRun(sess, driver, exe)
        try:
            before = len(publisher.requests())
            started = run.start()
            if not driver.wait(SPLASH, 30):
                raise harness.HarnessError("no splash window")
            at_splash = time.monotonic() - started
            at_hint = None
            while True:
                found = driver.find(MAIN)
                if found is not None and found[1]:
                    break
                if at_hint is None and driver.find(SPLASH) is not None:
                    try:
                        if driver.visible(SPLASH, SPLASH_HINT):
                            at_hint = time.monotonic() - started
                    except harness.DriverError:
                        pass
                if time.monotonic() - started > 60:
                    raise harness.HarnessError("no main window")
                time.sleep(0.02)
            at_main = time.monotonic() - started
            if n:  # the first start warms Wine up
                rows.append((at_splash, at_main, at_hint, len(publisher.requests()) - before))
        finally:
            run.stop()
    publisher.answer_after(0.0)
    return rows


def one_start(sess, driver, exe: Path) -> Tuple[float, float, float]:
    """Start -> splash and start -> main, then a second start's Popen -> its exit, in
    seconds, for one start of `exe` (the second start hands over to the first)."""
    run = BenchRun(sess, driver, exe)
    second = BenchRun(sess, driver, exe)
    try:
        started = run.start()
        if not driver.wait(SPLASH, 30):
            raise harness.HarnessError("no splash window")
        at_splash = time.monotonic() - started
        if not driver.wait(MAIN, 60):
            raise harness.HarnessError("no main window")
        at_main = time.monotonic() - started
        began = second.start()
        if second.proc.wait(30) != 0:
            raise harness.HarnessError(f"the second start ended with {second.proc.returncode}")
        return at_splash, at_main, time.monotonic() - began
    finally:
        second.stop()
        run.stop()


def compare_startup(sess, driver, table: "Table", exe: Path, baseline: Path,
                    labels: Tuple[str, str] = ("baseline", "this build")) -> None:
    """The program against a baseline build (or the x64 build against the x86 one),
    started alternately (in the order AB, BA, AB, ...), so that Wine's and the machine's
    drift falls on both alike."""
    if not all(harness.is_x64_program(p) for p in (exe, baseline)) and not harness.runs_32bit_code():
        log(f"!! ==== NOT RUN: the alternated start-up; {harness.NO_32BIT_CODE} ====")
        table.add("Alternated start", f"not run: {harness.NO_32BIT_CODE}", f"{baseline} against {exe}")
        return
    figures: Dict[Path, List[Tuple[float, float, float]]] = {baseline: [], exe: []}
    for n in range(RUNS + 1):
        log(f"alternated start-up, pair {n} of {RUNS} ...")
        for which in ((baseline, exe) if n % 2 else (exe, baseline)):
            got = one_start(sess, driver, which)
            if n:  # the first pair warms Wine up
                figures[which].append(got)
    for label, which in zip(labels, (baseline, exe)):
        rows = figures[which]
        table.add(f"Alternated start, {label}",
                  f"splash {spread([r[0] for r in rows])}; main {spread([r[1] for r in rows])}; "
                  f"second start handed over and ended {spread([r[2] for r in rows])}",
                  f"{which}: process start (Popen of {'wine64' if harness.is_x64_program(which) else 'wine, the 32-bit loader'}) to uidriver seeing 'loading...', then 'Morvane关机' "
                  "visible (polled every 20 ms); then a second start's Popen to its exit (code 0), the first "
                  f"still running; publisher prompt; {RUNS} pairs started alternately with the other build, "
                  "first pair discarded")


STARTUP_PUBLISHERS = (("prompt", 0.0), ("0.4 s per document", 0.4), ("answers after 4 s", 4.0),
                      ("never answers", None))


def startup_table(sess, driver, publisher: Publisher, table: "Table", exe: Path) -> None:
    for name, delay in STARTUP_PUBLISHERS:
        log(f"timing start-up, publisher {name} ...")
        runs = 3 if delay is None or delay >= 4 else RUNS
        rows = time_startup(sess, driver, exe, publisher, delay, runs)
        hints = [r[2] for r in rows if r[2] is not None]
        table.add(f"Start-up, publisher {name}",
                  f"splash {spread([r[0] for r in rows])}; main {spread([r[1] for r in rows])}; "
                  f"hint {spread(hints) if hints else 'never shown'}"
                  + (f" ({len(hints)} of {len(rows)} starts)" if hints and len(hints) < len(rows) else ""),
                  f"process start (Popen of wine64) to: uidriver seeing 'loading...' visible, 'Morvane关机' "
                  f"visible, the splash's hint (control 203) visible, polled every 20 ms; publisher on "
                  f"127.0.0.1:{publisher.port} answering each document "
                  + ("never" if delay is None else f"{delay:g} s after its request")
                  + f"; requests per start {sorted(set(r[3] for r in rows))}; first start discarded")


def countdown_error(run: BenchRun, driver: UiDriver, seconds: int, hide: bool = False,
                    during=None) -> float:
    """Runs one countdown; returns (stub's launch time - click - nominal) in s.
    `during(clicked_ms)` runs while it counts down."""
    driver.settext(MAIN, TEXT1, str(seconds))
    wait_until(lambda: driver.text(MAIN, TEXT1) == str(seconds), 3)
    before = len(run.launches())
    clicked = driver.click(MAIN, COMMAND1)
    if hide:
        driver.click(MAIN, COMMAND4)
    if during:
        during(clicked)
    launches = run.wait_launches(before + 1, seconds + 15)
    if len(launches) <= before:
        raise harness.HarnessError(f"no launch after a {seconds} s countdown")
    return (launches[before].ms - clicked) / 1000 - seconds


def zero_latency(run: BenchRun, driver: UiDriver) -> float:
    """Typing the field to 0 launches at once: the time from just before the
    WM_SETTEXT to the stub's own clock is the cost of a launch itself."""
    driver.settext(MAIN, TEXT1, "5")
    wait_until(lambda: driver.text(MAIN, TEXT1) == "5", 3)
    before = len(run.launches())
    sent = driver.now_ms()
    driver.settext(MAIN, TEXT1, "0")
    launches = run.wait_launches(before + 1, 10)
    return (launches[before].ms - sent) / 1000


def exe_facts(sess) -> Tuple[int, List[str], List[str]]:
    exe = program_path()
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True).stdout
    dlls = [line.split(":", 1)[1].strip() for line in dump.splitlines() if "DLL Name:" in line]
    system32 = sess.prefix / "drive_c" / "windows" / "system32"
    present = {p.name.lower() for p in system32.iterdir()} if system32.is_dir() else set()
    foreign = [d for d in dlls if d.lower() in MINGW_RUNTIME or (present and d.lower() not in present)]
    return exe.stat().st_size, dlls, foreign


def wine_version(sess) -> str:
    return subprocess.run([sess.wine, "--version"], capture_output=True, text=True).stdout.strip()


def main() -> int:
    began = time.monotonic()
    bench_exe, port = local_publisher()
    for needed in (program_path(), BENCH_TOOLS / "hello_window.exe"):
        if not needed.is_file():
            raise SystemExit(f"{needed} is missing: run bench/run.sh")
    sess = session()
    park_pointer(sess)
    driver = UiDriver(sess)
    publisher = Publisher(port)
    table = Table()
    try:
        print(f"date: {time.strftime('%Y-%m-%d %H:%M:%S %z')}")
        print(f"machine: {os.cpu_count()} CPUs; {' '.join(platform.uname())}")
        print(f"wine: {wine_version(sess)}; display {sess.display}; prefix {sess.prefix}")
        try:
            load = os.getloadavg()
            print(f"load average at the start: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
        except OSError:
            pass
        print()

        if os.environ.get("BENCH_PART") == "compare":
            baseline = Path(os.environ.get("BENCH_BASELINE", ""))
            if not baseline.is_file():
                raise SystemExit("BENCH_BASELINE must name a build of the program for the local publisher")
            compare_startup(sess, driver, table, bench_exe, baseline)
            table.print()
            return 0
        if os.environ.get("BENCH_PART") == "architectures":
            x86 = REPO / "build" / "local-publisher-x86" / "MorvaneShutdown.exe"
            if not x86.is_file():
                raise SystemExit(f"{x86} is missing: cmake --preset local-publisher-x86 && "
                                 "cmake --build --preset local-publisher-x86")
            for preset in ("windows", "windows-x86"):
                shipped = REPO / "build" / preset / "MorvaneShutdown.exe"
                table.add(f".exe size, {preset}", f"{shipped.stat().st_size} bytes",
                          f"size of build/{preset}/MorvaneShutdown.exe (Release, statically linked C++ runtime, "
                          "stripped)")
            compare_startup(sess, driver, table, x86, bench_exe, ("x64", "x86"))
            table.print()
            return 0
        if os.environ.get("BENCH_PART") == "startup":
            startup_table(sess, driver, publisher, table, bench_exe)
            table.print()
            return 0

        # -- start-up
        log("timing Wine's own window start ...")
        hello = time_hello(sess, driver)
        wine_cost = statistics.median(hello)
        log("timing the program's start with a prompt publisher ...")
        splash, main_at, fetches, first_get, last_get = time_program(sess, driver, bench_exe, publisher, RUNS)
        log("timing the program's start as shipped (publisher host unreachable here) ...")
        _, main_shipped, _, _, _ = time_program(sess, driver, program_path(), None, 3)

        table.add("Wine's own start: process start -> first window visible", spread(hello),
                  f"hello_window.exe (bench/hello_window.cpp: RegisterClass, CreateWindow, ShowWindow in wWinMain) "
                  f"started with wine64 like the program; time from Popen until uidriver `wait` sees the window "
                  f"visible (it polls every 20 ms); first run of {RUNS + 1} discarded as warm-up")
        table.add("Start -> splash visible, raw", spread(splash),
                  "Popen of wine64 MorvaneShutdown.exe (build/local-publisher, publisher 127.0.0.1) until uidriver `wait` "
                  "sees 'loading...' visible; scratch folder per run; first run discarded")
        net_splash = statistics.median(splash) - wine_cost
        table.add("Start -> splash visible, net of Wine", ms(net_splash), "median raw minus median of Wine's own start",
                  "<= 150 ms", net_splash <= 0.150)
        table.add("Start -> main visible, raw, prompt publisher", spread(main_at),
                  f"as above until 'Morvane关机' is visible; gg1.txt/gg2.txt served at once from a Python "
                  f"http.server thread on 127.0.0.1:{port} (requests per start: "
                  f"{sorted(set(fetches))})")
        net_main = statistics.median(main_at) - wine_cost
        table.add("Start -> main visible, net of Wine, prompt publisher", ms(net_main),
                  "median raw minus median of Wine's own start (the splash holds the main window back 1 s by "
                  "design)", "<= 1100 ms", net_main <= 1.100)
        if first_get:
            table.add("Where the time to main goes, prompt publisher",
                      f"splash visible -> gg1.txt request {spread(first_get)}; gg2.txt request answered -> main "
                      f"visible {spread(last_get)}",
                      "request arrival times at the Python server against the moments uidriver saw the splash "
                      "and the main window visible (the splash's 1 s timer opens the main window, whose load "
                      "fetches both adverts before it shows)")
        startup_table(sess, driver, publisher, table, bench_exe)
        table.add("Start -> main visible, raw, as shipped", spread(main_shipped),
                  "build/windows/MorvaneShutdown.exe, publisher www.morvane.example which does not resolve here; "
                  "for comparison only, 3 runs after a warm-up")

        # -- one program for accuracy, CPU and memory
        run = BenchRun(sess, driver, bench_exe)
        try:
            parked = park_pointer(sess)
            run.start()
            if not driver.wait(MAIN, 60):
                raise harness.HarnessError("no main window")
            run.remember_pid()
            pid = run.linux_pid()
            time.sleep(2.0)
            mem_samples = [("loaded", linux_memory(pid), windows_memory(sess, run.win_pid))]

            log("idle CPU, 60 s ...")
            server = wineserver_pid(sess.prefix)
            cpu0, srv0, t0 = cpu_seconds(pid), cpu_seconds(server) if server else None, time.monotonic()
            time.sleep(60.0)
            cpu1, srv1, t1 = cpu_seconds(pid), cpu_seconds(server) if server else None, time.monotonic()
            idle_pct = (cpu1[0] - cpu0[0]) / (t1 - t0) * 100
            idle_pct_ns = (cpu1[1] - cpu0[1]) / (t1 - t0) * 100
            table.add("CPU idle (main window shown, no countdown), 60 s",
                      f"{idle_pct_ns:.3f} % of one core (stat ticks: {idle_pct:.3f} %)",
                      f"Linux process {pid} running the .exe: sum of /proc/pid/task/*/schedstat run times (ns) over "
                      f"{t1 - t0:.1f} s with nothing sent to it, pointer {'parked off the windows' if parked else 'NOT parked (no xdotool)'}; "
                      f"in brackets /proc/pid/stat utime+stime (1/{CLK_TCK} s ticks)", "< 0.1 %", idle_pct_ns < 0.1)
            if server and srv0 and srv1:
                table.add("CPU idle, wineserver of the prefix, same 60 s",
                          f"{(srv1[0] - srv0[0]) / (t1 - t0) * 100:.3f} % of one core",
                          "/proc/<wineserver>/stat; serves every process of the prefix (explorer.exe's tray, the "
                          "idle uidriver too), so an upper bound for the program's share")
            mem_samples.append(("after 60 s idle", linux_memory(pid), windows_memory(sess, run.win_pid)))

            log("About window, for memory ...")
            driver.click(MAIN, COMMAND3)
            driver.wait(ABOUT, 5)
            time.sleep(0.5)
            mem_samples.append(("About open", linux_memory(pid), windows_memory(sess, run.win_pid)))
            driver.click(ABOUT, ABOUT_OK)
            driver.gone(ABOUT, 5)

            # -- a pointer resting on a button
            hover = None
            left, top, _, _ = driver.wrect(MAIN)
            _, _, client_w, client_h = driver.rect(MAIN)
            _, _, win_w, win_h = driver.wrect(MAIN)
            border = (win_w - client_w) // 2
            bx, by, bw, bh = driver.rect(MAIN, COMMAND1)
            if driver.find(MAIN)[1] and xdotool(sess, "mousemove", str(left + border + bx + bw // 2),
                                                str(top + win_h - border - client_h + by + bh // 2)):
                time.sleep(1.0)
                a, ta = cpu_seconds(pid), time.monotonic()
                time.sleep(15.0)
                b, tb = cpu_seconds(pid), time.monotonic()
                hover = (b[1] - a[1]) / (tb - ta) * 100
                park_pointer(sess)
            if hover is not None:
                table.add("CPU idle, pointer resting on 开始计时", f"{hover:.2f} % of one core",
                          "as for idle over 15 s, X pointer moved onto the button with xdotool; Wine's "
                          "TrackMouseEvent behind the buttons' hot look polls the pointer every 10 ms (strace: "
                          "~100 QueryPointer requests a second), with the pointer elsewhere it does not")

            log("10 s countdowns ...")
            errors10 = [countdown_error(run, driver, 10) for _ in range(3)]
            zeros = [zero_latency(run, driver) for _ in range(3)]
            launch_cost = statistics.median(zeros)

            log(f"{HIDDEN_SECONDS} s countdown hidden in the tray ...")
            hidden: Dict[str, float] = {}

            def measure_hidden(clicked_ms: int) -> None:
                time.sleep(0.5)
                a, ta = cpu_seconds(pid), time.monotonic()
                # Stop short of the launch, which is not counting down.
                left = clicked_ms / 1000 + HIDDEN_SECONDS - 0.7 - time.time()
                time.sleep(max(0.0, left))
                b, tb = cpu_seconds(pid), time.monotonic()
                hidden.update(pct=(b[0] - a[0]) / (tb - ta) * 100, pct_ns=(b[1] - a[1]) / (tb - ta) * 100,
                              span=tb - ta, visible=float(driver.find(MAIN)[1]))
                mem_samples.append(("counting down, hidden", linux_memory(pid), windows_memory(sess, run.win_pid)))

            error60 = countdown_error(run, driver, HIDDEN_SECONDS, hide=True, during=measure_hidden)

            table.add("Launch error, 10 s countdown, raw",
                      ", ".join(f"{e * 1000:+.0f} ms" for e in errors10),
                      "3 countdowns from 10 in one program: stub cmd.exe's logged unix ms minus the unix ms uidriver "
                      "`click` returns just before posting BM_CLICK to 开始计时, minus 10 s")
            table.add("Cost of a launch itself (field set to 0)", spread(zeros),
                      "WM_SETTEXT '0' makes the program launch at once: stub's logged ms minus uidriver `now` just "
                      "before; mostly Wine creating the stub process")
            worst10 = max(errors10, key=abs) - launch_cost
            table.add("Launch error, 10 s countdown, net of launch cost", f"{worst10 * 1000:+.0f} ms (worst of 3)",
                      "raw error minus the median launch cost", "within ±30 ms", abs(worst10) <= 0.030)
            table.add(f"Launch error, {HIDDEN_SECONDS} s countdown hidden in the tray, raw", f"{error60 * 1000:+.0f} ms",
                      f"countdown from {HIDDEN_SECONDS}, 最小化 right after 开始计时, so that it passes the "
                      f"minute's warning; measured as for 10 s")
            net60 = error60 - launch_cost
            table.add(f"Launch error, {HIDDEN_SECONDS} s countdown, net of launch cost", f"{net60 * 1000:+.0f} ms",
                      "raw error minus the median launch cost", "within ±30 ms", abs(net60) <= 0.030)
            table.add("CPU counting down, hidden in the tray",
                      f"{hidden['pct_ns']:.3f} % of one core (stat ticks: {hidden['pct']:.3f} %)",
                      f"as for idle, over {hidden['span']:.1f} s of the {HIDDEN_SECONDS} s countdown (from 0.5 s after 开始计时 "
                      f"to 0.7 s before the launch); main window visible during it: {bool(hidden['visible'])}")

            # -- memory
            hello_linux, hello_windows = hello_memory(sess, driver)
            dlls_linux, _ = hello_memory(sess, driver, "dlls")
            final_linux = linux_memory(pid)
            final_windows = windows_memory(sess, run.win_pid)
            mem_samples.append(("end", final_linux, final_windows))
            private_max = max(s[1]["Private"] for s in mem_samples)
            anon_max = max(s[1]["RssAnon"] for s in mem_samples)
            table.add("Peak working set (Linux VmHWM)",
                      f"{final_linux['VmHWM'] / MIB:.1f} MiB (hello_window.exe: {hello_linux['VmHWM'] / MIB:.1f} MiB)",
                      "/proc/pid/status VmHWM of the program's process at the end (after start-up, 60 s idle, "
                      "About, four countdowns, tray); includes Wine's ntdll/user32/... and the X11 driver")
            table.add("Private bytes, raw (Linux RssAnon)",
                      f"{anon_max / MIB:.1f} MiB (smaps Private_Clean+Private_Dirty: {private_max / MIB:.1f} MiB)",
                      "largest of 5 samples (loaded, after idle, About open, counting down hidden, end) of "
                      "/proc/pid/status RssAnon: heap, stacks and the written pages of every PE DLL Wine loads. "
                      "The smaps figure in brackets also counts clean DLL pages no other process maps at that "
                      "moment, so it moves as other Wine processes come and go", "< 4 MiB", anon_max < 4 * MIB)
            net_private = anon_max - hello_linux["RssAnon"]
            net_dlls = anon_max - dlls_linux["RssAnon"]
            table.add("Private bytes, net of Wine",
                      f"{net_dlls / MIB:.2f} MiB beyond a window program with the same DLLs "
                      f"({dlls_linux['RssAnon'] / MIB:.1f} MiB); {net_private / MIB:.2f} MiB beyond a bare one "
                      f"({hello_linux['RssAnon'] / MIB:.1f} MiB)",
                      "raw minus RssAnon of hello_window.exe 1 s after its window showed: once with comctl32, "
                      "shell32 and wininet loaded and the common controls initialised (`hello_window.exe dlls`), "
                      "once bare", "< 4 MiB", net_dlls < 4 * MIB)
            if final_windows:
                win_private = max(s[2]["PrivateUsage"] for s in mem_samples if s[2])
                table.add("Windows' view: PeakWorkingSetSize / PrivateUsage",
                          f"{final_windows['PeakWorkingSetSize'] / MIB:.1f} MiB / {win_private / MIB:.1f} MiB",
                          "memquery.exe (bench/memquery.cpp): OpenProcess + GetProcessMemoryInfo "
                          "(PROCESS_MEMORY_COUNTERS_EX) on the Windows pid uidriver `pid` gives. Wine 8 fills these "
                          "for another process from its /proc/pid/status: PeakWorkingSetSize = VmHWM, and "
                          "PrivateUsage = PagefileUsage = VmSwap, which is 0 without swap, so no verdict on it")
            log("memory samples: " + "; ".join(
                f"{name}: private {l['Private'] / MIB:.1f} MiB, rss {l['VmRSS'] / MIB:.1f} MiB"
                + (f", win private {w['PrivateUsage'] / MIB:.1f} MiB" if w else "")
                for name, l, w in mem_samples))
        finally:
            run.stop()

        # -- the file
        size, dlls, foreign = exe_facts(sess)
        table.add(".exe size", f"{size} bytes ({size / MIB:.2f} MiB)",
                  f"size of {program_path().relative_to(REPO)} (Release, statically linked C++ runtime, stripped)",
                  "< 1 MiB", size < MIB)
        table.add("Imported DLLs", ", ".join(dlls) + (f"; not Windows' own: {', '.join(foreign)}" if foreign else ""),
                  "'DLL Name' lines of x86_64-w64-mingw32-objdump -p; each checked against the prefix's "
                  "C:\\windows\\system32 and the mingw runtime DLL names", "Windows' own only", not foreign)
    finally:
        publisher.close()
        driver.close()
        harness.close_session()

    table.print()
    print(f"\n(bench took {time.monotonic() - began:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
