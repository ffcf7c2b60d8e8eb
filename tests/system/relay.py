"""A slow link for the networked rig: a relay in the hub that holds every
chunk a fixed time each way before passing it on, in order (this kernel has
no netem). The Master names the address the relay listens on as its partner;
the relay connects on to the Slave on the same port from an address of its
own, which the Slave names as its partner, so that the Slave's own tries at
its partner are refused as by a Master that only connects.

On the control connection (no link key) it counts the packets that ask for
an answer (PKT_INPUT, PKT_ENTER, PKT_WHEEL, Master to Slave) not yet answered
by a PKT_READY: the most at once tells stop-and-wait from a window.

    python3 relay.py serve LISTEN SOURCE TARGET HOLD_MS CONTROL_PORT PORT...
        prints "ready"; then per line on stdin: "stats" -> JSON, "reset" -> ok
    python3 relay.py echo PORT          a 56-byte echo server
    python3 relay.py ping HOST PORT N   N round trips of 56 bytes -> JSON (us)
"""

import asyncio
import json
import os
import socket
import struct
import sys
import time

PACKET = 56
ASKS_FOR_ANSWER = (9014, 9016, 9020)  # PKT_INPUT, PKT_ENTER, PKT_WHEEL
READY = 9015


class Flight:
    """The packets in flight on the control connections, and the most at once."""

    def __init__(self):
        self.reset()

    def reset(self):
        self.most, self.asked, self.answered = 0, 0, 0

    def stats(self):
        return {"most": self.most, "asked": self.asked, "answered": self.answered}


class Counter:
    """Splits one direction of a control connection into packets."""

    def __init__(self, flight, state, upstream):
        self.flight, self.state, self.upstream, self.pending = flight, state, upstream, b""

    def __call__(self, data):
        self.pending += data
        whole = len(self.pending) - len(self.pending) % PACKET
        for at in range(0, whole, PACKET):
            kind = struct.unpack_from("<i", self.pending, at)[0]
            if self.upstream and kind in ASKS_FOR_ANSWER:
                self.state["now"] += 1
                self.flight.asked += 1
                self.flight.most = max(self.flight.most, self.state["now"])
            elif not self.upstream and kind == READY:
                self.state["now"] = max(0, self.state["now"] - 1)
                self.flight.answered += 1
        self.pending = self.pending[whole:]


def nodelay(writer):
    writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def pipe(reader, writer, hold, count=None):
    """Passes what reader gets to writer, each chunk `hold` seconds after it came."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def take():
        try:
            while True:
                data = await reader.read(65536)
                if not data:
                    break
                if count:
                    count(data)
                queue.put_nowait((loop.time() + hold, data))
        except OSError:
            pass
        queue.put_nowait((loop.time() + hold, b""))

    taker = asyncio.ensure_future(take())
    try:
        while True:
            due, data = await queue.get()
            if due > loop.time():
                await asyncio.sleep(due - loop.time())
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except OSError:
        pass
    finally:
        taker.cancel()
        writer.close()


async def serve(listen, source, target, hold, control, ports):
    flight = Flight()

    async def relay(master_reader, master_writer, port):
        try:
            slave_reader, slave_writer = await asyncio.open_connection(target, port, local_addr=(source, 0))
        except OSError:
            master_writer.close()
            return
        for writer in (master_writer, slave_writer):
            nodelay(writer)
        state = {"now": 0}
        up = Counter(flight, state, True) if port == control else None
        down = Counter(flight, state, False) if port == control else None
        try:
            await asyncio.gather(pipe(master_reader, slave_writer, hold, up),
                                 pipe(slave_reader, master_writer, hold, down))
        except asyncio.CancelledError:
            pass  # the relay ends with its connections

    for port in ports:
        await asyncio.start_server(lambda r, w, port=port: relay(r, w, port), listen, port, reuse_address=True)
    print("ready", flush=True)
    loop = asyncio.get_running_loop()
    commands = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(commands), sys.stdin)
    while True:
        line = (await commands.readline()).decode().strip()
        if not line or line == "quit":
            return
        if line == "reset":
            flight.reset()
        print(json.dumps(flight.stats()) if line == "stats" else "ok", flush=True)


def echo(port):
    listener = socket.create_server(("0.0.0.0", port), reuse_port=True)
    print("ready", flush=True)
    while True:
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with connection:
            while True:
                data = connection.recv(65536)
                if not data:
                    break
                connection.sendall(data)


def ping(host, port, n):
    with socket.create_connection((host, port), timeout=10) as connection:
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        times = []
        for _ in range(n):
            started = time.perf_counter()
            connection.sendall(bytes(PACKET))
            got = 0
            while got < PACKET:
                data = connection.recv(PACKET - got)
                if not data:
                    raise SystemExit("the echo ended")
                got += len(data)
            times.append((time.perf_counter() - started) * 1e6)
    print(json.dumps({"us": times}))


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    try:
        os.nice(-10)  # the link, not one more busy program: its holds keep to time on a loaded machine
    except OSError:
        pass
    if command == "serve":
        asyncio.run(serve(args[0], args[1], args[2], float(args[3]) / 1000, int(args[4]), [int(p) for p in args[5:]]))
    elif command == "echo":
        echo(int(args[0]))
    elif command == "ping":
        ping(args[0], int(args[1]), int(args[2]))
