"""The shared board end to end: easel-server and two easel clients side by side
on one virtual display. Strokes of every tool cross from one client to the
other and both pictures end up identical to the pixel; a chat line and /user
reach both; a restart vote by both clears both pictures; a killed server
leaves both clients painting offline.

EASEL_E2E_SHOTS names a folder that keeps the screenshots for a look."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import EaselSession, XServer, config_bytes, wait_until  # noqa: E402

W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PANEL_H = H - 42                     # the chat panel above the tool bar
LINE_H = 14                          # one unwrapped chat line in the panel
EMPTY_INPUT_H = 4                    # the empty input line under the history
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP, PAINT, CHAT = range(8)
STRIP = (128, 172, 255)              # the tool bar right of the last slot
WHITE = (255, 255, 255)


class Server:
    """easel-server on a free port of 127.0.0.1, its log read as it comes."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="easel-server-")
        self.proc = subprocess.Popen(
            [harness.binary_path(os.path.join("server", "easel-server")), "--port", "0",
             "--bind", "127.0.0.1", "--board", os.path.join(self.dir, "board.easel")],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines, self.searched = [], 0
        threading.Thread(target=self._read, daemon=True).start()
        self.port = int(self.wait(r"listening on \S*:(\d+)").group(1))

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line)

    def wait(self, pattern):
        """The first match of pattern in the log lines not searched before."""
        def find():
            while self.searched < len(self.lines):
                self.searched += 1
                m = re.search(pattern, self.lines[self.searched - 1])
                if m:
                    return m
            return None
        try:
            return wait_until(find, what="the server to log %r" % pattern)
        except harness.HarnessError:
            raise AssertionError("the server never logged %r:\n%s" % (pattern, "".join(self.lines)))

    def stop(self):
        harness.end_process(self.proc)


