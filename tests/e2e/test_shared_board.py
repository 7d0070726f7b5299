"""The shared board end to end: easel-server and two easel clients, each on a
virtual display of its own. Strokes of every tool cross from one client to the
other and both pictures end up identical to the pixel; a chat line and /user
reach both; a restart vote by both clears both pictures; a killed server
leaves both clients painting offline."""
import signal
import time
import unittest

import harness
from harness import EaselSession, Server, XServer, config_bytes, wait_until

W, H = 960, 720                      # each client's window
OX, OY = (W - 912) // 2, (H - 684) // 2
PANEL_H = H - 42                     # the chat panel above the tool bar
LINE_H = 14                          # one unwrapped chat line in the panel
EMPTY_INPUT_H = 4                    # the empty input line under the history
PEN, PENCIL, BRUSH, CHALK, SMUDGE, STAMP, PAINT, CHAT = range(8)
STRIP = (128, 172, 255)              # the tool bar right of the last slot
WHITE = (255, 255, 255)


class Client:
    """One easel on a virtual display of its own, where the keyboard follows
    the pointer and no other window takes the focus; input in window coordinates."""

    def __init__(self, name, port):
        self.x = XServer(W, H).start()
        self.session = EaselSession(self.x, config=config_bytes(W, H, server="127.0.0.1", port=port, user=name))
        self.session.start().wait_window(W, H)

    def move(self, x, y):
        self.session.pointer_to(x, y)

    def press(self):
        # Held a while: the frame loop samples the buttons, it sees no events.
        self.x.mouse_down()
        time.sleep(0.15)
        self.x.mouse_up()
        time.sleep(0.3)

    def key(self, *keys):
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

    # Each step waits for what the tool bar shows, so that a busy machine cannot lose one.
    def pixel(self, x, y):
        # A client that ended can show nothing more: say so at once, with its output.
        if not self.session.running():
            raise AssertionError("easel ended (%s):\n%s" % (self.session.proc.poll(), self.session.stderr()))
        return self.x.screenshot(x, y, 1, 1).pixel(0, 0)

    def toggle_bar(self, key, shown):
        self.park()
        self.key(key)
        wait_until(lambda: (self.pixel(W - 5, H - 5) == STRIP) == shown, what="the tool bar")

    def choose_slot(self, tool):
        """Presses the slot until its selection mark (white left edge) shows."""
        for _ in range(3):
            self.move(42 * tool + 21, H - 21)
            self.press()
            try:
                return wait_until(lambda: self.pixel(42 * tool, H - 22) == WHITE, timeout=5)
            except harness.HarnessError:
                pass
        raise AssertionError("slot %d could not be selected" % tool)

    def select_tool(self, tool, then_press_at=None):
        self.toggle_bar("Tab", True)
        self.choose_slot(tool)
        if then_press_at:
            self.move(*then_press_at)
            self.press()
        self.toggle_bar("Tab", False)

    def open_chat(self):
        self.toggle_bar("slash", True)
        wait_until(lambda: self.pixel(42 * CHAT, H - 22) == WHITE, what="the chat panel")

    def say(self, line):
        """Types a line into the open chat panel, the pointer on the tool bar."""
        self.move(W - 20, H - 10)
        self.x.type(line, delay_ms=40)
        self.key("Return")

    def canvas(self):
        return self.x.screenshot(OX, OY, 912, 684)

    def newest_lines(self, n):
        """The rows of the chat panel's newest n history lines."""
        return self.x.screenshot(0, PANEL_H - EMPTY_INPUT_H - n * LINE_H, W, n * LINE_H)


def differing_pixels(a, b):
    return sum(1 for i in range(0, len(a.data), 3) if a.data[i:i + 3] != b.data[i:i + 3])


def has_yellow(image):
    """System lines are yellow; the dimmed picture behind the panel never is."""
    d = image.data
    return any(d[i] > 200 and d[i + 1] > 200 and d[i + 2] < 90 for i in range(0, len(d), 3))


