"""End-to-end: the advertisement slots of the real program under Wine, filled
from a web server of the test's own on 127.0.0.1.

The program is the one built with the preset local-publisher, whose publisher is
that server. Everything else, the stubs included, comes from the usual build.
"""

from __future__ import annotations

import os
import shutil
import time
import unittest
from pathlib import Path

from advert_server import ENDLESS, SIGN_IN_PAGE, SILENT, TRICKLE, AdvertServer, Reply
from controls import LABEL2, LABEL3, MAIN, SPLASH, SPLASH_HINT
from harness import ProgramRun, UiDriver, close_session, local_publisher, session, wait_until

BUILT_IN_1 = "广告位1  诚招广告，。目前只接受文本广告，。每月15元"
BUILT_IN_2 = "广告位2文本广告。每月10元。"
SS_TYPEMASK, SS_LEFT, SS_NOPREFIX = 0x1F, 0x0, 0x80

SHORT_1 = "本月特惠：莫凡关机工具 & 朋友们"
SHORT_2 = "欢迎投放广告 — 联系 ads@morvane.example"
LONG_1 = "长广告文本，测试折行与截断。" * 120
LONG_2 = ("第二个广告位的很长的文字，" * 80) + "结束"

# Filled in as the tests run, printed at the end for the record.
TIMINGS = {}


class AdvertRun(ProgramRun):
    """A scratch copy of the program built for the test server (stubs as usual)."""

    program: Path

    def __init__(self, sess, driver) -> None:
        super().__init__(sess, driver)
        shutil.copy2(self.program, self.exe)


def setUpModule():
    # The program must reach 127.0.0.1 itself, not through a proxy Wine would take
    # from the environment.
    for name in ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        os.environ.pop(name, None)
    session()


def tearDownModule():
    close_session()
    if TIMINGS:
        print("\nadvert slots, start to main window shown:")
        for name, seconds in TIMINGS.items():
            print(f"  {name:<28} {seconds:5.2f} s")


