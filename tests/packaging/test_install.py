"""Installs the packages with apt into a fresh Debian 12 root (debootstrap,
minbase), starts easel-server there from its template unit's command line as
systemd would (the options file, the board's directory, a user of its own,
the unit's umask; chroot instead of systemd), lets the installed easel-load
paint over loopback, stops the server with SIGTERM and draws the board with
the installed easel-render: the web view's picture, and the build tree's
easel-render's where there is one; a purge of the server keeps the board. Needs root and a Debian mirror
(EASEL_DEBIAN_MIRROR); prints how long each step took."""
import glob
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import BUILD_DIR, Image, wait_until  # noqa: E402
from test_packages import PACKAGE_DIR, PLACES  # noqa: E402

MIRROR = os.environ.get("EASEL_DEBIAN_MIRROR", "http://deb.debian.org/debian")
UID = 61184  # the first id systemd gives dynamic users
BOARD = "pkgtest"


def get(url):
    """(ETag, body) of a 200 answer, None for a 503 (no picture drawn yet)."""
    try:
        with urllib.request.build_opener(urllib.request.ProxyHandler({})).open(url, timeout=10) as r:
            return r.headers["ETag"], r.read()
    except urllib.error.HTTPError as e:
        if e.code != 503:
            raise
        return None


def timed(what, *command, **options):
    began = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=1800, **options)
    print("%s: %.0f s" % (what, time.monotonic() - began), file=sys.stderr)


def service(unit_text, instance):
    """The [Service] settings of a unit, its specifiers %i and %S filled in."""
    section = unit_text.split("[Service]")[1].split("\n[")[0]
    pairs = re.findall(r"^(\w+)=(.*)$", section, re.M)
    return {key: value.replace("%i", instance).replace("%S", "/var/lib") for key, value in pairs}


def environment_file(text):
    """KEY=VALUE lines as systemd reads them (comments, blank lines and quotes aside)."""
    return {k: v.strip().strip('"') for k, v in re.findall(r"^\s*([A-Za-z_]\w*)=(.*)$", text, re.M)}


def command_line(exec_start, env):
    """ExecStart's words: ${NAME} gives one word, $NAME its value split at blanks."""
    words = []
    for word in exec_start.split():
        one, split = re.fullmatch(r"\$\{(\w+)\}", word), re.fullmatch(r"\$(\w+)", word)
        words += [env.get(one[1], "")] if one else env.get(split[1], "").split() if split else [word]
    return words


@unittest.skipUnless(os.geteuid() == 0, "needs root: debootstrap and chroot")
class InstallTest(unittest.TestCase):
    def in_root(self, *command, directory="/", **options):
        """A program of the root, run there as the board's user in the unit's umask."""
        def enter():
            os.chroot(self.root)
            os.chdir(directory)
            os.setgroups([])
            os.setgid(UID)
            os.setuid(UID)
            os.umask(0o077)
        return subprocess.Popen(command, preexec_fn=enter, stdin=subprocess.DEVNULL, **options)

    def test_install_serve_paint_and_draw_in_a_fresh_debian(self):
        began = time.monotonic()
        self.root = self.enterContext(tempfile.TemporaryDirectory(prefix="easel-root-", dir="/var/tmp"))
        os.chmod(self.root, 0o755)
        timed("debootstrap", "debootstrap", "--variant=minbase", "bookworm", self.root, MIRROR)
        debs = [glob.glob(os.path.join(PACKAGE_DIR, p + "_*.deb"))[0] for p in PLACES]
        for path in debs:
            shutil.copy(path, os.path.join(self.root, "tmp"))
        timed("apt-get install", "chroot", self.root, "apt-get", "install", "-y", "--no-install-recommends",
              *["/tmp/" + os.path.basename(p) for p in debs], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        # The first installation enables the default board.
        self.assertTrue(os.path.islink(os.path.join(self.root, "etc/systemd/system/multi-user.target.wants",
                                                   "easel-server.service")))

        # A board of the template: its options made from the default ones.
        conf = pathlib.Path(self.root, "etc/easel/default.conf").read_text()
        conf = re.sub(r"(?m)^EASEL_PORT=.*$", "EASEL_PORT=0", conf)
        conf = re.sub(r"(?m)^EASEL_OPTIONS=.*$", "EASEL_OPTIONS=--http 0 --bind 127.0.0.1", conf)
        pathlib.Path(self.root, "etc/easel", BOARD + ".conf").write_text(conf)
        unit = service(pathlib.Path(self.root, "lib/systemd/system/easel-server@.service").read_text(), BOARD)
        env = environment_file(pathlib.Path(self.root, unit["EnvironmentFile"].lstrip("/")).read_text())
        state = pathlib.Path(self.root, "var/lib", unit["StateDirectory"])
        self.assertEqual(unit["WorkingDirectory"], "/var/lib/" + unit["StateDirectory"])
        state.mkdir(parents=True)
        os.chown(state, UID, UID)
        log = state / "journal"
        with open(log, "wb") as out:
            server = self.in_root(*command_line(unit["ExecStart"], env), directory=unit["WorkingDirectory"], stdout=out,
                                  stderr=subprocess.STDOUT, env=dict(env, PATH="/usr/bin:/bin"))
        self.addCleanup(lambda: server.poll() is None and server.kill())
        port = wait_until(lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)", log.read_text()), what="the port")[1]
        web = wait_until(lambda: re.search(r"web view on (http://\S+/)", log.read_text()), what="the web view")[1]

        paint = self.in_root("/usr/bin/easel-load", "--port", port, "--clients", "2", "--seconds", "2",
                             stdout=subprocess.PIPE, text=True)
        report = paint.communicate(timeout=60)[0]
        self.assertEqual(paint.returncode, 0, report)
        print(report, file=sys.stderr)
        board = (state / "board.easel").read_bytes()
        self.assertGreater(len(board), 0)
        tag, served = get(web + "board.easel")
        self.assertEqual(served, board)
        web_png = state.parent / "web.png"
        web_png.write_bytes(wait_until(lambda: (lambda r: r and r[0] == tag and r[1])(get(web + "board.png")),
                                       what="the web view's picture of every stroke"))
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(20), 0, log.read_text())

        for board_file, out in [("board.easel", "board.png"), ("/dev/null", "empty.png")]:
            render = self.in_root("/usr/bin/easel-render", board_file, out, directory=unit["WorkingDirectory"])
            self.assertEqual(render.wait(60), 0)
        picture = Image.read(["convert", str(state / "board.png")])
        self.assertNotEqual(picture, Image.read(["convert", str(state / "empty.png")]))
        self.assertEqual(picture, Image.read(["convert", str(web_png)]))
        local_render = os.path.join(BUILD_DIR, "tools", "easel-render")
        if os.path.exists(local_render):
            subprocess.run([local_render, str(state / "board.easel"), str(state.parent / "local.png")], check=True)
            self.assertEqual(picture, Image.read(["convert", str(state.parent / "local.png")]))
        # Purging the server forgets its configuration and units, never a board.
        wants = os.path.join(self.root, "etc/systemd/system/multi-user.target.wants/easel-server.service")
        timed("apt-get purge", "chroot", self.root, "apt-get", "purge", "-y", "easel-server",
              env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.assertEqual((state / "board.easel").read_bytes(), board)
        self.assertFalse(os.path.lexists(wants) or os.path.exists(os.path.join(self.root, "etc/easel/default.conf")))
        print("the whole test: %.0f s" % (time.monotonic() - began), file=sys.stderr)


if __name__ == "__main__":
    unittest.main()
