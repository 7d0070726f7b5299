"""The painting page end to end: headless Chromium (Selenium and Debian's
chromium-driver) paints on a real easel-server beside a desktop client under
Xvfb. The page uses every tool, a Ctrl-snapped and a Shift-straight stroke, a
cancelled one, the colour panel and a pick from the picture, and chats; then
the page's canvas, the desktop's picture and /board.png agree byte for byte."""
import os
import pathlib
import unittest
import urllib.error
import urllib.request

from harness import BUILD_DIR, TIMEOUT, Image, Server, wait_until
from page import Page
from selenium.webdriver.common.keys import Keys
from test_shared_board import BRUSH, OX, OY, Client

CTRL = 2  # the modifier bit of a pointer event's Ctrl

TOOLS = ("pen", "pencil", "brush", "chalk", "smudge", "stamp")
DRAWING_TYPES = {0, 1, 2, 3, 4, 12}


# The page is the WebAssembly build's, which only the plain build makes.
@unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")),
                     "no painting page in this build (the sanitizer builds leave it to the plain one)")
class BrowserPainting(unittest.TestCase):
    def test_the_page_paints_chats_and_agrees_with_the_desktop_and_the_server(self):
        self.server = server = Server(self, "--http", "0")
        web = "http://127.0.0.1:%s" % server.log_match(r"web view on http://\S*:(\d+)")[1]
        desk = Client(self, "dora", server.port)
        page = Page(self, web + "/")
        page.login("pat")
        wait_until(lambda: "pat (you)" in page.text("#roster"), what="pat on the page's roster")
        colour = lambda: page.js("return document.getElementById('colours').dataset.rgb")  # noqa: E731
        press = lambda css, x, y, w, h, right=False: page.tap(*page.at(css, x, y, w, h), right)  # noqa: E731

        for tool, name in enumerate(TOOLS):
            page.press_on("#tool-" + name)
            if tool in (2, 5):  # a second value from its slider
                press("#slider-1", 120, 16, 160, 32)
            y = 60 + 60 * tool
            page.drag(page.board_path([(80 + 9 * i, y + (10 if i % 6 < 3 else -10)) for i in range(40)]))
        # A palette colour, 15 % of another mixed in, then hue and square.
        page.press_on("#tool-pencil")
        press("#colours", 300, 5 * 32 + 8, 416, 256)
        self.assertEqual(colour(), "255,0,0")
        press("#colours", 330, 5 * 32 + 8, 416, 256, right=True)
        self.assertEqual(colour(), "216,0,38")
        page.drag(page.board_path([(500 + 7 * i, 80 + 3 * i) for i in range(30)]), modifiers=CTRL)
        press("#colours", 270, 0, 416, 256)
        press("#colours", 255, 255, 416, 256)
        self.assertEqual(colour(), "255,0,0")
        # The on-screen Shift: one straight line whatever the path.
        page.press_on("#shift")
        page.drag(page.board_path([(500 + 5 * i, 300 + (i % 7) * 6) for i in range(40)]))
        page.press_on("#shift")
        page.drag(page.board_path([(500, 400 + 4 * i) for i in range(30)]), right_at=15)  # cancelled: nothing is sent
        page.tap(*page.screen_point(850, 600), right=True)
        self.assertNotEqual(colour(), "255,0,0")
        page.drag(page.board_path([(600 + 6 * i, 500) for i in range(30)]))

        desk.select_tool(BRUSH)
        desk.drag([(OX + 300 + 8 * i, OY + 600 - 5 * i) for i in range(40)])

        page.press_on("#line")
        page.type("hello from the page", Keys.ENTER)
        page.type("/8ball will it agree?", Keys.ENTER)
        page.type("/user", Keys.ENTER)
        # The chat line shows once the server accepted it.
        chat = wait_until(lambda: (lambda t: "hello from the page" in t and "Users:" in t and t)(
            page.js("return document.getElementById('chat').innerText")), what="the chat line and the user list on the page")
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
        frames = wait_until(lambda: (lambda f: sum(t in DRAWING_TYPES for t, _ in f) >= 10 and f)(server.frames()),
                            what="ten strokes on the server's board")
        self.assertEqual(sum(t in DRAWING_TYPES for t, _ in frames), 10)


if __name__ == "__main__":
    unittest.main()
