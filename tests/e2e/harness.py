"""Runs MorvaneShutdown.exe under Wine and drives it through the UI driver (tests/tools).

Safety first: the program starts cmd.exe from the system folder and
explorer.exe from the Windows folder, and nothing else. For as long as a
session lasts, our stubs stand there in the session's own Wine prefix
(C:\windows\system32\cmd.exe and C:\windows\explorer.exe); Windows' own
are kept aside and put back when the session closes, at exit, or at the start
of the next session when a run died before it could. The program is never
started unless our stub stands at the exact path it will launch, so every
shutdown, restart or browser launch reaches a stub, which only writes a line
to launches.log in the run's scratch folder.

Wine's desktop and tray run C:\windows\system32\explorer.exe, a file of
its own, which is left alone.

Wine, its prefix and the display come from scripts/wine-env.sh, as set up by
scripts/test.sh and scripts/repeat-e2e.sh, which run these tests; the program
and the tools from build/windows (E2E_PROGRAM names another build of the program,
the 32-bit one say). E2E_KEEP=1 keeps the scratch folders (for looking at
launches.log).

A 32-bit program takes cmd.exe from Sysnative, which is system32 itself. Where Wine
has its 32-bit half, our stub stands in syswow64 as well, so that a 32-bit build
that missed Sysnative would still reach only a stub, and be seen to: its launch
would come from syswow64.
"""

from __future__ import annotations

import atexit
import collections
import contextlib
import errno
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, List, Optional, Tuple, TypeVar

import timeline
from controls import ERROR_BOX, MAIN, SPLASH

REPO_ROOT = Path(__file__).resolve().parents[2]
PROGRAM_NAME = "MorvaneShutdown.exe"
STUB_NAMES = ("cmd.exe", "explorer.exe")
LAUNCH_LOG = "launches.log"
# Beside the stub cmd.exe, names the exit code it returns (0 without it).
EXIT_CODE_FILE = "exitcode.txt"
# Where the program starts each stub, as Wine names the folders.
SYSTEM_FOLDER = r"C:\windows\system32"
WINDOWS_FOLDER = r"C:\windows"
STUB_FOLDERS = {"cmd.exe": SYSTEM_FOLDER, "explorer.exe": WINDOWS_FOLDER}
# The 32-bit half's system folder, where only a faulty 32-bit build would look.
WOW64_FOLDER = r"C:\windows\syswow64"
# Tells the stubs where to note launches; every build of the stub holds the name.
LOG_VARIABLE = "MORVANE_LAUNCH_LOG"
STUB_MARK = LOG_VARIABLE.encode("utf-16-le")
# Wine prefers its built-in programs to the files in the system folder; with
# cmd.exe native first, our stub there is what runs (Wine's own cmd.exe file only
# marks the built-in one, which still serves once it is back).
STUB_OVERRIDE = "cmd.exe=n,b"
# Windows' own programs while our stubs stand in their place (inside the prefix,
# outside drive_c, so nothing in Wine sees them).
ORIGINALS = "morvane-originals"
# Where Wine keeps its own copies of the programs, used when the kept copy is lost.
WINE_PROGRAM_FOLDERS = ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                        "/usr/lib64/wine/x86_64-windows", "/opt/wine-stable/lib64/wine/x86_64-windows")

T = TypeVar("T")


class HarnessError(RuntimeError):
    pass


class DriverError(HarnessError):
    pass


class No32BitCode(HarnessError):
    pass


def build_dir() -> Path:
    return REPO_ROOT / "build" / "windows"


def program_path() -> Path:
    chosen = os.environ.get("E2E_PROGRAM")
    return (REPO_ROOT / chosen).resolve() if chosen else build_dir() / PROGRAM_NAME


def other_build() -> Optional[Path]:
    """The program of the other architecture (x86 beside x64, or x64 beside x86), if built."""
    other = REPO_ROOT / "build" / ("windows-x86" if is_x64_program(program_path()) else "windows") / PROGRAM_NAME
    return other if other.is_file() and other != program_path() else None


def tools_dir() -> Path:
    return build_dir() / "tools"


# The i386 dynamic loader, of libc6:i386, which wine32 brings: a 32-bit program that runs
# wherever this machine runs 32-bit code at all.
I386_LOADER = "/lib/ld-linux.so.2"
NO_32BIT_CODE = "the 32-bit runs did not run: this machine runs 64-bit code only"


