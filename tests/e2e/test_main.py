"""End-to-end tests: the real MorvaneShutdown.exe under Wine, driven from outside.

Shutdown, restart and the browser are never really launched: our stub
cmd.exe / explorer.exe stand where the program looks for Windows' own, in the
tests' Wine prefix, and only log each launch (see harness.py).
"""

from __future__ import annotations

import os
import re
import shutil
import tempfile
import time
import unittest
from pathlib import Path

import timeline
from advert_server import AdvertServer, Reply
from controls import (ABOUT, COMMAND1, COMMAND2, COMMAND3, COMMAND4, ERROR_BOX, FRAME1, FRAME2, FRAME3, FRAME4,
                      LABEL1, LABEL2, LABEL3, MAIN, MSG_SHUTDOWN_SCHEDULED, OPTION1, OPTION2, RESTART_CMD,
                      SHUTDOWN_CMD, SITE_CMD, SPLASH, SPLASH_HINT, SPLASH_LOADING, SPLASH_TITLE, SW_SHOWMINIMIZED,
                      TEXT1)
from harness import (NO_32BIT_CODE, STUB_FOLDERS, SYSTEM_FOLDER, ProgramRun, UiDriver, close_session, is_x64_program,
                     local_publisher, other_build, runs_32bit_code, session, stub_exit_code, stub_target, tools_dir,
                     wait_until)

VK_RETURN = 0x0D
STARTF_USESHOWWINDOW = 0x1

MSG_TOO_BIG = "输入的数字过大"
MSG_BAD_TIME = "请输入正确的时间！"
MSG_NO_MODE = "请选择模式"
MSG_RESTART_REFUSED = "Windows 没有接受重启命令：此帐户无权重启这台计算机；在受管理的计算机上，这由管理员决定（代码 5）。"
MSG_RESTART_STILL_RUNNING = "重启命令没有运行完毕，计算机可能不会重启。这台计算机可能禁止运行命令，例如由管理员禁止。"

WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_THICKFRAME = 0x00040000
WS_MAXIMIZEBOX = 0x00010000
BS_TYPEMASK = 0xF
BS_GROUPBOX = 0x7
BS_RADIO_TYPES = (0x4, 0x9)  # BS_RADIOBUTTON, BS_AUTORADIOBUTTON
BS_PUSH_TYPES = (0x0, 0x1)  # BS_PUSHBUTTON, BS_DEFPUSHBUTTON


