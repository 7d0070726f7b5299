"""The shared board end to end: easel-server and two easel clients, each on a
virtual display of its own, and the server's web page in headless Chromium.
Strokes of every tool cross from one client to the other and both pictures,
and the page's, end up identical to the pixel."""
import os
import subprocess
import time
import unittest

from formats import Image
from harness import DEFAULT_TIMEOUT, EaselSession, Server, XServer, config_bytes, wait_until

W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP = range(6)
STRIP = (128, 172, 255)              # the tool bar right of the last slot
WHITE = (255, 255, 255)


class Client:
    """One easel on a virtual display of its own, where the keyboard follows
    the pointer and no other window takes the focus; input in window coordinates."""

    def __init__(self, test, name, port):
        self.x = XServer(W, H)
        test.addCleanup(self.x.stop)
        self.session = EaselSession(self.x, config=config_bytes(W, H, server="127.0.0.1", port=port, user=name))
        test.addCleanup(self.session.close)
        self.session.start().wait_window(W, H)

    def park(self):
        """The pointer on the left black band, where no picture is compared."""
        self.session.pointer_to(4, H // 2)

    def drag(self, path):
        # Paced like a hand: the frame loop samples the pointer and the buttons.
        self.session.pointer_to(*path[0])
        time.sleep(0.1)
        self.x.mouse_down()
        for x, y in path[1:]:
            self.session.pointer_to(x, y)
            time.sleep(0.015)
        time.sleep(0.1)
        self.x.mouse_up()
        time.sleep(0.3)

    def pixel(self, x, y):
        return self.session.screenshot(x, y, 1, 1).pixel(0, 0)

    def toggle_bar(self, key, shown):
        self.park()
        self.x.key(key)
        wait_until(lambda: (self.pixel(W - 5, H - 5) == STRIP) == shown, what="the tool bar")

    def select_tool(self, tool):
        """Holds the button on the slot until its selection mark (white left edge) shows."""
        self.toggle_bar("Tab", True)
        self.session.pointer_to(42 * tool + 21, H - 21)
        self.x.mouse_down()
        wait_until(lambda: self.pixel(42 * tool, H - 22) == WHITE, what="the mark on slot %d" % tool)
        self.x.mouse_up()
        self.toggle_bar("Tab", False)

    def canvas(self):
        return self.session.screenshot(OX, OY, 912, 684)


def chromium(url, profile, *options):
    """What headless Chromium makes of the page once its first polls are answered."""
    return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                           "--user-data-dir=" + profile, "--virtual-time-budget=3000", *options, url],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=DEFAULT_TIMEOUT * 3,
                          check=True).stdout


class SharedBoard(unittest.TestCase):
    def same_canvases(self):
        """Waits until both pictures agree: overlay lines expire one by one,
        strokes arrive. Returns the picture."""
        for c in self.clients:
            c.park()
        return wait_until(lambda: (lambda a: a == self.bob.canvas() and a)(self.alice.canvas()), 60,
                          interval=0.5, what="the same picture in both clients")

    def test_strokes_of_every_tool_cross_and_the_pictures_agree(self):
        server = Server("--http", "0")
        self.addCleanup(server.stop)
        url = "http://127.0.0.1:%s/" % server.wait(r"web view on http://\S*:(\d+)").group(1)
        self.alice = Client(self, "alice", server.port)
        server.wait(r"logged in as \d+ \"alice\"")
        self.bob = Client(self, "bob", server.port)
        server.wait(r"logged in as \d+ \"bob\"")
        self.clients = (self.alice, self.bob)
        blank = self.same_canvases()
        for tool in (PEN, PENCIL, BRUSH, CHALK, STAMP):
            self.alice.select_tool(tool)
            y0 = 120 + 70 * tool
            self.alice.drag([(OX + 100 + 9 * i, OY + y0 + (12 if i % 6 < 3 else -12)) for i in range(50)])
        # Smudge drags the strokes above down across the picture.
        self.alice.select_tool(SMUDGE)
        self.alice.drag([(OX + 250 + 3 * (i % 2), OY + 100 + 8 * i) for i in range(45)])
        self.bob.select_tool(BRUSH)
        self.bob.drag([(OX + 700, OY + 80 + 8 * i) for i in range(60)])
        drawn = self.same_canvases()
        changed = [i // 3 for i in range(0, len(drawn.data), 3) if drawn.data[i:i + 3] != blank.data[i:i + 3]]
        self.assertGreater(len(changed), 5000, "the strokes left no mark")
        self.assertTrue(any(abs(i % 912 - 700) < 3 and 100 < i // 912 < 500 for i in changed),
                        "bob's stroke is missing")
        # The page shows the picture at its own size under a 24-pixel bar, then
        # seven strokes and both users.
        shot, profile = os.path.join(server.dir, "page.png"), os.path.join(server.dir, "profile")

        def page():
            chromium(url, profile, "--window-size=912,708", "--screenshot=" + shot)
            return Image.read(["convert", shot]).crop(0, 24, 912, 684) == drawn
        wait_until(page, 60, what="the picture on the page")
        dom = chromium(url, profile, "--dump-dom").decode()
        self.assertRegex(dom, r'id="strokes">7<.*id="users">alice, bob<')


if __name__ == "__main__":
    unittest.main()
