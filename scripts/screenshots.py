#!/usr/bin/env python3
"""Makes the README's pictures from the real programs: docs/client.png (the
client under Xvfb with a painted board and the tool bar open) and
docs/web-view.png (the server's read-only web view in headless Chromium) and
the painting page in headless Chromium: docs/browser.png (a desktop window),
docs/page-phone.png and docs/page-tablet.png (an emulated phone and tablet).

    scripts/screenshots.py [BUILD_DIR]

A server with a web view is started on 127.0.0.1, easel-load paints on it for
two seconds, then the client joins and the browser opens the page."""
import os
import re
import subprocess
import sys
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
os.environ["EASEL_BUILD_DIR"] = BUILD
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from harness import TIMEOUT, Easel, config_bytes, start, wait_until, workdir  # noqa: E402

DOCS = os.path.join(ROOT, "docs")


def small_png(ppm_or_png, out, width):
    """Scaled down to width and to 64 colours, so the picture stays small."""
    subprocess.run(["convert", "-", "-resize", str(width), "-colors", "64", "png8:" + out],
                   input=ppm_or_png, check=True)


def still(session):
    """The window once two screenshots a second apart agree."""
    last = [None]

    def same():
        image = session.screenshot()
        done, last[0] = last[0] is not None and image == last[0], image
        time.sleep(0 if done else 1)
        return done and image
    return wait_until(same, what="a still window")


def painting_page(cleanups, web, width, height, ratio, touch, labels=False):
    """The painting page on a device, logged in with a tap or a click and one
    stroke of its own drawn: the PNG of the screen."""
    from page import Page, zigzag
    page = Page(cleanups, "http://127.0.0.1:%d/" % web, width, height, ratio, touch)
    page.login("pat")
    wait_until(lambda: not page.shown("#login") and not page.shown("#banner") and not page.shown("#progress"),
               what="the board on the page")
    page.press_on("#tool-brush")
    if labels:
        page.press_on("#labels")
    left, top, w, h = page.rect("#picture")
    page.drag(zigzag(round(left + w * 0.2), round(top + h * 0.5), round(w / 30), 12))
    wait_until(lambda: page.js("return getComputedStyle(document.getElementById('busy')).visibility") == "hidden",
               what="the stroke acknowledged")
    return page.driver.get_screenshot_as_png()


def main():
    cleanups = unittest.TestCase()  # what the harness starts is ended by its doCleanups()
    try:
        tmp = workdir(cleanups, {})
        server = start(cleanups, os.path.join(BUILD, "server", "easel-server"), "--bind", "127.0.0.1", "--port", "0",
                       "--http", "0", "--board", os.path.join(tmp, "board.easel"), stdout=subprocess.PIPE, text=True)
        ports = {}
        while len(ports) < 2:
            line = server.stdout.readline()
            if not line:
                sys.exit("easel-server ended")
            found = re.search(r"(listening on |web view on http://)127\.0\.0\.1:(\d+)", line)
            if found:
                ports[found.group(1)] = int(found.group(2))
        port, web = ports["listening on "], ports["web view on http://"]
        subprocess.run([os.path.join(BUILD, "tools", "easel-load"), "--port", str(port),
                        "--clients", "6", "--seconds", "2", "--rate", "4"], check=True,
                       stdout=subprocess.DEVNULL)
        files = {name: open(os.path.join(ROOT, "assets", name), "rb").read()
                 for name in os.listdir(os.path.join(ROOT, "assets"))}
        files["client.cfg"] = config_bytes(1024, 768, "127.0.0.1", port, "ann")
        s = Easel(cleanups, files, (1024, 768))
        s.wait_window(1024, 768)
        still(s)
        s.xdo("key", "Tab")
        still(s)
        s.pointer_to(6 * 42 + 21, 768 - 21)  # the Paint slot: the colour picker
        s.xdo("mousedown", "1")
        still(s)
        s.xdo("mouseup", "1")
        s.pointer_to(700, 300)
        picture = still(s)
        small_png(b"P6\n%d %d\n255\n" % (picture.width, picture.height) + picture.data,
                  os.path.join(DOCS, "client.png"), 640)
        s.xdo("key", "Escape")
        s.xdo("key", "Escape")
        s.proc.wait(TIMEOUT)
        # The view shows the picture once the server's painter has drawn it.
        import urllib.error
        import urllib.request

        def drawn():
            try:
                urllib.request.urlopen("http://127.0.0.1:%d/status" % web, timeout=TIMEOUT).read()
                return urllib.request.urlopen("http://127.0.0.1:%d/board.png" % web, timeout=TIMEOUT).status == 200
            except urllib.error.HTTPError:
                return False
        wait_until(drawn, interval=0.2, what="the server's picture")
        shot = os.path.join(tmp, "web.png")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--hide-scrollbars", "--user-data-dir=" + os.path.join(tmp, "profile"),
                        "--window-size=800,640", "--virtual-time-budget=5000",
                        "--screenshot=" + shot, "http://127.0.0.1:%d/?watch" % web],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        small_png(open(shot, "rb").read(), os.path.join(DOCS, "web-view.png"), 640)
        cleanups.server = type("Place", (), {"dir": tmp})  # the browsers' profiles go there
        small_png(painting_page(cleanups, web, 1400, 820, 1, False, labels=True), os.path.join(DOCS, "browser.png"), 800)
        small_png(painting_page(cleanups, web, 390, 844, 3, True), os.path.join(DOCS, "page-phone.png"), 390)
        small_png(painting_page(cleanups, web, 820, 1180, 2, True), os.path.join(DOCS, "page-tablet.png"), 600)
    finally:
        cleanups.doCleanups()


if __name__ == "__main__":
    main()
