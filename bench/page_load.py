#!/usr/bin/env python3
"""Time from opening the painting page to the board drawn, against the desktop
client on the same board, and the page's idle CPU.

    bench/page_load.py [BUILD_DIR] [--strokes 2000 20000] [--runs 3]

For each size a board is painted by easel-load on a server on 127.0.0.1 (no
rate limit) and drawn by easel-render; then, on that server, a fresh headless
Chromium (Selenium) opens the page, types a name and is timed until its canvas
is that picture, and a fresh desktop client under Xvfb is timed until its
window shows it. Medians of the runs. Then the Chromium renderer processes'
CPU over 10 s with the page open and nobody painting."""
import argparse, os, statistics, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--strokes", type=int, nargs="+", default=[2000, 20000])
parser.add_argument("--runs", type=int, default=3)
args = parser.parse_args()
BUILD = os.path.abspath(args.build)
os.environ["EASEL_BUILD_DIR"] = BUILD
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import unittest  # noqa: E402
from harness import Easel, Image, Server, config_bytes, wait_until  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
W, H = 960, 720
OX, OY = (W - 912) // 2, (H - 684) // 2
# FNV-1a over the canvas's red, green and blue bytes, in the page and here.
PAGE_HASH = ("const d = document.getElementById('picture').getContext('2d').getImageData(0, 0, 912, 684).data;"
             "let h = 2166136261; for (let i = 0; i < d.length; ++i) if (i % 4 != 3) h = Math.imul(h ^ d[i], 16777619) >>> 0;"
             "return h;")


def fnv(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def browser(profile):
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,820", "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def page_time(case, server, web, expected):
    driver = browser(tempfile.mkdtemp(dir=server.dir))
    case.addCleanup(driver.quit)
    start = time.monotonic()
    driver.get(web)
    driver.find_element(By.ID, "name").send_keys("timer", Keys.ENTER)
    wait_until(lambda: driver.execute_script(PAGE_HASH) == expected, 300, interval=0.05, what="the board on the page")
    return time.monotonic() - start, driver


def desktop_time(case, server, picture):
    start = time.monotonic()
    c = Easel(case, {"client.cfg": config_bytes(W, H, "127.0.0.1", server.port, "timer")}, (W, H))
    c.wait_window(W, H)
    c.pointer_to(4, H // 2)
    wait_until(lambda: c.screenshot(OX, OY, 912, 684) == picture, 300, interval=0.05, what="the board on the desktop")
    elapsed = time.monotonic() - start
    c.proc.terminate()  # not to weigh on the next run
    c.proc.wait(10)
    return elapsed


def renderer_cpu(seconds=10):
    """CPU share of one core of every Chromium renderer process over seconds."""
    def total():
        t = 0
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and b"--type=renderer" in open("/proc/%s/cmdline" % pid, "rb").read():
                    t += sum(int(f) for f in open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[11:13])
            except OSError:
                pass
        return t / TICK
    c0, t0 = total(), time.monotonic()
    time.sleep(seconds)
    return 100 * (total() - c0) / (time.monotonic() - t0)


for strokes in args.strokes:
    case = unittest.TestCase()
    try:
        server = Server(case, "--http", "0", "--rate", "0", "--draw-budget", "0", "--draw-total", "0")
        web = "http://127.0.0.1:%s/" % server.log_match(r"web view on http://\S*:(\d+)")[1]
        seconds = strokes / (20 * 50)
        subprocess.run([os.path.join(BUILD, "tools", "easel-load"), "--port", str(server.port), "--clients", "20",
                        "--rate", "50", "--seconds", str(seconds)], check=True, stdout=subprocess.DEVNULL)
        png = os.path.join(server.dir, "render.png")
        subprocess.run([os.path.join(BUILD, "tools", "easel-render"), os.path.join(server.dir, "board.easel"), png],
                       check=True)
        picture = Image.read(["convert", png])
        count = subprocess.run(["curl", "-s", web + "status"], capture_output=True, text=True).stdout
        pages, desktops, idle = [], [], None
        for run in range(args.runs):
            t, driver = page_time(case, server, web, fnv(picture.data))
            pages.append(t)
            if idle is None:
                idle = renderer_cpu()
            driver.quit()
            desktops.append(desktop_time(case, server, picture))
        print("%s: page %.2f s (runs %s), desktop %.2f s (runs %s); page idle CPU %.1f %% of a core" % (
            count.strip(), statistics.median(pages), " ".join("%.2f" % t for t in pages),
            statistics.median(desktops), " ".join("%.2f" % t for t in desktops), idle), flush=True)
    finally:
        case.doCleanups()
