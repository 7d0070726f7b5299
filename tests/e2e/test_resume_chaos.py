"""A dropped link loses nothing. Two pages, desktop clients and easel-load
painters paint through proxies that cut their links at random points
(mid-frame, after a stroke went up, with an acknowledgement swallowed), and
the server is killed and started again on its board midway. Once the cuts
stop, every stroke anyone drew is on the board exactly once, in its painter's
order, and every client shows the server's picture."""
import collections
import contextlib
import os
import pathlib
import signal
import struct
import subprocess
import unittest

from cut_proxy import CutProxy
from harness import BUILD_DIR, Image, Server, start, wait_until
from page import Page, fnv, zigzag
from test_page_link import free_port
from test_shared_board import OX, OY, Client

SEED = int(os.environ.get("EASEL_CHAOS_SEED", "37"))
DESKTOPS, PAGES, LOADS = 2, 2, 2
ROUNDS = 10  # strokes each desktop and page draws, the server killed after half of them
FRAME_KINDS = {"mid-frame", "after a stroke", "acknowledgement"}


def board_frames(path):
    """The board file's whole frames: bytes each, the user id byte zeroed."""
    data = pathlib.Path(path).read_bytes()
    frames, at = [], 0
    while at + 3 <= len(data) and at + 3 + struct.unpack_from("<H", data, at + 1)[0] <= len(data):
        end = at + 3 + struct.unpack_from("<H", data, at + 1)[0]
        frames.append(data[at:at + 3] + b"\0" + data[at + 4:end])
        at = end
    return frames


@unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")), "no painting page in this build")
class ResumeChaos(unittest.TestCase):
    maxDiff = None

    def start_server(self, again=None):
        self.server = Server(self, "--port", str(self.ports[0]), "--http", str(self.ports[1]), "--web-origin",
                             "http://127.0.0.1:%d" % self.web.port, "--login-rate", "0", again=again)

    def test_every_stroke_lands_once_in_order_through_cuts_and_a_killed_server(self):
        self.ports = free_port(), free_port()
        self.tcp, self.web = CutProxy(self.ports[0], SEED, every=12), CutProxy(self.ports[1], SEED + 1, framed=False)
        self.addCleanup(self.tcp.close)
        self.addCleanup(self.web.close)
        self.start_server()
        board = os.path.join(self.server.dir, "board.easel")

        logs = [os.path.join(self.server.dir, "load%d.log" % i) for i in range(LOADS)]
        loads = [start(self, os.path.join(BUILD_DIR, "tools", "easel-load"), "--resume", "--port", str(self.tcp.port),
                       "--clients", "1", "--rate", "3", "--seconds", "30", "--seed", str(SEED + i), "--log", logs[i],
                       stdout=subprocess.PIPE, text=True) for i in range(LOADS)]
        desktops = [Client(self, "desk%d" % d, self.tcp.port) for d in range(DESKTOPS)]
        for d in range(DESKTOPS):
            self.server.log_match(r'logged in as \d+ "desk%d"' % d, 60)
        pages = []
        for p in range(PAGES):
            pages.append(Page(self, "http://127.0.0.1:%d/" % self.web.port))
            pages[-1].login("page%d" % p)
        for p, page in enumerate(pages):
            wait_until(lambda: "page%d (you)" % p in page.text("#roster"), 60, what="page%d on its roster" % p)

        # Each desktop and page stroke is known by its first board point.
        expected = collections.defaultdict(list)
        owner = {}
        for k in range(ROUNDS):
            if k == ROUNDS // 2:
                self.server.proc.send_signal(signal.SIGKILL)
                self.server.proc.wait()
                self.start_server(again=self.server)
            for d, desk in enumerate(desktops):
                first = (30 + 70 * k, 40 + 90 * d)
                desk.drag([(OX + x, OY + y) for x, y in zigzag(*first, 12, 7)])
                owner[first] = ("desk%d" % d, k)
                expected["desk%d" % d].append(k)
            for p, page in enumerate(pages):
                points = zigzag(*page.screen_point(30 + 70 * k, 400 + 90 * p), 12, 7)
                page.drag(points)
                owner[page.board_point(*points[0])] = ("page%d" % p, k)
                expected["page%d" % p].append(k)
        wait_until(lambda: FRAME_KINDS <= set(self.tcp.cuts) and self.web.cuts["byte"], 120, what="cuts of every kind")
        self.tcp.cutting = self.web.cutting = False

        for load in loads:
            out = load.communicate(timeout=180)[0]
            self.assertEqual(load.returncode, 0, out)
        known = {}  # an easel-load stroke by its bytes
        for i, log in enumerate(logs):
            for line in pathlib.Path(log).read_text().splitlines():
                kind, _, sequence, *frame = line.split()
                self.assertNotEqual(kind, "dropped", "load%d dropped stroke %s" % (i, sequence))
                if kind != "stroke":
                    continue
                known[bytes.fromhex(frame[0])] = ("load%d" % i, int(sequence))
                expected["load%d" % i].append(int(sequence))

        def drawn():
            """Each painter's strokes in the board's order."""
            found = collections.defaultdict(list)
            for n, frame in enumerate(board_frames(board)):
                first = frame[0] == 0 and struct.unpack_from("<hh", frame, 7)
                painter, k = known.get(frame) or owner.get(first) or ("unknown", n)
                found[painter].append(k)
            return found
        with contextlib.suppress(AssertionError):  # the comparison below tells what is missing
            wait_until(lambda: all(set(drawn()[p]) >= set(ks) for p, ks in expected.items()), 120, interval=0.5)
        self.assertEqual(dict(drawn()), dict(expected))

        png = os.path.join(self.server.dir, "render.png")
        subprocess.run([os.path.join(BUILD_DIR, "tools", "easel-render"), board, png], check=True, timeout=60)
        picture = Image.read(["convert", png])
        for p, page in enumerate(pages):
            wait_until(lambda: page.picture_hash() == fnv(picture.data), 60, what="the board on page%d" % p)
        for d, desk in enumerate(desktops):
            desk.park()
            wait_until(lambda: desk.screenshot(OX, OY, 912, 684) == picture, 60, interval=0.5,
                       what="the board on desk%d" % d)


if __name__ == "__main__":
    unittest.main()
