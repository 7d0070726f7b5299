#!/usr/bin/env python3
"""Time from opening the painting page to the board shown, and the longest
main-thread task meanwhile, against the desktop client on the same board; the
page's frame rate while two fingers pan a zoomed board on a phone.

    bench/page_load.py [BUILD_DIR] [--strokes 2000 20000] [--runs 3] [--server-option=--checkpoint-every=0]

For each size a board is painted by easel-load on a server on 127.0.0.1 (no
rate limit) and drawn by easel-render; then, on that server, a fresh headless
Chromium (started before the clock) opens the page, a person's click lands on
the name field, the name is typed and Paint clicked, and the time runs until
the progress bar is gone (the picture is then checked to be easel-render's),
once the server has made its checkpoint of the board (unless its options say
none),
with the page's longest main-thread tasks meanwhile, before the login and
after it; a fresh desktop client under
Xvfb is timed until its window shows the picture. Medians of the runs. Then,
on the largest board, an emulated phone (390 x 844, ratio 3, touch) pinches to
4x and pans with two fingers for 3 s: the frames the page drew a second."""
import argparse, json, os, pathlib, re, statistics, subprocess, sys, time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--strokes", type=int, nargs="+", default=[2000, 20000])
parser.add_argument("--runs", type=int, default=3)
parser.add_argument("--server-option", action="append", default=[], help="passed on to easel-server")
args = parser.parse_args()
BUILD = os.path.abspath(args.build)
os.environ["EASEL_BUILD_DIR"] = BUILD
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import unittest  # noqa: E402
from harness import Easel, Image, Server, config_bytes, wait_until  # noqa: E402
from page import PACE, Page, fnv  # noqa: E402

W, H = 960, 720
OX, OY = (W - 912) // 2, (H - 684) // 2
# Every main-thread task over 50 ms from the page's start, and the frames drawn while counting.
OBSERVE = """window.longTasks = []; window.frames = 0; window.counting = false;
addEventListener('submit', () => { window.loginAt = window.loginAt || performance.now(); }, true);
new PerformanceObserver((l) => { for (const t of l.getEntries())
  window.longTasks.push([t.duration, window.loginAt !== undefined && t.startTime >= window.loginAt]); })
  .observe({ type: 'longtask', buffered: true });
(function tick() { if (window.counting) ++window.frames; requestAnimationFrame(tick); })();"""


def page_time(case, web, expected, phone=False):
    page = Page(case, None, 390, 844, 3, True, OBSERVE) if phone else Page(case, None, before_load=OBSERVE)
    start = time.monotonic()
    page.driver.get(web)
    page.login("timer")
    wait_until(lambda: not page.shown("#login") and not page.shown("#banner") and not page.shown("#progress"), 600,
               interval=0.05, what="the board on the page")
    elapsed = time.monotonic() - start
    tasks = page.js("return window.longTasks")
    longest = [max([d for d, after in tasks if after == part] or [0]) for part in (False, True)]
    if page.picture_hash() != expected:
        raise AssertionError("the page shows another picture than easel-render's")
    return elapsed, longest, page


def desktop_time(case, server, picture):
    start = time.monotonic()
    c = Easel(case, {"client.cfg": config_bytes(W, H, "127.0.0.1", server.port, "timer")}, (W, H))
    c.wait_window(W, H)
    c.pointer_to(4, H // 2)
    wait_until(lambda: c.screenshot(OX, OY, 912, 684) == picture, 600, interval=0.05, what="the board on the desktop")
    elapsed = time.monotonic() - start
    c.proc.terminate()  # not to weigh on the next run
    c.proc.wait(10)
    return elapsed


def pan_rate(page, seconds=3):
    """Pinch to 4x over the board's middle, then two fingers pan to and fro: frames a second."""
    left, top, width, height = page.rect("#board")
    cx, cy = round(left + width / 2), round(top + height / 2)
    spread = round(15 * 4 * 912 / page.rect("#picture")[2])
    page.two_fingers([(cx - 15, cy), (cx + 15, cy)], [(cx - spread, cy), (cx + spread, cy)])
    page.js("window.frames = 0; window.counting = true;")
    start, moves, phase = time.monotonic(), 0, 0
    page.touches("touchStart", [(cx - 40, cy), (cx + 40, cy)])
    while time.monotonic() - start < seconds:
        phase += 1
        dx = round(60 * ((phase % 40) / 20 - 1))
        page.touches("touchMove", [(cx - 40 + dx, cy + dx // 2), (cx + 40 + dx, cy + dx // 2)])
        moves += 1
        time.sleep(PACE / 2)
    elapsed = time.monotonic() - start
    page.touches("touchEnd", [])
    frames = page.js("window.counting = false; return window.frames")
    return frames / elapsed, moves / elapsed


pan = None
for strokes in args.strokes:
    case = unittest.TestCase()
    try:
        case.server = server = Server(case, "--http", "0", "--rate", "0", "--draw-budget", "0", "--draw-total", "0",
                                      *args.server_option)
        web = "http://127.0.0.1:%s/" % server.log_match(r"web view on http://\S*:(\d+)")[1]
        seconds = strokes / (20 * 50)
        subprocess.run([os.path.join(BUILD, "tools", "easel-load"), "--port", str(server.port), "--clients", "20",
                        "--rate", "50", "--seconds", str(seconds)], check=True, stdout=subprocess.DEVNULL)
        png = os.path.join(server.dir, "render.png")
        subprocess.run([os.path.join(BUILD, "tools", "easel-render"), os.path.join(server.dir, "board.easel"), png],
                       check=True)
        picture = Image.read(["convert", png])
        expected = fnv(picture.data)
        count = subprocess.run(["curl", "-s", web + "status"], capture_output=True, text=True).stdout
        checkpoint = ""
        if "--checkpoint-every=0" not in args.server_option:
            # The painter's checkpoint of (nearly) the whole board, as a newcomer gets it.
            every = next((int(o.split("=")[1]) for o in args.server_option if o.startswith("--checkpoint-every=")), 500)
            on_board = json.loads(count)["strokes"]
            made = lambda: [m for m in re.findall(r"checkpoint of (\d+) commands, (\d+) bytes",
                                                   pathlib.Path(server.log).read_text()) if int(m[0]) > on_board - every]
            found = wait_until(made, 600, interval=0.5, what="the checkpoint of the board")[-1]
            checkpoint = " (checkpoint of %s commands, %s bytes)" % found
        pages, longest, desktops = [], [], []
        for run in range(args.runs):
            t, task, page = page_time(case, web, expected)
            pages.append(t)
            longest.append(task)
            page.driver.quit()
            desktops.append(desktop_time(case, server, picture))
        print("%s%s: page %.2f s (runs %s; longest task before the login %s ms, after it %s ms), desktop %.2f s "
              "(runs %s)" % (count.strip(), checkpoint, statistics.median(pages), " ".join("%.2f" % t for t in pages),
            " ".join("%.0f" % t[0] for t in longest), " ".join("%.0f" % t[1] for t in longest),
            statistics.median(desktops),
            " ".join("%.2f" % t for t in desktops)), flush=True)
        if strokes == max(args.strokes):
            t, task, page = page_time(case, web, expected, phone=True)
            fps, moves = pan_rate(page)
            print("phone (390 x 844, ratio 3): board shown in %.2f s (longest task before the login %.0f ms, after "
                  "it %.0f ms); panning at 4x: %.1f frames a second (%.0f moves a second given)" % (
                      t, task[0], task[1], fps, moves), flush=True)
    finally:
        case.doCleanups()
