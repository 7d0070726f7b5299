#!/usr/bin/env python3
"""The web view in a real browser: headless Chromium keeps the page open while a
user paints through the protocol, and the page's picture shows the stroke."""
import base64
import json
import os
import select
import socket
import struct
import subprocess
import tempfile
import unittest

from formats import Image, frame
from harness import DEFAULT_TIMEOUT, HarnessError, Server, end_process, wait_until

PAPER = (232, 229, 227)


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
        with tempfile.NamedTemporaryFile(suffix=".png") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", self.session)["data"]))
            f.flush()
            return Image.read(["convert", f.name])

    def close(self):
        os.close(self.out)
        os.close(self.inp)
        end_process(self.proc)


def near(colour, target, slack=12):
    return all(abs(a - b) <= slack for a, b in zip(colour, target))


class WebView(unittest.TestCase):
    def test_the_open_page_shows_a_new_stroke(self):
        server, browser, sock = Server("--http", "0"), None, None
        try:
            web = int(server.wait(r"web view on http://\S*:(\d+)").group(1))
            # The window shows the picture at its own size under the bar.
            browser = Browser("http://127.0.0.1:%d/" % web, 912, 708, os.path.join(server.dir, "profile"))
            wait_until(lambda: near(browser.screenshot().pixel(456, 366), PAPER),
                       what="the empty paper on the page")
            self.assertEqual("0", browser.text("strokes"))

            # A login, then a wide red brush stroke across the middle of the picture.
            brush = (bytes([0]) + struct.pack("<I", 7) + bytes([220, 20, 20]) + struct.pack("<HH", 20 * 65, 200 * 65)
                     + b"".join(struct.pack("<hh", x, 342) for x in range(200, 712, 8)))
            sock = socket.create_connection(("127.0.0.1", server.port))
            sock.sendall(frame(6, struct.pack("<I", 9) + b"painter\0") + frame(2, brush))

            def red_in_the_middle():
                r, g, b = browser.screenshot().pixel(456, 24 + 342)
                return r > 150 and g < 100 and b < 100
            wait_until(red_in_the_middle, what="the stroke on the page")
            self.assertTrue(near(browser.screenshot().pixel(456, 24 + 100), PAPER))
            self.assertEqual("1", browser.text("strokes"))
            self.assertEqual("painter", browser.text("users"))
        finally:
            if sock:
                sock.close()
            if browser:
                browser.close()
            server.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
