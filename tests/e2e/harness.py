"""Runs MorvaneShutdown.exe under Wine and drives it through tools/uidriver.exe.

Safety first: the program is only ever started from a scratch folder that
holds our stub cmd.exe and explorer.exe right beside it. CreateProcess looks in
the program's own folder first, so every shutdown, restart or browser launch
reaches a stub, which only writes a line to launches.log there.

Environment:
  BUILD_DIR     build folder holding MorvaneShutdown.exe and tools/ (default
                build/windows under the repository root)
  WINEPREFIX    the prefix to use (default <BUILD_DIR>/wineprefix, made on
                first use and reused afterwards)
  DISPLAY       used as is, unless unset or E2E_XVFB=1: then a private Xvfb
  E2E_KEEP=1    keep the scratch folders (for looking at launches.log)
"""

from __future__ import annotations

import atexit
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, List, Optional, Tuple, TypeVar

REPO_ROOT = Path(__file__).resolve().parents[2]
PROGRAM_NAME = "MorvaneShutdown.exe"
STUB_NAMES = ("cmd.exe", "explorer.exe")
LAUNCH_LOG = "launches.log"

# Window captions.
MAIN = "Morvane关机"
SPLASH = "loading..."
ERROR_BOX = "错误"

T = TypeVar("T")


class HarnessError(RuntimeError):
    pass


class DriverError(HarnessError):
    pass


def build_dir() -> Path:
    value = os.environ.get("BUILD_DIR")
    if not value:
        return REPO_ROOT / "build" / "windows"
    path = Path(value)
    return path if path.is_absolute() else REPO_ROOT / path


def program_path() -> Path:
    return build_dir() / PROGRAM_NAME


def tools_dir() -> Path:
    return build_dir() / "tools"


def _find_binary(preferred: str, *fallbacks: str) -> str:
    if os.access(preferred, os.X_OK):
        return preferred
    for name in fallbacks:
        found = shutil.which(name)
        if found:
            return found
    raise HarnessError(f"{preferred} not found (nor {', '.join(fallbacks)} on PATH)")


def wait_until(predicate: Callable[[], T], timeout: float, interval: float = 0.05) -> T:
    """Calls predicate until it returns something truthy; returns that value,
    or the last (falsy) value once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# --------------------------------------------------------------------- session


class Session:
    """Xvfb (when needed), the Wine prefix and a persistent wineserver, shared
    by every test of one run."""

    def __init__(self) -> None:
        self.wine = _find_binary("/usr/lib/wine/wine64", "wine64", "wine")
        self.wineserver = _find_binary("/usr/lib/wine/wineserver", "wineserver")
        self.prefix = Path(os.environ.get("WINEPREFIX") or build_dir() / "wineprefix")
        self.display = os.environ.get("DISPLAY", "")
        self._xvfb: Optional[subprocess.Popen] = None
        self._closed = False

    # -- environment

    def env(self) -> dict:
        env = dict(os.environ)
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            WINEARCH="win64",
            DISPLAY=self.display,
        )
        return env

    def start(self) -> None:
        if not self.display or os.environ.get("E2E_XVFB") == "1":
            self._start_xvfb()
        self._ensure_prefix()
        # Keep one wineserver for the whole run instead of one per program.
        subprocess.run([self.wineserver, "-p"], env=self.env(), check=False)

    def _start_xvfb(self) -> None:
        xvfb = _find_binary("/usr/bin/Xvfb", "Xvfb")
        for n in range(90, 200):
            if Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists():
                continue
            proc = subprocess.Popen(
                [xvfb, f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                start_new_session=True,
            )
            if wait_until(lambda: proc.poll() is not None or Path(f"/tmp/.X11-unix/X{n}").exists(), 10):
                if proc.poll() is None:
                    self._xvfb = proc
                    self.display = f":{n}"
                    return
            proc.kill()
            proc.wait()
        raise HarnessError("could not start Xvfb on any display :90-:199")

    def _ensure_prefix(self) -> None:
        if (self.prefix / "system.reg").exists():
            return
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([self.wine, "wineboot", "-i"], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run([self.wineserver, "-w"], env=self.env(), check=False, timeout=300)
        if not (self.prefix / "system.reg").exists():
            raise HarnessError(f"wineboot did not create the prefix {self.prefix}")
        # Wine draws the window frames itself, as Windows does, rather than
        # leaving them to a window manager that a bare Xvfb doesn't have.
        subprocess.run([self.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def kill_wine(self) -> None:
        subprocess.run([self.wineserver, "-k"], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self) -> None:
        if self._closed:
            return
        self._closed = True
        self.kill_wine()
        if self._xvfb is not None:
            self._xvfb.send_signal(signal.SIGTERM)
            try:
                self._xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()


_session: Optional[Session] = None


def session() -> Session:
    global _session
    if _session is None:
        s = Session()
        atexit.register(s.close)
        s.start()
        _session = s
    return _session


def close_session() -> None:
    global _session
    if _session is not None:
        _session.close()
        _session = None


# ---------------------------------------------------------------------- driver


def _escape_arg(text: str) -> str:
    """Python text -> the driver's escaped form (tabs and control chars as escapes)."""
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ord(ch) < 0x20 or ch == "\x7f":
            out.append(f"\\x{ord(ch):02x}")
        else:
            out.append(ch)
    return "".join(out)


