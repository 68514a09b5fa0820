"""What the program, Wine and the driver did around a timing check that failed.

The program under test writes no log, so Wine traces it instead: the program
(and only the program) runs with Wine's `message` channel, which notes every
message a window procedure receives, and `relay`, which notes calls into
Windows, both stamped with Wine's tick count. The prefix's Debug key keeps both
to what tells a stalled countdown apart: WM_TIMER and the messages the driver
causes, the thread's waits in GetMessage, and every call that can hold the
thread (message boxes, the tray's Shell_NotifyIcon, process starts).

`Timeline` then merges, on one clock, the program's trace, the driver's calls
(when asked, when answered) and the stubs' launches, for a stretch of time.

E2E_TRACE=0 runs the program untraced.
"""

from __future__ import annotations

import os
import re
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Iterable, List, Optional, Tuple

# Only the program is traced; every other Wine process keeps the session's -all.
PROGRAM_WINEDEBUG = "fixme-all,+timestamp,+tid,+message,+relay"

# The calls worth a line: where the user-interface thread waits for its messages,
# and everything that can hold it (boxes, the tray, process starts, sent messages).
RELAY_INCLUDE = ";".join((
    "user32.GetMessageW", "user32.PeekMessageW", "user32.MsgWaitForMultipleObjectsEx",
    "user32.SetCoalescableTimer", "user32.KillTimer", "user32.SetWindowTextW",
    "user32.MessageBoxW", "user32.ShowWindow", "user32.SetForegroundWindow",
    "shell32.Shell_NotifyIconW", "kernel32.CreateProcessW", "kernel32.LoadLibraryExW",
    "kernel32.PowerCreateRequest", "kernel32.SetThreadExecutionState",
))
# The messages worth a line: the timers, and what the driver and the stubs cause.
SPY_INCLUDE = ";".join((
    "WM_TIMER", "WM_GETTEXT", "WM_SETTEXT", "WM_COMMAND", "BM_CLICK", "BM_SETCHECK", "WM_CHAR",
    "WM_KEYDOWN", "WM_CLOSE", "EM_SETSEL", "WM_MOUSEMOVE", "WM_SETTINGCHANGE",
))


def enabled() -> bool:
    return os.environ.get("E2E_TRACE", "1") != "0"


def prefix_settings() -> str:
    """A .reg file's text that keeps the program's trace to the lines above."""
    return ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"
            f'"RelayInclude"="{RELAY_INCLUDE}"\r\n"SpyInclude"="{SPY_INCLUDE}"\r\n')


@dataclass
class Event:
    ms: int  # unix time in ms
    who: str  # "program", "driver", "stub"
    what: str


_LINE = re.compile(r"^\s*(\d+)\.(\d{3}):([0-9a-f]+):(.*)$")
_SPY = re.compile(r"trace:message:spy_enter_message\s+\((0x[0-9a-f]+)\)\s+(L\".*?\"|\S*)\s+\[[0-9a-f]+\]\s+(\w+)\s+"
                  r"(dispatched|sent from \S+(?: thread)?)\s+wp=([0-9a-f]+) lp=([0-9a-f]+)")
_CALL = re.compile(r"^Call (\w+)\.(\w+)\((.*)\) ret=")
_RET = re.compile(r"^Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+)")
_TEXT = re.compile(r'L"((?:[^"\\]|\\.)*)"')

# Where the user-interface thread waits for messages: the program's loop, the wait
# while the adverts load, and a message box's own loop.
WAITS = ("GetMessageW", "MsgWaitForMultipleObjectsEx", "MessageBoxW")
# Calls that are normally instant: one that takes longer than this is noted.
SLOW_CALL_MS = 100
# The thread is "busy" when it is outside its message wait for longer than this.
BUSY_MS = 200


