"""The painting page end to end: headless Chromium (Selenium and Debian's
chromium-driver) paints on a real easel-server beside a desktop client under
Xvfb. The page uses every tool, a Ctrl-snapped and a Shift-straight stroke, a
cancelled one, the colour panel and a pick from the picture, and chats; then
the page's canvas, the desktop's picture and /board.png agree byte for byte."""
import base64
import math
import os
import pathlib
import struct
import unittest
import urllib.error
import urllib.request

from harness import BUILD_DIR, TIMEOUT, Image, Server, wait_until
from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.mouse_button import MouseButton
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from test_shared_board import BRUSH, OX, OY, Client

TOOLS = ("pen", "pencil", "brush", "chalk", "smudge", "stamp")
DRAWING_TYPES = {0, 1, 2, 3, 4, 12}


def board_frames(server):
    """Every whole frame of the server's board file, (type, payload) each."""
    data, found, at = pathlib.Path(server.dir, "board.easel").read_bytes(), [], 0
    while at + 3 <= len(data) and at + 3 + struct.unpack_from("<H", data, at + 1)[0] <= len(data):
        end = at + 3 + struct.unpack_from("<H", data, at + 1)[0]
        found.append((data[at], data[at + 3:end]))
        at = end
    return found


class Page:
    """The page in a browser of its own; positions are board pixels."""

    def __init__(self, test, url):
        options = webdriver.ChromeOptions()
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,820",
                     "--user-data-dir=" + os.path.join(test.server.dir, "profile")):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        test.addCleanup(self.driver.quit)
        self.driver.implicitly_wait(TIMEOUT)
        self.driver.get(url)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def at(self, element, x, y, width, height):
        """The offset from element's centre that lands on its pixel (x, y)."""
        r = element.rect
        return (math.floor((x + 0.5) * r["width"] / width - r["width"] / 2),
                math.floor((y + 0.5) * r["height"] / height - r["height"] / 2))

    def drag(self, path, right_at=None, keys=()):
        """A press where the pointer arrives, moves paced like a hand, a release;
        the right button joins at point right_at when given."""
        canvas = self.find("#picture")
        chain = ActionChains(self.driver, duration=15)
        for key in keys:
            chain.key_down(key)
        chain.move_to_element_with_offset(canvas, *self.at(canvas, *path[0], 912, 684)).click_and_hold()
        for i, point in enumerate(path[1:], 1):
            chain.move_to_element_with_offset(canvas, *self.at(canvas, *point, 912, 684))
            if i == right_at:
                chain.w3c_actions.pointer_action.pointer_down(MouseButton.RIGHT)
                chain.w3c_actions.key_action.pause()
        if right_at is not None:
            chain.w3c_actions.pointer_action.pointer_up(MouseButton.RIGHT)
            chain.w3c_actions.key_action.pause()
        chain.release()
        for key in keys:
            chain.key_up(key)
        chain.perform()

    def press(self, css, x, y, width, height, right=False):
        element = self.find(css)
        chain = ActionChains(self.driver, duration=15).move_to_element_with_offset(element, *self.at(element, x, y, width, height))
        (chain.context_click() if right else chain.click()).perform()

    def colour(self):
        return self.find("#colours").get_attribute("data-rgb")

    def picture(self):
        rgba = base64.b64decode(self.driver.execute_script(
            "const d = document.getElementById('picture').getContext('2d').getImageData(0, 0, 912, 684).data;"
            "let s = ''; for (let i = 0; i < d.length; i += 8192) s += String.fromCharCode(...d.subarray(i, i + 8192));"
            "return btoa(s);"))
        return Image(912, 684, bytes(b for i, b in enumerate(rgba) if i % 4 != 3))


# The page is the WebAssembly build's, which only the plain build makes.
@unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")),
                     "no painting page in this build (the sanitizer builds leave it to the plain one)")