def _unescape_payload(text: str) -> str:
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


class UiDriver:
    """One uidriver.exe, kept open; one command line in, one answer line out."""

    def __init__(self, sess: Session) -> None:
        exe = tools_dir() / "uidriver.exe"
        if not exe.is_file():
            raise HarnessError(f"{exe} is missing: build the tools first")
        self._proc = subprocess.Popen(
            [sess.wine, str(exe)],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            env=sess.env(),
            cwd=str(tools_dir()),
        )
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.call("ping", timeout=60)

    def _read(self) -> None:
        assert self._proc.stdout is not None
        for raw in self._proc.stdout:
            self._lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self._proc.stdout.close()
        self._lines.put(None)

    def call(self, *args, timeout: float = 15.0) -> str:
        """Sends one command; returns the payload of an `ok`, raises on `err`."""
        answer = self.raw(*args, timeout=timeout)
        if answer == "ok":
            return ""
        if answer.startswith("ok "):
            return answer[3:]
        raise DriverError(f"{args[0]}: {answer}")

    def raw(self, *args, timeout: float = 15.0) -> str:
        line = "\t".join(str(a) for a in args) + "\n"
        assert self._proc.stdin is not None
        try:
            self._proc.stdin.write(line.encode("utf-8"))
            self._proc.stdin.flush()
        except (BrokenPipeError, OSError) as exc:
            raise DriverError(f"uidriver is gone: {exc}") from exc
        try:
            answer = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError(f"no answer to {args!r} within {timeout}s") from None
        if answer is None:
            raise DriverError("uidriver exited")
        return answer

    def close(self) -> None:
        if self._proc.poll() is None:
            try:
                self.raw("quit", timeout=5)
            except DriverError:
                pass
            try:
                self._proc.wait(5)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        if self._proc.stdin is not None and not self._proc.stdin.closed:
            try:
                self._proc.stdin.close()
            except OSError:
                pass

    # -- windows

    def find(self, caption: str) -> Optional[Tuple[int, bool]]:
        answer = self.raw("find", caption)
        if not answer.startswith("ok "):
            return None
        hwnd, visible = answer[3:].split()
        return int(hwnd, 16), visible == "1"

    def count(self, caption: str) -> int:
        return int(self.call("count", caption))

    def vcount(self, caption: str) -> int:
        return int(self.call("vcount", caption))

    def wait(self, caption: str, timeout: float = 5.0) -> bool:
        return self.raw("wait", caption, int(timeout * 1000), timeout=timeout + 15).startswith("ok")

    def gone(self, caption: str, timeout: float = 5.0) -> bool:
        return self.raw("gone", caption, int(timeout * 1000), timeout=timeout + 15).startswith("ok")

    def pid(self, caption: str) -> int:
        return int(self.call("pid", caption))

    def list_windows(self) -> List[str]:
        return _unescape_payload(self.call("list")).split("\x1f")

    def children(self, caption: str) -> List[str]:
        return _unescape_payload(self.call("children", caption)).split("\x1f")

    def screen(self) -> Tuple[int, int, Tuple[int, int, int, int]]:
        v = [int(x) for x in self.call("screen").split()]
        return v[0], v[1], tuple(v[2:6])

    def now_ms(self) -> int:
        return int(self.call("now"))

    # -- controls (id 0 = the window itself)

    def text(self, caption: str, cid: int = 0) -> str:
        return _unescape_payload(self.call("text", caption, cid))

    def rect(self, caption: str, cid: int = 0) -> Tuple[int, int, int, int]:
        return tuple(int(x) for x in self.call("rect", caption, cid).split())

    def wrect(self, caption: str, cid: int = 0) -> Tuple[int, int, int, int]:
        return tuple(int(x) for x in self.call("wrect", caption, cid).split())

    def parent(self, caption: str, cid: int) -> int:
        return int(self.call("parent", caption, cid), 16)

    def style(self, caption: str, cid: int = 0) -> Tuple[int, int, str]:
        style, exstyle, cls = self.call("style", caption, cid).split(" ", 2)
        return int(style, 16), int(exstyle, 16), cls

    def visible(self, caption: str, cid: int) -> bool:
        return self.call("visible", caption, cid) == "1"

    def enabled(self, caption: str, cid: int) -> bool:
        return self.call("enabled", caption, cid) == "1"

    def checked(self, caption: str, cid: int) -> int:
        return int(self.call("checked", caption, cid))

    def click(self, caption: str, cid: int) -> int:
        """Posts BM_CLICK; returns the unix time in ms just before the post."""
        return int(self.call("click", caption, cid))

    def chars(self, caption: str, cid: int, text: str) -> None:
        self.call("chars", caption, cid, _escape_arg(text))

    def selall(self, caption: str, cid: int) -> None:
        self.call("selall", caption, cid)

    def settext(self, caption: str, cid: int, text: str) -> bool:
        """WM_SETTEXT; False if the program was still busy after 2 s."""
        return self.call("settext", caption, cid, _escape_arg(text)) != "timeout"

    def setcheck(self, caption: str, cid: int, state: int) -> None:
        self.call("setcheck", caption, cid, state)

    def close_window(self, caption: str) -> None:
        self.call("close", caption)

    def setclip(self, text: str) -> None:
        self.call("setclip", _escape_arg(text))

    # -- message boxes

    def msgbox(self, timeout: float = 3.0, caption: str = ERROR_BOX) -> Optional[str]:
        answer = self.raw("msgbox", int(timeout * 1000), caption, timeout=timeout + 15)
        return _unescape_payload(answer[3:]) if answer.startswith("ok ") else None

    def msgboxok(self, caption: str = ERROR_BOX) -> None:
        self.call("msgboxok", caption)

    def msgcount(self, caption: str = ERROR_BOX) -> int:
        return int(self.call("msgcount", caption))

    # -- processes (Windows pids)

    def closepid(self, pid: int) -> int:
        return int(self.call("closepid", pid))

    def alive(self, pid: int) -> bool:
        return self.call("alive", pid) == "1"

    def kill(self, pid: int) -> None:
        self.raw("kill", pid)