class SharedBoard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
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
        cls.server.stop()

    def canvases(self, want=None, timeout=60):
        """Waits until both pictures agree (and equal want when given): overlay
        lines expire one by one, strokes arrive. Returns the pair."""
        def agree():
            for c in self.clients:
                c.park()
            time.sleep(0.5)
            a, b = self.alice.canvas(), self.bob.canvas()
            return a == b and (want is None or a == want) and (a, b)
        return wait_until(agree, timeout, what="the same picture in both clients")

    def newest_lines(self, before, n):
        """Waits until both panels' newest n lines changed from before (their
        lines then) and agree; returns them."""
        def changed_and_agree():
            a, b = self.alice.newest_lines(n), self.bob.newest_lines(n)
            return a != before[0] and b != before[1] and a == b and a
        return wait_until(changed_and_agree, interval=0.3, what="the same new chat lines in both")

    def open_chat_panels(self):
        for c in self.clients:
            c.open_chat()
        time.sleep(0.3)
        return self.lines_now()

    def lines_now(self, n=1):
        return self.alice.newest_lines(n), self.bob.newest_lines(n)

    def test_1_strokes_of_every_tool_cross_and_the_pictures_agree(self):
        blank, _ = self.canvases()
        type(self).blank = blank
        for tool in (PEN, PENCIL, BRUSH, CHALK, STAMP):
            self.alice.select_tool(tool)
            y0 = 120 + 70 * tool
            self.alice.drag([(OX + 100 + 9 * i, OY + y0 + (12 if i % 6 < 3 else -12)) for i in range(50)])
        # Smudge drags the strokes above down across the picture.
        self.alice.select_tool(SMUDGE)
        self.alice.drag([(OX + 250 + 3 * (i % 2), OY + 100 + 8 * i) for i in range(45)])
        # Palette entry 5 of the Paint panel (416 x 256 over its slot): pure red.
        self.bob.select_tool(PAINT, then_press_at=(42 * PAINT + 21 - 208 + 304, H - 42 - 256 + 176))
        self.bob.select_tool(BRUSH)
        self.bob.drag([(OX + 700, OY + 80 + 8 * i) for i in range(60)])
        a, _ = self.canvases()
        self.assertGreater(differing_pixels(blank, a), 5000, "the strokes left no mark")
        d = a.data
        reds = sum(1 for i in range(0, len(d), 3) if d[i] > 150 and d[i + 1] < 90 and d[i + 2] < 90)
        self.assertGreater(reds, 500, "bob's red stroke is missing")

    def test_2_a_chat_line_shows_in_both(self):
        before = self.open_chat_panels()
        self.alice.say("hello board")
        self.newest_lines(before, 1)

    def test_3_user_lists_both(self):
        before = self.lines_now(3)
        for c in self.clients:
            c.say("/user")
        # "Users:", then alice and bob by id: the same three lines in both,
        # which they could not be if either client missed the other.
        self.assertTrue(has_yellow(self.newest_lines(before, 3)))

    def test_4_restart_vote_by_both_clears_both(self):
        self.alice.say("/restart")
        self.server.wait(r"\"alice\" votes to restart")
        self.bob.say("/restart")
        self.server.wait(r"restart: ")
        for c in self.clients:
            c.toggle_bar("Escape", False)
        self.canvases(want=self.blank)

    def test_5_killed_server_leaves_both_painting_offline(self):
        before = self.open_chat_panels()
        self.server.proc.send_signal(signal.SIGKILL)
        self.server.proc.wait()
        # "You have been disconnected from 127.0.0.1:<port>" in both.
        self.assertTrue(has_yellow(self.newest_lines(before, 1)))
        for c in self.clients:
            c.toggle_bar("Escape", False)
        canvas_a, canvas_b = self.canvases()
        self.alice.select_tool(PEN)
        self.alice.drag([(OX + 200 + 8 * i, OY + 400) for i in range(40)])
        self.alice.park()
        time.sleep(0.5)
        self.assertGreater(differing_pixels(canvas_a, self.alice.canvas()), 100)
        self.assertEqual(differing_pixels(canvas_b, self.bob.canvas()), 0)
        self.assertTrue(self.alice.session.running() and self.bob.session.running())


if __name__ == "__main__":
    harness.main()
