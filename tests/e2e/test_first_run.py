"""A first run in a real window: without client.cfg the setup screen (320 x
240) asks every setting from the keyboard, asks an invalid answer again and
writes the settings file. The client then opens the configured mode: the
picture centred in black bands; Tab shows the tool bar with the tool icons
tinted through their masks and a press on a slot opens its panel (both pinned
by hash); '/' selects Chat; Esc hides the bar, keys other than Esc do not quit,
the next Esc quits with status 0; client.log gains one start and one stop line."""
import hashlib
import os
import re
import unittest

import harness
from formats import bmp_bytes
from harness import EaselSession, XServer, config_bytes

W, H = 320, 240                      # the setup screen
BLACK, WHITE, DARK_RED, STRIP = (0, 0, 0), (255, 255, 255), (128, 0, 0), (128, 172, 255)
TOP = H // 2 - 8                     # the prompt is drawn at H / 2 - 6
FIELD_TOP = H // 2 + 3 - TOP         # black field from H / 2 + 3 to H / 2 + 12
ERASE = ["BackSpace"] * 20           # more than any answer here is long
EARLIER = "Jan/01/2000 00:00:00 [NOTICE] Logging Started.\n"
STAMP = r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/[0-3]\d/\d{4} [0-2]\d:[0-5]\d:[0-6]\d"
RUN = "%s \\[NOTICE\\] Logging Started\\.\n%s \\[NOTICE\\] Logging Stopped\\.\n" % (STAMP, STAMP)

SW, SH = 1024, 768                   # the configured mode
CANVAS_W, CANVAS_H = 912, 684
OX, OY = (SW - CANVAS_W) // 2, (SH - CANVAS_H) // 2
BAR_Y = SH - 42
TOOLS = ["pen", "pencil", "brush", "chalk", "smudge", "stamp", "paint", "chat"]
OVERLAY_ROWS = 100  # the connection notices cover the top rows for a while
PARK = (600, 300)   # the pointer sprite there, away from the bar and the panels
# sha256 of the RGB rows (top first) of the tool bar with the mark on slot 0,
# and of the rows from the top of the Paint panel (416 x 256 over slot 6) down.
PINNED_BAR = "eac3b5e3086da62599d26be1e2b2bfe70031f9b0710f56d3f50e3a6bceb47ba5"
PINNED_PAINT_PANEL = "37d2ebe9377a619e90894a5e7e4ef4f7a2ffa2bad9f463280945f7a7f478f827"


def picture(x, y):
    """The background picture: no two nearby pixels alike, never black."""
    return (x & 0xFF, y & 0xFF, 64 + 16 * (x >> 8) + 4 * (y >> 8))


def digest(image):
    return hashlib.sha256(image.data).hexdigest()


def wait_prompt(s, previous_title, field_ok=lambda field: True):
    """Waits for a prompt whose title differs from previous_title (None: any)
    and whose field is drawn and passes field_ok; returns (title, field). Each
    prompt empties the key buffer as it appears and draws its field right
    after, so keys are sent only once the new field is drawn."""
    def ready():
        image = s.screenshot(0, TOP, W, FIELD_TOP + 10)
        title, field = image.crop(0, 0, W, FIELD_TOP - 1), image.crop(0, FIELD_TOP, W, 10)
        drawn = field.pixel(1, 0) == BLACK and field.pixel(W - 2, 9) == BLACK
        return drawn and title != previous_title and field_ok(field) and (title, field)
    return harness.wait_until(ready, what="the next prompt", interval=0.01)


def answer(s, text):
    """Replaces the offered text with text; None takes the offered text."""
    if text is not None:
        s.key(*ERASE, delay_ms=5)
        s.x.type(text, delay_ms=10)
    s.key("Return")


