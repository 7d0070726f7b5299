"""First run without client.cfg: the setup screen in a 320 x 240 window asks
every setting from the keyboard, asks invalid answers again, and writes the
settings file; the client then opens the configured mode."""

import os
import unittest

import harness
from harness import EaselSession, XServer, config_bytes

W, H = 320, 240
BLACK, WHITE, DARK_RED = (0, 0, 0), (255, 255, 255), (128, 0, 0)
TOP = H // 2 - 8                     # the prompt is drawn at H / 2 - 6
FIELD_TOP = H // 2 + 3 - TOP         # black field from H / 2 + 3 to H / 2 + 12
ERASE = ["BackSpace"] * 20           # more than any answer here is long


class Prompts:
    """Answers the setup screen's prompts the way a person does, watching the
    screen. Each prompt empties the key buffer when it appears and draws its
    field right after, so keys are sent only once the new field is drawn."""

    def __init__(self, session):
        self.s = session

    def look(self):
        """(title, field) images of the current prompt."""
        image = self.s.screenshot(0, TOP, W, FIELD_TOP + 10)
        return image.crop(0, 0, W, FIELD_TOP - 1), image.crop(0, FIELD_TOP, W, 10)

    def field(self):
        return self.look()[1]

    def title(self):
        return self.look()[0]

    def wait_prompt(self, previous_title=None, field=None):
        """Waits for a prompt whose title differs from previous_title (when
        given) and whose field is drawn (and shows field, when given)."""
        def ready():
            title, current = self.look()
            drawn = current.pixel(1, 0) == BLACK and current.pixel(W - 2, 9) == BLACK
            return (drawn and (previous_title is None or title != previous_title)
                    and (field is None or current == field)) and title
        return harness.wait_until(ready, what="the next prompt", interval=0.01)

    def wait_field(self, predicate, what):
        return harness.wait_until(lambda: (lambda f: predicate(f) and f)(self.field()), what=what,
                                  interval=0.01)

    def backspace_until_changed(self):
        """Confirms a prompt that looks like the previous one is taking keys."""
        for _ in range(10):
            before = self.field()
            self.s.key("BackSpace")
            try:
                harness.wait_until(lambda: self.field() != before, timeout=1.0, what="a backspace")
                return
            except harness.HarnessError:
                continue  # emptied from the key buffer as the prompt appeared
        raise harness.HarnessError("the prompt takes no keys")

    def rendering(self, text):
        """How the field shows text (typed into the current prompt, then erased)."""
        self.erase()
        self.s.x.type(text, delay_ms=10)
        # The text is centred in 8-pixel cells: once its ink starts left of
        # where one character less would start, every key has been taken.
        shorter_start = W // 2 - 4 * (len(text) - 1)

        def complete(image):
            ink = [x for x in range(W) for y in range(10) if image.pixel(x, y) == WHITE]
            return ink and min(ink) < shorter_start
        image = self.wait_field(complete, "the typed text")
        self.erase()
        return image

    def erase(self):
        self.s.x.key(*ERASE, delay_ms=5)
        self.wait_field(lambda f: f.count(WHITE) == 0, "an empty field")

    def answer(self, text):
        self.s.x.key(*ERASE, delay_ms=5)
        if text:
            self.s.x.type(text, delay_ms=10)
        self.s.x.key("Return")


class SetupScreenTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer().start()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def test_answers_from_the_keyboard_write_the_settings_file(self):
        with EaselSession(self.x) as s:
            s.wait_window(W, H)
            p = Prompts(s)
            server_title = p.wait_prompt()

            whole = s.screenshot()
            self.assertGreater(whole.count(DARK_RED), W * H * 3 // 4, "dark red background")
            self.assertTrue(whole.count(WHITE), "white prompt text")
            self.assertEqual(whole.pixel(0, H // 2 + 3), DARK_RED, "the field leaves a 1-pixel border")

            zero, six_hundred = p.rendering("0"), p.rendering("600")
            p.answer("paint.example.org")

            port_title = p.wait_prompt(server_title)
            p.answer("abc")
            # Asked again, offering the number "abc" became.
            p.wait_prompt(field=zero)
            self.assertEqual(p.title(), port_title)
            p.answer("2345")

            user_title = p.wait_prompt(port_title)
            p.answer("ann")

            width_title = p.wait_prompt(user_title)
            p.answer("639")
            # The same question again, showing 639: a backspace edits it there.
            p.backspace_until_changed()
            self.assertEqual(p.title(), width_title)
            p.answer("800")

            # The offered height is three quarters of the width; Enter takes it.
            height_title = p.wait_prompt(width_title, field=six_hundred)
            s.key("Return")

            p.wait_prompt(height_title)
            p.answer("no")

            s.wait_window(800, 600)
            self.assertEqual(s.read_file("client.cfg"),
                             config_bytes(800, 600, 0, server="paint.example.org", port=2345, user="ann"))
            s.key("Escape")
            self.assertEqual(s.wait_exit(), 0)
            self.assertEqual(s.messages(), [])

    def test_unwritable_settings_file_ends_with_status_1(self):
        # A folder named client.cfg: it cannot be read, nor written at the end.
        session = EaselSession(self.x)
        os.mkdir(session.path("client.cfg"))
        with session as s:
            s.wait_window(W, H)
            p = Prompts(s)
            title = p.wait_prompt()
            for answer in ("h", "1", "u", "640"):
                p.answer(answer)
                title = p.wait_prompt(title)
            s.key("Return")  # the offered height 480
            p.wait_prompt(title)
            p.answer("no")
            self.assertEqual(s.wait_exit(), 1)
            self.assertEqual(s.messages(), [], "no message box")


if __name__ == "__main__":
    harness.main()
