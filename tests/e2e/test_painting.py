"""Painting through the real client under Xvfb: a stroke with every tool, the
colour picker, and every tool panel where the tool bar places it."""
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SCREEN_W, SCREEN_H = 1024, 768
OX, OY = (SCREEN_W - 912) // 2, (SCREEN_H - 684) // 2
BAR_Y = SCREEN_H - 42
PARK = (10, 400)  # in the black band left of the picture
# The chat overlay at the top changes as lines expire: compare below it.
OVERLAY_ROWS = 120

PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP, PAINT = range(7)


class Pointer:
    """Mouse, keys and screenshots in the client window's coordinates."""

    def __init__(self, session):
        self.session = session

    def mouse_move(self, x, y):
        self.session.pointer_to(x, y)

    def mouse_down(self):
        self.session.x.mouse_down()

    def mouse_up(self):
        self.session.x.mouse_up()

    def click(self, x, y):
        # Held for a while: the frame loop only sees buttons down when it polls.
        self.mouse_move(x, y)
        time.sleep(0.05)
        self.mouse_down()
        time.sleep(0.1)
        self.mouse_up()

    def key(self, name):
        self.session.key(name)

    def screenshot(self):
        return self.session.screenshot()


def panel_origin(tool, pw, ph):
    px = 42 * tool + 21 - pw // 2
    px = max(0, min(px, SCREEN_W - pw))
    return px, BAR_Y - ph


def changed_pixels(before, after):
    """Screen positions inside the picture (below the overlay) that differ."""
    out = []
    for y in range(max(OY, OVERLAY_ROWS), OY + 684):
        for x in range(OX, OX + 912):
            if before.pixel(x, y) != after.pixel(x, y):
                out.append((x, y))
    return out


