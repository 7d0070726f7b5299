"""Screen composition of the real client: the picture centred in black bands on
a large screen and cropped on a small one, Tab showing the tool bar with the
eight tool icons tinted through their masks, a press on a slot moving the
selection mark, '/' selecting Chat, and Esc hiding the bar before it quits.

Set EASEL_E2E_SHOTS to a folder to keep a picture of the tool bar there
(toolbar.ppm)."""

import os
import struct
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import EaselSession, XServer, config_bytes  # noqa: E402

CANVAS_W, CANVAS_H = 912, 684
TOOLS = ["pen", "pencil", "brush", "chalk", "smudge", "stamp", "paint", "chat"]
BLACK = (0, 0, 0)
# The overlay of the connection notices covers the top rows for a while.
OVERLAY_ROWS = 100


def picture(x, y):
    """The background picture: no two nearby pixels alike, never black."""
    return (x & 0xFF, y & 0xFF, 64 + 16 * (x >> 8) + 4 * (y >> 8))


def bmp_bytes(width, height, colour_at):
    """A 24-bit Windows bitmap, bottom-up, rows padded to 4 bytes."""
    pad = (4 - width * 3 % 4) % 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = colour_at(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + b"\0" * pad)
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def read_bmp(path):
    """Pixels of a 24-bit bitmap as rows of (r, g, b), top row first."""
    with open(path, "rb") as f:
        blob = f.read()
    offset, = struct.unpack_from("<I", blob, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", blob, 18)
    assert bits == 24, path
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        base = offset + src * stride
        rows.append([tuple(blob[base + 3 * x + 2 - c] for c in range(3)) for x in range(width)])
    return rows


def as_float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def tinted_slot(icon, mask, colour):
    """The slot's 42 x 42 pixels as the tool bar shows them: the icon shifted
    by (colour - 128) in proportion to the mask."""
    out = []
    for y in range(42):
        row = []
        for x in range(42):
            p, m = icon[y][x], mask[y][x]
            a = as_float32((m[0] + 2 * m[2]) / 765.0)
            if a <= 0.005:
                row.append(p)
                continue
            row.append(tuple(max(0, min(255, int(p[c] * (1 - a) + a * (colour[c] + p[c] - 128))))
                             for c in range(3)))
        out.append(row)
    return out


def asset_files():
    folder = os.path.join(harness.SOURCE_DIR, "assets")
    files = {}
    for tool in TOOLS:
        for name in (tool + ".bmp", tool + "mask.bmp"):
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
    return files


def place_pointer(s, x, y):
    """Moves the pointer to window coordinates and waits until it stays there:
    shortly after start-up the graphics library warps the pointer once."""
    want = (s.window[4] + x, s.window[5] + y)

    def placed():
        s.pointer_to(x, y)
        for _ in range(5):
            time.sleep(0.1)
            out = s.x.run("xdotool", "getmouselocation").split()
            if (int(out[0][2:]), int(out[1][2:])) != want:
                return False
        return True
    harness.wait_until(placed, what="the pointer at (%d, %d)" % (x, y))


class ScreenTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer().start()
        cls.bg = bmp_bytes(CANVAS_W, CANVAS_H, picture)

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def session(self, width, height, **files):
        files = dict(files)
        files["bg.bmp"] = self.bg
        return EaselSession(self.x, config=config_bytes(width, height, server="127.0.0.1", port=9),
                            files=files)

    @staticmethod
    def view_errors(shot, width, height, park):
        """Pixels below the overlay rows that are not the picture at the origin
        or black outside it, apart from the pointer's square."""
        ox, oy = (width - CANVAS_W) // 2, (height - CANVAS_H) // 2
        wrong = []
        for y in range(OVERLAY_ROWS, height):
            for x in range(width):
                if abs(x - park[0]) <= 6 and abs(y - park[1]) <= 6:
                    continue
                cx, cy = x - ox, y - oy
                inside = 0 <= cx < CANVAS_W and 0 <= cy < CANVAS_H
                want = picture(cx, cy) if inside else BLACK
                if shot.pixel(x, y) != want:
                    wrong.append((x, y, shot.pixel(x, y), want))
        return wrong

    def wait_view(self, s, width, height, park):
        """Waits until the screen shows the view (the pointer sprite follows the
        pointer a little late); fails with the first wrong pixels."""
        place_pointer(s, *park)
        try:
            return s.wait_screen(lambda im: not self.view_errors(im, width, height, park),
                                 what="the picture at its origin")
        except harness.HarnessError:
            wrong = self.view_errors(s.screenshot(), width, height, park)
            self.assertEqual(wrong[:5], [], "%d pixels differ" % len(wrong))
            raise

    def test_large_screen_centres_the_picture_in_black_bands(self):
        with self.session(1024, 768) as s:
            s.wait_window(1024, 768)
            shot = self.wait_view(s, 1024, 768, park=(1010, 400))  # in the right band
            # The band above the picture, right of the notices.
            top = shot.crop(600, 0, 424, 42)
            self.assertEqual(top.colours(), {BLACK})
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)

    def test_small_screen_shows_the_middle_without_bands(self):
        with self.session(640, 480) as s:
            s.wait_window(640, 480)
            shot = self.wait_view(s, 640, 480, park=(600, 460))
            self.assertNotIn(BLACK, shot.crop(0, OVERLAY_ROWS, 560, 480 - OVERLAY_ROWS).colours())
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)

    def test_tool_bar_icons_selection_and_escape(self):
        files = asset_files()
        slots = [tinted_slot(read_bmp(os.path.join(harness.SOURCE_DIR, "assets", t + ".bmp")),
                             read_bmp(os.path.join(harness.SOURCE_DIR, "assets", t + "mask.bmp")),
                             BLACK) for t in TOOLS]
        with self.session(1024, 768, **files) as s:
            s.wait_window(1024, 768)
            place_pointer(s, 600, 300)
            s.wait_screen(lambda im: im.pixel(56, 300) == picture(0, 258), what="the picture")
            bar_y = 768 - 42

            def bar():
                return s.screenshot(0, bar_y, 1024, 42)

            self.assertEqual(bar().colours(), {BLACK}, "no tool bar before Tab")
            s.key("Tab")
            shot = s.wait_screen(lambda im: im.pixel(1000, 20) == (128, 172, 255),
                                 what="the tool bar", x=0, y=bar_y, w=1024, h=42)
            if os.environ.get("EASEL_E2E_SHOTS"):
                shot.save_ppm(os.path.join(os.environ["EASEL_E2E_SHOTS"], "toolbar.ppm"))

            def assert_slots(image, selected):
                for i, slot in enumerate(slots):
                    wrong = 0
                    for y in range(42):
                        for x in range(42):
                            on_mark = i == selected and (x in (0, 1, 40, 41) or y in (0, 1, 40, 41))
                            if not on_mark and image.pixel(42 * i + x, y) != slot[y][x]:
                                wrong += 1
                    self.assertEqual(wrong, 0, "slot %d (%s) differs from its tinted icon" % (i, TOOLS[i]))
                x0 = 42 * selected
                self.assertEqual(image.pixel(x0, 0), (255, 255, 255))
                self.assertEqual(image.pixel(x0 + 40, 40), (255, 255, 255))
                self.assertEqual(image.pixel(x0 + 41, 41), BLACK)
                self.assertEqual(image.pixel(x0 + 41, 1), BLACK)
                right = image.crop(42 * 8, 0, 1024 - 42 * 8, 42)
                self.assertEqual(right.colours(), {(128, 172, 255)})

            assert_slots(shot, 0)

            # A press on the fourth slot moves the mark there.
            place_pointer(s, 3 * 42 + 20, bar_y + 20)
            time.sleep(0.1)
            self.x.mouse_down()
            time.sleep(0.2)
            self.x.mouse_up()
            place_pointer(s, 600, 300)
            shot = s.wait_screen(lambda im: im.pixel(126, 0) == (255, 255, 255),
                                 what="the mark on slot 3", x=0, y=bar_y, w=1024, h=42)
            assert_slots(shot, 3)

            # '/' selects Chat.
            s.key("slash")
            shot = s.wait_screen(lambda im: im.pixel(7 * 42, 0) == (255, 255, 255),
                                 what="the mark on the Chat slot", x=0, y=bar_y, w=1024, h=42)
            self.assertEqual(shot.pixel(126, 0), slots[3][0][0])

            # Esc hides the bar and does not quit; the next Esc quits.
            s.key("Escape")
            s.wait_screen(lambda im: im.colours() == {BLACK}, what="the band without the bar",
                          x=0, y=bar_y, w=1024, h=42)
            time.sleep(0.3)
            self.assertTrue(s.running())
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)


if __name__ == "__main__":
    harness.main()