def twips(left, top, width, height, frame=(0, 0)):
    """Form designer twips (relative to `frame`'s origin) -> client pixels at 96 DPI."""
    return ((left + frame[0]) // 15, (top + frame[1]) // 15, width // 15, height // 15)


F1, F2, F3, F4 = (120, 120), (2280, 120), (120, 1800), (4440, 120)
MAIN_LAYOUT = {
    COMMAND4: twips(4560, 2640, 2055, 300),
    FRAME4: twips(4440, 120, 2055, 2535),
    LABEL2: twips(120, 120, 1815, 2295, F4),
    FRAME3: twips(120, 1800, 4215, 855),
    LABEL3: twips(120, 120, 3975, 615, F3),
    COMMAND3: twips(3120, 1200, 1215, 495),
    COMMAND2: twips(1680, 1200, 1335, 495),
    FRAME2: twips(2280, 120, 2055, 975),
    OPTION2: twips(360, 600, 1575, 255, F2),
    OPTION1: twips(360, 240, 1575, 255, F2),
    COMMAND1: twips(120, 1200, 1455, 495),
    FRAME1: twips(120, 120, 2055, 975),
    TEXT1: twips(240, 360, 1455, 270, F1),
    LABEL1: twips(0, 2760, 5535, 255),
}


def setUpModule():
    session()


def tearDownModule():
    close_session()


class ProgramCase(unittest.TestCase):
    """Starts the program (and a driver for it) once per class, or once per
    test when FRESH_PROGRAM_PER_TEST is set."""

    FRESH_PROGRAM_PER_TEST = False
    driver: UiDriver
    prog: ProgramRun

    @staticmethod
    def _open(holder) -> None:
        holder.driver = UiDriver(session())
        try:
            holder.prog = ProgramRun(session(), holder.driver)
            holder.started_at = holder.prog.start()
        except BaseException:
            holder.driver.close()
            raise

    @staticmethod
    def _close(holder) -> None:
        try:
            holder.prog.stop()
        finally:
            holder.driver.close()

    @classmethod
    def setUpClass(cls):
        if not cls.FRESH_PROGRAM_PER_TEST:
            cls._open(cls)
            try:
                cls.when_started(cls)
            except BaseException:
                cls._close(cls)
                raise

    @classmethod
    def tearDownClass(cls):
        if not cls.FRESH_PROGRAM_PER_TEST:
            cls._close(cls)

    def setUp(self):
        if self.FRESH_PROGRAM_PER_TEST:
            self._open(self)
            self.addCleanup(self._close, self)
            self.when_started(self)

    @staticmethod
    def when_started(holder) -> None:
        """Runs right after the start; `holder` is the class or the test."""
        if not holder.driver.wait(MAIN, 20):
            raise AssertionError("main window never appeared")
        if not holder.driver.gone(SPLASH, 5):
            raise AssertionError("splash window still there next to the main window")
        holder.prog.remember_pid()

    # -- helpers for tests

    def field(self) -> str:
        return self.driver.text(MAIN, TEXT1)

    def wait_field(self, expected: str, timeout: float = 3.0):
        got = wait_until(lambda: self.field() == expected, timeout)
        self.assertTrue(got, f"field is {self.field()!r}, expected {expected!r}")

    def type_over(self, text: str):
        """Select all in the seconds field, then type `text`."""
        self.driver.selall(MAIN, TEXT1)
        self.driver.chars(MAIN, TEXT1, text)

    def expect_box(self, prompt: str, timeout: float = 3.0):
        got = self.driver.msgbox(timeout)
        self.assertIsNotNone(got, f"no {ERROR_BOX!r} message box (expected {prompt!r})")
        self.assertEqual(got, prompt)
        self.assertEqual(self.driver.msgcount(), 1, "more than one message box")
        self.driver.msgboxok()
        self.assertTrue(wait_until(lambda: self.driver.msgcount() == 0, 3), "message box did not close")

    def assert_launch(self, launch, exe, cmdline):
        self.assertEqual(launch.exe, exe)
        self.assertEqual(launch.cmdline, cmdline)
        self.assertEqual(launch.show, SW_SHOWMINIMIZED, f"show flag of {cmdline!r}")
        self.assertTrue(launch.flags & STARTF_USESHOWWINDOW)
        # Windows' own program (our stub in its place), started in the system folder.
        self.assertEqual(launch.folder.lower(), STUB_FOLDERS[exe].lower(), f"{exe} started from elsewhere")
        self.assertEqual(launch.cwd.lower(), SYSTEM_FOLDER.lower(), f"{exe} started in another folder")

    def sample_field(self, seconds: float, until=None):
        """Reads the field every ~50 ms for `seconds` (or until `until(value)` holds
        for a value read), returning the distinct values in the order seen."""
        seen = []
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = self.field()
            if not seen or seen[-1] != value:
                seen.append(value)
            # Judged on the value just noted: a second read could see a later value
            # that the list never gets, and the count would look stuck.
            if until is not None and until(value):
                break
            time.sleep(0.05)
        return seen


class StartupTest(ProgramCase):
    """The splash window, then the main window; their texts and geometry."""

    @staticmethod
    def when_started(cls) -> None:  # cls: this class, always (one program for all)
        d = cls.driver
        # The splash lives about a second: note everything about it right away.
        cls.splash_seen = d.wait(SPLASH, 20)
        cls.splash_at = time.monotonic()
        cls.splash = {}
        if cls.splash_seen:
            cls.splash = {
                "client": d.rect(SPLASH, 0),
                "window": d.wrect(SPLASH),
                "style": d.style(SPLASH, 0),
                "texts": {cid: d.text(SPLASH, cid) for cid in (SPLASH_TITLE, SPLASH_LOADING, SPLASH_HINT)},
                "visible": {cid: d.visible(SPLASH, cid) for cid in (SPLASH_TITLE, SPLASH_LOADING, SPLASH_HINT)},
                "count": d.count(SPLASH),
                "main_count": d.count(MAIN),
            }
        cls.main_seen = d.wait(MAIN, 20)
        cls.main_at = time.monotonic()
        cls.main_after = cls.main_at - cls.splash_at
        cls.splash_gone = d.gone(SPLASH, 3)
        cls.screen_w, cls.screen_h, _ = d.screen()
        cls.prog.remember_pid()

    def assert_centred(self, caption):
        left, top, width, height = self.driver.wrect(caption) if caption == MAIN else self.splash["window"]
        # Centred on the screen (or its work area, which is the same here).
        self.assertLessEqual(abs(left + width / 2 - self.screen_w / 2), 2, f"{caption} not centred across")
        self.assertLessEqual(abs(top + height / 2 - self.screen_h / 2), 2, f"{caption} not centred down")

    def test_splash_window(self):
        self.assertTrue(self.splash_seen, "no splash window at start")
        s = self.splash
        self.assertEqual(s["count"], 1)
        self.assertEqual(s["main_count"], 0, "main window exists while the splash shows")
        style = s["style"][0]
        self.assertTrue(style & WS_POPUP, f"splash is not a popup: {style:#x}")
        self.assertNotEqual(style & WS_CAPTION, WS_CAPTION, "splash has a title bar")
        self.assertEqual(s["client"], (0, 0, 406, 231))
        self.assertEqual(s["texts"][SPLASH_TITLE], "Morvane关机工具V2014")
        self.assertEqual(s["texts"][SPLASH_LOADING], "Loading...")
        self.assertEqual(
            s["texts"][SPLASH_HINT],
            "此加载会使用网络。加载速度不会超过20秒，如果大于20秒。请重启。（本提示在第3秒出现）",
        )
        self.assertTrue(s["visible"][SPLASH_TITLE])
        self.assertTrue(s["visible"][SPLASH_LOADING])
        self.assertFalse(s["visible"][SPLASH_HINT], "the hint shows from the start")
        self.assert_centred(SPLASH)

    def test_main_replaces_splash_after_about_a_second(self):
        self.assertTrue(self.main_seen, "main window never appeared")
        print(
            f"\n  splash {self.splash_at - self.started_at:.2f}s after the start, "
            f"main window {self.main_after:.2f}s after the splash",
            end=" ",
        )
        self.assertGreater(self.main_after, 0.4)
        self.assertLess(self.main_after, 3.0)
        self.assertTrue(self.splash_gone, "splash window still exists next to the main window")
        self.assertEqual(self.driver.count(MAIN), 1)

    def test_main_window_frame(self):
        self.assertEqual(self.driver.rect(MAIN, 0), (0, 0, 444, 202))
        style = self.driver.style(MAIN, 0)[0]
        self.assertEqual(style & WS_CAPTION, WS_CAPTION, "main window has no title bar")
        self.assertFalse(style & WS_THICKFRAME, "main window is resizable")
        self.assertFalse(style & WS_MAXIMIZEBOX, "main window has a maximize box")
        self.assert_centred(MAIN)

    def test_main_layout(self):
        main_hwnd = self.driver.find(MAIN)[0]
        for cid, expected in MAIN_LAYOUT.items():
            with self.subTest(control=cid):
                self.assertEqual(self.driver.rect(MAIN, cid), expected)
                self.assertEqual(self.driver.parent(MAIN, cid), main_hwnd, "not a direct child of the main window")
                self.assertTrue(self.driver.visible(MAIN, cid))

    def test_main_controls(self):
        d = self.driver
        for cid, text in {
            TEXT1: "60",
            COMMAND1: "开始计时",
            COMMAND2: "打开官网",
            COMMAND3: "关于",
            COMMAND4: "最小化",
            OPTION1: "关机",
            OPTION2: "重启",
            FRAME1: "时间",
            FRAME2: "模式",
        }.items():
            with self.subTest(control=cid):
                self.assertEqual(d.text(MAIN, cid), text)
        self.assertEqual(d.style(MAIN, TEXT1)[2].upper(), "EDIT")
        for cid in (FRAME1, FRAME2, FRAME3, FRAME4):
            with self.subTest(frame=cid):
                style, _, cls = d.style(MAIN, cid)
                self.assertEqual(cls.upper(), "BUTTON")
                self.assertEqual(style & BS_TYPEMASK, BS_GROUPBOX)
        for cid in (COMMAND1, COMMAND2, COMMAND3, COMMAND4):
            with self.subTest(button=cid):
                style, _, cls = d.style(MAIN, cid)
                self.assertEqual(cls.upper(), "BUTTON")
                self.assertIn(style & BS_TYPEMASK, BS_PUSH_TYPES)
        for cid in (OPTION1, OPTION2):
            with self.subTest(option=cid):
                style, _, cls = d.style(MAIN, cid)
                self.assertEqual(cls.upper(), "BUTTON")
                self.assertIn(style & BS_TYPEMASK, BS_RADIO_TYPES)
        self.assertEqual(d.checked(MAIN, OPTION1), 1, "关机 is not checked at start")
        self.assertEqual(d.checked(MAIN, OPTION2), 0)
        # Windows names an edit box after the static just before it in z-order.
        self.assertEqual(d.call("prev", MAIN, TEXT1).split(":", 1)[1].upper(), "STATIC:时间")


class InputRulesTest(ProgramCase):
    """What typing and the buttons do while no countdown runs. One program for
    the class; every test starts from 关机 checked and the field at "60"."""

    def setUp(self):
        super().setUp()
        d = self.driver
        while d.msgcount() > 0:
            d.msgboxok()
        d.click(MAIN, OPTION1)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION1) == 1, 2))
        d.settext(MAIN, TEXT1, "60")
        self.wait_field("60")
        self.before = len(self.prog.launches())

    def new_launches(self, exe=None):
        return [l for l in self.prog.launches()[self.before:] if exe is None or l.exe == exe]

    def test_key_filter(self):
        d = self.driver
        # A digit typed last tells us all the keys before it were handled.
        self.type_over("a1b2")
        self.wait_field("12")
        for junk in ("-", ".", " ", "+", "e", "中", "\r", "\t", "\x01", "\x1b"):
            with self.subTest(char=repr(junk)):
                d.chars(MAIN, TEXT1, junk + "3")
                self.wait_field("123")
                d.chars(MAIN, TEXT1, "\b")
                self.wait_field("12")
        with self.subTest(char="Ctrl+V"):
            d.setclip("456x")
            d.chars(MAIN, TEXT1, "\x16" + "7")
            self.wait_field("127")
        self.assertEqual(self.new_launches(), [])

    def test_seven_digits_are_fine_eight_are_too_many(self):
        self.type_over("1234567")
        self.wait_field("1234567")
        self.assertEqual(self.driver.msgcount(), 0)
        self.driver.chars(MAIN, TEXT1, "8")
        self.expect_box(MSG_TOO_BIG)
        self.wait_field("60")
        self.assertEqual(self.new_launches(), [])

    def test_start_with_empty_field(self):
        self.type_over("\b")
        self.wait_field("")
        self.driver.click(MAIN, COMMAND1)
        self.expect_box(MSG_BAD_TIME)
        if self.new_launches():
            print(f"\n  note: emptying the field launched {self.new_launches()}", end=" ")
        # No countdown started: nothing changes the field.
        self.assertEqual(self.sample_field(1.3), [""])
        self.assertEqual(self.driver.msgcount(), 0)

    def test_start_without_mode(self):
        d = self.driver
        d.setcheck(MAIN, OPTION1, 0)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION1) == 0, 2))
        self.assertEqual(d.checked(MAIN, OPTION2), 0)
        d.click(MAIN, COMMAND1)
        self.expect_box(MSG_NO_MODE)
        self.assertEqual(self.sample_field(1.3), ["60"], "a countdown started without a mode")
        self.assertEqual(self.new_launches(), [])

    def test_official_site_opens_on_each_click(self):
        for n in (1, 2):
            with self.subTest(click=n):
                clicked = self.driver.click(MAIN, COMMAND2)
                self.assertTrue(wait_until(lambda: len(self.new_launches()) >= n, 5), "no browser launch")
                launch = self.new_launches()[-1]
                self.assert_launch(launch, "explorer.exe", SITE_CMD)
                self.assertLess(launch.ms - clicked, 1500)
        time.sleep(0.5)
        self.assertEqual(len(self.new_launches()), 2)

    def test_typed_zero_launches_at_once(self):
        d = self.driver
        steps = (
            ("select all, type 0", lambda: self.type_over("0"), "0", SHUTDOWN_CMD),
            ("type another 0", lambda: d.chars(MAIN, TEXT1, "0"), "00", SHUTDOWN_CMD),
        )
        for n, (what, act, field, cmdline) in enumerate(steps, start=1):
            with self.subTest(step=what):
                typed = d.now_ms()
                act()
                self.assertTrue(wait_until(lambda: len(self.new_launches()) >= n, 3), "no launch")
                launch = self.new_launches()[-1]
                self.assert_launch(launch, "cmd.exe", cmdline)
                self.assertLess(launch.ms - typed, 1500)
                self.assertEqual(self.field(), field)
        with self.subTest(step="重启 checked, type 0"):
            d.click(MAIN, OPTION2)
            self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION2) == 1, 2))
            self.type_over("0")
            self.assertTrue(wait_until(lambda: len(self.new_launches()) >= 3, 3), "no launch")
            self.assert_launch(self.new_launches()[-1], "cmd.exe", RESTART_CMD)
        time.sleep(1.2)
        self.assertEqual(len(self.new_launches()), 3, "a launch too many")


