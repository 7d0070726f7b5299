#!/usr/bin/env python3
"""CPU share of one core the client uses over a quiet stretch, under Xvfb.

    bench/idle_cpu.py [BUILD_DIR] [--seconds S]

Reads the client's user+system time from /proc/PID/stat over S seconds
(default 10) once it has settled: first offline (nothing listens on its
port), then connected to easel-server on a free loopback port with nobody
painting, and while easel-load paints as one more user (1 stroke a second).
Each thread's share is printed too: the graphics library runs threads of its
own.
"""
import argparse, os, select, shutil, socket, struct, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default="build")
parser.add_argument("--seconds", type=float, default=10.0)
args = parser.parse_args()
build = os.path.abspath(args.build)
repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(path):
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def thread_seconds(pid):
    tasks = "/proc/%d/task" % pid
    return {tid: cpu_seconds("%s/%s/stat" % (tasks, tid)) for tid in os.listdir(tasks)}


def measure(pid, seconds):
    """The process's share and each thread's (the main thread first)."""
    c0, k0, t0 = cpu_seconds("/proc/%d/stat" % pid), thread_seconds(pid), time.monotonic()
    time.sleep(seconds)
    c1, k1, span = cpu_seconds("/proc/%d/stat" % pid), thread_seconds(pid), time.monotonic() - t0
    threads = sorted(((tid != str(pid), tid, 100.0 * (k1[tid] - k0.get(tid, 0.0)) / span) for tid in k1))
    return 100.0 * (c1 - c0) / span, " ".join("%.1f" % share for _, _, share in threads)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_xvfb():
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        if not select.select([r], [], [], 20)[0]:
            sys.exit("Xvfb did not start")
        number += os.read(r, 16)
    os.close(r)
    return proc, ":" + number.decode().strip()


def config(port):
    field = lambda text, size: text.encode() + b"\0" * (size - len(text))
    return field("127.0.0.1", 256) + struct.pack("<H", port) + field("idle", 16) + struct.pack("<HHHB", 1024, 768, 1024, 0)


procs = []
work = tempfile.mkdtemp(prefix="easel-idle-")
try:
    xvfb, display = start_xvfb()
    procs.append(xvfb)
    port = free_port()
    procs.append(subprocess.Popen([os.path.join(build, "server", "easel-server"), "--port", str(port), "--bind",
                                   "127.0.0.1", "--board", os.path.join(work, "board.easel")],
                                  cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    for name in os.listdir(os.path.join(repo, "assets")):
        if name.endswith(".bmp") and name != "bg.bmp":
            shutil.copy(os.path.join(repo, "assets", name), work)
    time.sleep(0.5)

    def start_client(port):
        with open(os.path.join(work, "client.cfg"), "wb") as f:
            f.write(config(port))
        client = subprocess.Popen([os.path.join(build, "easel")], cwd=work, env=dict(os.environ, DISPLAY=display),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(client)
        time.sleep(3)  # start-up, login and the first picture
        if client.poll() is not None:
            sys.exit("the client ended early")
        return client

    client = start_client(free_port())
    offline = measure(client.pid, args.seconds)
    client.terminate()
    client.wait(10)
    client = start_client(port)
    alone = measure(client.pid, args.seconds)
    load = subprocess.Popen([os.path.join(build, "tools", "easel-load"), "--clients", "1", "--rate", "1",
                             "--seconds", str(args.seconds + 3), "--port", str(port)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs.append(load)
    time.sleep(1.5)
    painting = measure(client.pid, args.seconds)
    for name, (share, threads) in (("client offline:", offline), ("client alone:", alone),
                                   ("client while another user paints:", painting)):
        print("%-34s %5.1f%% of one core over %.0f s (threads, main first: %s)" % (name, share, args.seconds, threads))
finally:
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
    shutil.rmtree(work, ignore_errors=True)
