"""First run without client.cfg: the setup screen in a 320 x 240 window asks
every setting from the keyboard, asks an invalid answer again and writes the
settings file; the client then opens the configured mode, quits on Esc only,
and adds one start and one stop line to client.log."""

import os
import re
import unittest

import harness
from harness import EaselSession, XServer, config_bytes

W, H = 320, 240
BLACK, WHITE, DARK_RED, STRIP = (0, 0, 0), (255, 255, 255), (128, 0, 0), (128, 172, 255)
TOP = H // 2 - 8                     # the prompt is drawn at H / 2 - 6
FIELD_TOP = H // 2 + 3 - TOP         # black field from H / 2 + 3 to H / 2 + 12
ERASE = ["BackSpace"] * 20           # more than any answer here is long
EARLIER = "Jan/01/2000 00:00:00 [NOTICE] Logging Started.\n"
STAMP = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3]\d/\d{4} [0-2]\d:[0-5]\d:[0-6]\d"
RUN = "%s \\[NOTICE\\] Logging Started\\.\n%s \\[NOTICE\\] Logging Stopped\\.\n" % (STAMP, STAMP)


def look(s):
    """(title, field) images of the current prompt."""
    image = s.screenshot(0, TOP, W, FIELD_TOP + 10)
    return image.crop(0, 0, W, FIELD_TOP - 1), image.crop(0, FIELD_TOP, W, 10)


def wait_prompt(s, previous_title, field_ok=lambda field: True):
    """Waits for a prompt whose title differs from previous_title (None: any)
    and whose field is drawn and passes field_ok; returns (title, field). Each
    prompt empties the key buffer as it appears and draws its field right
    after, so keys are sent only once the new field is drawn."""
    def ready():
        title, field = look(s)
        drawn = field.pixel(1, 0) == BLACK and field.pixel(W - 2, 9) == BLACK
        return drawn and title != previous_title and field_ok(field) and (title, field)
    return harness.wait_until(ready, what="the next prompt", interval=0.01)


def answer(s, text):
    """Replaces the offered text with text; None takes the offered text."""
    if text is not None:
        s.key(*ERASE, delay_ms=5)
        s.x.type(text, delay_ms=10)
    s.key("Return")


class SetupScreenTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer().start()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def test_answers_from_the_keyboard_write_the_settings_file_and_esc_quits(self):
        with EaselSession(self.x, files={"client.log": EARLIER.encode()}) as s:
            s.wait_window(W, H)
            title, _ = wait_prompt(s, None)
            whole = s.screenshot()
            self.assertGreater(whole.count(DARK_RED), W * H * 3 // 4, "dark red background")
            self.assertTrue(whole.count(WHITE), "white prompt text")
            self.assertEqual(whole.pixel(0, H // 2 + 3), DARK_RED, "the field leaves a 1-pixel border")
            answer(s, "paint.example.org")

            # The port prompt offers 2020 in 8-pixel cells from W / 2 - 16.
            title, field = wait_prompt(s, title)
            zero = field.crop(W // 2 - 8, 0, 8, 10)
            answer(s, "abc")
            # Asked again, offering the number "abc" became: 0 alone, centred.
            wait_prompt(s, None, lambda f: f.crop(W // 2 - 4, 0, 8, 10) == zero
                        and f.count(WHITE) == zero.count(WHITE))
            answer(s, "2345")
            for text in ("ann", "800", None, "no"):
                title, _ = wait_prompt(s, title)
                answer(s, text)  # the offered height is three quarters of the width

            s.wait_window(800, 600)
            self.assertEqual(s.read_file("client.cfg"),
                             config_bytes(800, 600, 0, server="paint.example.org", port=2345, user="ann"))
            # Keys other than Esc do not quit: the Tab behind them shows the tool bar.
            s.key("a", "Return", "F1", "Left", "Tab")
            s.wait_screen(lambda im: im.pixel(795, 595) == STRIP, what="the tool bar")
            # The first Esc hides the bar, the second, queued behind it, quits.
            s.key("Escape", "Escape", delay_ms=0)
            self.assertEqual(s.wait_exit(), 0)
            self.assertRegex(s.read_file("client.log").decode(), "^" + re.escape(EARLIER) + RUN + "$")

    def test_unwritable_settings_file_ends_with_status_1(self):
        # A folder named client.cfg: it cannot be read, nor written at the end.
        session = EaselSession(self.x)
        os.mkdir(session.path("client.cfg"))
        with session as s:
            s.wait_window(W, H)
            title = None
            for text in ("h", "1", "u", "640", None, "no"):
                title, _ = wait_prompt(s, title)
                answer(s, text)
            self.assertEqual(s.wait_exit(), 1)


if __name__ == "__main__":
    harness.main()
