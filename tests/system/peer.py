"""A scripted protocol peer: plays the partner's side of the two connections
on the wire, with plain Python sockets, so a test can see and send exact bytes.

The control connection carries 56-byte little-endian packets: int32 type, x,
y, button, keyCode and keyEvent at offsets 0 to 20, zero after that. A wheel
packet keeps its signed 16-bit delta in bytes 4 and 5. The clipboard
connection carries transfers of an int32 length (the text's NUL included),
the text and its NUL (or, to a partner that announced PKT_CLIPBOARD_CAPS, chunks).

Every connection has a reader thread that collects what arrives (packets on a
control connection, bytes on a clipboard one) and notices the close, so tests
wait on what arrived with a deadline instead of blocking in recv.
"""

import socket
import struct
import threading
import time
from dataclasses import dataclass

PACKET_SIZE = 56

PKT_INPUT = 9014
PKT_READY = 9015
PKT_ENTER = 9016
PKT_SCREEN_SIZE = 9017
PKT_LEAVE = 9019
PKT_WHEEL = 9020
PKT_CLIPBOARD_CAPS = 9021   # a type a plain partner does not know, and ignores
CHUNK_END, CHUNK_TEXT, CHUNK_DIB = 0, 1, 2

EV_LEFT_UP = 12017
EV_LEFT_DOWN = 12018
EV_RIGHT_UP = 12019
EV_RIGHT_DOWN = 12020
EV_KEY_UP = 12021
EV_KEY_DOWN = 12022

# The packets a Slave answers with PKT_READY once it has replayed them.
ANSWERED = (PKT_INPUT, PKT_ENTER, PKT_WHEEL)

_FIELDS = struct.Struct("<8i")


@dataclass(frozen=True)
class Packet:
    type: int
    x: int = 0
    y: int = 0
    button: int = 0
    key: int = 0
    event: int = 0
    scan: int = 0    # with a key, to a partner that announced it takes them
    flags: int = 0   # bit 0: an extended key

    def encode(self):
        return _FIELDS.pack(self.type, self.x, self.y, self.button, self.key, self.event, self.scan, self.flags) + bytes(
            PACKET_SIZE - _FIELDS.size)

    @classmethod
    def decode(cls, data):
        if len(data) != PACKET_SIZE:
            raise ValueError("a packet is %d bytes, not %d" % (PACKET_SIZE, len(data)))
        return cls(*_FIELDS.unpack_from(data))

    @property
    def wheel_delta(self):
        return struct.unpack_from("<h", struct.pack("<i", self.x))[0]


def wheel_bytes(delta):
    """A PKT_WHEEL as it goes on the wire: the delta's 16 bits in bytes 4-5."""
    return struct.pack("<ih", PKT_WHEEL, delta) + bytes(PACKET_SIZE - 6)


def clipboard_bytes(text):
    body = text.encode("latin-1") + b"\0"
    return struct.pack("<i", len(body)) + body


def wide(text):   # text as the hex of its CF_UNICODETEXT block, for the driver; unwide reads one back
    return (text + "\0").encode("utf-16-le").hex()


def unwide(hexes):
    return bytes.fromhex(hexes).decode("utf-16-le").split("\0")[0]


def split_chunks(data):
    """The whole chunks at the start of data, (transfer, format, total, offset, data) each; the rest."""
    chunks = []
    while len(data) >= 24 and len(data) >= 24 + struct.unpack_from("<I", data, 20)[0]:
        head = struct.unpack_from("<4sIIIII", data)
        chunks.append(head[1:5] + (data[24:24 + head[5]],))
        data = data[24 + head[5]:]
    return chunks, data


