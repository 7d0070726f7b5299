"""The shared board end to end: easel-server and two easel clients, each on a
virtual display of its own, and the server's web page in headless Chromium.
Strokes of every tool cross from one client to the other and both pictures,
and the page's, end up identical to the pixel."""
import os
import pathlib
import re
import subprocess
import unittest

from harness import BUILD_DIR, TIMEOUT, Easel, Image, config_bytes, start, wait_until, workdir

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
        """Paced like a hand: the frame loop samples the pointer and the buttons."""
        moves = [a for x, y in path for a in ("mousemove", str(self.left + x), str(self.top + y), "sleep", "0.015")]
        self.xdo(*moves[:3], "sleep", "0.1", "mousedown", "1", *moves[5:], "sleep", "0.1", "mouseup", "1",
                 "sleep", "0.3")

    def toggle_bar(self, shown):
        self.park()
        self.xdo("key", "Tab")
        self.wait_screen(lambda im: (im.pixel(0, 0) == STRIP) == shown, "the tool bar", x=W - 5, y=H - 5, w=1, h=1)

    def select_tool(self, tool):
        """Presses on the slot once the client draws the pointer there (a redraw
        of the pointer puts it back where the client saw it last), and holds the
        button until the slot's selection mark (white left edge) shows."""
        self.toggle_bar(True)
        x, y = 42 * tool + 21, H - 21
        bare = self.screenshot(x - 2, y - 2, 6, 6)
        self.pointer_to(x, y)
        self.wait_screen(lambda im: im != bare, "the pointer on slot %d" % tool, x=x - 2, y=y - 2, w=6, h=6)
        self.xdo("mousedown", "1")
        self.wait_screen(lambda im: im.pixel(0, 0) == (255, 255, 255), "the mark on slot %d" % tool, x=42 * tool,
                         y=H - 22, w=1, h=1)
        self.xdo("mouseup", "1")
        self.toggle_bar(False)


class SharedBoard(unittest.TestCase):
    def server_log(self, pattern):
        """The first match of pattern in the server's log, once there is one."""
        return wait_until(lambda: re.search(pattern, pathlib.Path(self.dir, "log").read_text()),
                          what="the server to log %r" % pattern)

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
                               "--user-data-dir=" + os.path.join(self.dir, "profile"), "--virtual-time-budget=3000",
                               *options, self.url], capture_output=True, timeout=TIMEOUT * 3, check=True).stdout

    def test_strokes_of_every_tool_cross_and_the_pictures_agree(self):
        self.dir = workdir(self, {})
        with open(os.path.join(self.dir, "log"), "wb") as log:
            start(self, os.path.join(BUILD_DIR, "server", "easel-server"), "--port", "0", "--bind", "127.0.0.1",
                  "--http", "0", "--board", os.path.join(self.dir, "board.easel"), stdout=log, stderr=subprocess.STDOUT)
        port = int(self.server_log(r"listening on \S*:(\d+)")[1])
        self.url = "http://127.0.0.1:%s/" % self.server_log(r"web view on http://\S*:(\d+)")[1]
        alice = Client(self, "alice", port)
        self.server_log(r"logged in as \d+ \"alice\"")
        bob = Client(self, "bob", port)
        self.server_log(r"logged in as \d+ \"bob\"")
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
        shot = os.path.join(self.dir, "page.png")

        def page():
            self.chromium("--window-size=912,708", "--screenshot=" + shot)
            return Image.read(["convert", shot, "-crop", "912x684+0+24"]) == drawn
        wait_until(page, 60, what="the picture on the page")
        self.assertRegex(self.chromium("--dump-dom").decode(), r'id="strokes">7<.*id="users">alice, bob<')


if __name__ == "__main__":
    unittest.main()
