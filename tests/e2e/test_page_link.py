"""The page and its link as a person meets them. A lived-in board (20,000
strokes) arrives on a phone as its whole history: the page never runs a task
of over 50 ms, shows how much has arrived and is drawn, takes a colour
meanwhile, and ends with easel-render's picture; once the server has a
checkpoint of it, a tablet gets that picture from the checkpoint and the
commands after it, again without a long task. The server stops: the page says so over the board, no
longer lists its user, keeps a stroke drawn meanwhile on the picture as waiting,
and once the server is back (with the same board, its resume journal beside
it) resumes its session by itself or with a tap: "Back.", the board received
again and the waiting stroke sent exactly once, after the first."""
import os
import socket
import subprocess
import unittest

from harness import BUILD_DIR, Image, Server, wait_until
from page import Page, fnv, points_of, zigzag

# Every main-thread task of over 50 ms after the login form is sent, as the
# browser's own observer reports them.
LONG_TASKS = """window.longTasks = [];
addEventListener('submit', () => { window.loginAt = window.loginAt || performance.now(); }, true);
new PerformanceObserver((list) => { for (const t of list.getEntries())
  if (window.loginAt && t.startTime >= window.loginAt) window.longTasks.push(Math.round(t.duration)); })
  .observe({ type: 'longtask', buffered: true });"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")),
                     "no painting page in this build (the sanitizer builds leave it to the plain one)")
class PageLink(unittest.TestCase):
    def test_a_lived_in_board_arrives_on_a_phone_without_freezing_it(self):
        self.server = Server(self, "--http", "0", "--rate", "0", "--draw-budget", "0", "--draw-total", "0",
                             "--checkpoint-every", "0")
        url = "http://127.0.0.1:%s/" % self.server.log_match(r"web view on http://\S*:(\d+)")[1]
        subprocess.run([os.path.join(BUILD_DIR, "tools", "easel-load"), "--port", str(self.server.port), "--clients",
                        "20", "--rate", "50", "--seconds", "20"], check=True, stdout=subprocess.DEVNULL, timeout=120)
        png = os.path.join(self.server.dir, "render.png")
        subprocess.run([os.path.join(BUILD_DIR, "tools", "easel-render"), os.path.join(self.server.dir, "board.easel"),
                        png], check=True, timeout=300)
        expected = fnv(Image.read(["convert", png]).data)

        page = Page(self, url, 390, 844, 3, touch=True, before_load=LONG_TASKS)
        page.login("phone")
        wait_until(lambda: page.shown("#progress"), what="the board's progress bar")
        # A swatch taken while the board arrives (the palette's last one, in the Colour tab).
        page.tap(*page.at("#colours", 400, 250, 416, 256))
        wait_until(lambda: page.js("return document.getElementById('colours').dataset.rgb") != "0,0,0",
                   what="the colour taken while the board arrives")
        self.assertTrue(page.shown("#progress"), "the board arrived before the colour was taken: too small a board")
        wait_until(lambda: not page.shown("#progress"), 600, interval=0.5, what="the board drawn")
        # Read before the picture: hashing it is a long task of this test's own.
        self.assertEqual(page.js("return window.longTasks"), [])
        self.assertEqual(page.picture_hash(), expected)

        self.server.proc.terminate()
        self.server.proc.wait(10)
        self.server = Server(self, "--http", "0", "--checkpoint-every", "5000", again=self.server)
        # The painter draws the board at the lowest priority before its first checkpoint.
        self.server.log_match(r"checkpoint of \d+ commands, \d+ bytes", 600)
        url = "http://127.0.0.1:%s/" % self.server.log_match(r"web view on http://\S*:(\d+)")[1]
        tablet = Page(self, url, 820, 1180, 2, touch=True, before_load=LONG_TASKS)
        tablet.login("tablet")
        wait_until(lambda: "tablet (you)" in tablet.text("#roster") and not tablet.shown("#progress"), 120,
                   what="the board shown on the tablet")
        self.assertEqual(tablet.js("return window.longTasks"), [])
        self.assertEqual(tablet.picture_hash(), expected)

    def test_the_page_is_honest_when_the_link_ends_and_resumes_with_what_was_drawn(self):
        web_port = str(free_port())
        self.server = server = Server(self, "--http", web_port)
        page = Page(self, "http://127.0.0.1:%s/" % web_port)
        page.login("pat")
        wait_until(lambda: "pat (you)" in page.text("#roster"), what="pat on the roster")
        left, top, width, height = page.rect("#picture")
        busy = "return getComputedStyle(document.getElementById('busy')).visibility"
        page.drag(zigzag(round(left + 100), round(top + 100), 30, 4))
        server.commands(1)
        wait_until(lambda: page.js(busy) == "hidden", what="the stroke acknowledged")
        before = page.picture_hash()

        server.proc.terminate()
        server.proc.wait(10)
        wait_until(lambda: page.shown("#banner") and "Not connected" in page.text("#banner"), what="the banner")
        self.assertNotIn("(you)", page.text("#roster"))
        page.drag(zigzag(round(left + 300), round(top + 200), 30, 4))  # kept, drawn, waiting
        wait_until(lambda: page.picture_hash() != before, what="the stroke drawn offline")
        offline = page.picture_hash()
        wait_until(lambda: "Reconnecting" in page.text("#banner") and "(1 stroke waiting)" in page.text("#banner"),
                   what="the band counting the waiting stroke")
        self.assertEqual(page.js(busy), "visible")

        again = Server(self, "--http", web_port, again=server)
        wait_until(lambda: page.shown("#rejoin") or "Back." in page.text("#banner") or not page.shown("#banner"),
                   what="Rejoin offered")
        if page.shown("#rejoin"):  # unless the page's own retry came first
            page.press_on("#rejoin")
        wait_until(lambda: page.text("#banner-text") == "Back.", what="the band saying so")
        self.assertIn("pat (you)", page.text("#roster"))
        wait_until(lambda: not page.shown("#banner"), what="the band gone after a moment")
        wait_until(lambda: page.js(busy) == "hidden", what="the waiting stroke acknowledged")
        self.assertEqual(len(points_of(again.commands(2)[1][1], 4)), 6)
        self.assertEqual(len(again.frames(3)), 2)  # sent once
        wait_until(lambda: page.picture_hash() == offline, what="the board received again with the stroke")


if __name__ == "__main__":
    unittest.main()
