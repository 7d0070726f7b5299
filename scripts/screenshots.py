#!/usr/bin/env python3
"""Makes the README's pictures from the real programs: docs/client.png (the
client under Xvfb with a painted board and the tool bar open) and
docs/web-view.png (the server's read-only web view in headless Chromium) and
docs/browser.png (the painting page, with Selenium).

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


def painting_page(cleanups, tmp, web):
    """The painting page in headless Chromium, logged in, the colour panel open
    and one stroke of its own drawn: the PNG of the window."""
    from selenium import webdriver
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    options = webdriver.ChromeOptions()
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,820",
                 "--user-data-dir=" + os.path.join(tmp, "page-profile")):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    cleanups.addCleanup(driver.quit)
    driver.implicitly_wait(TIMEOUT)
    driver.get("http://127.0.0.1:%d/" % web)
    driver.find_element(By.ID, "name").send_keys("pat", Keys.ENTER)
    wait_until(lambda: "pat (you)" in driver.find_element(By.ID, "roster").text, what="the page's roster")
    driver.find_element(By.ID, "tool-brush").click()
    driver.find_element(By.ID, "labels").click()
    canvas = driver.find_element(By.ID, "picture")
    chain = ActionChains(driver, duration=15).move_to_element_with_offset(canvas, -200, 0).click_and_hold()
    for i in range(40):
        chain.move_to_element_with_offset(canvas, -200 + 10 * i, (i % 8) * 6)
    chain.release().perform()
    wait_until(lambda: driver.find_element(By.ID, "busy").value_of_css_property("visibility") == "hidden",
               what="the stroke acknowledged")
    return driver.get_screenshot_as_png()


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
        shot = os.path.join(tmp, "web.png")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                        "--hide-scrollbars", "--user-data-dir=" + os.path.join(tmp, "profile"),
                        "--window-size=800,640", "--virtual-time-budget=5000",
                        "--screenshot=" + shot, "http://127.0.0.1:%d/?watch" % web],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        small_png(open(shot, "rb").read(), os.path.join(DOCS, "web-view.png"), 640)
        small_png(painting_page(cleanups, tmp, web), os.path.join(DOCS, "browser.png"), 800)
    finally:
        cleanups.doCleanups()


if __name__ == "__main__":
    main()