class CountdownTest(ProgramCase):
    """Countdowns, each on a fresh program."""

    FRESH_PROGRAM_PER_TEST = True

    def run_countdown(self, option, cmdline):
        d = self.driver
        d.click(MAIN, option)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, option) == 1, 2))
        self.type_over("3")
        self.wait_field("3")
        clicked = d.click(MAIN, COMMAND1)
        with self.prog.explained("countdown from 3", since=clicked):
            seen = self.sample_field(8, until=lambda _: self.prog.launches("cmd.exe"))
            # Let it run on: it must have stopped at 0.
            later = self.sample_field(2.5)
            seen += later[1:] if later[:1] == seen[-1:] else later
            launches = self.prog.launches()
            self.assertEqual(len(launches), 1, f"expected one launch, got {launches}")
            self.assert_launch(launches[0], "cmd.exe", cmdline)
            took = (launches[0].ms - clicked) / 1000
            print(f"\n  {cmdline!r} launched {took:.3f}s after Start", end=" ")
            self.assertGreater(took, 2.5)
            self.assertLess(took, 3.9)
            self.assertEqual(seen, ["3", "2", "1", "0"])
        if timeline.enabled():
            # Idle sleep waited from Start to the launch; Wine has no power requests, and the
            # thread's execution state stood in.
            held = re.findall(r"SetThreadExecutionState\((\w+)\)", self.prog.trace_log.read_text("utf-8", "replace"))
            self.assertEqual([int(state, 16) for state in held], [0x80000001, 0x80000000])

    def test_countdown_ends_in_shutdown(self):
        self.run_countdown(OPTION1, SHUTDOWN_CMD)

    def test_countdown_ends_in_restart(self):
        self.run_countdown(OPTION2, RESTART_CMD)

    def test_a_start_of_the_other_build_reaches_this_copy(self):
        # The 32-bit and the 64-bit build are one program: either start finds the other's copy.
        other = other_build()
        if other is None:
            self.skipTest("the other architecture's build is missing")
        if not is_x64_program(other) and not runs_32bit_code():
            self.skipTest(NO_32BIT_CODE)
        second = ProgramRun(session(), self.driver, other)
        self.addCleanup(second.stop)
        second.start()
        self.assertTrue(wait_until(lambda: second.proc.poll() is not None, 15), "the other build's copy runs on")
        self.assertEqual((self.driver.count(MAIN), self.driver.count(SPLASH)), (1, 0))
        self.assertEqual(self.driver.pid(MAIN), self.prog.win_pid, "the main window is not the first copy's")

    def test_enter_in_the_field_starts_the_countdown(self):
        self.type_over("2")
        self.wait_field("2")
        self.driver.call("key", MAIN, TEXT1, VK_RETURN)  # the field has had the focus since the start
        self.assertEqual(self.sample_field(3), ["2", "1", "0"])
        launches = self.prog.wait_launches(1, 3)
        self.assertEqual(len(launches), 1, f"expected one launch, got {launches}")
        self.assert_launch(launches[0], "cmd.exe", SHUTDOWN_CMD)

    def test_leading_zeros(self):
        d = self.driver
        d.settext(MAIN, TEXT1, "0060")
        self.wait_field("0060")
        clicked = d.click(MAIN, COMMAND1)
        with self.prog.explained("count from 0060", since=clicked):
            seen = self.sample_field(3.5, until=lambda value: value == "58")
            self.assertEqual(seen, ["0060", "59", "58"])
        self.assertEqual(self.prog.launches(), [])

    def test_too_big_while_counting_down(self):
        d = self.driver
        d.click(MAIN, COMMAND1)
        self.wait_field("59", 2.5)
        # No 0 in there: a tick between two keys must not make the value 0.
        self.type_over("98765432")
        self.assertEqual(d.msgbox(3), MSG_TOO_BIG)
        # The timer keeps ticking behind the box: still only one box.
        counts = set()
        deadline = time.monotonic() + 3.5
        while time.monotonic() < deadline:
            counts.add(d.msgcount())
            time.sleep(0.1)
        self.assertEqual(counts, {1}, "more than one message box (or it went away by itself)")
        ok_at = d.now_ms()
        d.msgboxok()
        self.assertTrue(wait_until(lambda: d.msgcount() == 0, 3))
        with self.prog.explained("count after OK", since=ok_at):
            seen = self.sample_field(3.5, until=lambda value: value == "58")
            self.assertTrue(set(seen) <= {"60", "59", "58"}, f"after OK the field went {seen}")
            self.assertEqual(seen[-2:], ["59", "58"])
        self.assertEqual(self.prog.launches(), [])
        self.assertEqual(d.msgcount(), 0)