class Connection:
    """One connection of the peer. kind "control" collects packets (and can
    answer READY by itself, as a Slave does); kind "clipboard" collects bytes."""

    def __init__(self, sock, kind="control", auto_ready=False):
        self.sock = sock
        self.kind = kind
        self.auto_ready = auto_ready
        self.local = sock.getsockname()
        self.remote = sock.getpeername()
        self.packets = []   # every packet received, in order
        self.announcements = []  # PKT_CLIPBOARD_CAPS, kept apart: a plain partner ignores them
        self.data = b""     # every byte received on a clipboard connection
        self.closed = False  # the other side closed, or the connection broke
        self._read = 0       # index of the next packet take() returns
        self._partial = b""
        self._send_lock = threading.Lock()
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._reader.start()

    # ---- receiving

    def _read_loop(self):
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                with self._changed:
                    self.closed = True
                    self._changed.notify_all()
                return
            with self._changed:
                if self.kind == "clipboard":
                    self.data += chunk
                else:
                    self._partial += chunk
                    while len(self._partial) >= PACKET_SIZE:
                        packet = Packet.decode(self._partial[:PACKET_SIZE])
                        self._partial = self._partial[PACKET_SIZE:]
                        if packet.type == PKT_CLIPBOARD_CAPS:
                            self.announcements.append(packet)
                            continue
                        self.packets.append(packet)
                        if self.auto_ready and packet.type in ANSWERED:
                            self._send_quietly(Packet(PKT_READY).encode())
                self._changed.notify_all()

    def _send_quietly(self, data):
        try:
            self.send(data)
        except OSError:
            pass

    def wait(self, predicate, timeout):
        """Waits until predicate() holds (called under the lock); its last result."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while True:
                result = predicate()
                remaining = deadline - time.monotonic()
                if result or remaining <= 0:
                    return result
                self._changed.wait(min(remaining, 0.2))

    def take(self, n=1, timeout=5.0):
        """The next n packets not taken yet; fewer if they do not come in time."""
        self.wait(lambda: len(self.packets) - self._read >= n, timeout)
        with self._changed:
            got = self.packets[self._read:self._read + n]
            self._read += len(got)
            return got

    def next(self, timeout=5.0):
        got = self.take(1, timeout)
        return got[0] if got else None

    def wait_for(self, packet_type, timeout=5.0):
        """Takes packets up to and including the next one of packet_type."""
        def find():
            for i in range(self._read, len(self.packets)):
                if self.packets[i].type == packet_type:
                    return i + 1
            return 0
        end = self.wait(find, timeout)
        if not end:
            return None
        with self._changed:
            self._read = end
            return self.packets[end - 1]

    def quiet(self, seconds):
        """Whatever arrives within `seconds` (a test that expects nothing
        asserts the list is empty)."""
        time.sleep(seconds)
        with self._changed:
            got = self.packets[self._read:]
            self._read = len(self.packets)
            return got

    def wait_closed(self, timeout=5.0):
        return self.wait(lambda: self.closed, timeout)

    def wait_bytes(self, n, timeout=5.0):
        return self.wait(lambda: len(self.data) >= n, timeout)

    # ---- sending

    def send(self, data):
        with self._send_lock:
            self.sock.sendall(data)

    def send_packet(self, packet):
        self.send(packet.encode() if isinstance(packet, Packet) else packet)

    def send_split(self, data, cuts, pause=0.1):
        """Sends data in pieces cut at the given offsets, pausing between them
        so each piece reaches the other side on its own."""
        start = 0
        for cut in list(cuts) + [len(data)]:
            if cut > start:
                self.send(data[start:cut])
                start = cut
                time.sleep(pause)

    def send_clipboard(self, text):
        self.send(clipboard_bytes(text))

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self._reader.join(2)

    def reset(self):
        """Ends the connection with a reset instead of an orderly close."""
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock.close()
        self._reader.join(2)


def _socket():
    """A TCP socket whose ports, once closed, are free again at once. Wine's
    own sockets are made that way: without it the peer's TIME_WAIT keeps a
    program on the same host from listening on the port the peer used."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    return sock


def connect(port, host="127.0.0.1", source=None, kind="control", auto_ready=False, timeout=5.0):
    """Connects to host:port, from the address `source` when given (any
    127.x.y.z works as a second machine on the loopback)."""
    sock = _socket()
    if source:
        sock.bind((source, 0))
    sock.settimeout(timeout)
    try:
        sock.connect((host, port))
    except OSError:
        sock.close()
        raise
    sock.settimeout(None)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return Connection(sock, kind, auto_ready)


class Listener:
    def __init__(self, port, host="0.0.0.0"):
        self.sock = _socket()
        self.sock.bind((host, port))
        self.sock.listen(4)
        self.port = port

    def accept(self, timeout=10.0, kind="control", auto_ready=False):
        self.sock.settimeout(timeout)
        try:
            sock, _ = self.sock.accept()
        except socket.timeout:
            return None
        sock.settimeout(None)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return Connection(sock, kind, auto_ready)

    def close(self):
        self.sock.close()


class Peer:
    """The partner as a whole: its control and clipboard connections, made by
    listening on port and port + 1 or by connecting to them."""

    def __init__(self, port, auto_ready=False):
        self.port = port
        self.auto_ready = auto_ready
        self.control = None
        self.clipboard = None
        self._listeners = []

    def listen(self, host="0.0.0.0"):
        self._listeners = [Listener(self.port, host), Listener(self.port + 1, host)]
        return self

    def accept(self, timeout=15.0):
        """Takes the PC's control connection, then its clipboard connection."""
        control, clipboard = self._listeners
        self.control = control.accept(timeout, "control", self.auto_ready)
        if self.control:
            self.clipboard = clipboard.accept(timeout, "clipboard")
        return self.control is not None and self.clipboard is not None

    def connect(self, host="127.0.0.1", source=None, clipboard=True):
        self.control = connect(self.port, host, source, "control", self.auto_ready)
        if clipboard:
            self.clipboard = connect(self.port + 1, host, source, "clipboard")
        return self

    def close_listeners(self):
        for listener in self._listeners:
            listener.close()
        self._listeners = []

    def close(self):
        for conn in (self.control, self.clipboard):
            if conn:
                conn.close()
        self.close_listeners()


# ---------------------------------------------------------------- the protected link

CONNECTOR = 1
ACCEPTOR = 2
GREETING_SIZE = 56
VERSION = 2
STRETCH_SALT = b"Skiprail link key, stretched"
STRETCH_ROUNDS = 100000