class Client:
    """One easel, its window moved to x0 on the display."""

    def __init__(self, x, name, port, x0):
        self.x, self.x0 = x, x0
        self.session = EaselSession(x, config=config_bytes(W, H, server="127.0.0.1", port=port,
                                                           user=name))
        others = {w[0] for w in x.windows()}
        self.session.start()

        def new_window():
            if not self.session.running():
                raise AssertionError("%s ended:\n%s" % (name, self.session.stderr()))
            return next((w for w in x.windows()
                         if w[1] == "easel" and w[2:4] == (W, H) and w[0] not in others), None)
        wid = wait_until(new_window, what="the window of " + name)[0]
        if x0:
            x.run("xdotool", "windowmove", wid, str(x0), "0")
        self.session.window = (wid, "easel", W, H, x0, 0)
        self.wid = wid

    def focus(self):
        # The pointer is inside the window too; explicit focus survives a
        # window that took the focus for itself.
        self.x.run("xdotool", "windowfocus", self.wid)

    # Input, in window coordinates. The keyboard follows the pointer.
    def move(self, x, y):
        self.session.pointer_to(x, y)

    def press(self):
        # Held a while: the frame loop samples the buttons, it sees no events.
        self.x.mouse_down()
        time.sleep(0.15)
        self.x.mouse_up()
        time.sleep(0.3)

    def key(self, *keys):
        time.sleep(0.2)
        self.focus()
        self.x.key(*keys, delay_ms=60)
        time.sleep(0.15)

    def park(self):
        """The pointer on the left black band, where no picture is compared."""
        self.move(4, H // 2)

    def drag(self, path):
        self.move(*path[0])
        time.sleep(0.1)
        self.x.mouse_down()
        for x, y in path[1:]:
            self.move(x, y)
            time.sleep(0.015)
        time.sleep(0.1)
        self.x.mouse_up()
        time.sleep(0.3)

    # What the tool bar shows, so that a busy machine cannot lose a step.
    def pixel(self, x, y):
        return self.x.screenshot(self.x0 + x, y, 1, 1).pixel(0, 0)

    def wait_bar(self, shown):
        wait_until(lambda: (self.pixel(W - 5, H - 5) == STRIP) == shown,
                   what="the tool bar %s" % ("shown" if shown else "hidden"))

    def show_bar(self):
        self.park()
        self.key("Tab")
        self.wait_bar(True)

    def hide_bar(self, key="Tab"):
        self.park()
        self.key(key)
        self.wait_bar(False)

    def choose_slot(self, tool):
        """Presses the slot until its selection mark (white left edge) shows."""
        def selected():
            return self.pixel(42 * tool, H - 22) == WHITE
        for _ in range(3):
            self.move(42 * tool + 21, H - 21)
            self.press()
            try:
                return wait_until(selected, timeout=5, what="slot %d selected" % tool)
            except harness.HarnessError:
                pass
        raise AssertionError("slot %d could not be selected" % tool)

    def select_tool(self, tool):
        self.show_bar()
        self.choose_slot(tool)
        self.hide_bar()

    def pick_red(self):
        """Palette entry 5 of the Paint panel (416 x 256 over slot 6): pure red."""
        self.show_bar()
        self.choose_slot(PAINT)
        self.move(42 * PAINT + 21 - 208 + 304, H - 42 - 256 + 176)
        self.press()
        self.hide_bar()

    def open_chat(self):
        self.park()
        self.key("slash")
        self.wait_bar(True)
        wait_until(lambda: self.pixel(42 * CHAT, H - 22) == WHITE, what="the chat panel")

    def say(self, line):
        """Types a line into the open chat panel, the pointer on the tool bar."""
        self.move(W - 20, H - 10)
        time.sleep(0.3)
        self.focus()
        self.x.type(line, delay_ms=40)
        self.key("Return")

    # Views of a screenshot of the whole display.
    def canvas(self, shot):
        return shot.crop(self.x0 + OX, OY, 912, 684)

    def newest_lines(self, shot, n):
        """The rows of the chat panel's newest n history lines."""
        return shot.crop(self.x0, PANEL_H - EMPTY_INPUT_H - n * LINE_H, W, n * LINE_H)


def differing_pixels(a, b):
    return sum(1 for i in range(0, len(a.data), 3) if a.data[i:i + 3] != b.data[i:i + 3])


def has_yellow(image):
    """System lines are yellow; the dimmed picture behind the panel never is."""
    d = image.data
    return any(d[i] > 200 and d[i + 1] > 200 and d[i + 2] < 90 for i in range(0, len(d), 3))


class SharedBoard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer(2 * W, H).start()
        cls.server = Server()
        cls.alice = Client(cls.x, "alice", cls.server.port, 0)
        cls.server.wait(r"logged in as \d+ \"alice\"")
        cls.bob = Client(cls.x, "bob", cls.server.port, W)
        cls.server.wait(r"logged in as \d+ \"bob\"")

    @classmethod
    def tearDownClass(cls):
        for c in (cls.alice, cls.bob):
            c.session.close()
        cls.server.stop()
        cls.x.stop()

    def shot(self, keep_as=None):
        image = self.x.screenshot()
        if keep_as and os.environ.get("EASEL_E2E_SHOTS"):
            image.save_ppm(os.path.join(os.environ["EASEL_E2E_SHOTS"], keep_as + ".ppm"))
        return image

    def settled_canvases(self, keep_as=None, want=None, timeout=60):
        """Screenshots until both pictures agree, and equal want when given
        (overlay lines expire one by one, strokes arrive); the last pair."""
        deadline = time.monotonic() + timeout
        while True:
            self.alice.park()
            self.bob.park()
            time.sleep(0.5)
            shot = self.shot(keep_as)
            a, b = self.alice.canvas(shot), self.bob.canvas(shot)
            if (a == b and (want is None or a == want)) or time.monotonic() > deadline:
                return a, b

    def newest_lines_settle(self, before, n, keep_as):
        """Screenshots until both panels' newest n lines changed from before and
        agree (or the time is up); the last pair."""
        deadline = time.monotonic() + harness.DEFAULT_TIMEOUT
        while True:
            shot = self.shot(keep_as)
            a, b = self.alice.newest_lines(shot, n), self.bob.newest_lines(shot, n)
            changed = a != self.alice.newest_lines(before, n) and b != self.bob.newest_lines(before, n)
            if (changed and a == b) or time.monotonic() > deadline:
                return a, b
            time.sleep(0.3)

    def open_chat_panels(self):
        for c in (self.alice, self.bob):
            c.open_chat()
        time.sleep(0.3)

    def hide_panels(self):
        for c in (self.alice, self.bob):
            c.hide_bar("Escape")

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
        d = a.data
        reds = sum(1 for i in range(0, len(d), 3) if d[i] > 150 and d[i + 1] < 90 and d[i + 2] < 90)
        self.assertGreater(reds, 500, "bob's red stroke is missing")

    def test_2_a_chat_line_shows_in_both(self):
        self.open_chat_panels()
        before = self.shot()
        self.alice.say("hello board")
        a, b = self.newest_lines_settle(before, 1, "chat")
        self.assertEqual(a, b, "the newest chat line differs between the clients")
        self.assertNotEqual(a, self.alice.newest_lines(before, 1))
        self.assertNotEqual(b, self.bob.newest_lines(before, 1))

    def test_3_user_lists_both(self):
        before = self.shot()
        for c in (self.alice, self.bob):
            c.say("/user")
        # "Users:", then alice and bob by id: the same three lines in both,
        # which they could not be if either client missed the other.
        a, b = self.newest_lines_settle(before, 3, "users")
        self.assertNotEqual(a, self.alice.newest_lines(before, 3))
        self.assertTrue(has_yellow(a))
        self.assertEqual(a, b)

    def test_4_restart_vote_by_both_clears_both(self):
        self.alice.say("/restart")
        time.sleep(0.5)
        self.bob.say("/restart")
        self.server.wait(r"restart: ")
        time.sleep(1)
        self.hide_panels()
        a, b = self.settled_canvases("restarted", want=self.blank)
        self.assertEqual(differing_pixels(a, self.blank), 0)
        self.assertEqual(differing_pixels(b, self.blank), 0)

    def test_5_killed_server_leaves_both_painting_offline(self):
        self.open_chat_panels()
        before = self.shot()
        self.server.proc.send_signal(signal.SIGKILL)
        self.server.proc.wait()
        a, b = self.newest_lines_settle(before, 1, "disconnected")
        # "You have been disconnected from 127.0.0.1:<port>" in both.
        self.assertTrue(has_yellow(a))
        self.assertEqual(a, b)
        self.assertNotEqual(a, self.alice.newest_lines(before, 1))
        self.hide_panels()
        canvas_a, canvas_b = self.settled_canvases()
        self.alice.select_tool(PEN)
        self.alice.drag([(OX + 200 + 8 * i, OY + 400) for i in range(40)])
        self.alice.park()
        self.bob.park()
        time.sleep(0.5)
        shot = self.shot("offline")
        self.assertGreater(differing_pixels(canvas_a, self.alice.canvas(shot)), 100)
        self.assertEqual(differing_pixels(canvas_b, self.bob.canvas(shot)), 0)
        self.assertTrue(self.alice.session.running())
        self.assertTrue(self.bob.session.running())


if __name__ == "__main__":
    harness.main()
