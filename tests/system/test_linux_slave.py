"""The Linux program as the Slave of the Windows Master: the Master under
Wine at 1280x1024 (192.0.2.1) and the Linux PC, an Xvfb display of 1024x768
(192.0.2.2), each a host of its own, linked on port 447. What arrives is read
in xwatch's focused window and from the X server (keys and buttons held
down, the pointer, the CLIPBOARD and the types it offers, as a file manager
or an image viewer asks for them). A hostile Master is a scripted peer in
the Master's namespace (tests/system/peer.py). Needs SKIPRAIL_LINUX_BUILD, the
native build folder with unix/skiprail and tests/tools/xwatch; skipped
without it.
"""

import functools
import glob
import os
import shutil
import signal
import stat
import struct
import subprocess
import sys
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from peer import unwide, wide  # noqa: E402
from pictures import pattern as picture_pattern, png, read_dib, read_png  # noqa: E402
from rig import (ALT, CTRL, Rig, connections_to, cross_back, cross_sideways, listening, make_files, press,  # noqa: E402
                 tree, wait_following, wait_until)

PORT = 447
KEY = "K7QF-2MXD-9PZR-4TWA-3HNB-6YCE"
SCRIPTS = "Grüße · Καλημέρα · Привет · こんにちは · 你好 · שלום · नमस्ते · 😀 · e\u0301"

rig = None
m = None  # the Windows Master
s = None  # the Linux Slave, on the Master's right


def setUpModule():
    global rig, m, s
    linux = os.environ.get("SKIPRAIL_LINUX_BUILD")
    if not linux:
        raise unittest.SkipTest("SKIPRAIL_LINUX_BUILD (the native build holding unix/skiprail) is not given")
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"), network=True, linux_build=linux)
    m, s = rig.add_pcs(("m", "1280x1024"), ("s", "1024x768", "linux"))


def tearDownModule():
    if rig:
        rig.close()


def pattern(n):
    """srdrive's `clipboard fill` text; fnv() is its `clipboard sum`."""
    out, state = bytearray(n), 2166136261
    for i in range(n):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = 32 + (state >> 16) % 95
    return out.decode("ascii")


def file_uri(path):
    return "file://" + urllib.parse.quote(path)


def uri_paths(listed):
    """The paths of x-special/gnome-copied-files' bytes (after its "copy")."""
    lines = listed.decode().split("\n")
    return lines[0], [urllib.parse.unquote(uri[len("file://"):]) for uri in lines[1:]]


def dropped_on_windows(pc):
    """The files the program put on a Windows PC's clipboard, from its Skiprail folder."""
    dropped = pc.drive.json("clipboard dropped")
    return dropped if dropped and "\\Skiprail\\" in dropped["files"][0] else None


def arrived_on_windows(pc, dropped):
    return {os.path.basename(pc.unix_path(path)): tree(pc.unix_path(path)) for path in dropped["files"]}


# A Master that speaks the wire directly, from the Master's namespace: its
# clipboard connection sends the bytes of the file named, then it stays
# linked a while (keeping the control connection open) and ends.
HOSTILE_MASTER = r"""
import sys, time
sys.path.insert(0, sys.argv[4])
from peer import connect
control = connect(int(sys.argv[2]), sys.argv[1])
time.sleep(0.5)
clipboard = connect(int(sys.argv[2]) + 1, sys.argv[1], kind="clipboard")
time.sleep(0.5)
with open(sys.argv[3], "rb") as f:
    data = f.read()
for transfer in data.split(b"--cut--"):
    clipboard.send(transfer)
    time.sleep(0.3)
time.sleep(2)
print("sent", len(data))
"""


def chunk(number, kind, total, offset, data):
    return struct.pack("<4sIIIII", b"SRXC", number, kind, total, offset, len(data)) + data


def file_list(number, entries):
    """A transfer of files as the Windows side sends one: (kind, path, data) each,
    kind 1 a folder, 2 a file whose data follows; `data` may be longer than the
    size its entry announces, as (size, data)."""
    total = sum(len(e[2]) if isinstance(e[2], bytes) else e[2][0] for e in entries)
    out = b""
    for kind, path, data in entries:
        size, data = (len(data), data) if isinstance(data, bytes) else data
        entry = struct.pack("<IIQQ", kind, 1, size, total) + path.encode()
        out += chunk(number, 5, len(entry), 0, entry)
        if data:
            out += chunk(number, 6, size, 0, data)
    return out + chunk(number, 0, len(entries), 0, b"")


def fnv(text):
    digest = functools.reduce(lambda h, c: ((h ^ c) * 16777619) & 0xFFFFFFFF, text.encode("latin-1"), 2166136261)
    return "%d %d" % (len(text), digest)