def runs_32bit_code() -> bool:
    """Whether this machine runs 32-bit programs, found by starting one. False only when
    the kernel refuses it as no program it can run (ENOEXEC: some kernels leave IA-32
    emulation off); any other failure is an error, so that a machine that runs 32-bit
    code never skips a 32-bit run."""
    try:
        done = subprocess.run([I386_LOADER, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=30)
    except FileNotFoundError:
        raise HarnessError(f"{I386_LOADER} is missing (Debian's libc6:i386, which wine32 brings): "
                           "run scripts/deps.sh") from None
    except OSError as exc:
        if exc.errno == errno.ENOEXEC:
            return False
        raise
    if done.returncode != 0:
        raise HarnessError(f"{I386_LOADER} --version ended with {done.returncode}")
    return True


def local_publisher() -> Tuple[Path, int]:
    """The program built with the preset local-publisher, whose adverts come from a
    server on 127.0.0.1 (advert_server.py), and that server's port."""
    presets = json.loads((REPO_ROOT / "CMakePresets.json").read_text(encoding="utf-8"))
    preset = next(p for p in presets["configurePresets"] if p["name"] == "local-publisher")
    program = Path(preset["binaryDir"].replace("${sourceDir}", str(REPO_ROOT))) / PROGRAM_NAME
    if not program.is_file():
        raise HarnessError(f"{program} is missing: cmake --preset local-publisher && "
                           "cmake --build --preset local-publisher")
    return program, int(preset["cacheVariables"]["PUBLISHER_HOST"].rsplit(":", 1)[1])


def wine_environment(name: str) -> str:
    value = os.environ.get(name)
    if not value:
        raise HarnessError(f"{name} is not set: run the tests through scripts/test.sh or scripts/repeat-e2e.sh "
                           "(or source scripts/wine-env.sh, start_xvfb, init_prefix)")
    return value


def wait_until(predicate: Callable[[], T], timeout: float, interval: float = 0.05) -> T:
    """Calls predicate until it returns something truthy; returns that value,
    or the last (falsy) value once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# ----------------------------------------------------------- stubs in Wine


def drive_folder(prefix: Path, letter: str) -> Path:
    """The Unix folder a drive letter of the prefix stands for."""
    return (prefix / "dosdevices" / f"{letter.lower()}:").resolve()


def unix_path(prefix: Path, path: str) -> Path:
    """A drive-letter path of the prefix (e.g. C:\\windows\\explorer.exe) in Unix terms."""
    drive, rest = path.split(":", 1)
    return drive_folder(prefix, drive).joinpath(*[p for p in rest.split("\\") if p])


def windows_path(prefix: Path, path: Path) -> str:
    """A Unix path as Wine's Z: drive names it."""
    if drive_folder(prefix, "z") != Path("/"):
        raise HarnessError(f"{prefix}: drive Z: is not the Unix root")
    return "Z:" + str(path.resolve()).replace("/", "\\")


def stub_target(prefix: Path, name: str, folder: Optional[str] = None) -> Path:
    """Where the program will start `name` (cmd.exe, explorer.exe) from."""
    return unix_path(prefix, (folder or STUB_FOLDERS[name]) + "\\" + name)


def stub_places(prefix: Path) -> List[Tuple[str, str, str]]:
    """(name, folder, name of the kept original) for each place a stub stands."""
    places = [(name, STUB_FOLDERS[name], name) for name in STUB_NAMES]
    if stub_target(prefix, "cmd.exe", WOW64_FOLDER).is_file():
        places.append(("cmd.exe", WOW64_FOLDER, "syswow64-cmd.exe"))
    return places


def is_stub(path: Path) -> bool:
    try:
        return STUB_MARK in path.read_bytes()
    except OSError:
        return False


def _put(source: Path, target: Path) -> None:
    """Copies source to target in one step: a reader sees the old file or the new."""
    part = target.with_name(target.name + ".morvane-part")
    shutil.copy2(source, part)
    os.replace(part, target)


def _wine_own_copy(name: str) -> Optional[Path]:
    for folder in WINE_PROGRAM_FOLDERS:
        candidate = Path(folder) / name
        if candidate.is_file() and not is_stub(candidate):
            return candidate
    return None


def stub_exit_code(prefix: Path, code: Optional[int]) -> None:
    """Makes the stub cmd.exe exit with `code` from now on; None puts it back to 0."""
    path = stub_target(prefix, "cmd.exe").parent / EXIT_CODE_FILE
    if code is None:
        path.unlink(missing_ok=True)
    else:
        path.write_text(str(code), encoding="ascii")


def restore_originals(prefix: Path) -> None:
    """Puts Windows' own programs back where our stubs stood; safe to repeat."""
    stub_exit_code(prefix, None)  # a run that died may have left one
    kept = prefix / ORIGINALS
    for name, folder, kept_name in stub_places(prefix):
        original = kept / kept_name
        if original.is_file():
            _put(original, stub_target(prefix, name, folder))
            original.unlink()
    if kept.is_dir():
        try:
            kept.rmdir()
        except OSError:
            pass
    for name, folder, _ in stub_places(prefix):
        # A stub started by anyone but a run of ours notes its launch beside itself.
        stray = stub_target(prefix, name, folder).parent / LAUNCH_LOG
        if stray.exists():
            print(f"\nwarning: {stray} holds launches from outside the tests:\n{stray.read_text('utf-8', 'replace')}",
                  file=sys.stderr)


def place_stubs(prefix: Path) -> None:
    """Keeps Windows' cmd.exe and explorer.exe aside and puts our stubs there."""
    # A run that died before restoring left its stubs and the kept originals.
    restore_originals(prefix)
    kept = prefix / ORIGINALS
    kept.mkdir(exist_ok=True)
    for name, folder, kept_name in stub_places(prefix):
        built = tools_dir() / name
        if not built.is_file() or not is_stub(built):
            raise HarnessError(f"{built} is missing or not our stub: build the tools first")
        target = stub_target(prefix, name, folder)
        if is_stub(target):
            # Left by a run whose kept copy is gone: Wine's own copy is the original.
            own = _wine_own_copy(name)
            if own is None:
                raise HarnessError(f"{target} is a stub left by an earlier run and Windows' own {name} is lost: "
                                   f"remove the prefix {prefix} to make it again")
            _put(own, target)
        if not target.is_file():
            raise HarnessError(f"the prefix has no {target} to stand in for")
        _put(target, kept / kept_name)
        _put(built, target)


def stubs_in_place(prefix: Path) -> None:
    """Raises unless our stubs stand at the exact paths the program launches."""
    for name, folder, _ in stub_places(prefix):
        target = stub_target(prefix, name, folder)
        built = tools_dir() / name
        if not (target.is_file() and built.is_file() and target.read_bytes() == built.read_bytes()):
            raise HarnessError(f"refusing to start the program: {target} is not our stub")


def prove_stubs_run(wine: str, env: dict, prefix: Path) -> None:
    """Starts each stub by the path the program uses and reads its note: the file
    standing there is not enough if Wine would run another in its place."""
    folder = Path(tempfile.mkdtemp(prefix="morvane-e2e-stubs-"))
    try:
        log = folder / LAUNCH_LOG
        env = dict(env)
        env[LOG_VARIABLE] = windows_path(prefix, log)
        places = stub_places(prefix)
        for name, where, _ in places:
            # Harmless even if Windows' own ran: cmd.exe runs a remark, explorer.exe at
            # worst opens a window in the prefix.
            subprocess.run([wine, where + "\\" + name, "/c", "rem", "morvane-stub-check"], env=env,
                           check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        noted = parse_launches(log.read_text(encoding="utf-8")) if log.exists() else []
        for name, where, _ in places:
            if not any(l.exe == name and l.folder.lower() == where.lower() for l in noted):
                raise HarnessError(f"{where}\\{name} does not run our stub under Wine "
                                   f"(WINEDLLOVERRIDES must hold cmd.exe=n,b)")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def is_x64_program(path: Path) -> bool:
    """A 64-bit program's system folder is system32 itself; a 32-bit one's is redirected."""
    with path.open("rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        return False
    pe = int.from_bytes(head[0x3C:0x40], "little")
    return head[pe:pe + 4] == b"PE\0\0" and int.from_bytes(head[pe + 4:pe + 6], "little") == 0x8664


def program_loader(sess: "Session", path: Path) -> str:
    """The Wine loader that starts `path`: the 64-bit one, or for a 32-bit program Wine's
    32-bit loader, once our stub stands in syswow64 too."""
    if is_x64_program(path):
        return sess.wine
    if not runs_32bit_code():
        raise No32BitCode(f"refusing to start {path}: {NO_32BIT_CODE}")
    loader = Path(wine_environment("WINE32_BIN"))
    if not loader.is_file() or ("cmd.exe", WOW64_FOLDER, "syswow64-cmd.exe") not in stub_places(sess.prefix):
        raise HarnessError(f"refusing to start {path}: a 32-bit program needs Wine's 32-bit half (wine32), "
                           "with our stub in syswow64 too")
    return str(loader)


# --------------------------------------------------------------------- session


class Session:
    """The Wine prefix and a persistent wineserver, shared by every test of one run,
    with our stubs standing where the program launches Windows' programs."""

    def __init__(self) -> None:
        self.wine = wine_environment("WINE_BIN")
        self.wineserver = wine_environment("WINESERVER_BIN")
        self.prefix = Path(wine_environment("WINEPREFIX"))
        self.display = wine_environment("DISPLAY")
        self._closed = False
        self._stubs_placed = False
        self.stubs_proven = False

    def env(self) -> dict:
        return dict(os.environ, WINEDLLOVERRIDES=f"{os.environ.get('WINEDLLOVERRIDES', '')};{STUB_OVERRIDE}")

    def start(self) -> None:
        if not (self.prefix / "system.reg").exists():
            raise HarnessError(f"{self.prefix} is no Wine prefix: init_prefix (scripts/wine-env.sh) makes it")
        # Wine's desktop, with the tray the tests click, lives on the display of the first
        # program of a wineserver: one left from a program on another display (a script's
        # `wine reg`, an earlier run) would keep the tray where xdotool never clicks.
        self.kill_wine()
        subprocess.run([self.wineserver, "-w"], env=self.env(), check=False, timeout=60)
        # Keep one wineserver for the whole run instead of one per program.
        subprocess.run([self.wineserver, "-p"], env=self.env(), check=False)
        if timeline.enabled():
            self._keep_trace_short()
        self._stubs_placed = True
        place_stubs(self.prefix)
        prove_stubs_run(self.wine, self.env(), self.prefix)
        self.stubs_proven = True

    def _keep_trace_short(self) -> None:
        """Limits what Wine traces of the program to what timeline.py reads."""
        settings = self.prefix / "morvane-trace.reg"
        settings.write_text(timeline.prefix_settings(), encoding="utf-16")
        subprocess.run([self.wine, "reg", "import", windows_path(self.prefix, settings)], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def kill_wine(self) -> None:
        subprocess.run([self.wineserver, "-k"], env=self.env(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self) -> None:
        if self._closed:
            return
        self._closed = True
        try:
            self.kill_wine()
        finally:
            if self._stubs_placed:
                restore_originals(self.prefix)


_session: Optional[Session] = None


def session() -> Session:
    global _session
    if _session is None:
        # A plain SIGTERM would end Python without running atexit, leaving the stubs.
        if signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
            signal.signal(signal.SIGTERM, lambda signum, _frame: sys.exit(128 + signum))
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
        # The recent calls, for explaining a failed timing check.
        self.calls: "collections.deque[timeline.DriverCall]" = collections.deque(maxlen=4000)
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
        asked = timeline.now_ms()
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
        if args and args[0] != "clock":
            self.calls.append(timeline.DriverCall(asked, timeline.now_ms(), tuple(str(a) for a in args), answer))
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
    folder: str  # the folder the stub was started from, e.g. C:\windows\system32
    cwd: str  # the folder it was started in (its current directory)
    cmdline: str  # GetCommandLineW() verbatim


def parse_launches(text: str) -> List[Launch]:
    launches = []
    for line in text.splitlines():
        if not line:
            continue
        ms, exe, show, flags, folder, cwd, cmdline = line.split("\t", 6)
        launches.append(Launch(int(ms), exe, int(show), int(flags, 16), folder, cwd, cmdline))
    return launches


class ProgramRun:
    """One copy of the program in its own scratch folder; its launches reach the
    session's stubs and are noted in launches.log in that folder."""

    def __init__(self, sess: Session, driver: UiDriver, source: Optional[Path] = None) -> None:
        self.session = sess
        self.driver = driver
        self.folder = Path(tempfile.mkdtemp(prefix="morvane-e2e-"))
        self.proc: Optional[subprocess.Popen] = None
        self.win_pid: Optional[int] = None
        source = source or program_path()
        if not source.is_file():
            raise HarnessError(f"{source} is missing: build the program first")
        shutil.copy2(source, self.folder / PROGRAM_NAME)

    @property
    def exe(self) -> Path:
        return self.folder / PROGRAM_NAME

    @property
    def log(self) -> Path:
        return self.folder / LAUNCH_LOG

    @property
    def trace_log(self) -> Path:
        """Wine's trace of the program (see timeline.py)."""
        return self.folder / "wine.log"

    def timeline(self, since: int, until: int, origin: int) -> str:
        """What the program, the driver and the stubs did between two unix-ms times,
        as seconds from `origin`."""
        try:
            unix_ms, ticks = (int(v) for v in self.driver.call("clock").split())
        except (DriverError, ValueError):
            return "  (no clock from the driver)"
        events = timeline.program_events(self.trace_log, unix_ms - ticks)
        events += timeline.driver_events(c for c in self.driver.calls if c.asked >= since)
        events += [timeline.Event(l.ms, "stub", f"{l.exe} started: {l.cmdline}") for l in self.launches()]
        return timeline.render(events, since, until, origin)

    @contextlib.contextmanager
    def explained(self, what: str, since: Optional[int] = None):
        """A timing check: when it fails, the failure tells what happened meanwhile."""
        start = timeline.now_ms() if since is None else since
        try:
            yield
        except AssertionError as exc:
            if not timeline.enabled():
                raise
            text = self.timeline(start - 1500, timeline.now_ms() + 100, start)
            raise AssertionError(f"{exc}\n\n{what}: what happened, in seconds from the start of the check "
                                 f"(program traced by Wine; driver calls asked/answered; stub launches):\n{text}"
                                 ) from None

    def start(self, cwd: Optional[Path] = None, env: Optional[dict] = None) -> float:
        """Starts the program in `cwd` (its own folder by default), with `env` on top
        of the session's environment; returns time.monotonic() at the start."""
        # Never without our stubs where the program looks: they are what stands
        # between a test and a real shutdown.
        prefix = self.session.prefix
        if not self.session.stubs_proven:
            raise HarnessError("refusing to start the program: the stubs were not shown to run")
        stubs_in_place(prefix)
        loader = program_loader(self.session, self.exe)
        assert self.exe.parent == self.folder and self.folder != build_dir()
        overrides = self.session.env()["WINEDLLOVERRIDES"]
        env = {**self.session.env(), **(env or {})}
        if not (env["WINEDLLOVERRIDES"] + ";").startswith(overrides + ";"):
            raise HarnessError(f"refusing to start the program: WINEDLLOVERRIDES must begin with {overrides}")
        env[LOG_VARIABLE] = windows_path(prefix, self.log)
        if timeline.enabled():
            env["WINEDEBUG"] = timeline.PROGRAM_WINEDEBUG
        started = time.monotonic()
        self.driver.calls.append(timeline.DriverCall(timeline.now_ms(), timeline.now_ms(), ("start", PROGRAM_NAME),
                                                     "wine asked to start it"))
        with open(self.trace_log, "wb") if timeline.enabled() else contextlib.nullcontext(subprocess.DEVNULL) as trace:
            self.proc = subprocess.Popen(
                [loader, str(self.exe)],
                cwd=str(cwd or self.folder),
                env=env,
                stdout=subprocess.DEVNULL,
                stderr=trace,
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
        if not self.log.exists():
            return []
        found = parse_launches(self.log.read_text(encoding="utf-8"))
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


def main(argv: List[str]) -> int:
    """For scripts/run.sh: `place PREFIX` puts the stubs in place, shows that they
    run and that the program is one whose system folder they stand in; `restore
    PREFIX` puts Windows' own programs back. Wine's environment comes from the caller.
    For scripts/test.sh: `runs-32bit` exits 0 where this machine runs 32-bit code, 1
    where it runs 64-bit code only, 2 on any other failure."""
    if argv == ["runs-32bit"]:
        try:
            return 0 if runs_32bit_code() else 1
        except (HarnessError, OSError, subprocess.TimeoutExpired) as exc:
            print(f"error: {exc}", file=sys.stderr)
            return 2
    if len(argv) != 2 or argv[0] not in ("place", "restore"):
        print("usage: harness.py place|restore PREFIX | runs-32bit", file=sys.stderr)
        return 2
    prefix = Path(argv[1])
    try:
        if argv[0] == "restore":
            restore_originals(prefix)
            return 0
        place_stubs(prefix)
        prove_stubs_run(wine_environment("WINE_BIN"), dict(os.environ), prefix)
        stubs_in_place(prefix)
        if not is_x64_program(program_path()):
            raise HarnessError(f"{program_path()} is not a 64-bit program: scripts/run.sh runs the 64-bit build")
    except HarnessError as exc:
        print(f"error: {exc}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