def unused_port():
    """A port nothing listens on: the client's connection attempt is refused."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class PaintingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = harness.XServer().start()
        config = harness.config_bytes(SCREEN_W, SCREEN_H, server="127.0.0.1", port=unused_port())
        cls.session = harness.EaselSession(cls.x, config=config).start()
        try:
            cls.session.wait_window(SCREEN_W, SCREEN_H)
        except BaseException:
            cls.tearDownClass()
            raise
        cls.client = Pointer(cls.session)

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        cls.x.stop()

    def settle(self):
        self.client.mouse_move(*PARK)
        time.sleep(0.4)
        return self.client.screenshot()

    def select_tool(self, tool):
        """Opens the tool bar (the panel must be hidden) and selects the slot."""
        self.client.key("Tab")
        time.sleep(0.2)
        self.client.click(42 * tool + 21, BAR_Y + 21)
        time.sleep(0.3)

    def hide_panel(self):
        self.client.key("Tab")
        time.sleep(0.3)

    def drag(self, path):
        c = self.client
        c.mouse_move(*path[0])
        time.sleep(0.1)
        c.mouse_down()
        for x, y in path[1:]:
            c.mouse_move(x, y)
            time.sleep(0.02)
        time.sleep(0.1)
        c.mouse_up()
        time.sleep(0.2)

    def assert_changed_near(self, before, after, path, margin, along=True):
        xs = [p[0] for p in path]
        ys = [p[1] for p in path]
        box = (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)
        changed = changed_pixels(before, after)
        far = [p for p in changed
               if not (box[0] <= p[0] <= box[2] and box[1] <= p[1] <= box[3])]
        self.assertGreater(len(changed), 40, "the stroke left no mark")
        self.assertEqual(far, [], "pixels changed far from the stroke")
        # Every stretch of the path got paint: no long gap along the stroke.
        for x, y in (path[::4] if along else ()):
            near = [p for p in changed if abs(p[0] - x) <= margin and abs(p[1] - y) <= margin]
            self.assertTrue(near, "no paint near (%d, %d)" % (x, y))
        return changed

    def pick_palette_entry(self, index):
        self.select_tool(PAINT)
        px, py = panel_origin(PAINT, 416, 256)
        self.client.click(px + 288 + 32 * (index // 8) + 16, py + 32 * (index % 8) + 16)
        time.sleep(0.3)
        shot = self.client.screenshot()
        self.hide_panel()
        return shot, px, py

    def test_1_stroke_with_every_tool(self):
        # Red shows on paper and on a dark picture alike.
        self.pick_palette_entry(5)
        # Horizontal zigzags for the marking tools, then one smudge across them.
        for tool in (PEN, PENCIL, BRUSH, CHALK, STAMP):
            with self.subTest(tool=tool):
                self.select_tool(tool)
                self.hide_panel()
                before = self.settle()
                y0 = OY + 200 + 60 * tool
                path = [(OX + 150 + 8 * i, y0 + (10 if i % 6 < 3 else -10)) for i in range(60)]
                self.drag(path)
                after = self.settle()
                # The bristle brush may dry out before the end of the path.
                self.assert_changed_near(before, after, path, 25, along=tool != BRUSH)
        self.select_tool(SMUDGE)
        self.hide_panel()
        before = self.settle()
        path = [(OX + 300 + (i % 2) * 6, OY + 180 + 8 * i) for i in range(50)]
        self.drag(path)
        after = self.settle()
        changed = changed_pixels(before, after)
        self.assertGreater(len(changed), 40)
        self.assertEqual([p for p in changed if abs(p[0] - (OX + 303)) > 30], [])

    def test_2_colour_from_the_palette_paints(self):
        # Palette entry 13, pure blue: column 1, row 5.
        shot, px, py = self.pick_palette_entry(13)
        # The square now shows blue at full saturation and value.
        self.assertEqual(shot.pixel(px + 255, py + 255), (0, 0, 255))
        self.select_tool(PEN)
        self.hide_panel()
        before = self.settle()
        path = [(OX + 600 + 6 * i, OY + 560) for i in range(40)]
        self.drag(path)
        after = self.settle()
        changed = self.assert_changed_near(before, after, path, 6)
        bluest = max(after.pixel(x, y)[2] - after.pixel(x, y)[0] for x, y in changed)
        self.assertGreater(bluest, 100)

    def test_3_every_panel_where_the_bar_places_it(self):
        sizes = {PENCIL: 152, BRUSH: 184, CHALK: 152, SMUDGE: 184, STAMP: 184}
        for tool, ph in sizes.items():
            with self.subTest(tool=tool):
                self.select_tool(tool)
                self.client.mouse_move(*PARK)
                time.sleep(0.3)
                shot = self.client.screenshot()
                px, py = panel_origin(tool, 160, ph)
                # The size wedge: white down the left edge, black up the right.
                for y in range(py + 120, py + 152):
                    self.assertEqual(shot.pixel(px, y), (255, 255, 255))
                for y in range(py + 121, py + 152):
                    self.assertEqual(shot.pixel(px + 159, y), (0, 0, 0))
                if ph == 184:
                    # The second slider's ramp, black to almost white.
                    self.assertEqual(shot.pixel(px, py + 160), (0, 0, 0))
                    self.assertEqual(shot.pixel(px + 159, py + 160), (253, 253, 253))
                # The preview shows the sample picture: not one flat colour.
                colours = {shot.pixel(px + x, py + y) for x in range(0, 160, 7)
                           for y in range(0, 120, 7)}
                self.assertGreater(len(colours), 20)
                self.hide_panel()
        self.select_tool(PAINT)
        self.client.mouse_move(*PARK)
        time.sleep(0.3)
        shot = self.client.screenshot()
        px, py = panel_origin(PAINT, 416, 256)
        self.assertEqual(shot.pixel(px, py + 200), (0, 0, 0))  # value 0 column
        self.assertEqual(shot.pixel(px + 256, py), (255, 0, 0))  # hue strip, hue 0
        self.assertEqual(shot.pixel(px + 290, py + 2), (255, 255, 255))  # swatch 0
        self.assertEqual(shot.pixel(px + 288, py), (76, 76, 76))  # its dark bevel
        self.hide_panel()


if __name__ == "__main__":
    harness.main()
