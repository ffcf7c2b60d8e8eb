"""Settings across real starts of the program under Wine, on one PC (1024x768)
whose settings dialog is typed into and clicked like a user's: a standard
user who may not write the machine-wide key, a stored port that no
connection can use, and the keys that move control, set on a Master linked to
the protocol peer. The build folder comes from SKIPRAIL_BUILD.
"""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from rig import Rig, cross_right, free_port_pair, listening, wait_until  # noqa: E402

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

    def test_keys_are_pressed_into_the_keys_page_refused_when_unusable_and_kept_only_by_both_oks(self):
        peer = P.Peer(self.port, auto_ready=True).listen()
        self.addCleanup(peer.close)
        pc.settings(master=True, position="right", port=self.port)
        pc.start()
        self.assertTrue(peer.accept(), "the Master links to the peer")
        peer.control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 800, 600))
        hotkey = lambda *vks: [pc.drive("key %d %s" % (vk, ud)) and time.sleep(0.1)   # at a hand's pace
                               for ud, o in (("down", vks), ("up", vks[::-1])) for vk in o]
        wait_until(lambda: hotkey(0x11, 0x12, 0x71) and peer.control.wait_for(P.PKT_ENTER, 1), 10, "Ctrl+Alt+F2 to act")
        hotkey(0x11, 0x12, 0x70)
        self.assertIsNotNone(peer.control.wait_for(P.PKT_LEAVE), "Ctrl+Alt+F1 takes control back")
        hotkey(0x91)   # Scroll Lock: locked, until its key is turned off below
        names = ["SRKeyMaster", "SRKeySlave1", "SRKeySlave2", "SRKeyLock", "SRSwitchDelay", "SRDoubleTap"]

        def open_page():
            pc.drive("settings-open")
            pc.wait_settings_dialog()
            pc.drive("settings-click keys")
            return wait_until(lambda: (lambda p: p if p["found"] else None)(pc.drive.json("keys-page")), 10, "the page")

        self.assertEqual(open_page()["keys"][:3], ["Ctrl+Alt+F1", "Ctrl+Alt+F2", "Ctrl+Alt+F3"])
        # The hooks are in, yet a hotkey pressed while a box reads reaches the box.
        self.assertEqual(pc.drive.json("keys-press 1 ctrl+alt+f2"), "Ctrl+Alt+F2")
        self.assertEqual(pc.drive.json("keys-press 2 ctrl+shift+f7"), "Ctrl+Shift+F7")
        self.assertEqual(pc.drive("keys-click off 5"), "ok")
        for keys, why in (("a", "types text"), ("ctrl+alt+del", "Windows keeps"), ("ctrl+shift+f7", "already the key")):
            self.assertEqual(pc.drive.json("keys-press 1 " + keys), "Ctrl+Alt+F2")
            self.assertIn(why, pc.drive.json("keys-page")["note"])
        pc.drive("keys-click delay")
        page = wait_until(lambda: (lambda p: p if p["delay"][0] else None)(pc.drive.json("keys-page")), 5, "the delay")
        self.assertEqual((page["keys"][5], page["delay"]), ("Off", [True, "250"]))
        pc.drive("keys-click ok")
        pc.press_settings_ok()
        kept = [None, None, 0x576, 0, 250, None]   # Ctrl+Shift+F7; Slave 1's reset to the default is no value
        self.assertEqual([pc.drive.json("regget hklm " + n) for n in names], kept)

        # Cancel on the page, or on the settings after the page's OK, keeps them.
        for page_button, settings_button in (("cancel", "ok"), ("ok", "cancel")):
            open_page()
            pc.drive.json("keys-press 0 ctrl+alt+f11")
            pc.drive("keys-click tap")
            pc.drive("keys-click " + page_button)
            wait_until(lambda: not pc.drive.json("keys-page")["found"], 5, "the page to close")
            pc.drive("settings-click " + settings_button)
            wait_until(lambda: not pc.settings_dialog()["found"], 10, "the settings to close")
            self.assertEqual([pc.drive.json("regget hklm " + n) for n in names], kept)
        self.assertEqual(pc.boxes(), [])
        # None of those presses moved control. The lock went with its key;
        # the Master's key, read meanwhile, takes control back again.
        self.assertNotIn(P.PKT_ENTER, [p.type for p in peer.control.quiet(0)])
        cross_right(pc)
        self.assertIsNotNone(peer.control.wait_for(P.PKT_ENTER), "the pointer crosses")
        hotkey(0x11, 0x12, 0x70)
        self.assertIsNotNone(peer.control.wait_for(P.PKT_LEAVE), "Ctrl+Alt+F1 takes control back")


if __name__ == "__main__":
    unittest.main()
