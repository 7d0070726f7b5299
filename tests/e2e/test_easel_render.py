#!/usr/bin/env python3
"""easel-render end to end: a board file built byte by byte here (independently
of the client's encoders) is drawn into PNG and BMP pictures whose pixels are
checked against pinned checksums; errors give status 2."""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

BUILD = os.environ.get("EASEL_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
RENDER = os.path.join(BUILD, "tools", "easel-render")
WIDTH, HEIGHT = 912, 684

# sha256 of the RGB bytes, rows top to bottom.
PINNED_WHITE = "517faf26f095e3380475816770b792fd5700af8c3ef7736f235f14b9ff81f560"
PINNED_PAPER = "9945a105017067bb1de87d093bbc2785456c62170d48b8c23f0801528fbbf813"


def frame(kind, payload):
    return bytes([kind]) + struct.pack("<H", len(payload)) + payload


def scaled(v):
    return struct.pack("<H", int(min(max(v, 0.0), 400.0) * 65.535))


def points(pts):
    return b"".join(struct.pack("<hh", x, y) for x, y in pts)


def wave(n, x0, y0, dx, amp):
    return [(x0 + i * dx, y0 + ((i * 37) % (2 * amp)) - amp) for i in range(n)]


def board():
    out = bytearray()
    out += frame(6, bytes([1]) + b"Ann\0")  # a login reply: not drawn
    out += frame(0, bytes([1, 200, 30, 30]) + points(wave(30, 60, 80, 12, 20)))
    out += frame(1, bytes([2]) + struct.pack("<I", 1234) + bytes([20, 20, 160]) + scaled(6.0)
                 + points(wave(40, 80, 200, 10, 15)))
    out += frame(2, bytes([0]) + struct.pack("<I", 99) + bytes([10, 140, 40]) + scaled(9.0)
                 + scaled(120.0) + points(wave(50, 100, 330, 9, 25)))
    out += frame(3, bytes([0]) + struct.pack("<I", 0) + bytes([250, 200, 0]) + scaled(10.0)
                 + points(wave(35, 120, 470, 11, 30)))
    out += frame(4, bytes([0]) + scaled(11.0) + scaled(700.0) + points(wave(60, 70, 90, 8, 90)))
    out += frame(12, bytes([0, 90, 0, 120]) + scaled(6.5) + scaled(40.0)
                 + points(wave(45, 150, 600, 13, 10)))
    out += frame(5, bytes([0]) + b"hello\0")  # chat: no pixels
    out += frame(13, bytes([1, 2, 3, 4, 5]))  # unknown: ignored
    out += frame(0, bytes([0, 1, 2, 3]) + b"\x01\x00\x02")  # no whole point: ignored
    return bytes(out)


def decode_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    w, h, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 2, 0), header
    raw, stride, rows, prev = zlib.decompress(idat), w * 3, [], bytearray(w * 3)
    for y in range(h):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b = prev[i]
            c = prev[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return w, h, b"".join(rows)


def decode_bmp(data):
    assert data[:2] == b"BM", "not a BMP"
    offset = struct.unpack("<I", data[10:14])[0]
    w, h = struct.unpack("<ii", data[18:26])
    bits = struct.unpack("<H", data[28:30])[0]
    assert bits in (24, 32), bits
    step = bits // 8
    stride = (w * step + 3) & ~3
    rows = []
    for y in range(abs(h)):
        src = y if h < 0 else abs(h) - 1 - y
        line = data[offset + src * stride:offset + src * stride + w * step]
        rgb = bytearray()
        for x in range(w):
            b, g, r = line[x * step:x * step + 3]
            rgb += bytes((r, g, b))
        rows.append(bytes(rgb))
    return w, abs(h), b"".join(rows)


def write_bmp(path, w, h, colour):
    stride = (w * 3 + 3) & ~3
    row = bytes((colour[2], colour[1], colour[0])) * w + b"\0" * (stride - w * 3)
    pixels = row * h
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def pixel(rgb, x, y):
    i = (y * WIDTH + x) * 3
    return tuple(rgb[i:i + 3])


class EaselRender(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = self.dir.name
        self.board = os.path.join(self.tmp, "board.bin")
        with open(self.board, "wb") as f:
            f.write(board())

    def tearDown(self):
        self.dir.cleanup()

    def run_render(self, *args, cwd=None):
        return subprocess.run([RENDER, *args], cwd=cwd or self.tmp, capture_output=True,
                              text=True, timeout=120)

    def render(self, name, *extra, board_path=None, cwd=None):
        out = os.path.join(self.tmp, name)
        r = self.run_render(board_path or self.board, out, *extra, cwd=cwd)
        self.assertEqual(0, r.returncode, r.stderr)
        with open(out, "rb") as f:
            data = f.read()
        w, h, rgb = decode_png(data) if name.endswith(".png") else decode_bmp(data)
        self.assertEqual((WIDTH, HEIGHT), (w, h))
        return rgb, r

    def test_white_background_png_and_bmp_agree_with_pinned_pixels(self):
        png, _ = self.render("white.png", "--background", "white")
        bmp, _ = self.render("white.bmp", "--background", "white")
        self.assertEqual(png, bmp)
        self.assertEqual((255, 255, 255), pixel(png, 900, 670))
        self.assertNotEqual((255, 255, 255), pixel(png, 60, 80 - 20))  # first pen point
        self.assertEqual(PINNED_WHITE, hashlib.sha256(png).hexdigest())

    def test_paper_is_the_generated_texture_even_beside_a_background_picture(self):
        default, _ = self.render("paper.png")
        self.assertEqual(PINNED_PAPER, hashlib.sha256(default).hexdigest())
        explicit, _ = self.render("paper2.png", "--background", "paper")
        self.assertEqual(default, explicit)
        write_bmp(os.path.join(self.tmp, "bg.bmp"), 912, 684, (0, 0, 255))
        beside, _ = self.render("paper3.png", cwd=self.tmp)
        self.assertEqual(default, beside)

    def test_empty_board_gives_the_plain_backgrounds(self):
        empty = os.path.join(self.tmp, "empty.bin")
        open(empty, "wb").close()
        white, _ = self.render("e.png", "--background", "white", board_path=empty)
        self.assertEqual(b"\xff" * (WIDTH * HEIGHT * 3), white)
        paper, _ = self.render("p.png", board_path=empty)
        mean = [sum(paper[c::3]) / (WIDTH * HEIGHT) for c in range(3)]
        for got, want in zip(mean, (232, 229, 227)):
            self.assertAlmostEqual(want, got, delta=4)
        self.assertGreater(len(set(paper[i:i + 3] for i in range(0, 30000, 3))), 5)

        picture = os.path.join(self.tmp, "red.bmp")
        write_bmp(picture, 64, 32, (255, 0, 0))
        red, _ = self.render("r.bmp", "--background", picture, board_path=empty)
        self.assertEqual((255, 0, 0), pixel(red, 0, 0))
        self.assertEqual((255, 0, 0), pixel(red, 63, 31))
        self.assertEqual((0, 0, 0), pixel(red, 64, 0))
        self.assertEqual((0, 0, 0), pixel(red, 0, 32))

    def test_timelapse_has_the_asked_length_and_ends_on_the_still_picture(self):
        still, _ = self.render("still.png")
        video = os.path.join(self.tmp, "evening.mp4")
        r = self.run_render(self.board, video, "--timelapse", "--seconds", "2.5", "--fps", "4",
                            "--lossless")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("", r.stderr)  # no progress bar without a terminal
        probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height",
                                "-of", "csv=p=0", video], capture_output=True, text=True)
        self.assertEqual("912,684", probe.stdout.strip())
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", video, "-f", "rawvideo", "-pix_fmt",
                              "rgb24", "-"], capture_output=True).stdout
        size = WIDTH * HEIGHT * 3
        frames = [raw[i:i + size] for i in range(0, len(raw), size)]
        self.assertEqual(10, len(frames))
        self.assertEqual([still] * 4, frames[6:])  # the last second holds the finished picture
        # Growth frames after 1, 3, 5, 6, 8 and 10 of the 10 frames: paper first, the last two equal.
        self.assertEqual(5, len(set(frames)))
        r = subprocess.run([RENDER, self.board, video, "--timelapse"], env={"PATH": "/nonexistent"},
                           capture_output=True, text=True)
        self.assertEqual(2, r.returncode)
        self.assertIn("needs the program ffmpeg", r.stderr)

    def test_truncated_last_frame_is_reported_and_the_rest_drawn(self):
        whole, _ = self.render("whole.png", "--background", "white")
        cut = os.path.join(self.tmp, "cut.bin")
        tail = frame(0, bytes([0, 0, 0, 0]) + points(wave(20, 400, 400, 5, 5)))
        with open(cut, "wb") as f:
            f.write(board() + tail[:9])
        drawn, r = self.render("cut.png", "--background", "white", board_path=cut)
        self.assertEqual(whole, drawn)
        self.assertIn("truncated", r.stderr)
        self.assertIn(str(len(board())), r.stderr)

    def test_bad_input_gives_a_message_and_status_2(self):
        out = os.path.join(self.tmp, "x.png")
        cases = [
            ([os.path.join(self.tmp, "missing.bin"), out], "cannot read"),
            ([self.tmp, out], "cannot read"),
            ([self.board, out, "--colour", "red"], "unknown option"),
            ([self.board, out, "--background", "sepia"], "unknown background"),
            ([self.board, out, "--background", os.path.join(self.tmp, "no.bmp")], "cannot load"),
            ([self.board, os.path.join(self.tmp, "x.jpg")], ".png or .bmp"),
            ([self.board, os.path.join(self.tmp, "no-such-dir", "x.png")], "cannot write"),
            ([self.board], "usage"),
        ]
        for args, text in cases:
            r = self.run_render(*args)
            self.assertEqual(2, r.returncode, args)
            self.assertIn(text, r.stderr, args)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    if not os.path.exists(RENDER):
        print("easel-render not built at", RENDER)
        sys.exit(1)
    unittest.main()
