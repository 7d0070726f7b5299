"""End-to-end harness: the real client on an Xvfb of its own (xdotool, xwininfo,
ImageMagick), and the files the programs read, built independently of their
code. What is started here is ended by its pid at the test's cleanup."""
import collections
import os
import pathlib
import re
import struct
import subprocess
import tempfile
import time

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BUILD_DIR = os.path.abspath(os.environ.get("EASEL_BUILD_DIR", os.path.join(SOURCE_DIR, "build")))
# Slow machines and sanitizer builds: every wait is bounded, none is short.
TIMEOUT = float(os.environ.get("EASEL_E2E_TIMEOUT", "20"))


def wait_until(predicate, timeout=TIMEOUT, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)
    return value


def start(test, *command, **options):
    """A program that test's cleanup ends: TERM, then KILL."""
    proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, **options)

    def end():
        proc.terminate()
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            proc.kill()
    test.addCleanup(end)
    return proc


def workdir(test, files):
    """A temporary directory holding files {relative path: bytes}, removed at cleanup."""
    path = test.enterContext(tempfile.TemporaryDirectory(prefix="easel-e2e-"))
    for name, data in files.items():
        pathlib.Path(path, name).parent.mkdir(parents=True, exist_ok=True)
        pathlib.Path(path, name).write_bytes(data)
    return path


def config_bytes(width, height, server, port, user):
    """The 281 bytes of client.cfg (windowed), texts zero-padded to their fields."""
    return (server.encode().ljust(256, b"\0") + struct.pack("<H", port) + user.encode().ljust(16, b"\0")
            + struct.pack("<HHHB", width, height, width, 0))


def bmp_bytes(width, height, colour_at):
    """A 24-bit Windows bitmap, bottom-up, rows padded to 4 bytes."""
    pad = b"\0" * ((4 - width * 3 % 4) % 4)
    data = b"".join(b"".join(bytes(colour_at(x, y)[::-1]) for x in range(width)) + pad
                    for y in range(height - 1, -1, -1))
    return (struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0) + data)


class Server:
    """easel-server on a free loopback port in a directory of its own (its log
    in dir/log, its board in dir/board.easel), or again in the directory of one
    that was stopped (its log then in dir/log.again)."""

    def __init__(self, test, *options, again=None):
        self.dir = again.dir if again else workdir(test, {})
        self.log = os.path.join(self.dir, "log.again" if again else "log")
        with open(self.log, "wb") as log:
            self.proc = start(test, os.path.join(BUILD_DIR, "server", "easel-server"), "--port", "0", "--bind",
                              "127.0.0.1", "--board", os.path.join(self.dir, "board.easel"), *options, stdout=log,
                              stderr=subprocess.STDOUT)
        self.port = int(self.log_match(r"listening on \S*:(\d+)")[1])

    def log_match(self, pattern, timeout=20):
        """The first match of pattern in the server's log, once there is one."""
        return wait_until(lambda: re.search(pattern, pathlib.Path(self.log).read_text()), timeout,
                          what="the server to log %r" % pattern)

    def frames(self, count=None):
        """The board's whole frames so far (its first count at most), (type, payload) each."""
        board, found, at = pathlib.Path(self.dir, "board.easel"), [], 0
        data = board.read_bytes() if board.exists() else b""
        while (count is None or len(found) < count) and at + 3 <= len(data):
            end = at + 3 + struct.unpack_from("<H", data, at + 1)[0]
            if end > len(data):
                break
            found.append((data[at], data[at + 3:end]))
            at = end
        return found

    def commands(self, count):
        """The board's first count frames, (type, payload) each, once it holds them all."""
        return wait_until(lambda: (lambda found: len(found) == count and found)(self.frames(count)),
                          what="%d commands on the board" % count)


class Image(collections.namedtuple("Image", "width height data")):
    """RGB pixels, rows top to bottom."""

    @staticmethod
    def read(command, env=None):
        """What an ImageMagick command (convert FILE, import -window root ...) gives."""
        out = subprocess.run(command + ["-depth", "8", "ppm:-"], env=env, capture_output=True, timeout=60,
                             check=True).stdout
        width, height = map(int, out.split(maxsplit=3)[1:3])  # P6 width height 255 pixels
        return Image(width, height, out[len(out) - width * height * 3:])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def colours(self):
        return {tuple(self.data[i:i + 3]) for i in range(0, len(self.data), 3)}


class Easel:
    """The client on an Xvfb of its own (screen: its size) in a fresh working
    directory holding files. Xvfb runs without MIT-SHM, so that a killed client
    leaves no shared memory behind. Positions are in window coordinates. With a
    launcher (an installed easel), that runs instead, the directory as HOME."""

    def __init__(self, test, files, screen=(1280, 1024), launcher=None):
        xvfb = start(test, "Xvfb", "-displayfd", "1", "-screen", "0", "%dx%dx24" % screen, "-nolisten", "tcp",
                     "-noreset", "-extension", "MIT-SHM", stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                     text=True)
        self.env = dict(os.environ, DISPLAY=":" + xvfb.stdout.readline().strip())
        xvfb.stdout.close()
        self.dir = workdir(test, files)
        if launcher:
            self.env = {k: v for k, v in self.env.items() if k != "XDG_DATA_HOME"}
            self.env["HOME"] = self.dir
        self.proc = start(test, launcher or os.path.join(BUILD_DIR, "easel"), cwd=self.dir, env=self.env)

    def x(self, *command):
        """Runs an X client program (xdotool, xwininfo...) on this display."""
        return subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=TIMEOUT, check=True).stdout.decode(errors="replace")

    def xdo(self, *args):
        self.x("xdotool", *args)

    def check_running(self):
        if self.proc.poll() is not None:
            raise AssertionError("easel ended with status %d (its output above)" % self.proc.poll())

    def wait_window(self, width, height):
        """Waits for the client's window of this size; the pointer stays where it is."""
        def find():
            self.check_running()
            m = re.search(r'"easel":.*? %dx%d\+(-?\d+)\+(-?\d+)' % (width, height),
                          self.x("xwininfo", "-root", "-children"))
            return m and tuple(map(int, m.groups()))
        self.left, self.top = wait_until(find, what="the easel window %dx%d" % (width, height))
        self.size = (width, height)

    def pointer_to(self, x, y):
        self.xdo("mousemove", str(self.left + x), str(self.top + y))

    def click(self, x, y):
        """A jump there and at once a left click (12 ms)."""
        self.xdo("mousemove", str(self.left + x), str(self.top + y), "click", "1")

    def screenshot(self, x=0, y=0, w=None, h=None):
        """Pixels of the window, or of a rectangle of it; a client that ended
        shows nothing, which is said at once."""
        self.check_running()
        crop = "%dx%d+%d+%d" % (w or self.size[0] - x, h or self.size[1] - y, self.left + x, self.top + y)
        return Image.read(["import", "-window", "root", "-crop", crop], self.env)

    def wait_screen(self, predicate, what, **rect):
        """Polls screenshots until predicate(image) holds and returns that image."""
        return wait_until(lambda: (lambda im: predicate(im) and im)(self.screenshot(**rect)), interval=0.02, what=what)
