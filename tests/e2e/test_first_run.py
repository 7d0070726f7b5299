"""A first run in a real window: without client.cfg the setup screen (320 x
240) asks every setting from the keyboard and writes the settings file. The
client then opens the configured mode: the picture centred in black bands;
Tab shows the tool bar with the tool icons tinted through their masks and a
press on a slot opens its panel (both pinned by hash); Esc hides the bar, keys
other than Esc do not quit, the next Esc quits with status 0; client.log gains
one start and one stop line. A settings file that cannot be written ends the
client with status 1."""
import hashlib
import pathlib
import re
import unittest

from harness import SOURCE_DIR, Easel, bmp_bytes, config_bytes

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


def picture(x, y):
    """The background picture: no two nearby pixels alike, never black."""
    return (x & 0xFF, y & 0xFF, 64 + 16 * (x >> 8) + 4 * (y >> 8))


def digest(image):
    return hashlib.sha256(image.data).hexdigest()


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
        assets = pathlib.Path(SOURCE_DIR, "assets")
        files = {p.name: p.read_bytes() for p in assets.iterdir()}
        files.update({"client.log": EARLIER.encode(), "bg.bmp": bmp_bytes(912, 684, picture)})
        s = Easel(self, files)
        s.wait_window(W, H)
        # White text on dark red, the black field 1 pixel inside the edges.
        whole = s.wait_screen(field_drawn, "the setup screen")
        self.assertEqual(whole.colours(), {DARK_RED, WHITE, BLACK})
        self.assertEqual(whole.pixel(0, H // 2 + 3), DARK_RED)
        answer(s, ("127.0.0.1", "9", "ann", "1024", None, "no"))  # height offered: 3/4 of the width

        s.wait_window(SW, SH)
        self.assertEqual(s.read("client.cfg"), config_bytes(SW, SH, server="127.0.0.1", port=9, user="ann"))
        s.pointer_to(*PARK)
        self.assertEqual(s.screenshot(600, 0, 424, 42).colours(), {BLACK}, "the band above the picture")
        s.xdo("key", "Tab")
        bar = self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar")
        self.assertEqual(digest(bar), PINNED_BAR)

        # A press on the Paint slot, held until the mark moves there, opens its panel.
        s.pointer_to(6 * 42 + 20, BAR_Y + 20)
        s.xdo("mousedown", "1")
        self.wait_bar(s, lambda im: im.pixel(42 * 6, 0) == WHITE, "the mark on the Paint slot")
        s.xdo("mouseup", "1")
        s.wait_screen(lambda im: digest(im) == PINNED_PAINT_PANEL, "the pinned Paint panel", PARK, y=BAR_Y - 256)

        # Esc hides the bar; other keys do not quit: the Tab behind them shows it again.
        s.xdo("key", "Escape")
        self.wait_bar(s, lambda im: im.colours() == {BLACK}, "the band without the bar")
        s.xdo("key", "a", "Return", "F1", "Left", "Tab")
        self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar again")
        # The first Esc hides the bar, the second, queued behind it, quits.
        s.xdo("key", "--delay", "0", "Escape", "Escape")
        self.assertEqual(s.wait_exit(), 0)
        self.assertRegex(s.read("client.log").decode(), "^" + re.escape(EARLIER) + RUN + "$")

    def wait_bar(self, s, predicate, what):
        return s.wait_screen(predicate, what, y=BAR_Y)

    def test_unwritable_settings_file_ends_with_status_1(self):
        # A folder named client.cfg: it cannot be read, nor written at the end.
        s = Easel(self, {"client.cfg/x": b""})
        s.wait_window(W, H)
        answer(s, ("h", "1", "u", "640", None, "no"))
        self.assertEqual(s.wait_exit(), 1)


if __name__ == "__main__":
    unittest.main()