class RefusedCommandTest(ProgramCase):
    """The command starts, and Windows refuses it: the stub cmd.exe ends with the code
    the test names. One program for the class, its window in view."""

    def setUp(self):
        super().setUp()
        self.addCleanup(stub_exit_code, session().prefix, None)
        d = self.driver
        d.click(MAIN, OPTION1)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION1) == 1, 2))
        d.settext(MAIN, TEXT1, "60")
        self.wait_field("60")
        self.before = len(self.prog.launches())

    def zero_launches(self, cmdline):
        n = len(self.prog.launches()) + 1
        self.driver.settext(MAIN, TEXT1, "5")
        self.wait_field("5")
        self.type_over("0")
        self.assertEqual(len(self.prog.wait_launches(n, 5)), n, "no launch")
        self.assert_launch(self.prog.launches()[-1], "cmd.exe", cmdline)

    def test_a_refused_command_is_told_once(self):
        d = self.driver
        stub_exit_code(session().prefix, 1190)
        self.zero_launches(SHUTDOWN_CMD)
        self.expect_box(MSG_SHUTDOWN_SCHEDULED)
        time.sleep(1)
        self.assertEqual(d.msgcount(), 0, "a second box")

        stub_exit_code(session().prefix, 5)
        d.click(MAIN, OPTION2)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION2) == 1, 2))
        self.zero_launches(RESTART_CMD)
        self.expect_box(MSG_RESTART_REFUSED)
        self.assertEqual(len(self.prog.launches()), self.before + 2)

        # A command that does not end (the command prompt disabled by policy) is told once
        # after the wait; its end, when the test lets it end, is told as any other.
        hang = stub_target(session().prefix, "cmd.exe").parent / "hang.txt"
        self.addCleanup(hang.unlink, missing_ok=True)
        hang.write_text("", encoding="ascii")
        self.zero_launches(RESTART_CMD)
        self.assertEqual(d.msgbox(40), MSG_RESTART_STILL_RUNNING)
        print(f"\n[ timing ] still-running box seen {time.time() - self.prog.launches()[-1].ms / 1000:.1f} s "
              "after the command started")
        self.assertEqual(d.msgcount(), 1, "more than one message box")
        d.msgboxok()
        self.assertTrue(wait_until(lambda: d.msgcount() == 0, 3), "message box did not close")
        time.sleep(1)
        self.assertEqual(d.msgcount(), 0, "a second box")
        hang.unlink()
        self.expect_box(MSG_RESTART_REFUSED)
        self.assertEqual(len(self.prog.launches()), self.before + 3, "the command was started again")
        # An accepted command (exit code 0) is silent: PlantedProgramsTest sees no box.


