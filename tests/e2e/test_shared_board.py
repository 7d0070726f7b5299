"""The shared board end to end: easel-server and two easel clients side by side
on one virtual display. Strokes of every tool cross from one client to the
other, both pictures end up identical to the pixel, chat lines and /user reach
both, a restart vote by both clears both pictures, and a killed server leaves
both clients painting offline."""
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BUILD = os.environ.get("EASEL_BUILD_DIR", "")
W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PANEL_H = H - 42                     # the chat panel above the tool bar
LINE_H = 14                          # one unwrapped chat line in the panel
EMPTY_INPUT_H = 4                    # the empty input line under the history
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP, PAINT = range(7)


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw)


class Shot:
    """A screenshot of the whole display as rows of RGB bytes."""

    def __init__(self, data):
        parts = data.split(maxsplit=4)
        assert parts[0] == b"P6", parts[0]
        self.w, self.h = int(parts[1]), int(parts[2])
        self.pixels = parts[4]

    def pixel(self, x, y):
        i = 3 * (y * self.w + x)
        return tuple(self.pixels[i:i + 3])

    def rect(self, x, y, w, h):
        return b"".join(self.pixels[3 * ((y + r) * self.w + x):3 * ((y + r) * self.w + x + w)]
                        for r in range(h))


class Display:
    def __init__(self, width, height):
        self.env = dict(os.environ)
        for n in range(140, 200):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                break
        self.name = ":%d" % n
        self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "%dx%dx24" % (width, height),
                                      "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = self.name
        deadline = time.time() + 10
        while not os.path.exists("/tmp/.X11-unix/X%d" % n):
            if time.time() > deadline:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.1)

    def xdo(self, *args):
        run("xdotool", *[str(a) for a in args], env=self.env)

    def shot(self, keep_as=None):
        data = run("import", "-window", "root", "-depth", "8", "ppm:-", env=self.env).stdout
        # EASEL_E2E_SHOTS names a folder that keeps the screenshots for a look.
        if keep_as and os.environ.get("EASEL_E2E_SHOTS"):
            with open(os.path.join(os.environ["EASEL_E2E_SHOTS"], keep_as + ".ppm"), "wb") as f:
                f.write(data)
        return Shot(data)

    def windows(self, w, h):
        """Ids of the top-level windows of the given size."""
        out = run("xwininfo", "-root", "-children", env=self.env).stdout.decode()
        ids = []
        for m in re.finditer(r"^\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)\+", out, re.M):
            if int(m.group(2)) == w and int(m.group(3)) == h:
                ids.append(m.group(1))
        return ids

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)


class Client:
    def __init__(self, display, name, port, x0):
        self.display, self.x0 = display, x0
        self.dir = tempfile.mkdtemp(prefix="easel-%s-" % name)
        with open(os.path.join(self.dir, "client.cfg"), "wb") as f:
            f.write(struct.pack("<256sH16sHHHB", b"127.0.0.1", port, name.encode(), W, H, W, 0))
        before = set(display.windows(W, H))
        self.proc = subprocess.Popen([os.path.join(BUILD, "easel")], cwd=self.dir, env=display.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while True:
            new = set(display.windows(W, H)) - before
            if new:
                self.window = new.pop()
                break
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("the client's window did not appear")
            time.sleep(0.2)
        if x0:
            display.xdo("windowmove", self.window, x0, 0)
        time.sleep(0.5)

    # Input, in the client's own coordinates. The keyboard follows the pointer.
    def move(self, x, y):
        self.display.xdo("mousemove", self.x0 + x, y)

    def key(self, *keys):
        time.sleep(0.2)
        self.display.xdo("key", "--delay", 60, *keys)
        time.sleep(0.15)

    def type(self, text):
        self.display.xdo("type", "--delay", 40, text)
        time.sleep(0.15)

    def drag(self, path):
        self.move(*path[0])
        time.sleep(0.1)
        self.display.xdo("mousedown", 1)
        for x, y in path[1:]:
            self.move(x, y)
            time.sleep(0.015)
        time.sleep(0.1)
        self.display.xdo("mouseup", 1)
        time.sleep(0.3)

    def park(self):
        """The pointer on the left black band, where no picture is compared."""
        self.move(4, H // 2)

    def select_tool(self, tool):
        self.park()
        self.key("Tab")
        self.move(42 * tool + 21, H - 21)
        time.sleep(0.1)
        # Held for a while: the frame loop samples the buttons, it sees no events.
        self.display.xdo("mousedown", 1)
        time.sleep(0.15)
        self.display.xdo("mouseup", 1)
        time.sleep(0.3)
        self.key("Tab")

    def pick_red(self):
        """Palette entry 5 of the Paint panel (416 x 256 over slot 6): pure red."""
        self.park()
        self.key("Tab")
        for x, y in ((42 * PAINT + 21, H - 21), (42 * PAINT + 21 - 208 + 304, H - 42 - 256 + 176)):
            self.move(x, y)
            time.sleep(0.1)
            self.display.xdo("mousedown", 1)
            time.sleep(0.15)
            self.display.xdo("mouseup", 1)
            time.sleep(0.3)
        self.key("Tab")

    def say(self, line):
        """Types a line into the open chat panel, pointer on the tool bar."""
        self.move(W - 20, H - 10)
        time.sleep(0.3)  # the keyboard focus follows the pointer
        self.type(line)
        self.key("Return")

    def canvas(self, shot):
        return shot.rect(self.x0 + OX, OY, 912, 684)

    def newest_lines(self, shot, n):
        """The rows of the chat panel's newest n history lines."""
        top = PANEL_H - EMPTY_INPUT_H - n * LINE_H
        return shot.rect(self.x0, top, W, n * LINE_H)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def differing_pixels(a, b):
    return sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])


