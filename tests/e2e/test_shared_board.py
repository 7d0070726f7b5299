"""The shared board end to end: easel-server and two easel clients, each on a
virtual display of its own, and the server's web page in headless Chromium.
Strokes of every tool cross from one client to the other and both pictures,
and the page's, end up identical to the pixel."""
import os
import subprocess
import unittest

from harness import TIMEOUT, Easel, Image, Server, config_bytes, wait_until

W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP = range(6)
STRIP = (128, 172, 255)              # the tool bar right of the last slot


class Client(Easel):
    """One easel on a display of its own, where the keyboard follows the
    pointer and no other window takes the focus."""

    def __init__(self, test, name, port):
        super().__init__(test, {"client.cfg": config_bytes(W, H, "127.0.0.1", port, name)}, (W, H))
        self.wait_window(W, H)

    def park(self):
        """The pointer on the left black band, where no picture is compared."""
        self.pointer_to(4, H // 2)

    def drag(self, path):
        """Paced like a hand, pressed and released where the pointer arrives."""
        moves = [a for x, y in path for a in ("sleep", "0.015", "mousemove", str(self.left + x), str(self.top + y))]
        self.xdo(*moves[2:5], "mousedown", "1", *moves[5:], "mouseup", "1")

    def toggle_bar(self, shown):
        self.park()
        self.xdo("key", "Tab")
        self.wait_screen(lambda im: (im.pixel(0, 0) == STRIP) == shown, "the tool bar", x=W - 5, y=H - 5, w=1, h=1)

    def select_tool(self, tool):
        """A quick click on the slot; its selection mark (white left edge) shows."""
        self.toggle_bar(True)
        self.click(42 * tool + 21, H - 21)
        self.wait_screen(lambda im: im.pixel(0, 0) == (255, 255, 255), "the mark on slot %d" % tool, x=42 * tool,
                         y=H - 22, w=1, h=1)
        self.toggle_bar(False)


class SharedBoard(unittest.TestCase):
    def same_canvases(self):
        """Waits until both pictures agree (overlay lines expire one by one,
        strokes arrive) and returns the picture."""
        for c in self.clients:
            c.park()
        return wait_until(lambda: (lambda a, b: a == b and a)(*[c.screenshot(OX, OY, 912, 684) for c in self.clients]),
                          60, interval=0.5, what="the same picture in both clients")

    def chromium(self, *options):
        """What headless Chromium makes of the page once its first polls are answered."""
        return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                               "--user-data-dir=" + os.path.join(self.server.dir, "profile"), "--virtual-time-budget=3000",
                               *options, self.url], capture_output=True, timeout=TIMEOUT * 3, check=True).stdout

    def test_strokes_of_every_tool_cross_and_the_pictures_agree(self):
        self.server = server = Server(self, "--http", "0")
        self.url = "http://127.0.0.1:%s/?watch" % server.log_match(r"web view on http://\S*:(\d+)")[1]
        alice = Client(self, "alice", server.port)
        server.log_match(r"logged in as \d+ \"alice\"")
        bob = Client(self, "bob", server.port)
        server.log_match(r"logged in as \d+ \"bob\"")
        self.clients = (alice, bob)
        blank = self.same_canvases()
        for tool in (PEN, PENCIL, BRUSH, CHALK, STAMP):
            alice.select_tool(tool)
            y0 = 120 + 70 * tool
            alice.drag([(OX + 100 + 9 * i, OY + y0 + (12 if i % 6 < 3 else -12)) for i in range(50)])
        # Smudge drags the strokes above down across the picture.
        alice.select_tool(SMUDGE)
        alice.drag([(OX + 250 + 3 * (i % 2), OY + 100 + 8 * i) for i in range(45)])
        bob.select_tool(BRUSH)
        bob.drag([(OX + 700, OY + 80 + 8 * i) for i in range(60)])
        drawn = self.same_canvases()
        self.assertNotEqual(drawn, blank)
        # The page shows the server's picture at its own size under a 24-pixel
        # bar, then the seven strokes (bob's too) and both users.
        shot = os.path.join(server.dir, "page.png")

        def page():
            self.chromium("--window-size=912,708", "--screenshot=" + shot)
            return Image.read(["convert", shot, "-crop", "912x684+0+24"]) == drawn
        wait_until(page, 60, what="the picture on the page")
        self.assertRegex(self.chromium("--dump-dom").decode(), r'id="strokes">7<.*id="users">alice, bob<')


if __name__ == "__main__":
    unittest.main()