class PlantedProgramsTest(ProgramCase):
    """A web page can drop a cmd.exe, an explorer.exe or a shutdown.bat into
    the download folder the program is started from. None of them ever runs:
    the launches come from Windows' folders, in the system folder, where cmd
    finds Windows' own shutdown. Nor does a DLL dropped there named like one of
    Windows' own ever load."""

    FRESH_PROGRAM_PER_TEST = True
    PLANTED = ("cmd.exe", "explorer.exe", "shutdown.bat")
    # WinINet, which the program loads itself, and what Wine's WinINet imports; and
    # DLLs that Windows' own DLLs load by name as a program runs. The standard search
    # would find a copy in the program's folder first. (The README says which names
    # Wine itself takes from there whatever the program does.)
    PLANTED_DLLS = ("wininet", "mpr", "ws2_32", "dwmapi", "cryptbase", "iertutil", "propsys", "uxtheme")
    ADVERTS = ("本月特惠 & 朋友们", "欢迎投放广告")

    def setUp(self):
        pass  # the program starts inside the test, once the files are planted

    def plant(self, folder: Path) -> None:
        for name in ("cmd.exe", "explorer.exe"):
            # Copies of the stub: were one started, it would note where it ran from.
            shutil.copy2(tools_dir() / name, folder / name)
        (folder / "shutdown.bat").write_text('@echo ran>"%~dp0planted-ran.txt"\r\n', encoding="ascii")

    def test_programs_planted_beside_it_and_in_its_working_folder_never_run(self):
        self.driver = UiDriver(session())
        self.addCleanup(self.driver.close)
        self.prog = ProgramRun(session(), self.driver)
        self.addCleanup(self.prog.stop)
        work = Path(tempfile.mkdtemp(prefix="morvane-e2e-work-"))
        self.addCleanup(shutil.rmtree, work, True)
        for folder in (self.prog.folder, work):
            self.plant(folder)
        self.prog.start(cwd=work)
        self.when_started(self)

        d = self.driver
        d.settext(MAIN, TEXT1, "0")
        self.assertTrue(wait_until(lambda: len(self.prog.launches()) >= 1, 5), "no shutdown launch")
        d.click(MAIN, OPTION2)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION2) == 1, 2))
        d.settext(MAIN, TEXT1, "00")
        self.assertTrue(wait_until(lambda: len(self.prog.launches()) >= 2, 5), "no restart launch")
        d.click(MAIN, COMMAND2)
        self.prog.wait_launches(3, 5)
        time.sleep(1)  # time for a launch too many
        launches = self.prog.launches()
        self.assertEqual(len(launches), 3, f"expected three launches, got {launches}")
        for launch, exe, cmdline in zip(launches, ("cmd.exe", "cmd.exe", "explorer.exe"),
                                        (SHUTDOWN_CMD, RESTART_CMD, SITE_CMD)):
            with self.subTest(cmdline=cmdline):
                self.assert_launch(launch, exe, cmdline)
        self.assertEqual(d.msgcount(), 0, "an error box though every command started and was accepted")
        for folder in (self.prog.folder, work):
            for name in self.PLANTED:
                self.assertTrue((folder / name).is_file(), f"{folder / name} went away")
            self.assertFalse((folder / "planted-ran.txt").exists(), f"{folder}'s shutdown.bat ran")

    def test_dlls_planted_beside_it_and_in_its_working_folder_never_load(self):
        # A copy of planted.dll (tests/tools) leaves <name>.dll.loaded beside itself when loaded.
        # The program is the one built for the test's own advert server.
        for name in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
            os.environ.pop(name, None)  # 127.0.0.1 is reached directly
        program, port = local_publisher()
        server = AdvertServer(port)
        self.addCleanup(server.close)
        server.serve("/gg1.txt", Reply(self.ADVERTS[0].encode("gbk")))
        server.serve("/gg2.txt", Reply(self.ADVERTS[1].encode("utf-8")))
        self.driver = d = UiDriver(session())
        self.addCleanup(self.driver.close)
        self.prog = ProgramRun(session(), self.driver)
        self.addCleanup(self.prog.stop)
        shutil.copy2(program, self.prog.exe)
        work = Path(tempfile.mkdtemp(prefix="morvane-e2e-work-"))
        self.addCleanup(shutil.rmtree, work, True)
        for folder in (self.prog.folder, work):
            for name in self.PLANTED_DLLS:
                shutil.copy2(tools_dir() / "planted.dll", folder / f"{name}.dll")

        def assert_none_loaded(during):
            loaded = sorted(str(note) for folder in (self.prog.folder, work) for note in folder.glob("*.loaded"))
            self.assertEqual(loaded, [], f"planted DLLs loaded {during}")

        # As on Windows, a DLL file on disk comes before Wine's built-in one of that name.
        overrides = f"{session().env()['WINEDLLOVERRIDES']};{','.join(self.PLANTED_DLLS)}=n,b"
        self.prog.start(cwd=work, env={"WINEDLLOVERRIDES": overrides})
        shown = d.wait(MAIN, 20)
        assert_none_loaded("at start")
        self.assertTrue(shown, "main window never appeared")
        self.when_started(self)
        self.assertEqual((d.text(MAIN, LABEL2), d.text(MAIN, LABEL3)), self.ADVERTS, "the adverts did not arrive")
        d.click(MAIN, COMMAND3)
        self.assertTrue(d.wait(ABOUT, 3), "关于 did not open the About window")
        assert_none_loaded("with the About window")
        d.click(MAIN, COMMAND4)
        self.assertTrue(wait_until(lambda: d.vcount(MAIN) == 0, 3), "最小化 did not hide the main window")
        d.settext(MAIN, TEXT1, "0")
        launches = self.prog.wait_launches(1, 5)
        self.assertEqual(len(launches), 1, f"expected one launch, got {launches}")
        self.assert_launch(launches[0], "cmd.exe", SHUTDOWN_CMD)
        time.sleep(1)  # time for a load after the launch
        assert_none_loaded("in the tray or at the launch")

