"""Screen composition of the real client on a large screen: the picture centred
in black bands; Tab shows the tool bar with the eight tool icons tinted through
their masks (pinned by hash); a press on a slot moves the selection mark and
opens its panel (pinned by hash); '/' selects Chat; Esc hides the bar before it quits."""
import hashlib
import os
import unittest

import harness
from formats import bmp_bytes
from harness import EaselSession, XServer, config_bytes

W, H = 1024, 768
CANVAS_W, CANVAS_H = 912, 684
OX, OY = (W - CANVAS_W) // 2, (H - CANVAS_H) // 2
BAR_Y = H - 42
TOOLS = ["pen", "pencil", "brush", "chalk", "smudge", "stamp", "paint", "chat"]
BLACK, WHITE, STRIP = (0, 0, 0), (255, 255, 255), (128, 172, 255)
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


class ScreenTest(unittest.TestCase):
    def test_picture_bar_marks_panel_and_escape(self):
        files = {"bg.bmp": bmp_bytes(CANVAS_W, CANVAS_H, picture)}
        for name in TOOLS + [t + "mask" for t in TOOLS]:
            with open(os.path.join(harness.SOURCE_DIR, "assets", name + ".bmp"), "rb") as f:
                files[name + ".bmp"] = f.read()
        config = config_bytes(W, H, server="127.0.0.1", port=9)
        with XServer() as x, EaselSession(x, config=config, files=files) as s:
            s.wait_window(W, H)
            s.place_pointer(*PARK)
            # Below the notices: the picture at its origin, black bands beside it.
            for cy in (OVERLAY_ROWS, OY + CANVAS_H - 1):
                row = b"".join(bytes(picture(cx - OX, cy - OY) if OX <= cx < OX + CANVAS_W else BLACK)
                               for cx in range(W))
                s.wait_screen(lambda im: im.data == row, what="picture row %d" % cy, x=0, y=cy, w=W, h=1)
            self.assertEqual(s.screenshot(600, 0, 424, 42).colours(), {BLACK}, "the band above the picture")

            s.key("Tab")
            bar = self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar")
            self.assertEqual(digest(bar), PINNED_BAR)

            # A press on the Paint slot, held until the mark moves there, opens its panel.
            s.place_pointer(6 * 42 + 20, BAR_Y + 20)
            x.mouse_down()
            self.wait_bar(s, lambda im: im.pixel(42 * 6, 0) == WHITE, "the mark on the Paint slot")
            x.mouse_up()
            s.place_pointer(*PARK)
            s.wait_screen(lambda im: digest(im) == PINNED_PAINT_PANEL, what="the pinned Paint panel",
                          x=0, y=BAR_Y - 256, w=W, h=256 + 42)

            # '/' selects Chat; the Paint slot shows its icon again.
            s.key("slash")
            shot = self.wait_bar(s, lambda im: im.pixel(42 * 7, 0) == WHITE, "the mark on the Chat slot")
            self.assertEqual(shot.crop(6 * 42, 0, 42, 42), bar.crop(6 * 42, 0, 42, 42))

            # Esc hides the bar and does not quit: Tab shows it again. Then Esc twice quits.
            s.key("Escape")
            self.wait_bar(s, lambda im: im.colours() == {BLACK}, "the band without the bar")
            s.key("Tab")
            self.wait_bar(s, lambda im: im.pixel(1000, 20) == STRIP, "the tool bar again")
            s.key("Escape", "Escape")
            self.assertEqual(s.wait_exit(), 0)

    def wait_bar(self, s, predicate, what):
        return s.wait_screen(predicate, what=what, x=0, y=BAR_Y, w=W, h=42)


if __name__ == "__main__":
    harness.main()
