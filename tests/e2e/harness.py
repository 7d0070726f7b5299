"""End-to-end harness: the real programs in a real (virtual) X server, with
Xvfb, xdotool, xwininfo and ImageMagick. Everything started here is ended by
its pid when its `with` block closes, also when a test fails half-way."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from formats import Image, config_bytes  # noqa: F401  (config_bytes for the tests)

HERE = os.path.dirname(__file__)
BUILD_DIR = os.environ.get("EASEL_BUILD_DIR", os.path.join(HERE, "..", "..", "build"))
SOURCE_DIR = os.environ.get("EASEL_SOURCE_DIR", os.path.join(HERE, "..", ".."))
# Slow machines and sanitizer builds: every wait is bounded, none is short.
DEFAULT_TIMEOUT = float(os.environ.get("EASEL_E2E_TIMEOUT", "20"))


class HarnessError(Exception):
    pass


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise HarnessError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def end_process(proc, grace=3.0):
    """Ends a process started here, by its pid: TERM, then KILL."""
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def binary_path(name):
    return os.path.abspath(os.path.join(BUILD_DIR, name))


class XServer:
    """An Xvfb on a display number it picks itself (-displayfd), without
    MIT-SHM, so that a killed client leaves no shared memory behind."""

    def __init__(self, width=1280, height=1024):
        self.width, self.height = width, height
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", "%dx%dx24" % (self.width, self.height),
             "-nolisten", "tcp", "-noreset", "-extension", "MIT-SHM"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        number = self.proc.stdout.readline().strip()
        if not number:
            raise HarnessError("Xvfb ended before reporting its display")
        self.display = ":" + number

    def __enter__(self):
        return self

    def stop(self, *exc):
        end_process(self.proc)

    __exit__ = stop

    def env(self):
        env = dict(os.environ, DISPLAY=self.display)
        env.pop("XAUTHORITY", None)
        return env

    def run(self, *args):
        """Runs an X client program (xdotool, xwininfo...) on this display."""
        result = subprocess.run(list(args), env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=DEFAULT_TIMEOUT)
        if result.returncode != 0:
            raise HarnessError("%s failed: %s" % (args[0], result.stderr.decode(errors="replace")))
        return result.stdout.decode(errors="replace")

    # Input. Keyboard focus follows the pointer: keep it inside the window.
    def key(self, *names, delay_ms=20):
        self.run("xdotool", "key", "--delay", str(delay_ms), *names)

    def type(self, text, delay_ms=30):
        self.run("xdotool", "type", "--delay", str(delay_ms), text)

    def mouse_move(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y))

    def mouse_down(self):
        self.run("xdotool", "mousedown", "1")

    def mouse_up(self):
        self.run("xdotool", "mouseup", "1")

    def screenshot(self, x, y, w, h):
        return Image.read(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y)], self.env())

    def windows(self):
        """Top-level windows as (id, name, width, height, x, y)."""
        return [(m[1], m[2]) + tuple(map(int, m.groups()[2:])) for m in re.finditer(
            r'^\s*(0x[0-9a-f]+) (?:"([^"]*)"|\S.*?):.*?(\d+)x(\d+)\+(-?\d+)\+(-?\d+)',
            self.run("xwininfo", "-root", "-children"), re.M)]


class Server:
    """easel-server on a free port of 127.0.0.1, its log read as it comes."""

    def __init__(self, *extra):
        self.dir = tempfile.mkdtemp(prefix="easel-server-")
        self.proc = subprocess.Popen(
            [binary_path("server/easel-server"), "--port", "0", "--bind", "127.0.0.1", "--board",
             os.path.join(self.dir, "board.easel"), *extra],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines, self.searched = [], 0
        threading.Thread(target=lambda: self.lines.extend(self.proc.stdout), daemon=True).start()
        self.port = int(self.wait(r"listening on \S*:(\d+)").group(1))

    def wait(self, pattern):
        """The first match of pattern in the log lines not searched before."""
        def find():
            while self.searched < len(self.lines):
                self.searched += 1
                m = re.search(pattern, self.lines[self.searched - 1])
                if m:
                    return m
        return wait_until(find, what="the server to log %r; it logged:\n%s" % (pattern, self.lines))

    def stop(self):
        end_process(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)


class EaselSession:
    """The client in a fresh temporary working directory, removed by close().

    config: bytes for client.cfg, or None for no file; files: {name: bytes}
    put beside it."""

    def __init__(self, xserver, config=None, files=None):
        self.x = xserver
        self.workdir = tempfile.mkdtemp(prefix="easel-e2e-")
        files = dict(files or {})
        if config is not None:
            files["client.cfg"] = config
        for name, data in files.items():
            with open(self.path(name), "wb") as f:
                f.write(data)
        self.proc = self.window = None

    def path(self, name):
        return os.path.join(self.workdir, name)

    def read_file(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start(self):
        with open(self.path("easel.stderr"), "wb") as err:
            self.proc = subprocess.Popen([binary_path("easel")], cwd=self.workdir, env=self.x.env(),
                                         stdin=subprocess.DEVNULL, stdout=err, stderr=err)
        return self

    def wait_exit(self):
        return self.proc.wait(timeout=DEFAULT_TIMEOUT)

    def close(self):
        end_process(self.proc)
        shutil.rmtree(self.workdir, ignore_errors=True)

    __enter__ = start

    def __exit__(self, *exc):
        self.close()

    def check_running(self):
        if self.proc.poll() is not None:
            output = self.read_file("easel.stderr").decode(errors="replace")
            raise HarnessError("easel ended (%s):\n%s" % (self.proc.poll(), output))

    def wait_window(self, width=None, height=None):
        """Waits for this client's window (of this size, when given), puts the
        pointer inside it for keyboard focus and returns (id, name, w, h, x, y).
        Shortly after start-up the graphics library warps the pointer once: it
        is put back until it stays."""
        def find():
            self.check_running()
            return next((w for w in self.x.windows() if w[1] == "easel"
                         and width in (None, w[2]) and height in (None, w[3])), None)
        self.window = wait_until(find, what="the easel window %sx%s" % (width, height))
        want = "x:%d y:%d " % (self.window[4] + self.window[2] - 2, self.window[5] + self.window[3] - 2)

        def placed():
            self.pointer_to(self.window[2] - 2, self.window[3] - 2)
            for _ in range(5):
                time.sleep(0.1)
                if not self.x.run("xdotool", "getmouselocation").startswith(want):
                    return False
            return True
        wait_until(placed, what="the pointer to stay in the window")
        return self.window

    def pointer_to(self, x, y):
        """Moves the pointer to window coordinates."""
        self.x.mouse_move(self.window[4] + x, self.window[5] + y)

    def screenshot(self, x=0, y=0, w=None, h=None):
        """Pixels of the window (or of a rectangle in window coordinates); a
        client that ended shows nothing, which is said at once."""
        self.check_running()
        w, h = (self.window[2] - x if w is None else w), (self.window[3] - y if h is None else h)
        return self.x.screenshot(self.window[4] + x, self.window[5] + y, w, h)

    def wait_screen(self, predicate, what="the screen", **rect):
        """Polls screenshots until predicate(image) holds; returns that image."""
        return wait_until(lambda: (lambda im: predicate(im) and im)(self.screenshot(**rect)),
                          interval=0.02, what=what)

    def key(self, *names, **options):
        self.x.key(*names, **options)


def main():
    """Runs the unittest cases of the calling module; exits non-zero on failure."""
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() and program.result.testsRun > 0 else 1)