class LinuxSlave(unittest.TestCase):
    def setUp(self):
        self.addCleanup(self.end_programs)

    def end_programs(self):
        # Ended of itself by a signal (a crash) is a failure whatever the test saw; -9 is the rig's own kill.
        died = s.exit_code() if not s.running() and (s.exit_code() or 0) < 0 and s.exit_code() != -9 else None
        s.cable(True)
        self.let_go()  # as hold() left them, if it did; and no text to carry into the next crossing:
        m.drive("clipboard empty")
        m.clean_up()
        s.clean_up()
        self.assertIsNone(died, "the Linux program died of signal %s" % (died and -died))

    def run(self, result=None):
        failed = len(result.failures + result.errors) if result else 0
        super().run(result)
        if s and result and len(result.failures + result.errors) > failed:  # what the Linux program said goes with it
            print("\n--- %s's log:\n%s" % (s.name, s.said()[-3000:]), file=sys.stderr)

    def link(self, key_file=None, key=None):
        """The Linux Slave started and listening, then the Master, each with its link key if given."""
        s.start("--slave", "--partner", m.address, "--port", PORT, "--position", "right",
                *(["--key-file", key_file] if key_file else []))
        wait_until(lambda: listening(PORT, s) or not s.running(), 10, "the Linux Slave to listen")
        self.assertTrue(s.running(), s.said())
        m.settings(master=True, position="right", partner=s.address, port=PORT)
        if key:
            self.assertEqual(m.drive("linkkey-store " + key), "ok")
        m.start()
        self.wait_linked(30)

    @staticmethod
    def wait_linked(timeout):
        wait_until(lambda: connections_to(PORT, m) == 1 and connections_to(PORT + 1, m) == 1, timeout,
                   "the two connections")

    def cross(self):
        """Into the Linux PC, until its pointer follows the Master's hand."""
        self.assertEqual(cross_sideways(m, s, "right"), (1, 384))
        return wait_following(m, s, m.move(150, 100))

    def test_link_cross_moves_one_to_one_to_the_far_corner_and_back(self):
        self.link()
        x, y = self.cross()
        # On, to the top left pixel short of the exit edge, to the far corner.
        for step, target in (((300, 200), (x + 300, y + 200)), ((1 - x - 300, -2000), (1, 0)),
                             ((5000, 5000), (1023, 767))):
            self.assertEqual(m.move(*step), target)
            wait_until(lambda: s.cursor() == target, 5, "the Linux pointer at %s" % (target,))
        self.assertGreater(cross_back(m)[0], 640)
        self.assertEqual((m.boxes(), s.keys_down(), s.buttons_down()), ([], [], []))

    def test_typing_by_key_position_in_the_linux_layout_with_ctrl_and_alt(self):
        self.link()
        self.cross()
        s.watch.clear()
        m.drive("type Hello, World 123!")
        s.watch.wait(lambda e: "Hello, World 123!" in s.typed(), 10, "the typed text")
        self.assertEqual(s.typed(), "Hello, World 123!")

        # A German layout: the keys at Y and Z (by scan code, and by virtual
        # key alone as a Master that sends none) swap; AltGr+Q gives @.
        s.layout("de")
        s.watch.clear()
        for key in ("0x59 down 0x15", "0x59 up 0x15", "0x5a down 0x2c", "0x5a up 0x2c", "0xa5 down 0x38 e",
                    "0x51 down 0x10", "0x51 up 0x10", "0xa5 up 0x38 e", "0x59 down", "0x59 up"):
            m.drive("key " + key)
        s.watch.wait(lambda e: len(e) >= 10, 5, "the keys")
        self.assertEqual(s.typed(), "zy@z")

        for keys, expected in (((CTRL, 0x43), ["Control_L", "c"]), ((ALT, 0x46), ["Alt_L", "f"]),
                               ((CTRL, ALT, 0x54), ["Control_L", "Alt_L", "t"])):
            with self.subTest(keys=keys):
                s.watch.clear()
                press(m, *keys)
                events = s.watch.wait(lambda e: len(e) >= 2 * len(keys), 5, "the combination")
                downs = [(e["sym"], e["down"]) for e in events if e["ev"] == "key"]
                self.assertEqual(downs, [(k, True) for k in expected] + [(k, False) for k in reversed(expected)])
        self.assertEqual((s.keys_down(), m.boxes()), ([], []))

    def clicks(self, commands, expected):
        """srdrive's buttons and wheel on the Master: the Linux window gets these X buttons, nothing more."""
        self.link()
        self.cross()
        s.watch.clear()
        for command in commands:
            m.drive(command)
        s.watch.wait(lambda e: len(e) >= len(expected), 5, "the buttons")
        time.sleep(0.3)
        self.assertEqual(([e["button"] for e in s.watch.events], s.buttons_down()), (expected, []))

    def test_left_and_right_buttons_and_the_wheel(self):
        # X gives each notch of the wheel as a press and release of button 4
        # (away from the user) or 5; two half notches make one.
        self.clicks(("click left", "click right", "wheel 120", "wheel -120 2", "wheel 60 2"),
                    [1, 1, 3, 3, 4, 4, 5, 5, 5, 5, 4, 4])

    def test_middle_and_side_buttons_and_the_sideways_wheel(self):
        def sends(path):
            with open(path, encoding="utf-8", errors="replace") as source:
                return "EV_MIDDLE_DOWN" in source.read()

        if not any(sends(f) for folder in ("app", "input", "link") for f in glob.glob(os.path.join(HERE, "..", "..",
                                                                                                   folder, "*.cpp"))):
            self.skipTest("this tree's Windows Master does not send the middle and side buttons yet")
        # The sideways wheel: 7 to the right, 6 to the left.
        self.clicks(("click middle", "click x1", "click x2", "wheel 120 1 side", "wheel -240 1 side"),
                    [2, 2, 8, 8, 9, 9, 7, 7, 6, 6, 6, 6])

    def test_clipboard_text_in_every_script_both_ways_and_five_megabytes(self):
        self.link()
        large = pattern(4999995)
        for there, back in ((SCRIPTS, SCRIPTS[::-1]), (large, large[::-1])):
            with self.subTest(size=len(there)):
                if len(there) < 1000:
                    m.drive("clipboard wide " + wide(there))
                else:
                    m.drive("clipboard fill %d" % len(there))
                self.cross()
                wait_until(lambda: s.clipboard_get() == there, 30, "the Master's text on the Linux PC")
                s.clipboard_set(back)
                cross_back(m)
                if len(back) < 1000:
                    wait_until(lambda: unwide(m.drive("clipboard bytes 13")) == back, 10, "the text on the Master")
                else:
                    wait_until(lambda: m.drive("clipboard sum") == fnv(back), 30, "the text on the Master")
        self.assertEqual(m.boxes(), [])

    def hold(self, button=True):
        """A key (A, X keycode 38) and the left button held on the Master, down on the Linux PC."""
        s.watch.clear()
        m.drive("key 0x41 down 0x1e")
        if button:
            m.drive("button left down")
        wait_until(lambda: 38 in s.keys_down() and s.buttons_down() == ([1] if button else []), 5,
                   "A and the button down")

    def let_go(self):
        for command in ("key 0x41 up 0x1e", "button left up"):
            m.drive(command)

    def nothing_down(self, timeout, what):
        try:
            wait_until(lambda: (s.keys_down(), s.buttons_down()) == ([], []), timeout, "nothing held down " + what)
        except AssertionError as error:
            raise AssertionError("%s; keys and buttons down: %s" % (error, (s.keys_down(), s.buttons_down()))) from None

    def test_a_blip_heals_and_leaves_no_key_down(self):
        self.link()
        self.cross()
        self.hold()  # a button let go while the link is down does not keep control from crossing again
        s.blip()
        self.nothing_down(5, "after the blip")
        self.let_go()
        self.wait_linked(20)
        self.cross()
        s.watch.clear()
        m.drive("type healed")
        s.watch.wait(lambda e: s.typed() == "healed", 10, "typing after the link healed")

    def test_a_pulled_cable_and_sigterm_leave_no_key_down_and_held_keys_do_not_repeat(self):
        self.link()
        self.cross()
        self.hold()
        time.sleep(1.5)  # X would repeat a key held this long: the Master's repeats alone count
        self.assertEqual(sum(1 for e in s.watch.events if e["ev"] == "key" and e["down"]), 1)
        s.cable(False)
        self.nothing_down(15, "after the cable was pulled")
        self.let_go()
        s.cable(True)
        self.wait_linked(30)
        self.cross()
        self.hold()
        self.assertIsNotNone(s.stop(signal.SIGTERM))
        self.nothing_down(1, "after SIGTERM")
        self.let_go()

    def test_a_keyed_link_with_the_masters_key_and_a_key_file_others_can_read_is_refused(self):
        key_file = os.path.join(s.home, "link.key")
        with open(key_file, "w") as f:
            f.write(KEY + "\n")
        os.chmod(key_file, 0o644)
        s.start("--slave", "--partner", m.address, "--port", PORT, "--key-file", key_file)
        self.assertNotEqual(wait_until(lambda: s.exit_code() is not None, 10, "the refusal") and s.exit_code(), 0)
        self.assertIn(key_file, s.said())

        os.chmod(key_file, 0o600)
        self.link(key_file, KEY.lower().replace("-", " "))  # typed another way on the Master, the same key
        m.drive("clipboard wide " + wide(SCRIPTS))
        self.cross()
        s.watch.clear()
        m.drive("type protected 123")
        s.watch.wait(lambda e: s.typed() == "protected 123", 10, "the typing over the protected link")
        wait_until(lambda: s.clipboard_get() == SCRIPTS, 10, "the clipboard text over the protected link")
        self.assertEqual(m.boxes(), [])

    # ---- pictures and files (issue 46)

    def test_a_picture_both_ways_pixel_for_pixel(self):
        self.link()
        # From Windows: a 24-bit DIB whose rows end in padding, with text beside it.
        self.assertEqual(m.drive("clipboard picture 1001 701 24 " + wide("beside the picture")), "ok")
        there = read_dib(bytes.fromhex(m.drive("clipboard bytes 8", timeout=60)))
        self.cross()
        wait_until(lambda: "image/png" in s.clipboard_targets(), 20, "the picture on the Linux PC")
        self.assertTrue({"image/png", "image/bmp", "UTF8_STRING"} <= set(s.clipboard_targets()), s.clipboard_targets())
        self.assertEqual(read_png(s.clipboard_bytes("image/png")), there)
        self.assertEqual(read_dib(s.clipboard_bytes("image/bmp")[14:]), there)
        self.assertEqual(s.clipboard_get(), "beside the picture")
        # From Linux: a PNG with real alpha (a version 5 DIB on Windows), then an opaque one (a plain DIB).
        for alpha, dib_format in ((True, 17), (False, 8)):
            with self.subTest(alpha=alpha):
                width, height = 333, 77
                pixels = picture_pattern(width, height, alpha)
                s.clipboard_set(png(width, height, pixels, alpha), "image/png")
                cross_back(m)
                wait_until(lambda: m.drive("clipboard hash %d" % dib_format).split()[0] != "0", 20,
                           "the picture on the Master")
                self.assertEqual(read_dib(bytes.fromhex(m.drive("clipboard bytes %d" % dib_format))),
                                 (width, height, pixels))
                self.cross()
        self.assertEqual(m.boxes(), [])

    def test_files_and_a_folder_of_40_mb_both_ways_byte_for_byte(self):
        self.link()
        root = os.path.join(rig.root, "copied")
        shutil.rmtree(root, ignore_errors=True)
        paths = make_files(root, {"small.txt": 5, "empty.txt": 0, "folder/big.bin": 40 << 20,
                                  "folder/sub/in.txt": 999})
        self.assertEqual(m.drive("clipboard files 2 " + paths), "ok")  # cut on the Master: a copy here
        self.cross()
        listed = wait_until(lambda: s.clipboard_bytes("x-special/gnome-copied-files"), 60, "the files on the Linux PC")
        self.assertIn("text/uri-list", s.clipboard_targets())
        effect, here = uri_paths(listed)
        self.assertEqual(effect, "copy")
        self.assertEqual([urllib.parse.unquote(u[len("file://"):]) for u in
                          s.clipboard_bytes("text/uri-list").decode().split("\r\n") if u], here)
        self.assertEqual({os.path.basename(p): tree(p) for p in here}, tree(root))
        folder = os.path.dirname(here[0])
        self.assertEqual(os.path.dirname(folder), os.path.join(s.runtime, "skiprail", "received"))
        self.assertEqual([stat.S_IMODE(os.stat(p).st_mode) for p in (folder + "/small.txt", folder + "/folder")],
                         [0o600, 0o700])

        # Back to Windows from where they landed, beside names Windows cannot
        # hold, a link out of the copied folder and a pipe.
        odd = os.path.join(rig.root, "odd")
        shutil.rmtree(odd, ignore_errors=True)
        make_files(odd, {"a:b.txt": 3, "CON": 4, "trailing.": 7, "dir/x?.txt": 5, "dir/X?.TXT": 6})
        sums = tree(odd)
        os.symlink("/etc/hostname", os.path.join(odd, "dir", "out"))
        os.symlink("../CON", os.path.join(odd, "dir", "in"))
        os.mkfifo(os.path.join(odd, "pipe"))
        s.clipboard_set(("copy\n" + "\n".join(file_uri(p) for p in here + [odd])).encode(),
                        "x-special/gnome-copied-files")
        cross_back(m)
        back = wait_until(lambda: dropped_on_windows(m), 60, "the files on the Master")
        expected = dict(tree(root), odd={"a_b.txt": sums["a:b.txt"], "CON_": sums["CON"], "trailing_": sums["trailing."],
                                         "dir": {"X_.TXT": sums["dir"]["X?.TXT"], "x_ (2).txt": sums["dir"]["x?.txt"],
                                                 "in": sums["CON"]}})
        self.assertEqual((back["effect"], arrived_on_windows(m, back)), (1, expected))
        said = s.said()
        for line in ('a:b.txt goes to Windows as "a_b.txt"', "out stays here: a symbolic link out of the copied",
                     "pipe stays here: not a file or folder"):
            self.assertIn(line, said)
        self.assertEqual(m.boxes(), [])

    def test_a_transfer_cut_by_a_pulled_cable_offers_nothing_half_written(self):
        self.link()
        root = os.path.join(rig.root, "cut")
        shutil.rmtree(root, ignore_errors=True)
        paths = make_files(root, {"large.bin": 400 << 20})
        s.clipboard_set("kept")
        self.assertEqual(m.drive("clipboard files 1 " + paths), "ok")
        # The Master's link held to 200 Mbit/s, so that the cable is pulled
        # in the middle however fast this machine copies.
        throttle = ["tc", "qdisc", "add", "dev", m.link, "root", "tbf", "rate", "200mbit", "burst", "256kb",
                    "latency", "50ms"]
        subprocess.run(m.cmd(throttle), check=True, timeout=20)
        self.addCleanup(lambda: subprocess.run(m.cmd(["tc", "qdisc", "del", "dev", m.link, "root"]), timeout=20))
        self.cross()

        def coming():
            parts = [p for p in s.received_files() if p.endswith(".part")]
            return parts and sum(os.path.getsize(f) for f in glob.glob(parts[0] + "/*")) > (20 << 20)

        wait_until(coming, 60, "the files half way")
        s.cable(False)
        wait_until(lambda: s.received_files() == [], 30, "the half-written folder removed")
        self.assertIn("nothing of them is kept", s.said())
        s.cable(True)
        self.assertEqual((s.clipboard_get(), s.received_files()), ("kept", []))
        self.wait_linked(30)
        self.assertEqual((s.clipboard_get(), s.received_files()), ("kept", []))
        shutil.rmtree(root, ignore_errors=True)

    def test_a_hostile_partners_names_never_leave_the_drop_folder(self):
        s.start("--slave", "--partner", m.address, "--port", PORT)
        wait_until(lambda: listening(PORT, s), 10, "the Linux Slave to listen")
        s.clipboard_set("kept")
        transfers = [
            [(1, "ok", b""), (2, "../escape.txt", b"out!")],
            [(2, "/tmp/absolute.txt", b"out!")],
            [(2, "sub/x.txt", b"no folder made first")],
            [(2, "a\\..\\b.txt", b"backslashes")],
            [(2, "CON", b"a device")],
            [(1, "d", b""), (2, "d/f.txt", (3, b"longer than it said"))],
            [(2, "twice.txt", b"1"), (2, "twice.txt", b"2")],
            [(1, "good", b""), (2, "good/f.txt", b"fine!")],
        ]
        script = os.path.join(rig.root, "hostile.bin")
        with open(script, "wb") as f:
            f.write(b"--cut--".join(file_list(n + 1, t) for n, t in enumerate(transfers)))
        sent = subprocess.run(m.cmd([sys.executable, "-c", HOSTILE_MASTER, s.address, str(PORT), script, HERE]),
                              capture_output=True, timeout=60)
        self.assertEqual(sent.returncode, 0, sent.stderr.decode())
        listed = wait_until(lambda: s.clipboard_bytes("x-special/gnome-copied-files"), 10, "the good list")
        _, paths = uri_paths(listed)
        self.assertEqual([os.path.basename(p) for p in paths], ["good"])
        with open(os.path.join(paths[0], "f.txt"), "rb") as f:
            self.assertEqual(f.read(), b"fine!")
        # One folder, the good list's; nothing anywhere else.
        self.assertEqual(s.received_files(), [os.path.dirname(paths[0])])
        written = [os.path.relpath(os.path.join(d, f), s.runtime) for d, _, fs in os.walk(s.runtime) for f in fs]
        self.assertEqual(written, [os.path.relpath(os.path.join(paths[0], "f.txt"), s.runtime)])
        self.assertFalse(os.path.exists("/tmp/absolute.txt"))
        self.assertGreaterEqual(s.said().count("were refused"), 5, s.said())


if __name__ == "__main__":
    unittest.main()