def normalize_key(text):
    """A link key as it counts: no spaces or dashes, capitals, O as 0, I and L as 1."""
    kept = [c.upper() for c in text if c not in " \t-\r\n"]
    return "".join({"O": "0", "I": "1", "L": "1"}.get(c, c) for c in kept).encode("latin-1")[:128]


def _hmac(key, data):
    import hashlib
    import hmac
    return hmac.new(key, data, hashlib.sha256).digest()


class KeyedLink:
    """One connection of the protected link played from this side, written
    from the description of the wire alone: greetings, proofs, then AES-GCM
    records of a 32-bit length, ciphertext and tag, nonces counted per
    direction. Reads block with a deadline; nothing runs in the background."""

    def __init__(self, sock, role, key):
        import hashlib
        self.sock = sock
        self.role = role
        # The handshake takes the typed key stretched: PBKDF2-HMAC-SHA256.
        self.key = hashlib.pbkdf2_hmac("sha256", normalize_key(key), STRETCH_SALT, STRETCH_ROUNDS, 32)
        self.peer_greeting = b""
        self.proven = False
        self.sent = 0
        self.received = 0
        self._buffer = b""

    def _read(self, n, timeout):
        deadline = time.monotonic() + timeout
        while len(self._buffer) < n:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                return None
            except OSError:
                chunk = b""
            if not chunk:
                raise EOFError
            self._buffer += chunk
        data, self._buffer = self._buffer[:n], self._buffer[n:]
        return data

    def handshake(self, timeout=5.0):
        """True when the PC proved the same key; False when it did not (or
        closed, or sent no greeting)."""
        import os as _os
        from cryptography.hazmat.primitives.ciphers.aead import AESGCM
        own = b"SRLK" + bytes([VERSION, self.role, 0, 0]) + _os.urandom(32) + bytes(16)
        self.sock.sendall(own)
        try:
            self.peer_greeting = self._read(GREETING_SIZE, timeout) or b""
            if not self.peer_greeting.startswith(b"SRLK"):
                return False
            connector, acceptor = ((own, self.peer_greeting) if self.role == CONNECTOR
                                   else (self.peer_greeting, own))
            prk = _hmac(connector[8:40] + acceptor[8:40], self.key)
            proof_key = _hmac(prk, b"skiprail link proof\x01")
            to_acceptor = _hmac(prk, b"skiprail connector to acceptor\x01")
            to_connector = _hmac(prk, b"skiprail acceptor to connector\x01")
            other = ACCEPTOR if self.role == CONNECTOR else CONNECTOR
            self.sock.sendall(_hmac(proof_key, bytes([self.role]) + connector + acceptor))
            theirs = self._read(32, timeout)
        except (EOFError, OSError):
            return False
        if theirs != _hmac(proof_key, bytes([other]) + connector + acceptor):
            return False
        send, receive = ((to_acceptor, to_connector) if self.role == CONNECTOR else (to_connector, to_acceptor))
        self._seal, self._open = AESGCM(send), AESGCM(receive)
        self.proven = True
        return True

    @staticmethod
    def _nonce(counter):
        return bytes(4) + struct.pack("<Q", counter)

    def record(self, plain):
        header = struct.pack("<I", len(plain))
        sealed = self._seal.encrypt(self._nonce(self.sent), plain, header)
        self.sent += 1
        return header + sealed

    def send_packet(self, packet, flip_bit=None):
        """Sends a packet as a record; flip_bit damages that bit of the record."""
        data = bytearray(self.record(packet.encode() if isinstance(packet, Packet) else packet))
        if flip_bit is not None:
            data[flip_bit // 8] ^= 1 << (flip_bit % 8)
        self.sock.sendall(bytes(data))

    def next_packet(self, timeout=5.0):
        """The next packet the PC sent, opened; None when none came in time.
        A record that does not open raises."""
        header = self._read(4, timeout)
        if header is None:
            return None
        (length,) = struct.unpack("<I", header)
        body = self._read(length + 16, timeout)
        plain = self._open.decrypt(self._nonce(self.received), body, header)
        self.received += 1
        return Packet.decode(plain)

    def wait_for(self, packet_type, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            packet = self.next_packet(max(0.05, deadline - time.monotonic()))
            if packet and packet.type == packet_type:
                return packet
        return None

    def wait_closed(self, timeout=5.0):
        """True once the PC has closed the connection."""
        deadline = time.monotonic() + timeout
        try:
            while time.monotonic() < deadline:
                self._buffer = b""
                self._read(1, max(0.05, deadline - time.monotonic()))
        except EOFError:
            return True
        return False

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def keyed_connect(port, key, host="127.0.0.1", source=None, role=CONNECTOR, timeout=5.0):
    """A connection to the PC on host:port, as the connecting side of the
    protected link; the handshake is the caller's."""
    sock = _socket()
    if source:
        sock.bind((source, 0))
    sock.settimeout(timeout)
    sock.connect((host, port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return KeyedLink(sock, role, key)
