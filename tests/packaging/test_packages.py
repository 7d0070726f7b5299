"""The Debian packages as scripts/package.sh builds them (in EASEL_PACKAGE_DIR,
default build-package/): lintian finds nothing, systemd accepts the units,
every file lies where it belongs and nothing comes from the build tree, the
dependencies come from the binaries, and the installed client runs from its
launcher in the user's own directory."""
import fnmatch
import glob
import hashlib
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import SOURCE_DIR, Easel, config_bytes, wait_until  # noqa: E402
from test_first_run import BAR_Y, PINNED_BAR, RUN, SH, STRIP, SW  # noqa: E402

SOURCE_DIR = os.path.realpath(SOURCE_DIR)
PACKAGE_DIR = os.path.abspath(os.environ.get("EASEL_PACKAGE_DIR", os.path.join(SOURCE_DIR, "build-package")))
PLACES = {  # what each package holds besides its copyright, changelog and lintian overrides
    "easel": ["usr/bin/easel", "usr/libexec/easel/easel", "usr/share/easel/*.bmp",
              "usr/share/applications/easel.desktop", "usr/share/icons/hicolor/scalable/apps/easel.svg",
              "usr/share/icons/hicolor/48x48/apps/easel.png", "usr/share/icons/hicolor/128x128/apps/easel.png",
              "usr/share/man/man1/easel.1.gz"],
    "easel-server": ["usr/bin/easel-server", "usr/share/man/man1/easel-server.1.gz", "etc/easel/default.conf",
                     "usr/share/doc/easel-server/examples/nginx-easel.conf",
                     "lib/systemd/system/easel-server.service", "lib/systemd/system/easel-server@.service",
                     *("usr/share/easel-server/web/" + f for f in
                       ("index.html", "watch.html", "main.js", "module.js", "link.js", "input.js", "view.js",
                        "controls.js", "panels.js", "easel.css", "easel_page.js", "easel_page.wasm",
                        "easel_page_plain.js", "easel_page_plain.wasm"))],
    "easel-tools": ["usr/bin/easel-render", "usr/bin/easel-load", "usr/bin/easel-attack",
                    "usr/share/man/man1/easel-render.1.gz", "usr/share/man/man1/easel-load.1.gz",
                    "usr/share/man/man1/easel-attack.1.gz"],
}


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **options)


def deb(package):
    found = glob.glob(os.path.join(PACKAGE_DIR, package + "_*.deb"))
    assert len(found) == 1, "one %s package in %s: %s" % (package, PACKAGE_DIR, found)
    return found[0]


def unpacked(test, package):
    """The package's files in a temporary directory."""
    root = test.enterContext(tempfile.TemporaryDirectory(prefix="easel-deb-"))
    subprocess.run(["dpkg-deb", "-x", deb(package), root], check=True)
    return root


