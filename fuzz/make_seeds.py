#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from
frames as our client builds them. Run it again after changing it."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from formats import config_bytes, frame, points, scaled  # noqa: E402


STROKE = [(10, 20), (40, 25), (90, 80), (120, 60)]
SEED = struct.pack("<I", 123456789)
COMMANDS = {
    "pen": (0, b"\x01\xff\x00\x80" + points(STROKE)),
    "pencil": (1, b"\x01" + SEED + b"\x20\x40\x60" + scaled(4) + points(STROKE)),
    "brush": (2, b"\x01" + SEED + b"\x90\x10\x10" + scaled(12) + scaled(80) + points(STROKE)),
    "chalk": (3, b"\x01" + SEED + b"\x10\x90\x10" + scaled(8) + points(STROKE)),
    "smudge": (4, b"\x01" + scaled(10) + scaled(300) + points(STROKE)),
    "stamp": (12, b"\x01\x10\x10\x90" + scaled(20) + scaled(50) + points(STROKE)),
    "chat": (5, b"\x01hello there\x00"),
}
LOGIN = frame(6, struct.pack("<I", 9) + b"Ann\x00")


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    for name, (code, payload) in COMMANDS.items():
        write("fuzz_apply_command", name, bytes([code]) + payload)
        # The relay target's first byte says how the stream is cut.
        write("fuzz_relay", name, b"\x07" + LOGIN + frame(code, payload))
    write("fuzz_relay", "votes", b"\x3f" + LOGIN + frame(9, b"\x01") + frame(10, b"\x01"))
    write("fuzz_relay", "motd", b"\x00" + LOGIN + frame(11, b"fuzz\x00Welcome all\x00"))

    write("fuzz_config", "valid", config_bytes(800, 600, server="127.0.0.1"))

    # The client's receive path: a login reply, the board, acknowledgements.
    reply = frame(6, b"\x02Ann\x00\x01Bob\x00\x00")
    stream = reply + frame(*COMMANDS["brush"]) + frame(255, b"") + frame(7, b"\x03Cy\x00")
    stream += frame(*COMMANDS["chat"]) + frame(9, b"") + frame(8, b"\x01") + frame(255, b"")
    write("fuzz_receive", "session", b"\x1b\x04" + stream)


if __name__ == "__main__":
    main()