class FirstRunTest(unittest.TestCase):
    def test_first_run_from_the_setup_screen_to_the_tool_bar_and_out(self):
        files = {"client.log": EARLIER.encode(), "bg.bmp": bmp_bytes(CANVAS_W, CANVAS_H, picture)}
        for name in TOOLS + [t + "mask" for t in TOOLS]:
            with open(os.path.join(harness.SOURCE_DIR, "assets", name + ".bmp"), "rb") as f:
                files[name + ".bmp"] = f.read()
        with XServer() as x, EaselSession(x, files=files) as s:
            s.wait_window(W, H)
            title, _ = wait_prompt(s, None)
            whole = s.screenshot()
            self.assertGreater(whole.count(DARK_RED), W * H * 3 // 4, "dark red background")
            self.assertTrue(whole.count(WHITE), "white prompt text")
            self.assertEqual(whole.pixel(0, H // 2 + 3), DARK_RED, "the field leaves a 1-pixel border")
            answer(s, "127.0.0.1")

            # The port prompt offers 2020 in 8-pixel cells from W / 2 - 16.
            title, field = wait_prompt(s, title)
            zero = field.crop(W // 2 - 8, 0, 8, 10)
            answer(s, "abc")
            # Asked again, offering the number "abc" became: 0 alone, centred.
            wait_prompt(s, None, lambda f: f.crop(W // 2 - 4, 0, 8, 10) == zero
                        and f.count(WHITE) == zero.count(WHITE))
            answer(s, "9")
            for text in ("ann", "1024", None, "no"):
                title, _ = wait_prompt(s, title)
                answer(s, text)  # the offered height is three quarters of the width

            s.wait_window(SW, SH)
            self.assertEqual(s.read_file("client.cfg"),
                             config_bytes(SW, SH, 0, server="127.0.0.1", port=9, user="ann"))
            s.pointer_to(*PARK)
            # Below the notices: the picture at its origin, black bands beside it.
            for cy in (OVERLAY_ROWS, OY + CANVAS_H - 1):
                row = b"".join(bytes(picture(cx - OX, cy - OY) if OX <= cx < OX + CANVAS_W else BLACK)
                               for cx in range(SW))
                s.wait_screen(lambda im: im.data == row, what="picture row %d" % cy, x=0, y=cy, w=SW, h=1)
            self.assertEqual(s.screenshot(600, 0, 424, 42).colours(), {BLACK}, "the band above the picture")

            s.key("Tab")
            bar = self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar")
            self.assertEqual(digest(bar), PINNED_BAR)

            # A press on the Paint slot, held until the mark moves there, opens its panel.
            s.pointer_to(6 * 42 + 20, BAR_Y + 20)
            s.x.mouse_down()
            self.wait_bar(s, lambda im: im.pixel(42 * 6, 0) == WHITE, "the mark on the Paint slot")
            s.x.mouse_up()
            s.pointer_to(*PARK)
            s.wait_screen(lambda im: digest(im) == PINNED_PAINT_PANEL, what="the pinned Paint panel",
                          x=0, y=BAR_Y - 256, w=SW, h=256 + 42)

            # '/' selects Chat; the Paint slot shows its icon again.
            s.key("slash")
            shot = self.wait_bar(s, lambda im: im.pixel(42 * 7, 0) == WHITE, "the mark on the Chat slot")
            self.assertEqual(shot.crop(6 * 42, 0, 42, 42), bar.crop(6 * 42, 0, 42, 42))

            # Esc hides the bar; other keys do not quit: the Tab behind them shows it again.
            s.key("Escape")
            self.wait_bar(s, lambda im: im.colours() == {BLACK}, "the band without the bar")
            s.key("a", "Return", "F1", "Left", "Tab")
            self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar again")
            # The first Esc hides the bar, the second, queued behind it, quits.
            s.key("Escape", "Escape", delay_ms=0)
            self.assertEqual(s.wait_exit(), 0)
            self.assertRegex(s.read_file("client.log").decode(), "^" + re.escape(EARLIER) + RUN + "$")

    def wait_bar(self, s, predicate, what):
        return s.wait_screen(predicate, what=what, x=0, y=BAR_Y, w=SW, h=42)

    def test_unwritable_settings_file_ends_with_status_1(self):
        with XServer() as x:
            s = EaselSession(x)
            # A folder named client.cfg: it cannot be read, nor written at the end.
            os.mkdir(s.path("client.cfg"))
            with s:
                s.wait_window(W, H)
                title = None
                for text in ("h", "1", "u", "640", None, "no"):
                    title, _ = wait_prompt(s, title)
                    answer(s, text)
                self.assertEqual(s.wait_exit(), 1)

if __name__ == "__main__":
    harness.main()
