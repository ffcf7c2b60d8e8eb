"""A Linux PC as the Master: an Xvfb display of 1024x768 (192.0.2.1) with a
Linux Slave of 800x600 on its right (192.0.2.2) and a Windows Slave of
1280x1024 under Wine on its left (192.0.2.3), each a host of its own, linked
on port 447. The Master's hand is XTest's (xdotool) on its display; what
arrives is read in each Slave's own recorder. Needs SKIPRAIL_LINUX_BUILD;
skipped without it.
"""

import os
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from peer import unwide, wide  # noqa: E402
from rig import Rig, RigError, scaled, wait_until  # noqa: E402

PORT = 447
SCRIPTS = "Grüße · Καλημέρα · Привет · こんにちは · 你好 · שלום · नमस्ते · 😀"

rig = None
m = None  # the Linux Master
s = None  # the Linux Slave, on its right
w = None  # the Windows Slave, on its left


def setUpModule():
    global rig, m, s, w
    linux = os.environ.get("SKIPRAIL_LINUX_BUILD")
    if not linux:
        raise unittest.SkipTest("SKIPRAIL_LINUX_BUILD (the native build holding unix/skiprail) is not given")
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"), network=True, linux_build=linux)
    m, s, w = rig.add_pcs(("m", "1024x768", "linux"), ("s", "800x600", "linux"), ("w", "1280x1024"))
    os.makedirs(os.path.join(m.home, ".config", "skiprail"), exist_ok=True)
    with open(os.path.join(m.home, ".config", "skiprail", "skiprail.conf"), "w") as conf:
        conf.write("mode = master\npartner = %s\nport = %d\nposition = right\n"
                   "partner2 = %s\nport2 = %d\nposition2 = left\n" % (s.address, PORT, w.address, PORT))
    w.settings(master=False, position="left", partner=m.address, port=PORT)


def tearDownModule():
    if rig:
        rig.close()


def xdo(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=m.display), check=True,
                   timeout=20)


