"""Input as a painter gives it, from a fresh client's first frame on: the
pointer jumps (a tablet, a touch screen, a remote desktop) and a button goes
down the moment it arrives, moves come 12 ms apart, and the server's board
must hold the exact points. A right click of a few milliseconds picks the
colour under it. SIGTERM ends the client as Esc does, the log closed, and
the client then ends by that signal."""
import pathlib
import signal
import struct
import unittest

from harness import TIMEOUT, Easel, Server, bmp_bytes, config_bytes

W, H = 1024, 768
OX, OY = (W - 912) // 2, (H - 684) // 2
CELL = 38   # bg.bmp: square cells of one colour each, no two alike
STAMP = r"[A-Z][a-z]{2}/\d\d/\d{4} \d\d:\d\d:\d\d"
RUN = "%s \\[NOTICE\\] Logging Started\\.\n%s \\[NOTICE\\] Logging Stopped\\.\n" % (STAMP, STAMP)


def cell_colour(x, y):
    cx, cy = x // CELL, y // CELL
    return (40 + 9 * cx, 30 + 11 * cy, 200 - 5 * cx - 3 * cy)


BACKGROUND = bmp_bytes(912, 684, cell_colour)


def pen(payload):
    """The colour and the points of a pen command."""
    return tuple(payload[1:4]), list(struct.iter_unpack("<hh", payload[4:]))


def path(a, b, steps):
    return [(a[0] + (b[0] - a[0]) * i // steps, a[1] + (b[1] - a[1]) * i // steps) for i in range(steps + 1)]


class Painter(Easel):
    """A fresh client, shown its board and touched by nothing before the test's first move."""

    def __init__(self, test, port):
        # The screen is larger than the window: the pointer starts off its centre.
        super().__init__(test, {"client.cfg": config_bytes(W, H, "127.0.0.1", port, "pat"), "bg.bmp": BACKGROUND})
        self.wait_window(W, H)
        # A painter waits to see the board, and nothing more.
        self.wait_screen(lambda im: im.pixel(0, 0) == cell_colour(0, 0), "the board", x=OX, y=OY, w=1, h=1)

    @staticmethod
    def jump(point):
        return ["mousemove", str(OX + point[0]), str(OY + point[1])]

    @staticmethod
    def moves(points):
        """Pointer moves to canvas points, 12 ms apart."""
        return [a for p in points for a in ["sleep", "0.012"] + Painter.jump(p)]


class ExactInput(unittest.TestCase):
    def test_presses_and_releases_land_where_the_painter_pressed(self):
        server = Server(self)
        # A jump and at once a 1 ms right click: the colour of that cell. Then a
        # free stroke pressed and released right where the pointer arrives.
        a = Painter(self, server.port)
        pick, start, end = (600, 100), (150, 420), (420, 610)
        stroke = path(start, (330, 380), 9) + path((330, 380), end, 9)[1:]
        a.xdo(*a.jump(pick), "mousedown", "3", "mouseup", "3", *a.moves([start]), "mousedown", "1",
              *a.moves(stroke[1:]), "mouseup", "1")
        colour, points = pen(server.commands(1)[0][1])
        # The picked colour passes through the picker's own conversions: the
        # cell's, give or take one; a neighbour differs by 3 or more.
        near = max(abs(u - v) for u, v in zip(colour, cell_colour(*pick))) <= 1
        self.assertEqual((near, points[0], points[-1]), (True, start, end), "picked %s" % (colour,))

        # Shift held from the press to the release: one straight line, its two
        # ends exactly where the button went down and up.
        b = Painter(self, server.port)
        b.xdo(*b.jump((200, 300)), "keydown", "shift", "mousedown", "1", *b.moves(path((200, 300), (640, 420), 12)[1:]),
              "mouseup", "1", "keyup", "shift")
        self.assertEqual(pen(server.commands(2)[1][1])[1], [(200, 300), (640, 420)])

        b.proc.send_signal(signal.SIGTERM)
        self.assertEqual(b.proc.wait(TIMEOUT), -signal.SIGTERM)
        self.assertRegex(pathlib.Path(b.dir, "client.log").read_text(), "^" + RUN + "$")


if __name__ == "__main__":
    unittest.main()
