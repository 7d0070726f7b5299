"""Bytes the programs read and write, built and read here independently of
their code: protocol frames, the settings file, 24-bit BMP pictures, and any
picture read back as RGB pixels through ImageMagick."""
import struct
import subprocess


def frame(kind, payload):
    """A protocol frame: type byte, little-endian payload length, payload."""
    return bytes([kind]) + struct.pack("<H", len(payload)) + payload


def points(pts):
    return b"".join(struct.pack("<hh", x, y) for x, y in pts)


def scaled(v):
    """A 0..400 setting as the wire's 16-bit fraction."""
    return struct.pack("<H", int(min(max(v, 0.0), 400.0) * 65.535))


def config_bytes(width=640, height=480, fullscreen=0, server="localhost", port=2020, user="guest"):
    """The 281 bytes of client.cfg, texts zero-padded to their fields."""
    def field(text, size):
        raw = text.encode("latin-1")
        assert len(raw) <= size, text
        return raw + b"\0" * (size - len(raw))
    return (field(server, 256) + struct.pack("<H", port) + field(user, 16)
            + struct.pack("<HHHB", width, height, width, fullscreen))


def bmp_bytes(width, height, colour_at):
    """A 24-bit Windows bitmap, bottom-up, rows padded to 4 bytes."""
    pad = b"\0" * ((4 - width * 3 % 4) % 4)
    data = b"".join(b"".join(bytes(colour_at(x, y)[::-1]) for x in range(width)) + pad
                    for y in range(height - 1, -1, -1))
    return (struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0) + data)


class Image:
    """RGB pixels, rows top to bottom."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def read(command, env=None, data=b""):
        """What an ImageMagick command (convert FILE, import -window root ...) gives for data."""
        out = subprocess.run(command + ["-depth", "8", "ppm:-"], env=env, input=data, capture_output=True,
                             timeout=60, check=True).stdout
        header = out.split(maxsplit=4)  # P6 width height 255 pixels
        width, height = int(header[1]), int(header[2])
        return Image(width, height, out[len(out) - width * height * 3:])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, x, y, w, h):
        return Image(w, h, b"".join(self.data[((y + r) * self.width + x) * 3:((y + r) * self.width + x + w) * 3]
                                    for r in range(h)))

    def colours(self):
        return {tuple(self.data[i:i + 3]) for i in range(0, len(self.data), 3)}

    def __eq__(self, other):
        return isinstance(other, Image) and (self.width, self.height, self.data) == (
            other.width, other.height, other.data)
