"""The shared board end to end: easel-server and two easel clients, each on a
virtual display of its own, and the server's web page open in headless
Chromium. Strokes of every tool cross from one client to the other and both
pictures, and the page's, end up identical to the pixel."""
import base64
import json
import os
import select
import subprocess
import time
import unittest

import harness
from formats import Image
from harness import (DEFAULT_TIMEOUT, EaselSession, HarnessError, Server, XServer, config_bytes, end_process,
                     wait_until)

W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP = range(6)
STRIP = (128, 172, 255)              # the tool bar right of the last slot
WHITE = (255, 255, 255)


class Client:
    """One easel on a virtual display of its own, where the keyboard follows
    the pointer and no other window takes the focus; input in window coordinates."""

    def __init__(self, name, port):
        self.x = XServer(W, H)
        self.session = EaselSession(self.x, config=config_bytes(W, H, server="127.0.0.1", port=port, user=name))
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


class Browser:
    """Chromium driven over its debugging pipe (file descriptors 3 and 4)."""

    def __init__(self, url, width, height, profile):
        to_browser, self.out = os.pipe()
        self.inp, from_browser = os.pipe()
        command = ("exec chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
                   "--remote-debugging-pipe --window-size=%d,%d --user-data-dir=%s '%s' "
                   "3<&%d 4>&%d" % (width, height, profile, url, to_browser, from_browser))
        self.proc = subprocess.Popen(["sh", "-c", command], pass_fds=(to_browser, from_browser),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer, self.last_id = b"", 0
        page = wait_until(lambda: [t for t in self.call("Target.getTargets")["targetInfos"]
                                   if t["type"] == "page"], what="the page")[0]
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride", self.session, width=width, height=height,
                  deviceScaleFactor=1, mobile=False)

    def call(self, method, session=None, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                if not select.select([self.inp], [], [], DEFAULT_TIMEOUT)[0]:
                    raise HarnessError("no answer to " + method)
                chunk = os.read(self.inp, 1 << 20)
                if not chunk:
                    raise HarnessError("the browser went away")
                self.buffer += chunk
            text, self.buffer = self.buffer.split(b"\0", 1)
            reply = json.loads(text)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise HarnessError("%s: %s" % (method, reply["error"]))
                return reply["result"]

    def text(self, element):
        return self.call("Runtime.evaluate", self.session,
                         expression="document.getElementById('%s').textContent" % element
                         )["result"].get("value")

    def screenshot(self):
        png = base64.b64decode(self.call("Page.captureScreenshot", self.session)["data"])
        return Image.read(["convert", "png:-"], data=png)

    def close(self):
        os.close(self.out)
        os.close(self.inp)
        end_process(self.proc)


class SharedBoard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("--http", "0")
        web = int(cls.server.wait(r"web view on http://\S*:(\d+)").group(1))
        # The page shows the picture at its own size under a 24-pixel bar.
        cls.browser = Browser("http://127.0.0.1:%d/" % web, 912, 708, os.path.join(cls.server.dir, "profile"))
        cls.alice = Client("alice", cls.server.port)
        cls.server.wait(r"logged in as \d+ \"alice\"")
        cls.bob = Client("bob", cls.server.port)
        cls.server.wait(r"logged in as \d+ \"bob\"")
        cls.clients = (cls.alice, cls.bob)

    @classmethod
    def tearDownClass(cls):
        for c in cls.clients:
            c.session.close()
            c.x.stop()
        cls.browser.close()
        cls.server.stop()

    def same_canvases(self):
        """Waits until both pictures agree: overlay lines expire one by one,
        strokes arrive. Returns the picture."""
        for c in self.clients:
            c.park()
        return wait_until(lambda: (lambda a: a == self.bob.canvas() and a)(self.alice.canvas()), 60,
                          interval=0.5, what="the same picture in both clients")

    def test_strokes_of_every_tool_cross_and_the_pictures_agree(self):
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
        # The page, open all along, follows: the same picture, seven strokes, both users.
        wait_until(lambda: self.browser.screenshot().crop(0, 24, 912, 684) == drawn,
                   what="the picture on the page")
        self.assertEqual(("7", "alice, bob"), (self.browser.text("strokes"), self.browser.text("users")))


if __name__ == "__main__":
    harness.main()
