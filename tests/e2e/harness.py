"""End-to-end harness: the real `easel` in a real (virtual) X server.

Python 3 standard library only, plus the programs Xvfb, xdotool, xwininfo and
ImageMagick's import. Typical use:

    with XServer() as x, EaselSession(x, config=config_bytes(640, 480)) as s:
        s.wait_window(640, 480)
        s.key("Escape")
        assert s.wait_exit() == 0

Everything started here is ended by its pid when the `with` blocks close, also
when a test fails half-way.
"""

import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

BUILD_DIR = os.environ.get("EASEL_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.environ.get("EASEL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))

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
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=grace)
    except ProcessLookupError:
        pass


# ---------------------------------------------------------------------------
# Settings file

def config_bytes(width=640, height=480, fullscreen=0, server="localhost", port=2020, user="guest",
                 width_again=None):
    """The 281 bytes of client.cfg. Text arguments may be str or bytes; they are
    zero-padded to their fields (a 256-byte server name has no terminator)."""
    def field(text, size):
        raw = text.encode("latin-1") if isinstance(text, str) else bytes(text)
        if len(raw) > size:
            raise ValueError("text longer than its field")
        return raw + b"\0" * (size - len(raw))
    if width_again is None:
        width_again = width
    return (field(server, 256) + struct.pack("<H", port & 0xFFFF) + field(user, 16)
            + struct.pack("<HHHB", width & 0xFFFF, height & 0xFFFF, width_again & 0xFFFF, fullscreen & 0xFF))


# ---------------------------------------------------------------------------
# Screenshots

