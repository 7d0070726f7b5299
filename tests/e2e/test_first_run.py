"""A first run in a real window: the setup screen asks every setting and
writes client.cfg; in the configured mode the tool bar and a panel are pinned
by hash; Esc hides the bar, other keys do not quit, the next Esc quits with
status 0 and client.log gains one start and one stop line. A settings file
that cannot be written ends the client with status 1."""
import hashlib
import pathlib
import re
import unittest

from harness import SOURCE_DIR, TIMEOUT, Easel, bmp_bytes, config_bytes

W, H = 320, 240                      # the setup screen
BLACK, WHITE, DARK_RED, STRIP = (0, 0, 0), (255, 255, 255), (128, 0, 0), (128, 172, 255)
ABOVE_FIELD = (H // 2 + 3) * W * 3   # the black field is drawn from H / 2 + 3 to H / 2 + 12
EARLIER = "Jan/01/2000 00:00:00 [NOTICE] Logging Started.\n"
STAMP = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3]\d/\d{4} [0-2]\d:[0-5]\d:[0-6]\d"
RUN = "%s \\[NOTICE\\] Logging Started\\.\n%s \\[NOTICE\\] Logging Stopped\\.\n" % (STAMP, STAMP)

SW, SH = 1024, 768                   # the configured mode
BAR_Y = SH - 42
PARK = (600, 300)   # the pointer sprite there, away from the bar and the panels
# sha256 of the RGB rows (top first) of the tool bar with the mark on slot 0,
# and of the rows from the top of the Paint panel (416 x 256 over slot 6) down,
# the picture from bg.bmp and the black bands beside it included.
PINNED_BAR = "eac3b5e3086da62599d26be1e2b2bfe70031f9b0710f56d3f50e3a6bceb47ba5"
PINNED_PAINT_PANEL = "37d2ebe9377a619e90894a5e7e4ef4f7a2ffa2bad9f463280945f7a7f478f827"


def field_drawn(image):
    return image.pixel(1, H // 2 + 3) == BLACK and image.pixel(W - 2, H // 2 + 12) == BLACK


def answer(s, texts):
    """Answers the prompts in turn: a text replaces the offered one, None takes
    it. Each prompt empties the key buffer as it appears and draws its field
    right after, so keys go only to a new title whose field is drawn."""
    title = None
    for text in texts:
        title = s.wait_screen(lambda im: field_drawn(im) and im.data[:ABOVE_FIELD] != title,
                              "the next prompt").data[:ABOVE_FIELD]
        if text is not None:
            s.xdo("key", *["BackSpace"] * 20)  # more than any answer here is long
            s.xdo("type", text)
        s.xdo("key", "Return")


class FirstRunTest(unittest.TestCase):
    def test_first_run_from_the_setup_screen_to_the_tool_bar_and_out(self):
        files = {p.name: p.read_bytes() for p in pathlib.Path(SOURCE_DIR, "assets").iterdir()}
        # The background picture: no two nearby pixels alike, never black.
        files["bg.bmp"] = bmp_bytes(912, 684, lambda x, y: (x & 0xFF, y & 0xFF, 64 + 16 * (x >> 8) + 4 * (y >> 8)))
        files["client.log"] = EARLIER.encode()
        s = Easel(self, files)
        s.wait_window(W, H)
        s.pointer_to(W - 2, H - 2)  # the keyboard follows the pointer
        # White text on dark red, the black field 1 pixel inside the edges.
        whole = s.wait_screen(field_drawn, "the setup screen")
        self.assertEqual(whole.colours(), {DARK_RED, WHITE, BLACK})
        self.assertEqual(whole.pixel(0, H // 2 + 3), DARK_RED)
        answer(s, ("127.0.0.1", "9", "ann", "1024", None, "no"))  # height offered: 3/4 of the width

        s.wait_window(SW, SH)
        self.assertEqual(pathlib.Path(s.dir, "client.cfg").read_bytes(), config_bytes(SW, SH, "127.0.0.1", 9, "ann"))
        s.pointer_to(*PARK)
        self.assertEqual(s.screenshot(600, 0, 424, 42).colours(), {BLACK}, "the band above the picture")
        s.xdo("key", "Tab")
        bar = s.wait_screen(lambda im: im.pixel(1000, 20) == STRIP, "the tool bar", y=BAR_Y)
        self.assertEqual(hashlib.sha256(bar.data).hexdigest(), PINNED_BAR)

        # A quick click on the Paint slot opens its panel.
        s.click(6 * 42 + 20, BAR_Y + 20)
        s.pointer_to(*PARK)
        s.wait_screen(lambda im: hashlib.sha256(im.data).hexdigest() == PINNED_PAINT_PANEL, "the pinned Paint panel",
                      y=BAR_Y - 256)

        # Esc hides the bar; other keys do not quit: the Tab behind them shows it again.
        s.xdo("key", "Escape")
        s.wait_screen(lambda im: im.colours() == {BLACK}, "the band without the bar", y=BAR_Y)
        s.xdo("key", "a", "Return", "F1", "Left", "Tab")
        s.wait_screen(lambda im: im.pixel(1000, 20) == STRIP, "the tool bar again", y=BAR_Y)
        # The first Esc hides the bar, the second, queued behind it, quits.
        s.xdo("key", "--delay", "0", "Escape", "Escape")
        self.assertEqual(s.proc.wait(TIMEOUT), 0)
        self.assertRegex(pathlib.Path(s.dir, "client.log").read_text(), "^" + re.escape(EARLIER) + RUN + "$")

    def test_unwritable_settings_file_ends_with_status_1(self):
        # A folder named client.cfg: it cannot be read, nor written at the end.
        s = Easel(self, {"client.cfg/x": b""})
        s.wait_window(W, H)
        s.pointer_to(W - 2, H - 2)
        answer(s, ("h", "1", "u", "640", None, "no"))
        self.assertEqual(s.proc.wait(TIMEOUT), 1)


if __name__ == "__main__":
    unittest.main()
