"""End-to-end at other display scales: the program declares itself per-monitor DPI
aware, so at 125 % and 150 % it must lay itself out in real pixels from its twips
(nothing stretched by the system), with every window and control scaled alike."""

from __future__ import annotations

import subprocess
import unittest

from controls import COMMAND4, LABEL2, MAIN, SPLASH, SPLASH_TITLE, TEXT1
from harness import ProgramRun, UiDriver, close_session, session, wait_until


def pixels(twips: int, dpi: int) -> int:
    """Twips to pixels at `dpi`, rounded to the nearest pixel."""
    return (twips * dpi + 720) // 1440


def set_system_dpi(dpi: int) -> None:
    sess = session()
    subprocess.run([sess.wine, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                    "/t", "REG_DWORD", "/d", str(dpi), "/f"], env=sess.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def setUpModule():
    session()


def tearDownModule():
    set_system_dpi(96)
    close_session()


class ScaledLayoutTest(unittest.TestCase):
    def check_scale(self, dpi: int) -> None:
        set_system_dpi(dpi)
        driver = UiDriver(session())
        prog = ProgramRun(session(), driver)
        try:
            prog.start()
            self.assertTrue(driver.wait(SPLASH, 10.0), "the splash did not appear")
            self.assertEqual(driver.rect(SPLASH, 0), (0, 0, pixels(6090, dpi), pixels(3465, dpi)))
            # The title keeps its place and height; its box widens to hold it on one line.
            left, top, width, height = driver.rect(SPLASH, SPLASH_TITLE)
            self.assertEqual((left, top, height), (0, pixels(3000, dpi), pixels(375, dpi)))
            self.assertGreaterEqual(width, pixels(2295, dpi))
            self.assertTrue(driver.wait(MAIN, 10.0), "the main window did not appear")
            self.assertEqual(driver.rect(MAIN, 0), (0, 0, pixels(6660, dpi), pixels(3030, dpi)))
            # Inside a frame: the frame's origin plus the control's own offset.
            self.assertEqual(driver.rect(MAIN, TEXT1),
                             (pixels(360, dpi), pixels(480, dpi), pixels(1455, dpi), pixels(270, dpi)))
            self.assertEqual(driver.rect(MAIN, LABEL2),
                             (pixels(4560, dpi), pixels(240, dpi), pixels(1815, dpi), pixels(2295, dpi)))
            self.assertEqual(driver.rect(MAIN, COMMAND4),
                             (pixels(4560, dpi), pixels(2640, dpi), pixels(2055, dpi), pixels(300, dpi)))
            wait_until(lambda: not driver.find(SPLASH), 5.0)
        finally:
            prog.stop()
            driver.close()
            set_system_dpi(96)

    def test_at_125_percent(self):
        self.check_scale(120)

    def test_at_150_percent(self):
        self.check_scale(144)

