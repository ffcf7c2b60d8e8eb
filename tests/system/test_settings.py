"""Settings across real starts of the program under Wine, on one PC (1024x768)
whose settings dialog is typed into and clicked like a user's: a standard
user who may not write the machine-wide key, and a stored port that no
connection can use. The build folder comes from SKIPRAIL_BUILD.
"""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import Rig, free_port_pair, listening, wait_until  # noqa: E402

rig = None
pc = None


def setUpModule():
    global rig, pc
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    pc, = rig.add_pcs(("s", "1024x768"))


def tearDownModule():
    if rig:
        rig.close()


class SettingsTest(unittest.TestCase):

    def setUp(self):
        self.port = free_port_pair()
        pc.drive("regclear")
        self.addCleanup(self.end_program)

    def end_program(self):
        pc.kill()
        pc.dismiss_boxes()
        pc.drive("regclear")

    def stored(self, hive):
        return [pc.drive.json("regget %s %s" % (hive, name)) for name in ("SRMaster", "ScreenPos", "SRPartner", "SRPort")]

    def test_a_standard_user_sets_up_once_and_keeps_the_settings_across_a_restart(self):
        # The machine-wide key exists but is closed to this account, as it is
        # to a standard user: the first start is a first run for the user.
        pc.drive("reglock none")
        pc.start()
        shown = pc.wait_settings_dialog()
        self.assertEqual((shown["partner"], shown["port"], sorted(shown["checked"])),
                         ("localhost", "447", ["left", "master"]))
        self.assertEqual(self.stored("hkcu"), [1, 0, "localhost", "447"])
        self.assertFalse(listening(self.port))
        pc.fill_settings(master=False, position="right", partner="127.0.0.1", port=self.port)
        pc.press_settings_ok()
        self.assertEqual(pc.boxes(), [])
        self.assertEqual(self.stored("hkcu"), [0, 1, "127.0.0.1", str(self.port)])
        self.assertEqual(self.stored("hklm"), [None] * 4)
        # The Slave finds no partner, so it listens on the port it was given.
        wait_until(lambda: listening(self.port) and listening(self.port + 1), 20, "the program to listen")

        pc.stop()
        wait_until(lambda: not listening(self.port), 10, "the port to close")
        pc.start()
        wait_until(lambda: listening(self.port) and listening(self.port + 1), 20, "the program to listen again")
        self.assertFalse(pc.settings_dialog()["found"])
        self.assertEqual(pc.boxes(), [])
        self.assertEqual(self.stored("hkcu"), [0, 1, "127.0.0.1", str(self.port)])

    def test_a_stored_port_no_connection_can_use_is_reported_once_and_never_used(self):
        # 65536 more than a free port: cut to 16 bits it would be that port,
        # where this test listens to catch any connect.
        bad = self.port + 65536
        trap = socket.socket()
        trap.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        trap.bind(("0.0.0.0", self.port))
        trap.listen(4)
        trap.settimeout(0.2)
        self.addCleanup(trap.close)
        pc.settings(master=False, position="right", partner="127.0.0.1", port=bad)
        pc.start()

        wait_until(lambda: pc.boxes(), 20, "a message box")
        boxes = [(b["caption"], b["text"]) for b in pc.boxes()]
        self.assertEqual(len(boxes), 1, boxes)
        self.assertEqual(boxes[0][0], "Error")
        self.assertIn('"%d"' % bad, boxes[0][1])
        self.assertIn("from 1 to 65534", boxes[0][1])
        pc.dismiss_boxes()
        time.sleep(2)
        self.assertEqual(pc.boxes(), [])
        with self.assertRaises(socket.timeout):
            trap.accept()
        self.assertFalse(listening(self.port + 1))
        self.assertTrue(pc.running())

        # A usable port saved in the settings dialog starts the connection.
        trap.close()
        pc.drive("settings-open")
        self.assertEqual(pc.wait_settings_dialog()["port"], str(bad))
        pc.drive("settings-type port %d" % self.port)
        pc.press_settings_ok()
        wait_until(lambda: listening(self.port) and listening(self.port + 1), 20, "the program to listen")
        self.assertEqual(pc.boxes(), [])


if __name__ == "__main__":
    unittest.main()
