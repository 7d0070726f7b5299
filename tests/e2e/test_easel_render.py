#!/usr/bin/env python3
"""easel-render's command line: a board built byte by byte here is drawn into
PNG and BMP pictures pinned by hash, a torn one up to its tear, a timelapse
ends on the still picture; bad input gives a message and status 2."""
import hashlib
import os
import struct
import subprocess
import unittest

from harness import BUILD_DIR, Image, bmp_bytes, workdir

RENDER = os.path.join(BUILD_DIR, "tools", "easel-render")
PICTURE_BYTES = 912 * 684 * 3

# sha256 of the RGB bytes, rows top to bottom.
PINNED = {
    "white": "517faf26f095e3380475816770b792fd5700af8c3ef7736f235f14b9ff81f560",
    "paper": "9945a105017067bb1de87d093bbc2785456c62170d48b8c23f0801528fbbf813",
}


def frame(kind, payload):
    """A protocol frame: type byte, little-endian payload length, payload."""
    return bytes([kind]) + struct.pack("<H", len(payload)) + payload


def scaled(*settings):
    """0..400 settings as the wire's 16-bit fractions."""
    return b"".join(struct.pack("<H", int(min(v, 400.0) * 65.535)) for v in settings)


def wave(n, x0, y0, dx, amp):
    return b"".join(struct.pack("<hh", x0 + i * dx, y0 + ((i * 37) % (2 * amp)) - amp) for i in range(n))


BOARD = b"".join([
    frame(6, bytes([1]) + b"Ann\0"),  # a login reply: not drawn
    frame(0, bytes([1, 200, 30, 30]) + wave(30, 60, 80, 12, 20)),
    frame(1, bytes([2, 0xD2, 4, 0, 0, 20, 20, 160]) + scaled(6.0) + wave(40, 80, 200, 10, 15)),  # seed 1234
    frame(2, bytes([0, 99, 0, 0, 0, 10, 140, 40]) + scaled(9.0, 120.0) + wave(50, 100, 330, 9, 25)),
    frame(3, bytes([0, 0, 0, 0, 0, 250, 200, 0]) + scaled(10.0) + wave(35, 120, 470, 11, 30)),
    frame(4, bytes([0]) + scaled(11.0, 700.0) + wave(60, 70, 90, 8, 90)),
    frame(12, bytes([0, 90, 0, 120]) + scaled(6.5, 40.0) + wave(45, 150, 600, 13, 10)),
    frame(5, bytes([0]) + b"hello\0"),  # chat: no pixels
    frame(13, bytes([1, 2, 3, 4, 5])),  # unknown: ignored
    frame(0, bytes([0, 1, 2, 3]) + b"\x01\x00\x02"),  # no whole point: ignored
])


class EaselRender(unittest.TestCase):
    def setUp(self):
        self.dir = workdir(self, {"board.bin": BOARD, "empty.bin": b"", "cut.bin": BOARD + frame(0, bytes(84))[:9],
                                  "bg.bmp": bmp_bytes(912, 684, lambda x, y: (0, 0, 255)),
                                  "red.bmp": bmp_bytes(64, 32, lambda x, y: (255, 0, 0))})

    def run_render(self, *args, env=None):
        """easel-render in the working directory, which holds its files."""
        return subprocess.run([RENDER, *args], cwd=self.dir, env=env, capture_output=True, text=True, timeout=120)

    def render(self, board, out, *options):
        r = self.run_render(board, out, *options)
        self.assertEqual(0, r.returncode, r.stderr)
        return Image.read(["convert", os.path.join(self.dir, out)]), r.stderr

    def test_pinned_pictures_alike_in_png_and_bmp_a_torn_board_and_a_timelapse_ending_on_the_picture(self):
        for background in ("white", "paper"):
            png, _ = self.render("board.bin", background + ".png", "--background", background)
            self.assertEqual(png, self.render("board.bin", background + ".bmp", "--background", background)[0])
            self.assertEqual(PINNED[background], hashlib.sha256(png.data).hexdigest())
        # Paper is the default, also with a bg.bmp in the working directory.
        self.assertEqual(self.render("board.bin", "default.png")[0], png)
        # A torn last frame is reported and the frames before it drawn.
        torn, err = self.render("cut.bin", "cut.png")
        self.assertEqual(torn, png)
        self.assertIn("truncated frame at byte %d" % len(BOARD), err)
        red, _ = self.render("empty.bin", "r.bmp", "--background", "red.bmp")
        self.assertEqual([(255, 0, 0), (255, 0, 0), (0, 0, 0), (0, 0, 0)],
                         [red.pixel(0, 0), red.pixel(63, 31), red.pixel(64, 0), red.pixel(0, 32)])

        r = self.run_render("board.bin", "evening.mp4", "--timelapse", "--seconds", "2.5", "--fps", "4", "--lossless")
        self.assertEqual((0, ""), (r.returncode, r.stderr))  # no progress bar without a terminal
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", os.path.join(self.dir, "evening.mp4"), "-f", "rawvideo",
                              "-pix_fmt", "rgb24", "-"], capture_output=True, check=True).stdout
        frames = [raw[i:i + PICTURE_BYTES] for i in range(0, len(raw), PICTURE_BYTES)]
        # Ten frames. Growth frames after 1, 3, 5, 6, 8 and 10 of them: paper
        # first, the last two equal; the last second holds the finished picture.
        self.assertEqual((10, 5), (len(frames), len(set(frames))))
        self.assertEqual([png.data] * 4, frames[6:])

    def test_bad_input_gives_a_message_and_status_2(self):
        for args, text in [
                (["missing.bin", "x.png"], "cannot read"), ([".", "x.png"], "cannot read"),
                (["board.bin", "x.png", "--colour", "red"], "unknown option"),
                (["board.bin", "x.png", "--background", "sepia"], "unknown background"),
                (["board.bin", "x.png", "--background", "no.bmp"], "cannot load"),
                (["board.bin", "x.jpg"], ".png or .bmp"), (["board.bin", "no-such-dir/x.png"], "cannot write"),
                (["board.bin"], "Usage:"), (["board.bin", "x.mp4", "--timelapse"], "needs the program ffmpeg")]:
            r = self.run_render(*args, env=dict(os.environ, PATH="/nonexistent"))  # no ffmpeg to be found
            self.assertEqual((2, True), (r.returncode, text in r.stderr), args)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.png")))


if __name__ == "__main__":
    unittest.main()