def step(dx, dy, steps=None):
    """The Master's hand moves by (dx, dy) in small steps along one axis at a
    time, which the X server's pointer acceleration (above 4 pixels an
    event) leaves as they are, at a fast hand's pace (about 3 pixels a
    millisecond): the capture puts the pointer back in the middle between
    them, before it meets the screen's edge."""
    chain = []
    for axis, total in ((0, dx), (1, dy)):
        sign = 1 if total > 0 else -1
        for i in range(abs(total) // 3):
            if i % 8 == 7:
                chain += ["sleep", "0.008"]
            chain += ["mousemove_relative", "--"] + ([3 * sign, 0] if axis == 0 else [0, 3 * sign])
        if abs(total) % 3:
            rest = (abs(total) % 3) * sign
            chain += ["mousemove_relative", "--"] + ([rest, 0] if axis == 0 else [0, rest])
    if chain:
        xdo(*chain)


def keys(*names):
    xdo("key", "--delay", "20", *names)


def entered(slave_name, since):
    return wait_until(lambda: ("entered %s" % slave_name) in m.said()[since:] or
                      ("switched to %s" % slave_name) in m.said()[since:], 10, "control at %s" % slave_name)


def follow(pc, target):
    """Waits until the Slave's pointer stands at target, nudging the hand a
    pixel away and back now and then: a fresh Windows Slave drops the first
    actions it is sent, and a position it dropped is not sent again."""
    away = (1 if target[0] == 0 else -1, 1 if target[1] == 0 else -1)
    for _ in range(10):
        try:
            return wait_until(lambda: pc.cursor() == target, 1, "")
        except RigError:
            step(*away)
            step(-away[0], -away[1])
    raise RigError("%s's pointer stands at %s, not %s" % (pc.name, pc.cursor(), target))


def master_free():
    """The Master's own pointer goes where the hand puts it and stays: no
    capture holds it (which would put it back in the middle)."""
    for at in ((300, 300), (310, 305)):
        xdo("mousemove", *at)
        time.sleep(0.2)
        if m.cursor() != at:
            return False
    return True


class LinuxMasterTest(unittest.TestCase):
    def setUp(self):
        self.failed = len(self._outcome.result.failures + self._outcome.result.errors) if self._outcome.result else 0
        for pc in (m, s):
            pc.watch("focus")
            pc.watch.clear()
        if not s.running():
            s.start("--slave", "--partner", m.address, "--port", PORT, "--position", "right")
        if not w.running():
            w.start()
        if not m.running():
            m.start()
        wait_until(lambda: m.said().count("linked with") >= 2, 30, "the Master linked with both Slaves")
        wait_until(lambda: "Slave 2 (192.0.2.3)'s desktop: 1280x1024" in m.said() and
                   "Slave 1 (192.0.2.2)'s desktop: 800x600" in m.said(), 20, "both Slaves' desktops")
        if not master_free():  # a test before left control away: the key brings it home
            keys("ctrl+alt+shift+F1")
        wait_until(master_free, 5, "the Master's pointer free")

    def tearDown(self):
        result = self._outcome.result
        if result and len(result.failures + result.errors) > self.failed:
            for pc in (m, s):
                print("\n--- %s's log:\n%s" % (pc.name, pc.said()[-3000:]), file=sys.stderr)

    def push_right(self, y):
        """The Master's pointer pushed past its right edge at height y."""
        since = len(m.said())
        xdo("mousemove", 1000, y)
        xdo("mousemove", 1023, y)
        entered("Slave 1", since)

    def test_a_linux_slave_follows_the_hand_types_clicks_and_lets_go_on_the_way_back(self):
        self.push_right(384)
        entry = (1, scaled(384, 768, 600))
        wait_until(lambda: s.cursor() == entry, 5, "the Slave's pointer at the entry point %s" % (entry,))
        # 1:1, to the far corner and back.
        step(120, 80, 4)
        wait_until(lambda: s.cursor() == (entry[0] + 120, entry[1] + 80), 5, "the Slave's pointer to follow")
        step(2000, 2000, 10)
        wait_until(lambda: s.cursor() == (799, 599), 5, "the Slave's pointer in the far corner")
        step(-300, -299, 3)
        wait_until(lambda: s.cursor() == (499, 300), 5, "the Slave's pointer back from the corner")
        # Keys by their place, with Shift, Ctrl and the extended keys; buttons and the wheel.
        s.watch.clear()
        xdo("type", "--delay", "20", "Hello, World!")
        keys("ctrl+a", "Home", "Right", "KP_Enter")
        xdo("click", 1)
        xdo("click", 3)
        xdo("click", 4)
        events = s.watch.wait(lambda e: s.typed().startswith("Hello, World!") and
                              sum(1 for x in e if x["ev"] == "button" and x["down"]) >= 3, 10, "the text and clicks")
        codes = [x["code"] for x in events if x["ev"] == "key" and x["down"]]
        for name, code in (("ctrl", 37), ("a", 38), ("Home", 110), ("Right", 114), ("KP_Enter", 104)):
            self.assertIn(code, codes, name)
        self.assertEqual([x["button"] for x in events if x["ev"] == "button" and x["down"]][:3], [1, 3, 4])
        # Back across the Slave's left edge: the Master's pointer at its own
        # right edge, at the matching height, and nothing down on either PC.
        since = len(m.said())
        step(-500, 0)  # from x 499 to just past the Slave's left edge
        wait_until(lambda: "left Slave 1" in m.said()[since:], 10, "control back at the Master")
        wait_until(lambda: m.cursor() == (1021, scaled(300, 600, 768)), 5,
                   "the Master's pointer at its right edge, at the matching height; it stands at %s" % (m.cursor(),))
        self.assertEqual(s.keys_down(), [])
        self.assertEqual(s.buttons_down(), [])
        self.assertEqual(m.keys_down(), [])
        self.assertTrue(master_free())

    def test_a_windows_slave_larger_than_the_master_is_reached_to_its_every_pixel_and_keys_go_by_place(self):
        since = len(m.said())
        xdo("mousemove", 20, 400)
        xdo("mousemove", 0, 400)
        entered("Slave 2", since)
        self.assertEqual(w.drive("focus"), "ok")
        w.drive("clear")
        # The far corner, and the near one step for step: 1:1, short of the edge that faces the Master.
        step(-3000, -3000)
        follow(w, (0, 0))
        step(1279, 1023)
        follow(w, (1279, 1023))
        xdo("type", "--delay", "20", "Skiprail 1:1")
        keys("Delete", "Control_R+Home")
        got = wait_until(lambda: (lambda k: k if "Skiprail 1:1" in k["chars"] else None)(w.drive.json("keys")), 10,
                         "the text on the Windows Slave")
        strokes = " ".join(got["strokes"])
        self.assertIn(":2E:53:1:", strokes.upper())   # Delete: scan 0x53, extended
        self.assertIn(":11:1D:1:", strokes.upper())   # right Ctrl: scan 0x1D, extended
        # Home again across the Slave's right edge (the Master stands right of it).
        since = len(m.said())
        step(3, 0)
        wait_until(lambda: "left Slave 2" in m.said()[since:], 10, "control back at the Master")
        wait_until(master_free, 5, "the Master's pointer free")

    def test_the_clipboard_follows_control_to_either_slave_and_back_in_every_script(self):
        m.clipboard_set("from m: " + SCRIPTS)
        self.push_right(300)
        wait_until(lambda: s.clipboard_get() == "from m: " + SCRIPTS, 10, "the Master's text on the Linux Slave")
        s.clipboard_set("from s:\n" + SCRIPTS)
        since = len(m.said())
        keys("ctrl+alt+shift+F1")
        wait_until(lambda: "left Slave 1" in m.said()[since:], 5, "control back at the Master")
        wait_until(lambda: m.clipboard_get() == "from s:\n" + SCRIPTS, 10, "the Linux Slave's text on the Master")
        # Straight on to the Windows Slave: what came from the Linux one goes with control.
        since = len(m.said())
        keys("ctrl+alt+shift+F3")
        entered("Slave 2", since)
        wait_until(lambda: unwide(w.drive("clipboard bytes 13")) == "from s:\r\n" + SCRIPTS, 10,
                   "the text on the Windows Slave, with its line ends")
        self.assertEqual(w.drive("clipboard wide " + wide("from w: " + SCRIPTS)), "ok")
        since = len(m.said())
        keys("ctrl+alt+shift+F1")
        wait_until(lambda: "left Slave 2" in m.said()[since:], 5, "control back at the Master")
        wait_until(lambda: m.clipboard_get() == "from w: " + SCRIPTS, 10, "the Windows Slave's text on the Master")
        m.clip_release()

    def test_the_keys_move_control_and_take_it_back_even_from_a_slave_that_hangs(self):
        since = len(m.said())
        keys("ctrl+alt+shift+F3")
        entered("Slave 2", since)
        since = len(m.said())
        keys("ctrl+alt+shift+F2")
        entered("Slave 1", since)
        s.process.send_signal(signal.SIGSTOP)
        try:
            since = len(m.said())
            start = time.monotonic()
            keys("ctrl+alt+shift+F1")
            wait_until(lambda: "left Slave 1" in m.said()[since:], 5, "control back from the hanging Slave")
            self.assertLess(time.monotonic() - start, 2)
            wait_until(master_free, 3, "the Master's pointer free")
            self.assertEqual(m.keys_down(), [])
        finally:
            s.process.send_signal(signal.SIGCONT)
        # The Slave heard nothing of the modifiers held for the keys, and lets go of all.
        wait_until(lambda: s.keys_down() == [], 10, "nothing down on the Slave")

    def test_a_slave_that_ends_or_falls_silent_frees_the_master(self):
        self.push_right(200)
        start = time.monotonic()
        since = len(m.said())
        s.stop()
        wait_until(lambda: "control back here" in m.said()[since:], 3, "the Master free once the Slave ended")
        self.assertTrue(master_free())
        figure_closed = time.monotonic() - start
        s.start("--slave", "--partner", m.address, "--port", PORT, "--position", "right")
        wait_until(lambda: m.said().count("linked with Slave 1") >= 2, 20, "the Master linked again")
        wait_until(lambda: "Slave 1 (192.0.2.2)'s desktop: 800x600" in m.said()[-4000:], 10, "its size")
        self.push_right(200)
        s.process.send_signal(signal.SIGSTOP)
        try:
            start = time.monotonic()
            # The hand goes on moving: packets go unanswered.
            for _ in range(5):
                step(10, 0)
                time.sleep(0.1)
            since = len(m.said())
            wait_until(lambda: "control back here" in m.said()[since:], 12, "the Master free once the Slave fell silent")
            self.assertTrue(master_free())
            silent = time.monotonic() - start
        finally:
            s.process.send_signal(signal.SIGCONT)
        print("FIGURE the Master free after its Slave ended: %d ms" % (figure_closed * 1000))
        print("FIGURE the Master free after its Slave fell silent: %d ms" % (silent * 1000))
        self.assertLess(silent, 9.5)


if __name__ == "__main__":
    unittest.main()