def has_yellow(rows):
    """System lines are yellow; the dimmed picture behind the panel never is."""
    return any(rows[i] > 200 and rows[i + 1] > 200 and rows[i + 2] < 90
               for i in range(0, len(rows), 3))


@unittest.skipUnless(BUILD and shutil.which("Xvfb") and shutil.which("xdotool"),
                     "needs EASEL_BUILD_DIR, Xvfb and xdotool")
class SharedBoard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display(2 * W, H)
        cls.workdir = tempfile.mkdtemp(prefix="easel-server-")
        cls.server = subprocess.Popen(
            [os.path.join(BUILD, "server", "easel-server"), "--port", "0", "--bind", "127.0.0.1",
             "--board", os.path.join(cls.workdir, "board.easel")],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        cls.server_lines = []
        cls.server_searched = 0
        threading.Thread(target=cls.read_server, daemon=True).start()
        cls.port = int(cls.wait_server(r"listening on \S*:(\d+)").group(1))
        cls.alice = Client(cls.display, "alice", cls.port, 0)
        cls.wait_server(r"logged in as \d+ \"alice\"")
        cls.bob = Client(cls.display, "bob", cls.port, W)
        cls.wait_server(r"logged in as \d+ \"bob\"")

    @classmethod
    def read_server(cls):
        for line in cls.server.stdout:
            cls.server_lines.append(line)

    @classmethod
    def wait_server(cls, pattern, timeout=20):
        """The first match of pattern among the server's lines not yet searched."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            while cls.server_searched < len(cls.server_lines):
                line = cls.server_lines[cls.server_searched]
                cls.server_searched += 1
                m = re.search(pattern, line)
                if m:
                    return m
            time.sleep(0.1)
        raise AssertionError("the server never said %r; it said:\n%s"
                             % (pattern, "".join(cls.server_lines)))

    @classmethod
    def tearDownClass(cls):
        for c in (cls.alice, cls.bob):
            c.stop()
        if cls.server.poll() is None:
            cls.server.kill()
        cls.server.wait()
        cls.display.close()
        shutil.rmtree(cls.workdir, ignore_errors=True)

    def settled_canvases(self, keep_as=None, timeout=60):
        """Screenshots until both pictures agree (overlay lines expire one by
        one, strokes arrive); returns the last pair."""
        deadline = time.time() + timeout
        while True:
            self.alice.park()
            self.bob.park()
            time.sleep(0.5)
            shot = self.display.shot(keep_as)
            a, b = self.alice.canvas(shot), self.bob.canvas(shot)
            if a == b or time.time() > deadline:
                return a, b

    def test_1_strokes_of_every_tool_cross_and_the_pictures_agree(self):
        blank, _ = self.settled_canvases()
        type(self).blank = blank
        for tool in (PEN, PENCIL, BRUSH, CHALK, STAMP):
            self.alice.select_tool(tool)
            y0 = 120 + 70 * tool
            self.alice.drag([(OX + 100 + 9 * i, OY + y0 + (12 if i % 6 < 3 else -12))
                             for i in range(50)])
        # Smudge drags the strokes above down across the picture.
        self.alice.select_tool(SMUDGE)
        self.alice.drag([(OX + 250 + 3 * (i % 2), OY + 100 + 8 * i) for i in range(45)])
        self.bob.pick_red()
        self.bob.select_tool(BRUSH)
        self.bob.drag([(OX + 700, OY + 80 + 8 * i) for i in range(60)])
        a, b = self.settled_canvases("strokes")
        self.assertGreater(differing_pixels(blank, a), 5000, "the strokes left no mark")
        self.assertEqual(differing_pixels(a, b), 0, "the two pictures differ")
        reds = sum(1 for i in range(0, len(a), 3) if a[i] > 150 and a[i + 1] < 90 and a[i + 2] < 90)
        self.assertGreater(reds, 500, "bob's red stroke is missing")

    def test_2_a_chat_line_shows_in_both(self):
        for c in (self.alice, self.bob):
            c.park()
            c.key("slash")
        time.sleep(0.5)
        before = self.display.shot()
        self.alice.say("hello board")
        time.sleep(1.5)
        after = self.display.shot("chat")
        a, b = self.alice.newest_lines(after, 1), self.bob.newest_lines(after, 1)
        self.assertEqual(a, b, "the newest chat line differs between the clients")
        self.assertNotEqual(a, self.alice.newest_lines(before, 1))
        self.assertNotEqual(b, self.bob.newest_lines(before, 1))

    def test_3_user_lists_both(self):
        before = self.display.shot()
        for c in (self.alice, self.bob):
            c.say("/user")
        time.sleep(1)
        shot = self.display.shot("users")
        # "Users:", then alice and bob by id: the same three lines in both.
        a, b = self.alice.newest_lines(shot, 3), self.bob.newest_lines(shot, 3)
        self.assertNotEqual(a, self.alice.newest_lines(before, 3))
        self.assertTrue(has_yellow(a))
        self.assertEqual(a, b)

    def test_4_restart_vote_by_both_clears_both(self):
        self.alice.say("/restart")
        time.sleep(0.5)
        self.bob.say("/restart")
        self.wait_server(r"restart: ")
        time.sleep(1)
        for c in (self.alice, self.bob):
            c.park()
            c.key("Escape")
        deadline = time.time() + 60
        while True:
            a, b = self.settled_canvases("restarted")
            if (a == self.blank and b == self.blank) or time.time() > deadline:
                break
        self.assertEqual(differing_pixels(a, self.blank), 0)
        self.assertEqual(differing_pixels(b, self.blank), 0)

    def test_5_killed_server_leaves_both_painting_offline(self):
        for c in (self.alice, self.bob):
            c.park()
            c.key("slash")
        time.sleep(0.5)
        before = self.display.shot()
        self.server.send_signal(signal.SIGKILL)
        self.server.wait()
        time.sleep(1.5)
        after = self.display.shot("disconnected")
        a, b = self.alice.newest_lines(after, 1), self.bob.newest_lines(after, 1)
        # "You have been disconnected from 127.0.0.1:<port>" in both.
        self.assertTrue(has_yellow(a))
        self.assertEqual(a, b)
        self.assertNotEqual(a, self.alice.newest_lines(before, 1))
        for c in (self.alice, self.bob):
            c.park()
            c.key("Escape")
        canvas_a, canvas_b = self.settled_canvases()
        self.alice.select_tool(PEN)
        self.alice.drag([(OX + 200 + 8 * i, OY + 400) for i in range(40)])
        time.sleep(0.5)
        self.alice.park()
        self.bob.park()
        time.sleep(0.5)
        shot = self.display.shot("offline")
        self.assertGreater(differing_pixels(canvas_a, self.alice.canvas(shot)), 100)
        self.assertEqual(differing_pixels(canvas_b, self.bob.canvas(shot)), 0)
        self.assertIsNone(self.alice.proc.poll())
        self.assertIsNone(self.bob.proc.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