# --------------------------------------------------------------------- program


@dataclass(frozen=True)
class Launch:
    ms: int  # unix time in ms, as the stub saw it
    exe: str  # lower case file name of the stub, e.g. cmd.exe
    show: int  # STARTUPINFO.wShowWindow, -1 without STARTF_USESHOWWINDOW
    flags: int  # STARTUPINFO.dwFlags
    cmdline: str  # GetCommandLineW() verbatim


def parse_launches(text: str) -> List[Launch]:
    launches = []
    for line in text.splitlines():
        if not line:
            continue
        ms, exe, show, flags, cmdline = line.split("\t", 4)
        launches.append(Launch(int(ms), exe, int(show), int(flags, 16), cmdline))
    return launches


class ProgramRun:
    """One copy of the program in its own scratch folder, with the stubs."""

    def __init__(self, sess: Session, driver: UiDriver) -> None:
        self.session = sess
        self.driver = driver
        self.folder = Path(tempfile.mkdtemp(prefix="morvane-e2e-"))
        self.proc: Optional[subprocess.Popen] = None
        self.win_pid: Optional[int] = None
        source = program_path()
        if not source.is_file():
            raise HarnessError(f"{source} is missing: build the program first")
        shutil.copy2(source, self.folder / PROGRAM_NAME)
        for stub in STUB_NAMES:
            built = tools_dir() / stub
            if not built.is_file():
                raise HarnessError(f"{built} is missing: build the tools first")
            shutil.copy2(built, self.folder / stub)

    @property
    def exe(self) -> Path:
        return self.folder / PROGRAM_NAME

    def start(self) -> float:
        """Starts the program; returns time.monotonic() at the start."""
        # Never without the stubs beside it: they are what stands between a
        # test and a real shutdown.
        for stub in STUB_NAMES:
            here = self.folder / stub
            assert here.is_file(), f"refusing to start: no stub {here}"
            assert here.read_bytes() == (tools_dir() / stub).read_bytes(), f"refusing to start: {here} is not our stub"
        assert self.exe.parent == self.folder and self.folder != build_dir()
        started = time.monotonic()
        self.proc = subprocess.Popen(
            [self.session.wine, str(self.exe)],
            cwd=str(self.folder),
            env=self.session.env(),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        return started

    def remember_pid(self) -> Optional[int]:
        for caption in (MAIN, SPLASH):
            try:
                self.win_pid = self.driver.pid(caption)
                return self.win_pid
            except DriverError:
                continue
        return self.win_pid

    def launches(self, exe: Optional[str] = None) -> List[Launch]:
        log = self.folder / LAUNCH_LOG
        if not log.exists():
            return []
        found = parse_launches(log.read_text(encoding="utf-8"))
        return [l for l in found if exe is None or l.exe == exe]

    def wait_launches(self, count: int, timeout: float, exe: Optional[str] = None) -> List[Launch]:
        """Waits until at least `count` launches are logged; returns them all."""
        wait_until(lambda: len(self.launches(exe)) >= count, timeout)
        return self.launches(exe)

    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def stop(self) -> None:
        if self.proc is not None and self.proc.poll() is None:
            self.remember_pid()
            if self.win_pid is not None:
                try:
                    self.driver.closepid(self.win_pid)
                except DriverError:
                    pass
            try:
                self.proc.wait(4)
            except subprocess.TimeoutExpired:
                if self.win_pid is not None:
                    try:
                        self.driver.kill(self.win_pid)
                    except DriverError:
                        pass
                self.proc.kill()
                try:
                    self.proc.wait(3)
                except subprocess.TimeoutExpired:
                    self.session.kill_wine()
                    self.proc.wait(10)
        if os.environ.get("E2E_KEEP") != "1":
            shutil.rmtree(self.folder, ignore_errors=True)
