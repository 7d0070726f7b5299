"""The painting page in a fresh headless Chromium, driven as a person drives
it: touches, mouse presses and key strokes dispatched at places on the screen
(the DevTools protocol's Input events and Selenium's key actions), never
through the page's elements or script. Positions are CSS pixels of the
viewport; the page is read (where things are, what the canvas shows) but
never told anything except through input."""
import base64
import math
import os
import struct
import time

from harness import TIMEOUT, Image, wait_until
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains

PACE = 0.03  # seconds between two moves of a hand: longer than a frame, so no move is merged
BOARD_W, BOARD_H = 912, 684
# FNV-1a over the canvas's red, green and blue bytes, in the page and in fnv() below.
PAGE_HASH = ("const d = document.getElementById('picture').getContext('2d').getImageData(0, 0, 912, 684).data;"
             "let h = 2166136261; for (let i = 0; i < d.length; ++i) if (i % 4 != 3) h = Math.imul(h ^ d[i], 16777619) >>> 0;"
             "return h;")


def fnv(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def browser(profile, width, height, ratio=1, touch=False, flags=()):
    """Chromium emulating a device: a phone or tablet (touch, its ratio) or a desktop window."""
    options = webdriver.ChromeOptions()
    for flag in (*flags, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile):
        options.add_argument(flag)
    if touch:
        options.add_experimental_option("mobileEmulation", {"deviceMetrics": {
            "width": width, "height": height, "pixelRatio": ratio, "touch": True, "mobile": True}})
    else:
        options.add_argument("--window-size=%d,%d" % (width, height))
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    if not touch:
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": height, "deviceScaleFactor": ratio, "mobile": False})
    return driver


class Page:
    def __init__(self, test, url, width=1400, height=820, ratio=1, touch=False, before_load=None, flags=()):
        self.touch = touch
        profile = os.path.join(test.server.dir, "profile-%d" % time.monotonic_ns())
        self.driver = browser(profile, width, height, ratio, touch, flags)
        test.addCleanup(self.driver.quit)
        if before_load:
            self.cdp("Page.addScriptToEvaluateOnNewDocument", source=before_load)
        if url:
            self.driver.get(url)

    def cdp(self, command, **params):
        return self.driver.execute_cdp_cmd(command, params)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def rect(self, css):
        """Where an element is on the screen: left, top, width, height (None when not shown)."""
        return self.js("const e = document.querySelector(arguments[0]); if (!e) return null;"
                       "const r = e.getBoundingClientRect(); return r.width ? [r.left, r.top, r.width, r.height] : null;", css)

    def centre(self, css):
        r = wait_until(lambda: self.rect(css), what="%s on the screen" % css)
        return round(r[0] + r[2] / 2), round(r[1] + r[3] / 2)

    def at(self, css, x, y, width, height):
        """The screen point over pixel (x, y) of an element drawn width x height."""
        r = self.rect(css)
        return math.floor(r[0] + (x + 0.5) * r[2] / width), math.floor(r[1] + (y + 0.5) * r[3] / height)

    def board_path(self, points):
        """Screen points over the board pixels points (the picture as it is shown now)."""
        return [self.screen_point(*p) for p in points]

    def board_point(self, x, y):
        """The board pixel under screen point (x, y): the page's documented rule."""
        left, top, width, height = self.rect("#picture")
        return math.floor((x - left) * BOARD_W / width), math.floor((y - top) * BOARD_H / height)

    def screen_point(self, bx, by):
        """An integer screen point over board pixel (bx, by), away from its edges where the zoom allows."""
        return self.at("#picture", bx, by, BOARD_W, BOARD_H)

    def touches(self, kind, points):
        self.cdp("Input.dispatchTouchEvent", type=kind,
                 touchPoints=[{"x": x, "y": y, "id": i} for i, (x, y) in enumerate(points)])

    def mouse(self, kind, x, y, button="left", buttons=0, **more):
        self.cdp("Input.dispatchMouseEvent", type=kind, x=x, y=y, button=button, buttons=buttons, **more)

    def tap(self, x, y, right=False):
        """A finger's tap, or a click of the left (or right) button."""
        if self.touch and not right:
            self.touches("touchStart", [(x, y)])
            self.touches("touchEnd", [])
            return
        button, held = ("right", 2) if right else ("left", 1)
        self.mouse("mouseMoved", x, y)
        self.mouse("mousePressed", x, y, button, held, clickCount=1)
        self.mouse("mouseReleased", x, y, button, 0, clickCount=1)

    def press_on(self, css):
        self.tap(*self.centre(css))

    def drag(self, points, modifiers=0, right_at=None):
        """One finger (or the left button) down at the first point, through the rest, up at the last;
        with the mouse, modifiers held (2 Ctrl, 8 Shift) and the right button down from point right_at on."""
        if self.touch:
            self.touches("touchStart", points[:1])
            for p in points[1:]:
                time.sleep(PACE)
                self.touches("touchMove", [p])
            self.touches("touchEnd", [])
            return
        self.mouse("mouseMoved", *points[0], modifiers=modifiers)
        self.mouse("mousePressed", *points[0], "left", 1, clickCount=1, modifiers=modifiers)
        held = 1
        for i, p in enumerate(points[1:], 1):
            time.sleep(PACE)
            if i == right_at:
                held = 3
                self.mouse("mousePressed", *p, "right", held, clickCount=1, modifiers=modifiers)
            self.mouse("mouseMoved", *p, "left", held, modifiers=modifiers)
        if held == 3:
            self.mouse("mouseReleased", *points[-1], "right", 1, clickCount=1, modifiers=modifiers)
        self.mouse("mouseReleased", *points[-1], "left", 0, clickCount=1, modifiers=modifiers)

    def two_fingers(self, start, end, steps=8, first_down=None):
        """Two fingers from the pair start to the pair end; first_down: finger one
        is down already (a stroke) and goes on from there."""
        if first_down is None:
            self.touches("touchStart", start)
        else:
            self.touches("touchStart", [first_down, start[1]])
        for i in range(1, steps + 1):
            time.sleep(PACE)
            self.touches("touchMove", [tuple(round(a[k] + (b[k] - a[k]) * i / steps) for k in (0, 1))
                                       for a, b in zip(start, end)])
        self.touches("touchEnd", [])

    def wheel(self, x, y, dx, dy, ctrl=False):
        self.mouse("mouseWheel", x, y, "none", 0, deltaX=dx, deltaY=dy, modifiers=2 if ctrl else 0)

    def type(self, *keys):
        ActionChains(self.driver).send_keys(*keys).perform()

    def login(self, name):
        """Taps the name field where it shows, types the name and taps Paint."""
        self.press_on("#name")
        self.type(name)
        self.press_on("#login button")

    def shown(self, css):
        return self.rect(css) is not None

    def text(self, css):
        return self.js("return document.querySelector(arguments[0]).textContent", css)

    def picture(self):
        rgba = base64.b64decode(self.js(
            "const d = document.getElementById('picture').getContext('2d').getImageData(0, 0, 912, 684).data;"
            "let s = ''; for (let i = 0; i < d.length; i += 8192) s += String.fromCharCode(...d.subarray(i, i + 8192));"
            "return btoa(s);"))
        return Image(912, 684, bytes(b for i, b in enumerate(rgba) if i % 4 != 3))

    def picture_hash(self):
        return self.js(PAGE_HASH)


def points_of(payload, fixed):
    """The points of a drawing command whose fields before them take fixed bytes."""
    return list(struct.iter_unpack("<hh", payload[fixed:]))


def zigzag(x, y, step, count):
    """Screen points turning a right angle at each: the page keeps every one as a stroke point."""
    points = [(x, y)]
    for i in range(count):
        px, py = points[-1]
        points.append((px + step, py) if i % 2 == 0 else (px, py + step))
    return points


__all__ = ["Page", "points_of", "zigzag", "fnv", "TIMEOUT"]
