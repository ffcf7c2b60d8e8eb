"""Typing over a slow link: the two PCs are hosts of their own, joined
through a relay in the hub that holds every chunk 2 ms each way
(tests/system/relay.py). What is typed on the Master arrives whole and in
order on the Slave, and a pair with a PC of the previous release keeps to
stop-and-wait: the relay counts the packets in flight.

The times the tests measure are printed as "FIGURE name: N ms".
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import Rig, listening, wait_following, wait_linked, wait_until  # noqa: E402

PORT = 447
HOLD_MS = 2.0
# The previous release's build folder (skiprail.exe, hook/srhook.dll), made by scripts/test.sh.
PREVIOUS = os.environ.get("SKIPRAIL_PREVIOUS_BUILD", "")
# Ample: stop-and-wait through the relay carries about a keystroke per 10 ms,
# a window of packets in flight a thousand in about a second.
TYPED_WITHIN = 60
TEXT = "the quick brown fox jumps over 13 lazy dogs and 2 cats "

rig = relay = None
m = None  # the Master, 1280x1024, 192.0.2.1
s = None  # the Slave, 1024x768 on its right, 192.0.2.2


def setUpModule():
    global rig, relay, m, s
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"), network=True)
    m, s = rig.add_pcs(("m", "1280x1024"), ("s", "1024x768"))
    relay = rig.relay(m, s, PORT, HOLD_MS)


def tearDownModule():
    if rig:
        rig.close()


class SlowLink(unittest.TestCase):
    def setUp(self):
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (m, s):
            pc.clean_up()
            pc.copy_program()

    def link(self):
        """Both programs through the relay, control on the Slave, its recorder in front."""
        s.settings(master=False, position="right", partner=relay.slave_side, port=PORT)
        s.start()
        wait_until(lambda: listening(PORT, s) and listening(PORT + 1, s), 20, "the Slave to listen")
        m.settings(master=True, position="right", partner=relay.master_side, port=PORT)
        m.start()
        wait_linked(m, s, timeout=30)
        wait_following(m, s, m.move(150, 100))
        self.assertEqual(s.drive("focus"), "ok")
        s.drive("clear")
        relay.reset()

    def types(self, text, every_us, what):
        """Types text on the Master (a character every every_us, or at once)
        and waits until all of it is in the Slave's window; checks it there."""
        since = time.time()
        self.assertEqual(m.drive("type-every %d %s" % (every_us, text), timeout=TYPED_WITHIN), "ok")
        wait_until(lambda: len(s.drive.json("keys")["chars"]) >= len(text), TYPED_WITHIN,
                   "%d characters typed on the Slave" % len(text), interval=0.5)
        print("FIGURE %s: %d ms" % (what, (time.time() - since) * 1000), flush=True)
        time.sleep(0.3)
        self.assertEqual(s.drive.json("keys")["chars"], text)
        s.drive("clear")

    def test_keys_typed_fast_and_at_once_arrive_whole_and_in_order(self):
        self.link()
        self.types((TEXT * 6)[:300], 5000, "300 keys typed one every 5 ms, until the last arrived")
        self.types((TEXT * 19)[:1000], 0, "1,000 keys typed at once, until the last arrived")
        flight = relay.stats()
        print("FIGURE packets in flight at most: %d (of %d)" % (flight["most"], flight["asked"]), flush=True)
        self.assertGreaterEqual(flight["asked"], 2 * 1300, "the keys went through the relay")
        self.assertGreater(flight["most"], 2, "two of this release keep several packets in flight")

    @unittest.skipUnless(os.path.isfile(os.path.join(PREVIOUS, "skiprail.exe")),
                         "no build of the previous release (scripts/test.sh makes it)")
    def test_a_pair_with_the_previous_release_keeps_to_stop_and_wait(self):
        for earlier in (s, m):
            with self.subTest("the %s of the previous release" % ("Slave" if earlier is s else "Master")):
                self.end_programs()
                earlier.copy_program(PREVIOUS)
                self.link()
                self.types((TEXT * 4)[:200], 0, "200 keys at once, the %s of the previous release" % earlier.name)
                flight = relay.stats()
                self.assertGreaterEqual(flight["asked"], 400)
                self.assertLessEqual(flight["most"], 2)


if __name__ == "__main__":
    unittest.main()