class AdvertSlotsTest(unittest.TestCase):
    server: AdvertServer
    driver: UiDriver

    @classmethod
    def setUpClass(cls):
        AdvertRun.program, port = local_publisher()
        try:
            cls.server = AdvertServer(port)
        except OSError as exc:
            raise AssertionError(f"port {port} is taken: {exc}") from None
        try:
            cls.driver = UiDriver(session())
        except BaseException:
            cls.server.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()
        cls.server.close()

    def setUp(self):
        self.server.reset()

    # -- helpers

    def start(self, gg1: Reply, gg2: Reply, hint: bool = False, main_within: float = 25.0):
        """Starts the program with the given replies; returns (seconds to main shown,
        seconds to the splash hint shown or None). Seconds to the splash shown are
        kept in self.splash_at."""
        self.server.serve("/gg1.txt", gg1)
        self.server.serve("/gg2.txt", gg2)
        prog = AdvertRun(session(), self.driver)
        started = prog.start()
        self.started = started
        self.addCleanup(prog.stop)
        self.assertTrue(self.driver.wait(SPLASH, 10), "the splash never appeared")
        self.splash_at = time.monotonic() - started
        hint_at = None
        if hint:
            shown = wait_until(lambda: self._hint_visible(), main_within, interval=0.05)
            if shown:
                hint_at = time.monotonic() - started
        self.assertTrue(self.driver.wait(MAIN, max(0.5, main_within - (time.monotonic() - started))),
                        "the main window never appeared")
        main_at = time.monotonic() - started
        prog.remember_pid()
        self.prog = prog
        return main_at, hint_at

    def assert_asked_once_each_during_the_splash(self):
        """Both documents asked for exactly once, while the splash still held the
        screen alone (its timer opens the main window a second after it shows)."""
        asked = self.server.requests()
        self.assertEqual(sorted(path for _, path in asked), ["/gg1.txt", "/gg2.txt"])
        for at, path in asked:
            self.assertLess(at - self.started, self.splash_at + 0.9, f"{path} was asked for only when main loaded")

    def _hint_visible(self) -> bool:
        found = self.driver.find(SPLASH)
        if found is None:
            return False
        try:
            return self.driver.visible(SPLASH, SPLASH_HINT)
        except Exception:
            return False

    def slots(self):
        return self.driver.text(MAIN, LABEL2), self.driver.text(MAIN, LABEL3)

    def requested(self):
        return [path for _, path in self.server.requests()]

    # -- the tests

    def test_prompt_texts_in_gbk_and_utf8_replace_the_built_in_ones(self):
        main_at, _ = self.start(Reply(SHORT_1.encode("gbk")), Reply(SHORT_2.encode("utf-8")))
        TIMINGS["prompt server"] = main_at
        TIMINGS["  (splash shown)"] = self.splash_at
        self.assertEqual(self.slots(), (SHORT_1, SHORT_2))
        self.assert_asked_once_each_during_the_splash()
        # The splash's one second, and nothing on top for the network.
        self.assertLess(main_at - self.splash_at, 2.0)
        for cid in (LABEL2, LABEL3):
            style, _, cls = self.driver.style(MAIN, cid)
            self.assertEqual(cls.upper(), "STATIC")
            self.assertEqual(style & SS_TYPEMASK, SS_LEFT, "the slot no longer wraps its text")
            self.assertTrue(style & SS_NOPREFIX, "an '&' would underline the next letter")

    def test_long_texts_with_a_charset_and_a_bom_arrive_whole(self):
        self.start(Reply(LONG_1.encode("gbk"), content_type="text/plain; charset=GB2312"),
                   Reply(b"\xef\xbb\xbf" + LONG_2.encode("utf-8"), content_type=None))
        self.assertEqual(self.slots(), (LONG_1, LONG_2))

    def test_an_empty_body_blanks_a_slot_and_a_404_leaves_its_text(self):
        self.start(Reply(b""), Reply(b"<h1>Not Found</h1>", 404, "text/html"))
        self.assertEqual(self.slots(), ("", BUILT_IN_2))

    def test_a_sign_in_page_answered_200_leaves_the_text(self):
        self.start(SIGN_IN_PAGE, Reply("<HTML><body>请先登录</body></HTML>".encode("gbk"), content_type=None))
        self.assertEqual(self.slots(), (BUILT_IN_1, BUILT_IN_2))

    def test_a_500_leaves_the_text_and_an_endless_body_is_cut_at_64_kib(self):
        self.start(Reply(b"<h1>Internal Server Error</h1>", 500, "text/html"), Reply(kind=ENDLESS))
        slot1, slot2 = self.slots()
        self.assertEqual(slot1, BUILT_IN_1)
        self.assertEqual(slot2, "x" * 65536)

    def test_a_slow_answer_shows_the_splash_hint_at_three_seconds(self):
        main_at, hint_at = self.start(Reply(SHORT_1.encode("utf-8"), delay=4.0), Reply(SHORT_2.encode("gbk")),
                                      hint=True)
        TIMINGS["answer after 4 s"] = main_at
        TIMINGS["  (splash hint shown)"] = hint_at if hint_at is not None else float("nan")
        self.assertIsNotNone(hint_at, "the splash hint never appeared")
        self.assertGreater(hint_at, 2.5)
        self.assertLess(hint_at, 5.0)
        self.assertGreater(main_at, hint_at)
        # Waited for the answer that came 4 s after the request went out at start,
        # and for nothing more: the old serial load after the splash took 5.3 s.
        self.assertGreater(main_at, 4.0)
        self.assertLess(main_at, 5.0)
        self.assertEqual(self.slots(), (SHORT_1, SHORT_2))
        self.assert_asked_once_each_during_the_splash()

    def test_a_server_that_never_answers_still_lets_main_appear_within_20_s(self):
        main_at, _ = self.start(Reply(kind=SILENT), Reply(kind=SILENT), main_within=30.0)
        TIMINGS["server never answers"] = main_at
        # The load's 15 s count from process start.
        self.assertGreater(main_at, 14.0)
        self.assertLess(main_at, 16.0)
        self.assertEqual(self.slots(), (BUILT_IN_1, BUILT_IN_2))
        self.assert_asked_once_each_during_the_splash()
        # The abandoned requests do not keep the process alive.
        self.driver.close_window(MAIN)
        self.assertTrue(wait_until(lambda: not self.prog.running(), 10), "the program did not exit")

    def test_closing_the_splash_while_main_loads_ends_the_program_at_once(self):
        self.server.serve("/gg1.txt", Reply(kind=SILENT))
        self.server.serve("/gg2.txt", Reply(kind=SILENT))
        prog = AdvertRun(session(), self.driver)
        started = prog.start()
        self.addCleanup(prog.stop)
        self.assertTrue(self.driver.wait(SPLASH, 10), "the splash never appeared")
        prog.remember_pid()
        # Past the splash's first second: the main window is loading, waiting on the network.
        time.sleep(max(0.0, started + 2.0 - time.monotonic()))
        self.assertEqual(sorted(self.requested()), ["/gg1.txt", "/gg2.txt"])
        closed = time.monotonic()
        self.driver.close_window(SPLASH)
        self.assertTrue(wait_until(lambda: not prog.running(), 5, interval=0.05),
                        "the program waited on the network after its splash was closed")
        TIMINGS["splash closed -> exit"] = time.monotonic() - closed

    def test_a_server_that_trickles_a_byte_a_second_cannot_hold_the_load(self):
        main_at, _ = self.start(Reply(kind=TRICKLE), Reply(kind=TRICKLE), main_within=30.0)
        TIMINGS["server trickles a byte a second"] = main_at
        self.assertLess(main_at, 20.0)
        # An unfinished body is no advertisement.
        self.assertEqual(self.slots(), (BUILT_IN_1, BUILT_IN_2))