class PackagesTest(unittest.TestCase):
    def test_lintian_finds_nothing(self):
        r = run("lintian", "--pedantic", "--display-info", "--display-experimental", *map(deb, PLACES))
        tags = [line for line in r.stdout.splitlines() if not line.startswith("N:")]
        self.assertEqual((r.returncode, tags), (0, []), r.stderr)

    def test_every_file_where_it_belongs_and_nothing_from_the_build_tree(self):
        for package, places in PLACES.items():
            places = places + ["usr/share/doc/%s/copyright" % package, "usr/share/doc/%s/changelog.gz" % package,
                               "usr/share/lintian/overrides/" + package]
            listing = run("dpkg-deb", "-c", deb(package)).stdout.splitlines()
            entries = {line.split()[5][2:]: line.split()[:2] for line in listing}
            files = [p for p in entries if not p.endswith("/")]
            for path, (mode, owner) in entries.items():
                executable = path.startswith(("usr/bin/", "usr/libexec/")) or path.endswith("/")
                want = "rwxr-xr-x" if executable else "rw-------" if path.startswith("etc/easel/") else "rw-r--r--"
                self.assertEqual((owner, mode[1:]), ("root/root", want), path)
            self.assertEqual(sorted(p for p in files if not any(fnmatch.fnmatch(p, g) for g in places)), [], package)
            self.assertEqual([g for g in places if not fnmatch.filter(files, g)], [], package)
            for program in fnmatch.filter(files, "usr/bin/*"):
                self.assertIn("usr/share/man/man1/%s.1.gz" % os.path.basename(program), files)
            root = unpacked(self, package)
            depends = run("dpkg-deb", "-f", deb(package), "Depends").stdout
            for path in files:
                data = pathlib.Path(root, path).read_bytes()
                for trace in (SOURCE_DIR.encode(), b"build-package", b"CMakeFiles"):
                    self.assertNotIn(trace, data, path)
                if data.startswith(b"\x7fELF"):
                    dynamic = run("readelf", "-d", os.path.join(root, path)).stdout
                    self.assertNotRegex(dynamic, "RPATH|RUNPATH", path)
                    if package != "easel":  # the graphics library comes in with the client alone
                        self.assertNotRegex(dynamic, "liballeg|libX11", path)
                    # Each library it needs brings its Debian package into Depends.
                    libraries = dict(re.findall(r"^\s*(\S+) => (\S+)", run("ldd", os.path.join(root, path)).stdout, re.M))
                    for soname in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic):
                        lib = libraries[soname]  # as the package names it, before or after /usr merged /lib
                        owner = run("dpkg", "-S", lib, os.path.realpath(lib)).stdout.split(":")[0]
                        self.assertRegex(depends, r"(^|, )%s \(>= " % re.escape(owner), (path, soname))
        conffiles = subprocess.run(["dpkg-deb", "--info", deb("easel-server"), "conffiles"], capture_output=True,
                                   text=True, check=True).stdout.split()
        self.assertEqual(conffiles, ["/etc/easel/default.conf"])
        client = unpacked(self, "easel")
        desktop = pathlib.Path(client, "usr/share/applications/easel.desktop").read_text()
        self.assertIn("\nExec=easel\n", desktop)
        self.assertIn("\nIcon=easel\n", desktop)
        shipped = {p.name: p.read_bytes() for p in pathlib.Path(client, "usr/share/easel").iterdir()}
        self.assertEqual(shipped, {p.name: p.read_bytes() for p in pathlib.Path(SOURCE_DIR, "assets").glob("*.bmp")})

    def test_systemd_accepts_the_units(self):
        # The units beside the system's own, which they refer to (network-online.target).
        root = unpacked(self, "easel-server")
        subprocess.run(["cp", "-rn", "/lib/systemd/system/.", os.path.join(root, "lib/systemd/system")], check=True)
        env = dict(os.environ, MANPATH=os.path.join(root, "usr/share/man"))  # Documentation=man:easel-server(1)
        for unit in ["easel-server.service", "easel-server@board2.service"]:
            r = run("systemd-analyze", "verify", "--root=" + root, unit, env=env)
            self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""), unit)
            r = run("systemd-analyze", "security", "--offline=true", "--root=" + root, "--threshold=20", unit)
            score = re.search(r"Overall exposure level for \S+: (\S+ \S+)", r.stdout)
            print("%s: exposure %s" % (unit, score and score[1]), file=sys.stderr)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_installed_client_runs_in_the_users_directory(self):
        root = unpacked(self, "easel")
        before = sorted((str(p), p.stat().st_mtime_ns) for p in pathlib.Path(root).rglob("*"))
        # The first start: the directory is made, the setup screen asks.
        s = Easel(self, {}, launcher=os.path.join(root, "usr/bin/easel"))
        s.wait_window(320, 240)
        home = pathlib.Path(s.dir, ".local/share/easel")
        self.assertEqual(sorted(p.name for p in home.iterdir() if p.resolve().parent == pathlib.Path(root, "usr/share/easel")),
                         sorted(p.name for p in pathlib.Path(SOURCE_DIR, "assets").glob("*.bmp")))
        wait_until(lambda: "Logging Started." in (home / "client.log").read_text(), what="the start line")
        s.proc.send_signal(signal.SIGTERM)
        self.assertEqual(s.proc.wait(20), -signal.SIGTERM)
        self.assertRegex((home / "client.log").read_text(), "^" + RUN + "$")
        # A returning user: the settings are read and the icons found through the links.
        s = Easel(self, {".local/share/easel/client.cfg": config_bytes(SW, SH, "127.0.0.1", 1, "ann")},
                  launcher=os.path.join(root, "usr/bin/easel"))
        s.wait_window(SW, SH)
        s.pointer_to(600, 300)
        s.xdo("key", "Tab")
        bar = s.wait_screen(lambda im: im.pixel(1000, 20) == STRIP, "the tool bar", y=BAR_Y)
        self.assertEqual(hashlib.sha256(bar.data).hexdigest(), PINNED_BAR)
        s.xdo("key", "Escape", "Escape")
        self.assertEqual(s.proc.wait(20), 0)
        self.assertEqual(sorted((str(p), p.stat().st_mtime_ns) for p in pathlib.Path(root).rglob("*")), before)


if __name__ == "__main__":
    unittest.main()
