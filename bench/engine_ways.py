#!/usr/bin/env python3
"""The engine's speed natively and in WebAssembly, in one run, alternated.

    bench/engine_ways.py [BUILD_DIR] [--rounds 3] [--time 3] [--board FILE] [--strokes 20000]

Replays the mixed history (bench/mixed_history.cpp) and a realistic board,
each command drawn at once on one thread, with the pinned boards' timing mode
(`pinned_boards --time N --board FILE`): natively, under node with the SIMD
module (build/wasm/pinned_boards.js) and with the plain one
(build/wasm/pinned_boards_plain.js), one after the other in every round. Each
prints the median of N replays the reference ways and the fast ways; this
prints every round's figures, then each one's range over the rounds and
the SIMD module's speed against the native fast ways' in each round. Without
--board the board is made as bench/page_load.py makes it: easel-load's 20
painters at 50 strokes a second each into a fresh server until --strokes.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
parser.add_argument("--rounds", type=int, default=3)
parser.add_argument("--time", type=int, default=3, help="replays per program and way; their median is taken")
parser.add_argument("--board", help="a server's board file (made when not given)")
parser.add_argument("--strokes", type=int, default=20000)
args = parser.parse_args()
BUILD = os.path.abspath(args.build)


def make_board(folder):
    """A board of about args.strokes strokes from easel-load's painters, in folder/board.easel."""
    board, log_path = os.path.join(folder, "board.easel"), os.path.join(folder, "log")
    with open(log_path, "wb") as log:
        server = subprocess.Popen([os.path.join(BUILD, "server", "easel-server"), "--port", "0", "--bind",
                                   "127.0.0.1", "--board", board, "--rate", "0", "--draw-budget", "0",
                                   "--draw-total", "0"], stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=subprocess.STDOUT)
    try:
        for _ in range(200):
            found = re.search(r"listening on \S*:(\d+)", open(log_path).read())
            if found:
                break
            time.sleep(0.05)
        else:
            sys.exit("the server did not start: see %s" % log_path)
        subprocess.run([os.path.join(BUILD, "tools", "easel-load"), "--port", found[1], "--clients", "20",
                        "--rate", "50", "--seconds", str(args.strokes / (20 * 50))], check=True,
                       stdout=subprocess.DEVNULL)
    finally:
        server.terminate()
        server.wait()
    return board


PROGRAMS = [("native", [os.path.join(BUILD, "tests", "pinned_boards")]),
            ("WebAssembly SIMD", ["node", os.path.join(BUILD, "wasm", "pinned_boards.js")]),
            ("WebAssembly plain", ["node", os.path.join(BUILD, "wasm", "pinned_boards_plain.js")])]
LINE = re.compile(r"^(mixed history|board), (reference|fast) ways: median ([\d.]+) ms of \d+ replays "
                  r"\(checksum (\d+)\)$")


def main():
    with tempfile.TemporaryDirectory() as folder:
        board = args.board or make_board(folder)
        print("board: %s (%d bytes); %d replays per program and way, %d rounds" % (
            board, os.path.getsize(board), args.time, args.rounds), flush=True)
        figures, sums = {}, {}
        for round_ in range(args.rounds):
            for name, command in PROGRAMS:
                out = subprocess.run(command + ["--time", str(args.time), "--board", board], check=True,
                                     capture_output=True, text=True).stdout
                for line in out.splitlines():
                    m = LINE.match(line)
                    if not m:
                        continue
                    key = (m[1], name, m[2])
                    figures.setdefault(key, []).append(float(m[3]) / 1000)
                    sums.setdefault(m[1], set()).add(m[4])
                    print("round %d: %s, %s, %s ways: %.2f s" % (round_ + 1, m[1], name, m[2], float(m[3]) / 1000),
                          flush=True)
    for replayed in ("mixed history", "board"):
        if len(sums.get(replayed, ())) != 1:
            sys.exit("%s: the programs' pictures differ (checksums %s)" % (replayed, sorted(sums.get(replayed, ()))))
        print("%s (the same picture everywhere):" % replayed)
        for name, _ in PROGRAMS:
            for way in ("reference", "fast"):
                t = figures[(replayed, name, way)]
                print("  %-18s %-9s ways: %.2f to %.2f s" % (name, way, min(t), max(t)))
        # Each round's programs ran one after the other: compare within rounds.
        ratios = [n / w for n, w in zip(figures[(replayed, "native", "fast")],
                                        figures[(replayed, "WebAssembly SIMD", "fast")])]
        print("  WebAssembly SIMD's fast ways at %s of the native fast ways' speed (each round)" % ", ".join(
            "%.0f%%" % (100 * r) for r in ratios))


main()