class BrowserPainting(unittest.TestCase):
    def test_the_page_paints_chats_and_agrees_with_the_desktop_and_the_server(self):
        self.server = server = Server(self, "--http", "0")
        web = "http://127.0.0.1:%s" % server.log_match(r"web view on http://\S*:(\d+)")[1]
        desk = Client(self, "dora", server.port)
        page = Page(self, web + "/")
        page.find("#name").send_keys("pat", Keys.ENTER)
        wait_until(lambda: "pat (you)" in page.find("#roster").text, what="pat on the page's roster")

        for tool, name in enumerate(TOOLS):
            page.find("#tool-" + name).click()
            if tool in (2, 5):  # a second value from its slider
                page.press("#slider-1", 120, 16, 160, 32)
            y = 60 + 60 * tool
            page.drag([(80 + 9 * i, y + (10 if i % 6 < 3 else -10)) for i in range(40)])
        # A palette colour, 15 % of another mixed in, then hue and square.
        page.find("#tool-pencil").click()
        page.press("#colours", 300, 5 * 32 + 8, 416, 256)
        self.assertEqual(page.colour(), "255,0,0")
        page.press("#colours", 330, 5 * 32 + 8, 416, 256, right=True)
        self.assertEqual(page.colour(), "216,0,38")
        page.drag([(500 + 7 * i, 80 + 3 * i) for i in range(30)], keys=(Keys.CONTROL,))
        page.press("#colours", 270, 0, 416, 256)
        page.press("#colours", 255, 255, 416, 256)
        self.assertEqual(page.colour(), "255,0,0")
        # The on-screen Shift: one straight line whatever the path.
        page.find("#shift").click()
        page.drag([(500 + 5 * i, 300 + (i % 7) * 6) for i in range(40)])
        page.find("#shift").click()
        page.drag([(500, 400 + 4 * i) for i in range(30)], right_at=15)  # cancelled: nothing is sent
        page.press("#picture", 850, 600, 912, 684, right=True)
        self.assertNotEqual(page.colour(), "255,0,0")
        page.drag([(600 + 6 * i, 500) for i in range(30)])

        desk.select_tool(BRUSH)
        desk.drag([(OX + 300 + 8 * i, OY + 600 - 5 * i) for i in range(40)])

        line = page.find("#line")
        line.send_keys("hello from the page", Keys.ENTER)
        line.send_keys("/8ball will it agree?", Keys.ENTER)
        line.send_keys("/user", Keys.ENTER)
        # The chat line shows once the server accepted it.
        chat = wait_until(lambda: (lambda t: "hello from the page" in t and "Users:" in t and t)(page.find("#chat").text),
                          what="the chat line and the user list on the page")
        lines = chat.splitlines()
        users = lines.index("Users:")
        self.assertRegex(lines[users + 1] + lines[users + 2], r"^\s*\d+ - (dora|pat)\s*\d+ - (dora|pat)$")
        self.assertNotRegex(lines[users - 1], r"^$|pat|dora")  # the 8 ball's answer

        png = pathlib.Path(server.dir, "board.png")

        def agreed():
            try:
                png.write_bytes(urllib.request.urlopen(web + "/board.png", timeout=TIMEOUT).read())
            except urllib.error.HTTPError as e:  # 503: the server's first picture is not drawn yet
                if e.code != 503:
                    raise
                return False
            desk.park()
            pictures = [page.picture(), desk.screenshot(OX, OY, 912, 684), Image.read(["convert", str(png)])]
            return all(p == pictures[0] for p in pictures) and pictures[0]
        picture = wait_until(agreed, 60, interval=0.5, what="the same picture on the page, the desktop and the server")
        self.assertGreater(len(picture.colours()), 50)
        # Nine strokes of the page (the cancelled one is not) and one of the desktop.
        frames = wait_until(lambda: (lambda f: sum(t in DRAWING_TYPES for t, _ in f) >= 10 and f)(board_frames(server)),
                            what="ten strokes on the server's board")
        self.assertEqual(sum(t in DRAWING_TYPES for t, _ in frames), 10)


if __name__ == "__main__":
    unittest.main()
