"""Screen composition of the real client on a large screen: the picture centred
in black bands; Tab shows the tool bar with the eight tool icons tinted through
their masks (pinned by hash); a press on a slot moves the selection mark and
opens its panel; '/' selects Chat; Esc hides the bar before it quits."""
import hashlib
import os
import time
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
    def place_pointer(self, s, x, y):
        """Moves the pointer and waits until it stays: shortly after start-up
        the graphics library warps the pointer once."""
        want = "x:%d y:%d " % (s.window[4] + x, s.window[5] + y)

        def placed():
            s.pointer_to(x, y)
            for _ in range(5):
                time.sleep(0.1)
                if not s.x.run("xdotool", "getmouselocation").startswith(want):
                    return False
            return True
        harness.wait_until(placed, what="the pointer at (%d, %d)" % (x, y))

    def wait_mark(self, s, slot):
        return s.wait_screen(lambda im: im.pixel(42 * slot, 0) == WHITE, what="the mark on slot %d" % slot,
                             x=0, y=BAR_Y, w=W, h=42)

    def test_picture_bar_marks_panel_and_escape(self):
        files = {"bg.bmp": bmp_bytes(CANVAS_W, CANVAS_H, picture)}
        for name in TOOLS + [t + "mask" for t in TOOLS]:
            with open(os.path.join(harness.SOURCE_DIR, "assets", name + ".bmp"), "rb") as f:
                files[name + ".bmp"] = f.read()
        config = config_bytes(W, H, server="127.0.0.1", port=9)
        with XServer() as x, EaselSession(x, config=config, files=files) as s:
            s.wait_window(W, H)
            self.place_pointer(s, *PARK)
            # Below the notices: the picture at its origin, black bands around it.
            want = b"".join(bytes(picture(cx - OX, cy - OY) if OX <= cx < OX + CANVAS_W and cy < OY + CANVAS_H
                                  else BLACK) for cy in range(OVERLAY_ROWS, H) for cx in range(W))
            view = dict(x=0, y=OVERLAY_ROWS, w=W, h=H - OVERLAY_ROWS)
            sprite = [(PARK[1] - OVERLAY_ROWS + dy) * W + PARK[0] + dx for dy in range(-6, 7) for dx in range(-6, 7)]

            def without_sprite(data):
                data = bytearray(data)
                for i in sprite:
                    data[3 * i:3 * i + 3] = b"\0\0\0"
                return bytes(data)
            s.wait_screen(lambda im: without_sprite(im.data) == without_sprite(want), what="the picture", **view)
            self.assertEqual(s.screenshot(600, 0, 424, 42).colours(), {BLACK}, "the band above the picture")

            s.key("Tab")
            bar = s.wait_screen(lambda im: im.pixel(1000, 20) == STRIP, what="the tool bar", x=0, y=BAR_Y, w=W, h=42)
            self.assertEqual(digest(bar), PINNED_BAR)

            # A press on the Paint slot moves the mark there and opens its panel.
            self.place_pointer(s, 6 * 42 + 20, BAR_Y + 20)
            x.mouse_down()
            time.sleep(0.2)
            x.mouse_up()
            self.place_pointer(s, *PARK)
            self.wait_mark(s, 6)
            panel = s.screenshot(0, BAR_Y - 256, W, 256 + 42)
            self.assertEqual(digest(panel), PINNED_PAINT_PANEL)

            # '/' selects Chat; the Paint slot shows its icon again.
            s.key("slash")
            shot = self.wait_mark(s, 7)
            self.assertEqual(shot.crop(6 * 42, 0, 42, 42), bar.crop(6 * 42, 0, 42, 42))

            # Esc hides the bar and does not quit; the next Esc quits.
            s.key("Escape")
            s.wait_screen(lambda im: im.colours() == {BLACK}, what="the band without the bar",
                          x=0, y=BAR_Y, w=W, h=42)
            time.sleep(0.3)
            self.assertTrue(s.running())
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)


if __name__ == "__main__":
    harness.main()
