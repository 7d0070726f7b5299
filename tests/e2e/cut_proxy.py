"""A proxy on 127.0.0.1 in front of a server's port that cuts links (closing
both sides) at points a seeded generator picks, until it is told to stop.

Painters' links (framed: type byte, 16-bit little-endian length, payload) get
one cut each at the n-th occurrence of one of:
  mid-frame       part of a frame forwarded, either way;
  after a stroke  a drawing frame forwarded to the server, before its answer;
  acknowledgement the server's MSG_ACCEPTED read, never forwarded.
Web links (framed=False) are cut at a byte position, each way; only
WebSocket links are, so that the page itself always loads."""
import asyncio
import collections
import random
import struct
import threading

ACCEPTED = 255
DRAWING = {0, 1, 2, 3, 4, 12}


class CutProxy:
    def __init__(self, target, seed, framed=True, every=8):
        """every: a framed link is cut within that many strokes or acknowledgements."""
        self.target, self.framed, self.rng, self.every = target, framed, random.Random(seed), every
        self.cutting = True
        self.cuts = collections.Counter()  # by kind
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        threading.Thread(target=self._serve, args=(ready,), daemon=True).start()
        ready.wait()

    def _serve(self, ready):
        self.listener = self.loop.run_until_complete(asyncio.start_server(self._link, "127.0.0.1", 0))
        self.port = self.listener.sockets[0].getsockname()[1]
        ready.set()
        self.loop.run_forever()

    def close(self):
        self.loop.call_soon_threadsafe(self.listener.close)

    def _plan(self):
        """(kind, direction, n): where this link is cut."""
        if not self.framed:
            up = self.rng.random() < 0.5
            return "byte", "up" if up else "down", self.rng.randint(1, 1500 if up else 100000)
        kind = self.rng.choice(("mid-frame", "after a stroke", "acknowledgement"))
        if kind == "mid-frame" and self.rng.random() < 0.5:
            return kind, "down", self.rng.randint(1, 50 * self.every)
        return kind, "down" if kind == "acknowledgement" else "up", self.rng.randint(1, self.every)

    async def _link(self, client_in, client_out):
        try:  # from the client's own address: the server's limits are per source
            server_in, server_out = await asyncio.open_connection(
                "127.0.0.1", self.target, local_addr=(client_out.get_extra_info("peername")[0], 0))
        except OSError:
            client_out.close()
            return
        plan = list(self._plan())
        pump = self._frames if self.framed else self._bytes
        ways = [asyncio.ensure_future(pump(client_in, server_out, plan, "up")),
                asyncio.ensure_future(pump(server_in, client_out, plan, "down"))]
        await asyncio.wait(ways, return_when=asyncio.FIRST_COMPLETED)
        for way in ways:
            way.cancel()
        for out in (client_out, server_out):
            out.close()

    def _due(self, plan, kind, direction):
        """Whether this occurrence is the plan's cut (counted down)."""
        if not self.cutting or plan[0] != kind or plan[1] != direction:
            return False
        plan[2] -= 1
        if plan[2] > 0:
            return False
        self.cuts[kind] += 1
        return True

    async def _frames(self, reader, writer, plan, direction):
        try:
            while True:
                header = await reader.readexactly(3)
                frame = header + await reader.readexactly(struct.unpack_from("<H", header, 1)[0])
                if self._due(plan, "mid-frame", direction):
                    writer.write(frame[:self.rng.randrange(1, len(frame))])
                    break
                if direction == "down" and frame[0] == ACCEPTED and self._due(plan, "acknowledgement", "down"):
                    break
                writer.write(frame)
                await writer.drain()
                if direction == "up" and frame[0] in DRAWING and self._due(plan, "after a stroke", "up"):
                    break
        except asyncio.IncompleteReadError as end:
            writer.write(end.partial)
        except OSError:
            pass
        await self._flush(writer)

    async def _bytes(self, reader, writer, plan, direction):
        websocket = False
        try:
            while data := await reader.read(65536):
                websocket = websocket or b"upgrade: websocket" in data.lower()
                left = plan[2] if websocket and self.cutting and plan[1] == direction else len(data) + 1
                if len(data) >= left:
                    writer.write(data[:left])
                    self.cuts["byte"] += 1
                    break
                if websocket and plan[1] == direction:
                    plan[2] -= len(data)
                writer.write(data)
                await writer.drain()
        except OSError:
            pass
        await self._flush(writer)

    @staticmethod
    async def _flush(writer):
        try:
            await writer.drain()
        except OSError:
            pass
