#!/usr/bin/env python3
"""easel-render's command line: a board file built byte by byte here
(independently of the client's encoders) is drawn into PNG and BMP pictures
whose pixels are pinned by hash; a torn last frame is reported and the rest
drawn; bad input gives a message and status 2."""
import hashlib
import os
import pathlib
import subprocess
import tempfile
import unittest

from formats import Image, bmp_bytes, frame, points, scaled
from harness import binary_path

RENDER = binary_path("tools/easel-render")
WIDTH, HEIGHT = 912, 684

# sha256 of the RGB bytes, rows top to bottom.
PINNED = {
    "white": "517faf26f095e3380475816770b792fd5700af8c3ef7736f235f14b9ff81f560",
    "paper": "9945a105017067bb1de87d093bbc2785456c62170d48b8c23f0801528fbbf813",
}


def wave(n, x0, y0, dx, amp):
    return points([(x0 + i * dx, y0 + ((i * 37) % (2 * amp)) - amp) for i in range(n)])


BOARD = b"".join([
    frame(6, bytes([1]) + b"Ann\0"),  # a login reply: not drawn
    frame(0, bytes([1, 200, 30, 30]) + wave(30, 60, 80, 12, 20)),
    frame(1, bytes([2]) + (1234).to_bytes(4, "little") + bytes([20, 20, 160]) + scaled(6.0) + wave(40, 80, 200, 10, 15)),
    frame(2, bytes([0]) + (99).to_bytes(4, "little") + bytes([10, 140, 40]) + scaled(9.0) + scaled(120.0)
          + wave(50, 100, 330, 9, 25)),
    frame(3, bytes([0]) + bytes(4) + bytes([250, 200, 0]) + scaled(10.0) + wave(35, 120, 470, 11, 30)),
    frame(4, bytes([0]) + scaled(11.0) + scaled(700.0) + wave(60, 70, 90, 8, 90)),
    frame(12, bytes([0, 90, 0, 120]) + scaled(6.5) + scaled(40.0) + wave(45, 150, 600, 13, 10)),
    frame(5, bytes([0]) + b"hello\0"),  # chat: no pixels
    frame(13, bytes([1, 2, 3, 4, 5])),  # unknown: ignored
    frame(0, bytes([0, 1, 2, 3]) + b"\x01\x00\x02"),  # no whole point: ignored
])


class EaselRender(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        for name, data in {"board.bin": BOARD, "empty.bin": b"", "cut.bin": BOARD + frame(0, bytes(4) + bytes(80))[:9],
                           "bg.bmp": bmp_bytes(912, 684, lambda x, y: (0, 0, 255)),
                           "red.bmp": bmp_bytes(64, 32, lambda x, y: (255, 0, 0))}.items():
            pathlib.Path(self.path(name)).write_bytes(data)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def run_render(self, *args):
        return subprocess.run([RENDER, *args], cwd=self.dir.name, capture_output=True, text=True, timeout=120)

    def render(self, board, out, *extra):
        r = self.run_render(self.path(board), self.path(out), *extra)
        self.assertEqual(0, r.returncode, r.stderr)
        image = Image.read(["convert", self.path(out)])
        self.assertEqual((WIDTH, HEIGHT), (image.width, image.height))
        return image, r.stderr

    def test_boards_are_drawn_to_pinned_pixels_alike_in_png_and_bmp_and_beside_a_background_picture(self):
        for background in ("white", "paper"):
            png, _ = self.render("board.bin", background + ".png", "--background", background)
            bmp, _ = self.render("board.bin", background + ".bmp", "--background", background)
            self.assertEqual(png, bmp)
            self.assertEqual(PINNED[background], hashlib.sha256(png.data).hexdigest())
        # Paper is the default, also with a bg.bmp in the working directory.
        self.assertEqual(self.render("board.bin", "default.png")[0], png)
        # A torn last frame is reported and the frames before it drawn.
        torn, err = self.render("cut.bin", "cut.png")
        self.assertEqual(torn, png)
        self.assertIn("truncated frame at byte %d" % len(BOARD), err)
        red, _ = self.render("empty.bin", "r.bmp", "--background", self.path("red.bmp"))
        self.assertEqual([(255, 0, 0), (255, 0, 0), (0, 0, 0), (0, 0, 0)],
                         [red.pixel(0, 0), red.pixel(63, 31), red.pixel(64, 0), red.pixel(0, 32)])

    def test_timelapse_has_the_asked_length_and_ends_on_the_still_picture(self):
        still, _ = self.render("board.bin", "still.png")
        video = self.path("evening.mp4")
        r = self.run_render(self.path("board.bin"), video, "--timelapse", "--seconds", "2.5", "--fps", "4",
                            "--lossless")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("", r.stderr)  # no progress bar without a terminal
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                             capture_output=True).stdout
        size = WIDTH * HEIGHT * 3
        frames = [raw[i:i + size] for i in range(0, len(raw), size)]
        self.assertEqual(10, len(frames))
        # 912 x 684 frames; the last second holds the finished picture.
        self.assertEqual([still.data] * 4, frames[6:])
        # Growth frames after 1, 3, 5, 6, 8 and 10 of the 10 frames: paper first, the last two equal.
        self.assertEqual(5, len(set(frames)))
        r = subprocess.run([RENDER, self.path("board.bin"), video, "--timelapse"], env={"PATH": "/nonexistent"},
                           capture_output=True, text=True)
        self.assertEqual(2, r.returncode)
        self.assertIn("needs the program ffmpeg", r.stderr)

    def test_bad_input_gives_a_message_and_status_2(self):
        board, out = self.path("board.bin"), self.path("x.png")
        for args, text in [
                ([self.path("missing.bin"), out], "cannot read"), ([self.dir.name, out], "cannot read"),
                ([board, out, "--colour", "red"], "unknown option"),
                ([board, out, "--background", "sepia"], "unknown background"),
                ([board, out, "--background", self.path("no.bmp")], "cannot load"),
                ([board, self.path("x.jpg")], ".png or .bmp"),
                ([board, self.path("no-such-dir/x.png")], "cannot write"), ([board], "usage")]:
            r = self.run_render(*args)
            self.assertEqual((2, True), (r.returncode, text in r.stderr), args)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
