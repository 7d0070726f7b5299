"""End-to-end harness: the real programs on a virtual X server (Xvfb, xdotool,
xwininfo, ImageMagick). Whatever is started here is ended by its pid when its
`with` block closes, also when a test fails half-way."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

from formats import Image, config_bytes  # noqa: F401  (config_bytes for the tests)

HERE = os.path.dirname(__file__)
BUILD_DIR = os.environ.get("EASEL_BUILD_DIR", os.path.join(HERE, "..", "..", "build"))
SOURCE_DIR = os.environ.get("EASEL_SOURCE_DIR", os.path.join(HERE, "..", ".."))
# Slow machines and sanitizer builds: every wait is bounded, none is short.
DEFAULT_TIMEOUT = float(os.environ.get("EASEL_E2E_TIMEOUT", "20"))


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)
    return value


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
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp",
             "-noreset", "-extension", "MIT-SHM"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.display = ":" + self.proc.stdout.readline().strip()
        self.proc.stdout.close()
        if self.display == ":":
            raise AssertionError("Xvfb ended before reporting its display")

    def __enter__(self):
        return self

    def stop(self, *exc):
        end_process(self.proc)

    __exit__ = stop

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def run(self, *args):
        """Runs an X client program (xdotool, xwininfo...) on this display."""
        return subprocess.run(list(args), env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=DEFAULT_TIMEOUT, check=True).stdout.decode(errors="replace")

    # Input. Keyboard focus follows the pointer: keep it inside the window.
    def key(self, *names, delay_ms=20):
        self.run("xdotool", "key", "--delay", str(delay_ms), *names)

    def mouse_move(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y))

    def mouse_down(self):
        self.run("xdotool", "mousedown", "1")

    def mouse_up(self):
        self.run("xdotool", "mouseup", "1")


class Server:
    """easel-server on a free port of 127.0.0.1, logging to a file beside its board."""

    def __init__(self, *extra):
        self.dir = tempfile.mkdtemp(prefix="easel-server-")
        with open(os.path.join(self.dir, "log"), "wb") as log:
            self.proc = subprocess.Popen(
                [binary_path("server/easel-server"), "--port", "0", "--bind", "127.0.0.1", "--board",
                 os.path.join(self.dir, "board.easel"), *extra],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        self.port = int(self.wait(r"listening on \S*:(\d+)").group(1))

    def wait(self, pattern):
        """The first match of pattern in the log, once there is one."""
        def find():
            with open(os.path.join(self.dir, "log")) as f:
                return re.search(pattern, f.read())
        return wait_until(find, what="the server to log %r" % pattern)

    def stop(self):
        end_process(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)


class EaselSession:
    """The client in a fresh temporary working directory, removed by close().

    config: bytes for client.cfg, or None for no file; files: {name: bytes}
    put beside it."""

    def __init__(self, xserver, config=None, files=None):
        self.x, self.proc, self.window = xserver, None, None
        self.workdir = tempfile.mkdtemp(prefix="easel-e2e-")
        files = dict(files or {})
        if config is not None:
            files["client.cfg"] = config
        for name, data in files.items():
            pathlib.Path(self.path(name)).write_bytes(data)

    def path(self, name):
        return os.path.join(self.workdir, name)

    def read_file(self, name):
        return pathlib.Path(self.path(name)).read_bytes()

    def start(self):
        with open(self.path("easel.stderr"), "wb") as err:
            self.proc = subprocess.Popen([binary_path("easel")], cwd=self.workdir, env=self.x.env(),
                                         stdin=subprocess.DEVNULL, stdout=err, stderr=err)
        return self

    def wait_exit(self):
        return self.proc.wait(timeout=DEFAULT_TIMEOUT)

    def close(self, *exc):
        end_process(self.proc)
        shutil.rmtree(self.workdir, ignore_errors=True)

    __enter__, __exit__ = start, close

    def wait_window(self, width=None, height=None):
        """Waits for this client's window (of this size, when given), puts the
        pointer inside it for keyboard focus and returns (id, name, w, h, x, y).
        Shortly after start-up the graphics library warps the pointer once: it
        is put back until it stays."""
        def find():
            self.check_running()
            for m in re.finditer(r'^\s*(0x[0-9a-f]+) "easel":.*?(\d+)x(\d+)\+(-?\d+)\+(-?\d+)',
                                 self.x.run("xwininfo", "-root", "-children"), re.M):
                window = (m[1], "easel") + tuple(map(int, m.groups()[1:]))
                if width in (None, window[2]) and height in (None, window[3]):
                    return window
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

    def check_running(self):
        if self.proc.poll() is not None:
            output = self.read_file("easel.stderr").decode(errors="replace")
            raise AssertionError("easel ended (%s):\n%s" % (self.proc.poll(), output))

    def pointer_to(self, x, y):
        """Moves the pointer to window coordinates."""
        self.x.mouse_move(self.window[4] + x, self.window[5] + y)

    def screenshot(self, x=0, y=0, w=None, h=None):
        """Pixels of the window (or of a rectangle in window coordinates); a
        client that ended shows nothing, which is said at once."""
        self.check_running()
        w, h = (self.window[2] - x if w is None else w), (self.window[3] - y if h is None else h)
        crop = "%dx%d+%d+%d" % (w, h, self.window[4] + x, self.window[5] + y)
        return Image.read(["import", "-window", "root", "-crop", crop], self.x.env())

    def wait_screen(self, predicate, what="the screen", **rect):
        """Polls screenshots until predicate(image) holds; returns that image."""
        return wait_until(lambda: (lambda im: predicate(im) and im)(self.screenshot(**rect)),
                          interval=0.02, what=what)

    def key(self, *names, **options):
        self.x.key(*names, **options)