class Image:
    """An RGB picture read from a binary PPM (P6, maxval 255)."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def from_ppm(blob):
        fields, pos = [], 0
        while len(fields) < 4:
            while blob[pos:pos + 1].isspace():
                pos += 1
            if blob[pos:pos + 1] == b"#":
                pos = blob.index(b"\n", pos)
                continue
            end = pos
            while not blob[end:end + 1].isspace():
                end += 1
            fields.append(blob[pos:end])
            pos = end
        pos += 1  # the single whitespace byte after maxval
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise HarnessError("not an 8-bit binary PPM")
        w, h = int(fields[1]), int(fields[2])
        data = blob[pos:pos + w * h * 3]
        if len(data) != w * h * 3:
            raise HarnessError("short PPM")
        return Image(w, h, data)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, x, y, w, h):
        rows = [self.data[((y + r) * self.width + x) * 3:((y + r) * self.width + x + w) * 3] for r in range(h)]
        return Image(w, h, b"".join(rows))

    def count(self, colour):
        """Number of pixels of exactly this (r, g, b) colour."""
        target = bytes(colour)
        return sum(1 for i in range(0, len(self.data), 3) if self.data[i:i + 3] == target)

    def colours(self):
        """Set of the (r, g, b) colours present."""
        return {tuple(self.data[i:i + 3]) for i in range(0, len(self.data), 3)}

    def save_ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height))
            f.write(self.data)

    def __eq__(self, other):
        return isinstance(other, Image) and (self.width, self.height, self.data) == (
            other.width, other.height, other.data)


# ---------------------------------------------------------------------------
# The X server

class XServer:
    """An Xvfb on a display number it picks itself (-displayfd).

    MIT-SHM is off by default: the graphics library then keeps no shared-memory
    segments that a killed client would leave behind."""

    def __init__(self, width=1280, height=1024, depth=24, shm=False):
        self.width, self.height, self.depth, self.shm = width, height, depth, shm
        self.proc = None
        self.display = None

    def start(self):
        if not shutil.which("Xvfb"):
            raise HarnessError("Xvfb is not installed")
        read_fd, write_fd = os.pipe()
        args = ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                "%dx%dx%d" % (self.width, self.height, self.depth), "-nolisten", "tcp", "-noreset"]
        if not self.shm:
            args += ["-extension", "MIT-SHM"]
        self.proc = subprocess.Popen(args, pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        try:
            number = b""
            deadline = time.monotonic() + DEFAULT_TIMEOUT
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    raise HarnessError("Xvfb did not report its display")
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise HarnessError("Xvfb ended before reporting its display")
                number += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_fd)
        self.display = ":" + number.decode().strip()
        return self

    def stop(self):
        end_process(self.proc)
        self.proc = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env["DISPLAY"] = self.display
        env.pop("XAUTHORITY", None)
        return env

    def run(self, *args, timeout=DEFAULT_TIMEOUT, check=True):
        """Runs an X client program (xdotool, xwininfo...) on this display."""
        result = subprocess.run(list(args), env=self.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise HarnessError("%s failed (%d): %s" % (args[0], result.returncode,
                                                        result.stderr.decode(errors="replace")))
        return result.stdout.decode(errors="replace")

    # Input. Keyboard focus follows the pointer: keep it inside the window.
    def key(self, *names, delay_ms=20):
        self.run("xdotool", "key", "--delay", str(delay_ms), *names)

    def type(self, text, delay_ms=30):
        self.run("xdotool", "type", "--delay", str(delay_ms), text)

    def mouse_move(self, x, y):
        self.run("xdotool", "mousemove", str(x), str(y))

    def mouse_down(self, button=1):
        self.run("xdotool", "mousedown", str(button))

    def mouse_up(self, button=1):
        self.run("xdotool", "mouseup", str(button))

    def click(self, x, y, button=1):
        self.mouse_move(x, y)
        self.run("xdotool", "click", str(button))

    def close_window(self, window_id):
        """Asks a window to close the way a window manager's close button does:
        a WM_DELETE_WINDOW client message. (xdotool here can only destroy a
        window, which the program would see as losing its display.)"""
        import socket
        wid = int(window_id, 16) if isinstance(window_id, str) else window_id
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(DEFAULT_TIMEOUT)
        try:
            sock.connect("/tmp/.X11-unix/X" + self.display.lstrip(":"))

            def receive(n):
                data = b""
                while len(data) < n:
                    chunk = sock.recv(n - len(data))
                    if not chunk:
                        raise HarnessError("X server closed the connection")
                    data += chunk
                return data

            def reply():
                while True:  # skip events; fail on errors
                    head = receive(32)
                    if head[0] == 0:
                        raise HarnessError("X error %d" % head[1])
                    if head[0] == 1:
                        receive(4 * struct.unpack_from("<I", head, 4)[0])
                        return head

            def intern_atom(name):
                raw = name.encode()
                pad = b"\0" * (-len(raw) % 4)
                sock.sendall(struct.pack("<BBHHxx", 16, 0, 2 + (len(raw) + len(pad)) // 4, len(raw)) + raw + pad)
                return struct.unpack_from("<I", reply(), 8)[0]

            # Connection set-up: little-endian, protocol 11.0, no authorisation.
            sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
            head = receive(8)
            if head[0] != 1:
                raise HarnessError("X server refused the connection")
            receive(4 * struct.unpack_from("<H", head, 6)[0])
            protocols, delete = intern_atom("WM_PROTOCOLS"), intern_atom("WM_DELETE_WINDOW")
            event = struct.pack("<BBHII5I", 33, 32, 0, wid, protocols, delete, 0, 0, 0, 0)
            sock.sendall(struct.pack("<BBHII", 25, 0, 11, wid, 0) + event)  # SendEvent
            sock.sendall(struct.pack("<BxH", 43, 1))  # GetInputFocus: waits until it is handled
            reply()
        finally:
            sock.close()

    def screenshot(self, x=0, y=0, w=None, h=None):
        """The root window's pixels (or a rectangle of them)."""
        w = self.width - x if w is None else w
        h = self.height - y if h is None else h
        result = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                                 "-depth", "8", "ppm:-"], env=self.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=DEFAULT_TIMEOUT)
        if result.returncode != 0:
            raise HarnessError("import failed: " + result.stderr.decode(errors="replace"))
        return Image.from_ppm(result.stdout)

    def windows(self):
        """Top-level windows as (id, name, width, height, x, y)."""
        found = []
        for line in self.run("xwininfo", "-root", "-children").splitlines():
            line = line.strip()
            if not line.startswith("0x"):
                continue
            wid = line.split()[0]
            name = None
            if line.count('"') >= 2:
                start = line.index('"') + 1
                name = line[start:line.index('"', start)]
            geometry = [part for part in line.split() if "x" in part and "+" in part]
            if not geometry:
                continue
            size, _, rest = geometry[-1].partition("+")
            gw, gh = (int(v) for v in size.split("x"))
            gx, _, gy = rest.partition("+")
            found.append((wid, name, gw, gh, int(gx), int(gy.split("+")[0])))
        return found


