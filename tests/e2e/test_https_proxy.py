"""HTTPS behind a real proxy: Debian's nginx with a test certificate, set up
by the example site the server package ships, in front of a real
easel-server that trusts it as a --proxy. Headless Chromium paints over
https:// and wss:// while two other clients, connecting to nginx from
addresses of their own, are each held to their own seats and frame budget."""
import os
import re
import shutil
import socket
import ssl
import struct
import subprocess
import time
import unittest

from harness import BUILD_DIR, SOURCE_DIR, Server, start, wait_until
from page import Page

SITE = os.path.join(SOURCE_DIR, "packaging", "easel-server", "nginx-easel.conf")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def frame(kind, payload):
    return struct.pack("<BH", kind, len(payload)) + payload


class Browserless:
    """A WebSocket client over TLS to nginx from a loopback address of its own."""

    def __init__(self, port, source):
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        raw = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
        self.sock, self.data = context.wrap_socket(raw, server_hostname="localhost"), b""
        self.sock.sendall(("GET /ws HTTP/1.1\r\nHost: localhost:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
                           % port).encode())
        while b"\r\n\r\n" not in self.data:
            self.data += self.sock.recv(4096)
        head, self.data = self.data.split(b"\r\n\r\n", 1)
        assert head.startswith(b"HTTP/1.1 101"), head

    def send(self, payload):
        """One binary message, masked with a zero key."""
        size = struct.pack("B", 0x80 | len(payload)) if len(payload) < 126 else struct.pack(">BH", 0xFE, len(payload))
        self.sock.settimeout(10)
        self.sock.sendall(b"\x82" + size + b"\0\0\0\0" + payload)

    def frames(self, seconds):
        """The wire frames of the server's messages within seconds; stops at a close."""
        found, stream, end = [], b"", time.monotonic() + seconds
        try:
            while True:
                while len(self.data) >= 2:
                    length, at = self.data[1] & 0x7F, 2
                    if length == 126:
                        length, at = struct.unpack(">H", self.data[2:4])[0], 4
                    elif length == 127:
                        length, at = struct.unpack(">Q", self.data[2:10])[0], 10
                    if len(self.data) < at + length:
                        break
                    opcode, body, self.data = self.data[0] & 0x0F, self.data[at:at + length], self.data[at + length:]
                    if opcode == 8:
                        return found
                    stream += body
                    while len(stream) >= 3 and len(stream) >= 3 + struct.unpack("<H", stream[1:3])[0]:
                        size = 3 + struct.unpack("<H", stream[1:3])[0]
                        found.append((stream[0], stream[3:size]))
                        stream = stream[size:]
                if time.monotonic() >= end:
                    return found
                self.sock.settimeout(end - time.monotonic())
                more = self.sock.recv(65536)
                if not more:
                    return found
                self.data += more
        except (socket.timeout, ssl.SSLError):
            return found

    def login(self, name):
        """The reply's first frame: MSG_LOGIN (6) when taken, a chat line (5) when refused."""
        self.send(frame(6, struct.pack("<I", 9) + name.encode() + b"\0"))
        got = self.frames(3)
        return got[0] if got else (None, b"")


@unittest.skipUnless(shutil.which("nginx") or os.path.exists("/usr/sbin/nginx"),
                     "nginx is not installed here (scripts/install-deps.sh installs it)")
class HttpsProxy(unittest.TestCase):
    def nginx(self, upstream):
        """nginx with the example site, its names, ports and certificate made this test's."""
        d = self.server.dir
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost", "-keyout", d + "/key.pem", "-out", d + "/cert.pem"],
                       check=True, capture_output=True)
        port = free_port()
        site = open(SITE).read()
        for pattern, replacement in ((r"listen \[::\]:\d+[^;]*;", ""), (r"listen 80;", "listen 127.0.0.1:%d;" % free_port()),
                                     (r"listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % port),
                                     (r"paint\.example\.org", "localhost"), (r"127\.0\.0\.1:8080", "127.0.0.1:%d" % upstream),
                                     (r"ssl_certificate (\S+);", "ssl_certificate %s/cert.pem;" % d),
                                     (r"ssl_certificate_key (\S+);", "ssl_certificate_key %s/key.pem;" % d)):
            site, count = re.subn(pattern, replacement, site)
            self.assertGreater(count, 0, pattern)
        temp = "".join("%s_temp_path %s/%s;\n" % (kind, d, kind) for kind in ("client_body", "proxy", "fastcgi", "uwsgi",
                                                                                 "scgi"))
        with open(d + "/nginx.conf", "w") as conf:
            conf.write("daemon off;\nuser root;\nworker_processes 1;\npid %s/nginx.pid;\nerror_log %s/nginx.log;\n"
                       "events { worker_connections 256; }\nhttp {\naccess_log off;\n%s%s\n}\n" % (d, d, temp, site))
        start(self, "nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/nginx.log")
        wait_until(lambda: subprocess.run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % port],
                                          input=b"", capture_output=True).returncode == 0, what="nginx to listen")
        return port

    @unittest.skipUnless(os.path.exists(os.path.join(BUILD_DIR, "web", "index.html")),
                         "no painting page in this build (the sanitizer builds leave it to the plain one)")
    def test_a_browser_paints_over_https_and_forwarded_clients_keep_their_own_seats_and_budgets(self):
        self.server = server = Server(self, "--http", "0", "--proxy", "127.0.0.1", "--server-name", "localhost",
                                      "--seats-per-source", "2", "--rate", "5", "--burst", "5", "--login-rate", "100")
        port = self.nginx(int(server.log_match(r"web view on http://\S*:(\d+)")[1]))
        page = Page(self, "https://localhost:%d/" % port, flags=("--ignore-certificate-errors",))
        self.assertEqual(page.js("return location.protocol"), "https:")
        page.login("pat")
        wait_until(lambda: "pat (you)" in page.text("#roster"), what="pat on the page's roster")
        page.drag(page.board_path([(100 + 8 * i, 200 + (i % 5) * 4) for i in range(30)]))
        server.commands(1)
        server.log_match(r"WebSocket connection from 127\.0\.0\.1:")

        # Two clients forwarded from addresses of their own: two seats each, the third refused.
        ann, bob = ([Browserless(port, source) for _ in range(3)] for source in ("127.0.0.2", "127.0.0.3"))
        for c in ann + bob:
            self.addCleanup(c.sock.close)
        for clients in (ann, bob):
            self.assertEqual([c.login("u")[0] for c in clients], [6, 6, 5])
        server.log_match(r"refused: 2 users from 127\.0\.0\.2 are logged in")
        server.log_match(r"refused: 2 users from 127\.0\.0\.3 are logged in")
        # Frames: ann's 20 chat lines pass at her address's burst and rate, bob's 5 at once.
        line = frame(5, b"\0hello\0")
        ann[0].send(line * 20)
        bob[0].send(line * 5)
        acknowledged = lambda c: sum(kind == 255 for kind, _ in c.frames(1.5))  # noqa: E731
        self.assertLess(acknowledged(ann[0]), 15)
        self.assertEqual(acknowledged(bob[0]), 5)
        # The page goes on painting through it all.
        page.drag(page.board_path([(100 + 8 * i, 400) for i in range(30)]))
        server.commands(2)


if __name__ == "__main__":
    unittest.main()
