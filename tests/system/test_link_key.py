"""The protected link: two PCs with one link key, a scripted partner that
speaks the protected wire (with the wrong key, the right one, a damaged
record), and a PC with a key beside one without.

PC "a" (1280x1024) plays the Master and PC "b" (1024x768) the Slave, which
stands to the Master's right. The build folder comes from SKIPRAIL_BUILD.
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from rig import _tcp_table as rig_table  # noqa: E402
from rig import (Rig, cross_back, cross_right, free_port_pair, listening, make_files, screen_of, tree,  # noqa: E402
                 wait_following, wait_linked, wait_until)

PARTNER = "127.0.0.1"
KEY = "K7QF-2MXD-9PZR-4TWA-3HNB-6YCE"
NOTICE = "did not prove the link key"

rig = None
master = None   # PC a
slave = None    # PC b


def setUpModule():
    global rig, master, slave
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    master, slave = rig.add_pcs(("a", "1280x1024"), ("b", "1024x768"))


def tearDownModule():
    if rig:
        rig.close()


class LinkKey(unittest.TestCase):
    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (master, slave):
            pc.kill()
            pc.dismiss_boxes()
            pc.drive("unfocus")
            pc.drive("clear")  # the next test counts its own typing
            pc.drive("unclip")  # and finds its pointer free, wherever this one left it

    def start(self, pc, key=None):
        pc.settings(master=pc is master, position="right", partner=PARTNER, port=self.port)
        if key:
            self.assertEqual(pc.drive("linkkey-store " + key), "ok")
        return pc.start()

    def notices(self, pc):
        return [box for box in pc.boxes() if NOTICE in box["text"]]

    def keyed(self, key, role=P.CONNECTOR):
        link = P.keyed_connect(self.port, key, source=PARTNER, role=role)
        self.addCleanup(link.close)
        return link

    def test_two_pcs_with_one_key_cross_type_and_carry_clipboard_both_ways(self):
        self.start(slave, KEY)
        wait_until(lambda: listening(self.port), 10, "the Slave to listen")
        self.start(master, KEY.lower().replace("-", " "))  # typed another way, the same key

        master.drive("clipboard set Copied on the Master")
        self.assertEqual(wait_linked(master, slave, timeout=30)[0], 1)
        wait_until(lambda: slave.drive.json("clipboard get") == "Copied on the Master", 10,
                   "the Master's clipboard text on the Slave")
        self.assertEqual(slave.drive("focus"), "ok")
        corner = master.move(200, 0)
        wait_following(master, slave, corner)
        self.assertEqual(master.drive("type protected 123"), "ok")
        wait_until(lambda: slave.drive.json("keys")["chars"] == "protected 123", 10, "the typing on the Slave")

        # The largest text, several hundred records, comes back whole.
        self.assertEqual(slave.drive("clipboard fill 4999995"), "ok")
        largest = slave.drive("clipboard sum")
        width, _ = screen_of(master)
        self.assertGreater(cross_back(master)[0], width // 2)
        wait_until(lambda: master.drive("clipboard sum") == largest, 30, "the Slave's whole text on the Master")

        # The dialog says so, and makes new keys of the promised form.
        self.assertEqual(master.drive("linkkey-open"), "ok")
        dialog = wait_until(lambda: master.drive.json("linkkey") if master.drive.json("linkkey")["found"] else None,
                            10, "the Link Key dialog")
        self.assertEqual(dialog["key"], KEY.lower().replace("-", " "))
        self.assertEqual(dialog["state"], "The link is protected now.")
        self.assertEqual(master.drive("linkkey-click new"), "ok")
        fresh = wait_until(lambda: master.drive.json("linkkey")["key"] != dialog["key"] and
                           master.drive.json("linkkey")["key"], 5, "a new key")
        self.assertRegex(fresh, r"^[0-9A-HJKMNP-TV-Z]{4}(-[0-9A-HJKMNP-TV-Z]{4}){5}$")
        self.assertEqual(master.drive("linkkey-click cancel"), "ok")
        wait_until(lambda: not master.drive.json("linkkey")["found"], 5, "the dialog to close")
        self.assertEqual(master.boxes() + slave.boxes(), [])

        # Files cross sealed too, byte for byte.
        root = os.path.join(rig.root, "keyed")
        self.assertEqual(master.drive("clipboard files 1 " + make_files(root, {"f/sealed.bin": 3 << 20, "a.txt": 9})),
                         "ok")
        cross_right(master)
        dropped = wait_until(lambda: (lambda d: d if d and "\\Skiprail\\" in d["files"][0] else None)(
            slave.drive.json("clipboard dropped")), 30, "the files on the Slave's clipboard")
        self.assertEqual({os.path.basename(slave.unix_path(f)): tree(slave.unix_path(f)) for f in dropped["files"]},
                         tree(root))

    def test_a_partner_with_the_wrong_key_or_a_damaged_record_is_closed_and_the_link_heals(self):
        self.start(slave, KEY)
        wait_until(lambda: listening(self.port), 10, "the Slave to listen")

        # The wrong key: the Slave greets on the protected wire, never in the
        # clear, refuses the proof and closes; a packet gets no READY.
        wrong = self.keyed("Q" * 24)
        self.assertFalse(wrong.handshake())
        self.assertTrue(wrong.peer_greeting.startswith(b"SRLK"), wrong.peer_greeting)
        try:
            wrong.sock.sendall(P.Packet(P.PKT_ENTER, 5, 5).encode())
        except OSError:
            pass
        self.assertTrue(wrong.wait_closed(3), "the Slave closes a partner that did not prove the key")
        wait_until(lambda: len(self.notices(slave)) == 1, 5, "the notice on the Slave")

        # The right key: the screen size and READY come as records.
        right = self.keyed(KEY)
        self.assertTrue(right.handshake())
        self.assertEqual(right.wait_for(P.PKT_SCREEN_SIZE), P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        right.send_packet(P.Packet(P.PKT_ENTER, 10, 10))
        self.assertIsNotNone(right.wait_for(P.PKT_READY), "READY to a protected PKT_ENTER")

        # One bit flipped in a record's ciphertext: the Slave ends the connection.
        right.send_packet(P.Packet(P.PKT_INPUT, 20, 20), flip_bit=8 * 10 + 3)
        self.assertTrue(right.wait_closed(3), "a damaged record ends the connection")

        # The link heals: a new connection with the key links again; a
        # partner silent past the deadline is closed; no second notice.
        again = self.keyed(KEY)
        self.assertTrue(again.handshake())
        again.send_packet(P.Packet(P.PKT_ENTER, 30, 30))
        self.assertIsNotNone(again.wait_for(P.PKT_READY), "READY after the link healed")
        again.close()
        silent = P.connect(self.port, source=PARTNER)
        self.addCleanup(silent.close)
        started = time.time()
        self.assertTrue(silent.wait_closed(8), "a partner silent past the deadline is closed")
        self.assertGreater(time.time() - started, 4)
        time.sleep(0.5)
        self.assertEqual(len(self.notices(slave)), 1, slave.boxes())

    def master_ports(self):
        """The Master's established connections to the Slave's two ports: (the
        Slave's port, the Master's)."""
        return sorted((remote, local) for local, remote, state in rig_table()
                      if state == "01" and remote in (self.port, self.port + 1) and local not in self.peer_ports)

    def test_a_newcomer_from_the_partners_address_takes_over_a_keyed_link_only_by_proving_the_key(self):
        self.start(slave, KEY)
        wait_until(lambda: listening(self.port), 10, "the Slave to listen")
        self.start(master, KEY)
        self.assertEqual(wait_linked(master, slave, timeout=30)[0], 1)
        self.peer_ports = []
        live = wait_until(lambda: len(self.master_ports()) == 2 and self.master_ports(), 10, "both connections")

        # From the partner's address: a silent clipboard connection, one with
        # the wrong key, and a plain one that sends three packets. Each is
        # closed (the silent one at the deadline), and the live link is untouched.
        silent = P.connect(self.port + 1, source=PARTNER, kind="clipboard")
        self.addCleanup(silent.close)
        started = time.time()
        wrong = self.keyed("Q" * 24)
        self.peer_ports += [silent.local[1], wrong.sock.getsockname()[1]]
        self.assertFalse(wrong.handshake())
        self.assertTrue(wrong.wait_closed(3), "a newcomer with the wrong key is closed")
        plain = P.connect(self.port, source=PARTNER)
        self.addCleanup(plain.close)
        self.peer_ports.append(plain.local[1])
        plain.send(P.Packet(P.PKT_ENTER, 5, 5).encode() * 3)
        self.assertTrue(plain.wait_closed(3), "a newcomer speaking packets is closed")
        self.assertTrue(silent.wait_closed(8), "a silent newcomer is closed at the deadline")
        self.assertGreater(time.time() - started, 4)
        self.assertEqual(self.master_ports(), live)
        self.assertEqual(slave.drive("focus"), "ok")
        corner = master.move(200, 0)
        wait_following(master, slave, corner)
        self.assertEqual(master.drive("type still here"), "ok")
        wait_until(lambda: slave.drive.json("keys")["chars"] == "still here", 10, "the typing on the Slave")
        self.assertEqual(master.boxes() + slave.boxes(), [])

        # A partner come back with the right key (as after a restart) takes
        # over at once: the Slave answers it and ends the connection it replaces.
        cross_back(master)
        right = self.keyed(KEY)
        self.peer_ports.append(right.sock.getsockname()[1])
        self.assertTrue(right.handshake())
        self.assertEqual(right.wait_for(P.PKT_SCREEN_SIZE, 2), P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        wait_until(lambda: live[0] not in self.master_ports(), 5, "the replaced control connection to end")
        clip = P.keyed_connect(self.port + 1, KEY, source=PARTNER)
        self.addCleanup(clip.close)
        self.peer_ports.append(clip.sock.getsockname()[1])
        self.assertTrue(clip.handshake())
        wait_until(lambda: live[1] not in self.master_ports(), 5, "the replaced clipboard connection to end")

        # The Master, whose link ended, comes back the same way: both its new
        # connections take over from the scripted partner's, and carry on.
        # (On one host the Slave holds the ports the Master would listen on.)
        wait_until(lambda: master.box_texts() == ["Attempt to bind socket failed."] * 2, 5, "the Master's two boxes")
        master.dismiss_boxes()
        master.drive("clipboard set Back on the Master")
        self.assertEqual(wait_linked(master, slave, timeout=30)[0], 1)
        wait_until(lambda: slave.drive.json("clipboard get") == "Back on the Master", 10, "the clipboard text")
        self.assertTrue(right.wait_closed(3) and clip.wait_closed(3), "the scripted partner replaced in turn")
        self.assertEqual(master.boxes() + slave.boxes(), [])

    def test_a_pc_with_a_key_and_one_without_do_not_link_and_the_notice_shows_once(self):
        self.start(slave)
        wait_until(lambda: listening(self.port), 10, "the Slave to listen")
        self.start(master, KEY)
        width, _ = screen_of(master)
        # The Master tries again and again (after 1, 2, 4 s); it never links,
        # so its pointer stops at the edge, and its user hears of it once.
        deadline = time.time() + 10
        while time.time() < deadline:
            cross_right(master)
            time.sleep(0.5)
            self.assertEqual(master.cursor()[0], width - 1, "no crossing to a Slave without the key")
        self.assertEqual(len(self.notices(master)), 1, master.boxes())
        self.assertEqual(slave.boxes(), [])

        # The Slave gets the key in its dialog, and the Master links with it
        # once it connects again. (On one host the Master that began to
        # listen waits for the Slave rather than connect to its own port, so
        # here it is started again.)
        self.assertEqual(slave.drive("linkkey-open"), "ok")
        wait_until(lambda: slave.drive.json("linkkey")["found"], 10, "the Link Key dialog")
        self.assertIn("no link key", slave.drive.json("linkkey")["state"])
        self.assertEqual(slave.drive("linkkey-type " + KEY), "ok")
        self.assertEqual(slave.drive("linkkey-click ok"), "ok")
        wait_until(lambda: not slave.drive.json("linkkey")["found"], 5, "the dialog to close")
        master.kill()
        master.dismiss_boxes()
        master.start()
        self.assertEqual(wait_linked(master, slave, timeout=30)[0], 1)
        self.assertEqual(master.boxes() + slave.boxes(), [])


if __name__ == "__main__":
    unittest.main()
