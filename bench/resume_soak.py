#!/usr/bin/env python3
"""Strokes lost and doubled over a long soak with cut links, and how soon a
painter is back once its link is.

    bench/resume_soak.py MINUTES [BUILD_DIR] [--painters 8] [--rate 4] [--seed 1] [--kill-every S]

easel-load painters with --resume paint for MINUTES (in runs of at most ten
minutes) against an easel-server on 127.0.0.1 through a proxy that cuts their
links at random points (tests/e2e/cut_proxy.py: mid-frame, after a stroke
went up, with an acknowledgement swallowed); with --kill-every the server is
killed (SIGKILL) that often and started again on its port and board. Then
every stroke the painters wrote down is looked for on the board file: lost
when it is not there, doubled when it is there more than once (both must be
0), and frames no painter drew. The times, from a link made to the painter
logged in again and to its first held stroke accepted: median and maximum."""
import argparse
import collections
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from cut_proxy import CutProxy  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("minutes", type=float)
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--painters", type=int, default=8)
parser.add_argument("--rate", type=float, default=4)
parser.add_argument("--seed", type=int, default=1)
parser.add_argument("--kill-every", type=float, default=0, help="seconds between two kills of the server (0: none)")
args = parser.parse_args()
BUILD = os.path.abspath(args.build)
work = tempfile.mkdtemp(prefix="easel-resume-soak-")
board = os.path.join(work, "board.easel")


def start_server(port, n=0):
    """easel-server on that port (0: a free one) and the port."""
    log = os.path.join(work, "server%d.log" % n)
    proc = subprocess.Popen([os.path.join(BUILD, "server", "easel-server"), "--port", str(port), "--bind", "127.0.0.1",
                             "--board", board, "--login-rate", "0"], stdout=open(log, "wb"), stderr=subprocess.STDOUT)
    while not (listening := re.search(rb"listening on \S*:(\d+)", open(log, "rb").read())):
        if proc.poll() is not None:
            sys.exit("easel-server ended with status %d (%s)" % (proc.returncode, log))
        time.sleep(0.05)
    return proc, int(listening[1])


server, port = start_server(0)
proxy = CutProxy(port, args.seed)
kills, done = 0, threading.Event()


def killer():
    global server, kills
    while not done.wait(args.kill_every):
        server.kill()
        server.wait()
        kills += 1
        server = start_server(port, kills)[0]


if args.kill_every > 0:
    threading.Thread(target=killer, daemon=True).start()

seconds, runs, back, held, dropped = args.minutes * 60, 0, [], [], 0
logs = []
while seconds > 0:
    run = min(seconds, 600)
    logs.append(os.path.join(work, "painters%d.log" % runs))
    out = subprocess.run([os.path.join(BUILD, "tools", "easel-load"), "--resume", "--port", str(proxy.port),
                          "--clients", str(args.painters), "--rate", str(args.rate), "--seconds", str(run), "--seed",
                          str(args.seed + runs), "--log", logs[-1]], capture_output=True, text=True)
    print(out.stdout, out.stderr, sep="", end="", flush=True)
    seconds -= run
    runs += 1
done.set()
proxy.cutting = False

drawn, on_board = [], collections.Counter()
for log in logs:
    for line in open(log):
        kind, *rest = line.split()
        if kind == "stroke":
            drawn.append(bytes.fromhex(rest[2]))
        elif kind == "dropped":
            dropped += 1
        else:
            (back if kind == "back" else held).append(float(rest[1]))
data, at = open(board, "rb").read(), 0
while at + 3 <= len(data):
    end = at + 3 + struct.unpack_from("<H", data, at + 1)[0]
    on_board[data[at:at + 3] + b"\0" + data[at + 4:end]] += 1
    at = end
lost = sum(1 for f in drawn if on_board[f] == 0)
doubled = sum(1 for f in drawn if on_board[f] > 1)
known = set(drawn)
foreign = sum(n for f, n in on_board.items() if f not in known)
print("%g minutes, %d painters at %g strokes/s, %d server kills; cuts %s" % (
    args.minutes, args.painters, args.rate, kills, dict(proxy.cuts)))
print("strokes drawn %d: lost %d, doubled %d, dropped with a notice %d; frames no painter drew %d" % (
    len(drawn), lost, doubled, dropped, foreign))
for what, times in (("the painter logged in again", back), ("its first held stroke accepted", held)):
    if times:
        print("from a link made to %s: median %.1f ms, max %.1f ms (%d links)" % (
            what, statistics.median(times) * 1000, max(times) * 1000, len(times)))
server.terminate()
sys.exit(1 if lost or doubled or dropped or foreign else 0)