# ---------------------------------------------------------------------------
# One run of the client

XMESSAGE_STUB = """#!/bin/sh
# Stands in for the desktop's message box: records the text, presses OK.
for last; do :; done
printf '%s\\0' "$last" >> "$EASEL_E2E_MESSAGES"
exit 101
"""


def binary_path(name="easel"):
    path = os.path.join(BUILD_DIR, name)
    if not os.path.exists(path):
        raise HarnessError("%s is not built (EASEL_BUILD_DIR=%s)" % (name, BUILD_DIR))
    return os.path.abspath(path)


def is_sanitized(path):
    with open(path, "rb") as f:
        return b"__asan_init" in f.read()


class EaselSession:
    """The client running in a fresh temporary working directory, removed by
    close() (or at the end of a `with` block).

    config: bytes for client.cfg, or None for no file. files: {name: bytes} put
    beside it (e.g. tool icons). Message boxes are answered by a stub that
    records their text (see messages())."""

    def __init__(self, xserver, config=None, files=None, binary=None, memory_limit_mb=None, env=None):
        self.x = xserver
        self.root = tempfile.mkdtemp(prefix="easel-e2e-")
        self.workdir = os.path.join(self.root, "work")
        os.mkdir(self.workdir)
        self.bindir = os.path.join(self.root, "bin")
        os.mkdir(self.bindir)
        stub = os.path.join(self.bindir, "xmessage")
        with open(stub, "w") as f:
            f.write(XMESSAGE_STUB)
        os.chmod(stub, 0o755)
        self.messages_path = os.path.join(self.root, "messages.txt")
        if config is not None:
            self.write_file("client.cfg", config)
        for name, data in (files or {}).items():
            self.write_file(name, data)
        self.binary = binary or binary_path("easel")
        self.memory_limit_mb = memory_limit_mb
        self.extra_env = env or {}
        self.proc = None
        self.window = None
        self.returncode = None
        self.user = None

    def run_as_nobody(self):
        """Runs the client as the unprivileged user "nobody" (for tests that
        need permissions to matter when the tests run as root). The binary is
        copied beside the working directory so that user can reach it."""
        import pwd
        self.user = pwd.getpwnam("nobody")
        copy = os.path.join(self.root, os.path.basename(self.binary))
        shutil.copy2(self.binary, copy)
        self.binary = copy
        os.chmod(self.root, 0o755)
        for name in os.listdir(self.root):
            os.chmod(os.path.join(self.root, name), 0o755)
        os.chown(self.workdir, self.user.pw_uid, self.user.pw_gid)

    # Files of the working directory
    def path(self, name):
        return os.path.join(self.workdir, name)

    def write_file(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read_file(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(self.path(name))

    # The process
    def start(self):
        env = self.x.env()
        env["PATH"] = self.bindir + os.pathsep + env.get("PATH", "")
        env["EASEL_E2E_MESSAGES"] = self.messages_path
        env.update(self.extra_env)
        preexec = None
        if self.memory_limit_mb:
            if is_sanitized(self.binary):
                # The sanitizer reserves far more address space than any limit
                # allows; its allocator refuses big blocks instead.
                options = env.get("ASAN_OPTIONS", "")
                env["ASAN_OPTIONS"] = (options + ":" if options else "") + (
                    "allocator_may_return_null=1:max_allocation_size_mb=%d" % self.memory_limit_mb)
            else:
                limit = self.memory_limit_mb * 1024 * 1024

                def preexec():
                    import resource
                    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        # Windows already there belong to other clients on the same display.
        self.windows_before = {win[0] for win in self.x.windows()}
        self.stdout_file = open(os.path.join(self.root, "stdout.txt"), "wb")
        self.stderr_file = open(os.path.join(self.root, "stderr.txt"), "wb")
        ids = {}
        if self.user is not None:
            ids = dict(user=self.user.pw_uid, group=self.user.pw_gid, extra_groups=[])
            env["HOME"] = self.root
        self.proc = subprocess.Popen([self.binary], cwd=self.workdir, env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.stdout_file, stderr=self.stderr_file, preexec_fn=preexec,
                                     **ids)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """The exit status; raises when the program is still running at the timeout."""
        try:
            self.returncode = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("easel still running after %.1f s" % timeout)
        return self.returncode

    def stop(self):
        end_process(self.proc)
        for f in (getattr(self, "stdout_file", None), getattr(self, "stderr_file", None)):
            if f:
                f.close()

    def close(self, keep=False):
        self.stop()
        if not keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.close()
            raise

    def __exit__(self, exc_type, *exc):
        # A failed test keeps its directory for a look; say where.
        keep = exc_type is not None and os.environ.get("EASEL_E2E_KEEP")
        if exc_type is not None:
            sys.stderr.write("e2e: stdout:\n%s\ne2e: stderr:\n%s\n" % (self.stdout(), self.stderr()))
        self.close(keep=bool(keep))
        if keep:
            sys.stderr.write("e2e: kept %s\n" % self.root)

    def _output(self, name):
        try:
            with open(os.path.join(self.root, name), "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def stdout(self):
        return self._output("stdout.txt")

    def stderr(self):
        return self._output("stderr.txt")

    def messages(self):
        """Texts of the message boxes shown so far, in order, as given to the
        message box program (the graphics library ends them with a line end)."""
        try:
            with open(self.messages_path, encoding="latin-1") as f:
                return f.read().split("\0")[:-1]
        except OSError:
            return []

    # The window
    def wait_window(self, width=None, height=None, timeout=DEFAULT_TIMEOUT):
        """Waits for the client's window (of this size, when given; windows
        that were there before this client started are not its own), puts the
        pointer inside it for keyboard focus, and returns its geometry
        (id, name, width, height, x, y)."""
        def find():
            if not self.running():
                raise HarnessError("easel ended (status %s) before its window appeared:\n%s"
                                   % (self.proc.poll(), self.stderr()))
            for win in self.x.windows():
                if win[0] in self.windows_before:
                    continue
                if win[1] == "easel" and (width is None or win[2] == width) and (
                        height is None or win[3] == height):
                    return win
            return None
        self.window = wait_until(find, timeout, what="the easel window %sx%s" % (width, height))
        self.pointer_to(self.window[2] - 2, self.window[3] - 2)
        return self.window

    def pointer_to(self, x, y):
        """Moves the pointer to window coordinates."""
        self.x.mouse_move(self.window[4] + x, self.window[5] + y)

    def screenshot(self, x=0, y=0, w=None, h=None):
        """Pixels of the window (or of a rectangle in window coordinates)."""
        w = self.window[2] - x if w is None else w
        h = self.window[3] - y if h is None else h
        return self.x.screenshot(self.window[4] + x, self.window[5] + y, w, h)

    def wait_screen(self, predicate, timeout=DEFAULT_TIMEOUT, what="the screen", **rect):
        """Polls screenshots until predicate(image) holds; returns that image."""
        def check():
            image = self.screenshot(**rect)
            return image if predicate(image) else None
        return wait_until(check, timeout, interval=0.02, what=what)

    def wait_stable(self, timeout=DEFAULT_TIMEOUT, settle=0.2, **rect):
        """Waits until the window (or rectangle) shows the same pixels in
        screenshots at least settle seconds apart; returns them."""
        last = [None]

        def same(image):
            if image == last[0]:
                return True
            last[0] = image
            time.sleep(settle)
            return False
        return self.wait_screen(same, timeout, what="a still screen", **rect)

    def close_window(self):
        """Presses the window's close button."""
        self.x.close_window(self.window[0])

    def key(self, *names, **options):
        self.x.key(*names, **options)

    def type(self, text, **options):
        self.x.type(text, **options)


# ---------------------------------------------------------------------------
# Running a test file

def main():
    """Runs the unittest cases of the calling module; exits non-zero on failure."""
    for tool in ("Xvfb", "xdotool", "xwininfo", "import"):
        if not shutil.which(tool):
            sys.stderr.write("missing tool: %s\n" % tool)
            sys.exit(1)
    program = unittest.main(module="__main__", exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed - len(result.skipped), failed))
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