def _wine_text(literal: str) -> str:
    """Wine's debugstr_w form (\\5173 for U+5173) back to text."""
    return re.sub(r"\\([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), literal)


def program_events(log: Path, tick_to_unix: int) -> List[Event]:
    """The trace's telling lines, on the unix clock. The user-interface thread is the
    one that waits in GetMessageW; its long waits and its busy stretches are noted."""
    if not log.exists():
        return []
    events: List[Event] = []
    ui_thread: Optional[str] = None
    open_calls = {}  # (thread, function) -> start ms
    left_wait_at: Optional[int] = None
    for raw in log.read_text("utf-8", "replace").splitlines():
        m = _LINE.match(raw)
        if not m:
            continue
        ms = int(m.group(1)) * 1000 + int(m.group(2)) + tick_to_unix
        thread, rest = m.group(3), m.group(4)
        call, ret = _CALL.match(rest), _RET.match(rest)
        if call and call.group(2) == "GetMessageW" and ui_thread is None:
            ui_thread = thread
        if call:
            fn = call.group(2)
            open_calls[(thread, fn)] = ms
            if fn in WAITS and thread == ui_thread and left_wait_at is not None:
                if ms - left_wait_at > BUSY_MS:
                    events.append(Event(left_wait_at, "program", f"UI thread busy for {ms - left_wait_at} ms "
                                                                 "(outside its message waits)"))
                left_wait_at = None
            if fn in ("SetWindowTextW",):
                texts = _TEXT.findall(call.group(3))
                events.append(Event(ms, "program", f"writes {_wine_text(texts[0]) if texts else '?'!r}"))
            elif fn in ("MessageBoxW", "CreateProcessW", "Shell_NotifyIconW", "LoadLibraryExW"):
                texts = [_wine_text(t) for t in _TEXT.findall(call.group(3))]
                args = call.group(3).split(",")
                detail = texts[0] if texts else (f"op {int(args[0], 16)}" if fn == "Shell_NotifyIconW" else "")
                events.append(Event(ms, "program", f"{fn}({detail}) called"))
        elif ret:
            fn = ret.group(2)
            started = open_calls.pop((thread, fn), None)
            took = ms - started if started is not None else -1
            if fn in WAITS and thread == ui_thread:
                left_wait_at = ms
                if fn == "GetMessageW" and took > 1100:
                    events.append(Event(started, "program", f"UI thread waited {took} ms in GetMessageW"))
            elif fn in ("MessageBoxW", "CreateProcessW", "Shell_NotifyIconW", "LoadLibraryExW") or took > SLOW_CALL_MS:
                events.append(Event(ms, "program", f"{fn} returned {ret.group(3)} after {took} ms"))
        elif "spy_enter_message" in rest:
            s = _SPY.search(rest)
            if s and (s.group(3) != "WM_TIMER" or thread == ui_thread or ui_thread is None):
                how = "from the driver" if s.group(4).startswith("sent from") and "self" not in s.group(4) else ""
                icon = s.group(3) == "WM_MOUSEMOVE" and int(s.group(5), 16) == 1 and int(s.group(6), 16) < 0x10000
                if s.group(3) == "WM_GETTEXT" or s.group(3) == "WM_MOUSEMOVE" and not icon or \
                        not s.group(3).startswith(("WM_", "BM_", "EM_")):
                    # The driver's reads come every 50 ms and are in the driver's column; of the
                    # mouse moves only the tray icon's tell something; messages Wine has no name
                    # for (the input method's) tell nothing here.
                    continue
                if icon:
                    how = f"from the tray icon: mouse message {int(s.group(6), 16):#x}"
                events.append(Event(ms, "program", f"{s.group(3)} {s.group(4)} to {s.group(1)} {_wine_text(s.group(2))} "
                                                   f"wp={s.group(5)} lp={s.group(6)} {how}".rstrip()))
        elif rest.startswith(("err:", "fixme:", "warn:")):
            events.append(Event(ms, "program", f"wine {rest}"))
    return events


@dataclass
class DriverCall:
    asked: int  # unix ms
    answered: int
    command: Tuple[str, ...]
    answer: str


def driver_events(calls: Iterable[DriverCall]) -> List[Event]:
    """The driver's calls, runs of the same call with the same answer as one line."""
    events: List[Event] = []
    run: List[DriverCall] = []

    def flush() -> None:
        if not run:
            return
        first, last = run[0], run[-1]
        slowest = max(c.answered - c.asked for c in run)
        what = " ".join(first.command)
        if len(run) == 1:
            events.append(Event(first.asked, "driver", f"{what} -> {first.answer} (answered in {slowest} ms)"))
        else:
            events.append(Event(first.asked, "driver", f"{what} -> {first.answer}, {len(run)} times until "
                                                       f"+{last.answered - first.asked} ms (slowest {slowest} ms)"))
        run.clear()

    for call in calls:
        if run and (call.command != run[-1].command or call.answer != run[-1].answer):
            flush()
        run.append(call)
    flush()
    return events


def render(events: List[Event], since: int, until: int, origin: int) -> str:
    """The events between `since` and `until` (unix ms), as seconds from `origin`."""
    lines = []
    for e in sorted((e for e in events if since <= e.ms <= until), key=lambda e: e.ms):
        lines.append(f"  {(e.ms - origin) / 1000:+8.3f} s  {e.who:<7} {e.what}")
    return "\n".join(lines) if lines else "  (nothing recorded)"


def now_ms() -> int:
    return int(time.time() * 1000)


def summary(logs: Iterable[Path]) -> str:
    """Over kept traces (E2E_KEEP=1): the user-interface thread's longest stretch outside
    its message wait, and how far apart the countdown's ticks came."""
    busiest = (0, "")
    gaps: List[int] = []
    for log in logs:
        events = program_events(log, 0)
        for e in events:
            m = re.match(r"UI thread busy for (\d+) ms", e.what)
            if m and int(m.group(1)) > busiest[0]:
                busiest = (int(m.group(1)), str(log))
        ticks = [e.ms for e in events if e.what.startswith("WM_TIMER dispatched") and 'L"Morvane' in e.what
                 and "wp=00000001" in e.what]
        gaps += [b - a for a, b in zip(ticks, ticks[1:]) if b - a < 1900]  # not across a stop and a start
    if not gaps:
        return "no countdown ticks found"
    gaps.sort()
    return (f"ticks: {len(gaps)} intervals, median {gaps[len(gaps) // 2]} ms, min {gaps[0]} ms, max {gaps[-1]} ms; "
            f"longest busy stretch of the UI thread: {busiest[0]} ms ({busiest[1]})")


if __name__ == "__main__":
    import sys
    print(summary(Path(p) for p in sys.argv[1:]))
