"""End-to-end tests of the notification-area icon and the About window.

The icon is clicked for real: xdotool moves the X pointer over it on the Xvfb
display and presses the button, so the click travels the whole way through
Wine's system tray to the program. Under Wine without a desktop the icons sit
in a small top-level window of explorer.exe (class __winex11_standalone_tray,
caption "Wine System Tray"), one child window per icon, in a single row of
square cells starting at the left of its client area.

As everywhere in these tests, our stub cmd.exe stands in the test prefix's
system32, where the program takes cmd.exe from, so its shutdown only writes a
line to launches.log.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import time
import unittest
from typing import Optional, Tuple

import timeline
from controls import (ABOUT, ABOUT_COPYRIGHT, ABOUT_NOTICE, ABOUT_OK, ABOUT_PICTURE, COMMAND1, COMMAND3, COMMAND4, MAIN,
                      MSG_SHUTDOWN_SCHEDULED, OPTION1, SHUTDOWN_CMD, SPLASH, SW_SHOWMINIMIZED, TEXT1)
from harness import ProgramRun, UiDriver, close_session, session, stub_exit_code, wait_until

NOTICE_START = "Morvane关机工具V2014，迎新年版   Core：2.0.0"

# Keys and the icon's messages, as Windows would send them.
VK_RETURN, VK_ESCAPE = 0x0D, 0x1B
WM_MOUSEMOVE = 0x0200  # the icon's callback message
NIN_KEYSELECT = 0x0401  # Enter or Space on the icon chosen with the keyboard
ICON_ID = 1

TRAY_CLASS = "__winex11_standalone_tray"
TRAY_ICON_CLASS = "__winex11_tray_icon"

# A countdown from 4 launches about 4 s after 开始计时.
COUNT_FROM = "4"
LAUNCH_EARLIEST, LAUNCH_LATEST = 3.5, 4.9


def setUpModule():
    if shutil.which("xdotool") is None:
        raise unittest.SkipTest("xdotool is needed to click the tray icon")
    session()


def tearDownModule():
    close_session()


class FreshProgramCase(unittest.TestCase):
    """A program of its own (and a driver for it) for every test."""

    def setUp(self):
        self.driver = UiDriver(session())
        self.addCleanup(self.driver.close)
        self.prog = ProgramRun(session(), self.driver)
        self.addCleanup(self.prog.stop)
        self.prog.start()
        self.assertTrue(self.driver.wait(MAIN, 20), "main window never appeared")
        self.assertTrue(self.driver.gone(SPLASH, 5), "splash window still there next to the main window")
        self.prog.remember_pid()

    # -- the tray

    def tray_caption(self) -> Optional[str]:
        """Caption of Wine's tray window (found by its class), or None."""
        for line in self.driver.list_windows():
            parts = line.split(":", 4)
            if len(parts) == 5 and parts[2] == TRAY_CLASS:
                return parts[4]
        return None

    def icon_count(self) -> int:
        """Icons in the tray; 0 also when the tray window is hidden or gone."""
        caption = self.tray_caption()
        if caption is None:
            return 0
        found = self.driver.find(caption)
        if found is None or not found[1]:
            return 0
        return sum(1 for c in self.driver.children(caption) if c.split(":", 2)[1:2] == [TRAY_ICON_CLASS])

    def first_icon_centre(self) -> Tuple[int, int]:
        """Screen position of the centre of the first icon cell."""
        caption = self.tray_caption()
        self.assertIsNotNone(caption, "no tray window")
        left, top, width, height = self.driver.wrect(caption)
        _, _, client_w, client_h = self.driver.rect(caption)
        border = (width - client_w) // 2
        client_left, client_top = left + border, top + height - border - client_h
        cell = client_h  # one row of square cells
        return client_left + cell // 2, client_top + cell // 2

    def xdotool(self, *args: str) -> None:
        env = dict(os.environ, DISPLAY=session().display)
        asked = timeline.now_ms()
        subprocess.run(["xdotool", *args], env=env, check=True, timeout=10,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Beside the driver's calls, for the timeline of a failed check.
        self.driver.calls.append(timeline.DriverCall(asked, timeline.now_ms(), ("xdotool",) + args, "done"))

    def click_icon(self, button: int = 1, times: int = 1) -> None:
        x, y = self.first_icon_centre()
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(0.1)
        self.xdotool("click", "--repeat", str(times), "--delay", "80", str(button))

    def assert_double_click_shows_main(self) -> None:
        with self.prog.explained("double-click on the icon"):
            self.click_icon(times=2)
            self.assertTrue(wait_until(self.main_visible, 3), "a double-click on the icon did not show main "
                            f"(icons in the tray: {self.icon_count()}, clicked at {self.first_icon_centre()})")

    def park_pointer(self) -> None:
        """Moves the pointer off the tray, so two tests' clicks never join up."""
        self.xdotool("mousemove", "640", "1000")

    # -- the main window

    def main_visible(self) -> bool:
        found = self.driver.find(MAIN)
        return found is not None and found[1]

    def start_countdown(self) -> int:
        """Starts a shutdown countdown from COUNT_FROM; returns the click's unix ms."""
        d = self.driver
        d.click(MAIN, OPTION1)
        self.assertTrue(wait_until(lambda: d.checked(MAIN, OPTION1) == 1, 2))
        d.settext(MAIN, TEXT1, COUNT_FROM)
        self.assertTrue(wait_until(lambda: d.text(MAIN, TEXT1) == COUNT_FROM, 2))
        return d.click(MAIN, COMMAND1)

    def assert_launched_on_time(self, clicked_ms: int) -> None:
        with self.prog.explained(f"countdown from {COUNT_FROM}", since=clicked_ms):
            launches = self.prog.wait_launches(1, LAUNCH_LATEST + 2)
            self.assertEqual(len(launches), 1, f"expected one launch, got {launches}")
            launch = launches[0]
            self.assertEqual((launch.exe, launch.cmdline, launch.show), ("cmd.exe", SHUTDOWN_CMD, SW_SHOWMINIMIZED))
            took = (launch.ms - clicked_ms) / 1000
            self.assertGreater(took, LAUNCH_EARLIEST, f"launched {took:.3f}s after 开始计时")
            self.assertLess(took, LAUNCH_LATEST, f"launched {took:.3f}s after 开始计时")

    def assert_program_ends_without_icon(self) -> None:
        self.assertIsNotNone(self.prog.proc)
        try:
            self.prog.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.fail("the process is still running with no window left")
        self.assertTrue(wait_until(lambda: self.icon_count() == 0, 3), "an icon is left in the tray")


class TrayIconTest(FreshProgramCase):

    def test_hide_to_tray_and_back(self):
        d = self.driver
        self.addCleanup(self.park_pointer)
        self.assertTrue(wait_until(lambda: self.icon_count() == 1, 3), "no icon once the main window has loaded")
        place = d.wrect(MAIN)

        with self.subTest("最小化, double-click, twice over"):
            for _ in range(2):
                d.click(MAIN, COMMAND4)
                self.assertTrue(wait_until(lambda: not self.main_visible(), 3), "最小化 did not hide the main window")
                self.assertEqual(self.icon_count(), 1)
                self.assert_double_click_shows_main()
                self.assertEqual(d.wrect(MAIN), place, "main came back somewhere else")
                time.sleep(0.6)  # beyond the double-click time before the next click
            self.assertEqual(self.icon_count(), 1)

        with self.subTest("最小化, then the keyboard's select on the icon"):
            # Wine's tray has no keyboard: the message is posted as the shell sends it
            # to an icon at version 3 (the icon's id in wparam, the event in lparam).
            d.click(MAIN, COMMAND4)
            self.assertTrue(wait_until(lambda: not self.main_visible(), 3), "最小化 did not hide the main window")
            d.call("post", MAIN, 0, WM_MOUSEMOVE, ICON_ID, NIN_KEYSELECT)
            self.assertTrue(wait_until(self.main_visible, 3), "the keyboard's select on the icon did not show main")
            self.assertEqual(d.wrect(MAIN), place, "main came back somewhere else")

        with self.subTest("a second start brings the hidden copy forward and ends without a window"):
            d.click(MAIN, COMMAND4)
            self.assertTrue(wait_until(lambda: not self.main_visible(), 3), "最小化 did not hide the main window")
            second = ProgramRun(session(), self.driver)
            self.addCleanup(second.stop)
            second.start()
            self.assertTrue(wait_until(self.main_visible, 10), "a second start left the running copy hidden")
            self.assertTrue(wait_until(lambda: second.proc.poll() is not None, 10), "the second copy is still running")
            self.assertEqual(second.proc.returncode, 0)
            self.assertEqual((d.count(MAIN), d.count(SPLASH), self.icon_count()), (1, 0, 1))
            self.assertEqual(d.pid(MAIN), self.prog.win_pid, "the main window is not the first copy's")
            self.assertEqual(d.wrect(MAIN), place, "main came back somewhere else")

        clicked = self.start_countdown()
        d.click(MAIN, COMMAND4)
        self.assertTrue(wait_until(lambda: not self.main_visible(), 3), "最小化 did not hide the main window")
        self.assertEqual(self.icon_count(), 1, "a third 最小化 changed the number of icons")
        self.assertEqual(d.count(MAIN), 1, "hiding closed the main window")

        with self.subTest("single left click and right click do nothing"):
            self.click_icon(button=1)
            time.sleep(0.8)
            self.assertFalse(self.main_visible(), "a single click on the icon showed main")
            self.click_icon(button=3)
            time.sleep(0.8)
            self.assertFalse(self.main_visible(), "a right click on the icon showed main")
            self.assertEqual(d.vcount(MAIN), 0)

        with self.subTest("the countdown goes on while hidden"):
            self.assert_launched_on_time(clicked)
            self.assertFalse(self.main_visible())

        self.assert_double_click_shows_main()
        self.assertEqual(d.wrect(MAIN), place, "main came back somewhere else")
        self.assertEqual(d.text(MAIN, TEXT1), "0")
        self.assertEqual(self.icon_count(), 1, "showing main changed the icons")

        with self.subTest("a start right after a close is not lost; after a copy killed outright, two starts "
                          "at the same moment leave one copy"):
            d.close_window(MAIN)
            again = ProgramRun(session(), d)
            self.addCleanup(again.stop)
            again.start()
            self.assertTrue(wait_until(lambda: d.vcount(MAIN) == 1 and d.pid(MAIN) == again.remember_pid(), 20),
                            "the start after the close shows nothing")
            again.proc.kill()  # ended outright, as a crash ends it: no close at all
            again.proc.wait(10)
            runs = [ProgramRun(session(), d) for _ in range(2)]
            for run in runs:
                self.addCleanup(run.stop)
                run.start()  # the second with no wait
            self.assertTrue(wait_until(lambda: [r.running() for r in runs].count(True) == 1, 10), "two copies run")
            self.assertEqual([r.proc.returncode for r in runs if not r.running()], [0])
            self.assertTrue(d.wait(MAIN, 20) and d.gone(SPLASH, 5), "no main window in place of the splash")
            self.assertTrue(wait_until(lambda: self.icon_count() == 1, 3), "no icon once the main window has loaded")
            self.assertEqual((d.count(MAIN), self.icon_count()), (1, 1))


    def test_a_refusal_while_hidden_brings_main_back_with_its_box(self):
        d = self.driver
        self.addCleanup(stub_exit_code, session().prefix, None)
        stub_exit_code(session().prefix, 1190)
        self.assertTrue(wait_until(lambda: self.icon_count() == 1, 3), "no icon once the main window has loaded")
        clicked = self.start_countdown()
        d.click(MAIN, COMMAND4)
        self.assertTrue(wait_until(lambda: not self.main_visible(), 3), "最小化 did not hide the main window")
        self.assert_launched_on_time(clicked)
        self.assertEqual(d.msgbox(3), MSG_SHUTDOWN_SCHEDULED)
        self.assertTrue(self.main_visible(), "the box came while main stayed hidden")
        self.assertEqual(d.msgcount(), 1)
        d.msgboxok()
        self.assertTrue(wait_until(lambda: d.msgcount() == 0, 3), "the box did not close")
        time.sleep(1)
        self.assertEqual(d.msgcount(), 0, "a second box")
        self.assertTrue(self.main_visible())
        self.assertEqual(self.icon_count(), 1)


class AboutWindowTest(FreshProgramCase):

    def open_about(self) -> int:
        d = self.driver
        d.click(MAIN, COMMAND3)
        self.assertTrue(d.wait(ABOUT, 3), "关于 did not open the About window")
        return d.find(ABOUT)[0]

    def test_one_about_window_its_texts_and_ok(self):
        d = self.driver
        first = self.open_about()
        d.click(MAIN, COMMAND3)
        time.sleep(0.5)
        self.assertEqual(d.count(ABOUT), 1, "a second 关于 opened a second About window")
        self.assertEqual(d.find(ABOUT), (first, True), "a second 关于 made a new About window")

        self.assertEqual(d.rect(ABOUT, 0), (0, 0, 364, 169))
        self.assertEqual(d.text(ABOUT, ABOUT_OK), "确定")
        self.assertTrue(d.text(ABOUT, ABOUT_NOTICE).startswith(NOTICE_START), repr(d.text(ABOUT, ABOUT_NOTICE)))
        self.assertIn("Copyright", d.text(ABOUT, ABOUT_COPYRIGHT))
        for cid in (ABOUT_OK, ABOUT_COPYRIGHT, ABOUT_NOTICE, ABOUT_PICTURE):
            with self.subTest(control=cid):
                self.assertTrue(d.visible(ABOUT, cid))

        d.click(ABOUT, ABOUT_OK)
        self.assertTrue(d.gone(ABOUT, 3), "确定 did not close the About window")
        self.assertTrue(self.main_visible())
        self.assertTrue(self.prog.running())

        with self.subTest("关于 after 确定 opens it again"):
            self.open_about()
            self.assertEqual(d.count(ABOUT), 1)

        for name, vk in (("Esc", VK_ESCAPE), ("Enter", VK_RETURN)):
            with self.subTest(f"{name} acts as 确定"):
                if not d.find(ABOUT):
                    self.open_about()
                d.call("key", ABOUT, ABOUT_OK, vk)
                self.assertTrue(d.gone(ABOUT, 3), f"{name} did not close the About window")
                self.assertTrue(self.main_visible())

    def test_modeless_and_outlives_main(self):
        d = self.driver
        clicked = self.start_countdown()
        self.open_about()
        with self.subTest("the countdown runs on behind the About window"):
            self.assertTrue(wait_until(lambda: d.text(MAIN, TEXT1) != COUNT_FROM, 2), "the countdown stood still")
            self.assert_launched_on_time(clicked)
            self.assertTrue(d.find(ABOUT)[1], "the About window went away")

        d.close_window(MAIN)
        self.assertTrue(d.gone(MAIN, 3), "main did not close while About was open")
        time.sleep(0.5)
        self.assertTrue(self.prog.running(), "closing main ended the process though About is open")
        self.assertEqual(d.vcount(ABOUT), 1, "closing main closed About too")
        self.assertTrue(wait_until(lambda: self.icon_count() == 0, 3), "the icon outlived the main window")

        d.click(ABOUT, ABOUT_OK)
        self.assertTrue(d.gone(ABOUT, 3), "确定 did not close the About window")
        self.assert_program_ends_without_icon()

