"""The frame loop of the real client: a black screen in the configured window,
keys other than Esc do not quit, Esc quits with status 0, and each run adds
exactly one start and one stop line to client.log."""

import os
import re
import time
import unittest

import harness
from harness import EaselSession, XServer, config_bytes

STAMP = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3]\d/\d{4} [0-2]\d:[0-5]\d:[0-6]\d"


class QuitAndLogTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer().start()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def assert_run_lines(self, lines):
        self.assertEqual(len(lines), 2, lines)
        self.assertRegex(lines[0], "^" + STAMP + r" \[NOTICE\] Logging Started\.$")
        self.assertRegex(lines[1], "^" + STAMP + r" \[NOTICE\] Logging Stopped\.$")

    def test_escape_quits_and_the_log_brackets_the_run(self):
        earlier = b"Jan/01/2000 00:00:00 [NOTICE] Logging Started.\n"
        with EaselSession(self.x, config=config_bytes(640, 480),
                          files={"client.log": earlier}) as s:
            s.wait_window(640, 480)
            # Keys without a meaning are read and ignored while no panel is shown.
            s.key("a", "Return", "F1", "Left")
            time.sleep(0.5)
            self.assertTrue(s.running(), "quit on a key other than Esc")
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)

            log = s.read_file("client.log")
            self.assertTrue(log.startswith(earlier), "earlier lines are kept")
            self.assert_run_lines(log[len(earlier):].decode().splitlines())
            self.assertEqual(s.read_file("client.cfg"), config_bytes(640, 480), "file unchanged")
            self.assertEqual(s.messages(), [])

    def test_escape_with_the_panel_shown_hides_it_and_a_second_one_quits(self):
        with EaselSession(self.x, config=config_bytes(640, 480)) as s:
            s.wait_window(640, 480)
            s.pointer_to(320, 10)  # keeps the pointer sprite out of the tool bar
            strip = dict(x=0, y=480 - 42, w=640, h=42)
            hidden = s.wait_stable(**strip)
            s.key("Tab")
            s.wait_screen(lambda image: image != hidden, what="the tool bar", **strip)
            s.key("Escape")
            s.wait_screen(lambda image: image == hidden, what="the tool bar to go", **strip)
            time.sleep(0.3)
            self.assertTrue(s.running(), "the first Esc only hides the panel")
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)

    def test_close_button_quits_with_status_0(self):
        with EaselSession(self.x, config=config_bytes(640, 480)) as s:
            s.wait_window(640, 480)
            s.close_window()
            self.assertEqual(s.wait_exit(), 0)
            self.assert_run_lines(s.read_file("client.log").decode().splitlines())

    def test_escape_queued_behind_other_keys_quits(self):
        with EaselSession(self.x, config=config_bytes(800, 600)) as s:
            s.wait_window(800, 600)
            s.key("x", "y", "z", "Escape", delay_ms=0)
            self.assertEqual(s.wait_exit(), 0)
            self.assert_run_lines(s.read_file("client.log").decode().splitlines())

    def test_second_run_appends(self):
        cfg = config_bytes(640, 480)
        session = EaselSession(self.x, config=cfg)
        try:
            for run in range(2):
                session.start()
                session.wait_window(640, 480)
                session.key("Escape")
                self.assertEqual(session.wait_exit(), 0)
                session.stop()
            lines = session.read_file("client.log").decode().splitlines()
            self.assertEqual(len(lines), 4)
            self.assert_run_lines(lines[:2])
            self.assert_run_lines(lines[2:])
        finally:
            session.close()


if __name__ == "__main__":
    harness.main()
