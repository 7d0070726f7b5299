"""The painting page on a phone (portrait and landscape), a tablet and a
desktop, used as a person uses it: the name field is tapped or clicked where it
shows, the board fills the screen's width in portrait and is the largest thing
on every screen, a finger or the mouse paints exactly where it touches, a pinch
(or Ctrl and the wheel) zooms to 4x and two fingers (or the wheel) pan, after
which strokes still land on the exact board pixel under the finger, and a
second finger arriving during a stroke turns it into a gesture that sends
nothing."""
import math
import os
import time
import unittest

from harness import BUILD_DIR, Server, wait_until
from page import PACE, Page, points_of, zigzag

DEVICES = [  # name, width, height, device pixel ratio, touch
    ("phone", 390, 844, 3, True), ("phone sideways", 844, 390, 3, True),
    ("tablet", 820, 1180, 2, True), ("desktop", 1920, 1080, 1, False),
]
PEN_FIXED = 4  # author and colour before a pen stroke's points


@unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")),
                     "no painting page in this build (the sanitizer builds leave it to the plain one)")
class PageOnDevices(unittest.TestCase):
    def setUp(self):
        self.server = Server(self, "--http", "0")
        self.url = "http://127.0.0.1:%s/" % self.server.log_match(r"web view on http://\S*:(\d+)")[1]

    def stroke(self, page, points):
        """Paints points and returns the board points the server got, and those expected."""
        expected = [page.board_point(*p) for p in points]
        before = len(self.server.frames())
        page.drag(points)
        got = points_of(self.server.commands(before + 1)[-1][1], PEN_FIXED)
        return got, expected + expected[-1:]

    def zoom_to_four(self, page, w, h):
        """Fingers spread over the board's middle until 4x, or Ctrl and the wheel; then a pan."""
        left, top, width, height = page.rect("#picture")
        cx, cy = round(left + width / 2), round(top + height / 2)
        if page.touch:
            spread = 15 * 4 * 912 / width  # from 30 px apart to 4 / (the fitted zoom) times that
            page.two_fingers([(cx - 15, cy), (cx + 15, cy)], [(round(cx - spread), cy), (round(cx + spread), cy)])
            page.two_fingers([(cx - 60, cy), (cx + 60, cy - 20)], [(cx - 160, cy - 90), (cx - 40, cy - 110)])
        else:
            page.wheel(cx, cy, 0, -200 * math.log(4 * 912 / width), ctrl=True)  # the page zooms by e^(-deltaY / 200)
            page.wheel(cx, cy, 120, 90)
        return page.rect("#picture")

    def test_every_device_logs_in_with_a_tap_paints_zooms_and_pans(self):
        for name, w, h, ratio, touch in DEVICES:
            with self.subTest(name):
                page = Page(self, self.url, w, h, ratio, touch)
                page.login(name.replace(" ", "")[:12])
                wait_until(lambda: not page.shown("#login") and page.shown("#picture") and not page.shown("#banner")
                           and not page.shown("#progress"), what="the form gone and the board shown, connected")
                left, top, width, height = page.rect("#picture")
                self.assertLessEqual(page.js("return document.documentElement.scrollWidth"), w)
                if h > w:
                    self.assertGreaterEqual(width, 0.9 * w)
                for part in ("#bar", "#colours", "#chat", "#roster"):
                    r = page.rect(part)
                    self.assertGreater(width * height, r[2] * r[3] if r else 0, part)
                self.assertAlmostEqual(width / height, 912 / 684, delta=0.01)

                got, expected = self.stroke(page, zigzag(round(left + 20), round(top + 20), 24, 6))
                self.assertEqual(got, expected)

                left, top, width, height = self.zoom_to_four(page, w, h)
                self.assertAlmostEqual(width / 912, 4, delta=0.1)
                self.assertLess(left, 0)  # panned into the board, not just scaled from its corner
                bx, by, bw, bh = page.rect("#board")
                x, y = round(bx + bw / 2), round(by + bh / 2)
                got, expected = self.stroke(page, zigzag(x - 60, y - 50, 20, 5))
                self.assertEqual(got, expected)
                if touch:
                    # A stroke begun, then a second finger: a pinch, and nothing sent;
                    # the next stroke is the next command.
                    page.touches("touchStart", [(x, y)])
                    time.sleep(PACE)
                    page.touches("touchMove", [(x + 30, y + 10)])
                    page.two_fingers([(x - 40, y), (x + 100, y)], [(x, y), (x + 50, y)], first_down=(x + 30, y + 10))
                    got, expected = self.stroke(page, zigzag(x - 50, y - 40, 24, 3))
                    self.assertEqual(got, expected)
                page.driver.quit()


if __name__ == "__main__":
    unittest.main()
