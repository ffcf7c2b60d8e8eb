"""A Master's desk of two Slaves, three real programs under Wine (or the peer
in the second Slave's place): PC "m" (1280x1024) is the Master, "a"
(1024x768) Slave 1 and "b" (800x600) Slave 2, each Slave on a port pair of
its own, as every PC is 127.0.0.1 here."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from rig import (ALT, CTRL, F1, F2, F3, Rig, connections_to, cross_sideways, free_port_pair, listening,  # noqa: E402
                 press, push_out, scaled, screen_of, wait_following, wait_until)

rig = m = a = b = None


def setUpModule():
    global rig, m, a, b
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    m, a, b = rig.add_pcs(("m", "1280x1024"), ("a", "1024x768"), ("b", "800x600"))
    # Wine takes a Slave's pointer from X's when a window (the splash, 3 s
    # after a start) appears under X's: that one stays in a corner.
    for pc in (a, b):
        subprocess.run(["xdotool", "mousemove", "0", "0"], env=dict(os.environ, DISPLAY=pc.display), check=True)


def tearDownModule():
    if rig:
        rig.close()


class DeskTest(unittest.TestCase):
    def setUp(self):
        self.ports = {a: free_port_pair(20000, 40000), b: free_port_pair(40000, 60000)}
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (m, a, b):
            pc.kill()
            pc.dismiss_boxes()
            pc.drive("unfocus")
        m.drive("unclip")

    def desk(self, a_side, b_side, b_next_to, b_runs=True):
        """Slave a at a_side of the Master, b at b_side of the Master (0) or
        of a (1); b's program runs unless the peer stands in its place."""
        for slave, side in ((a, a_side), (b, b_side))[:2 if b_runs else 1]:
            slave.settings(master=False, position=side, port=self.ports[slave])
            slave.start()
        wait_until(lambda: all(listening(p) and listening(p + 1) for p in self.ports.values()), 15,
                   "both Slaves to listen")
        m.settings(master=True, position=a_side, port=self.ports[a],
                   slaves=[("127.0.0.1", self.ports[b], b_side, b_next_to)])
        m.start()
        self.wait_links()

    def wait_links(self, timeout=15):
        wait_until(lambda: all(connections_to(p) == 1 and connections_to(p + 1) == 1 for p in self.ports.values()),
                   timeout, "the Master's links to both Slaves")
        time.sleep(0.3)  # the Slaves' screen sizes reach the Master

    def pass_on(self, source, to, side):
        """From the Slave `source` in control across its `side` edge to the
        Slave `to` standing there; returns the entry point."""
        (sw, sh), (tw, th) = screen_of(source), screen_of(to)
        _, y = push_out(m, (sw, sh), side)
        entry = (1 if side == "right" else tw - 1, scaled(y, sh, th))
        wait_until(lambda: m.cursor() == entry, 5, "the Master's pointer at %s" % (entry,))
        self.assertEqual(m.drive("clip"), "0 0 %d %d" % (tw, th), "confined to the next Slave, not home")
        return entry

    def home(self, slave, side):
        """From the Slave at `side` of the Master back to the Master, which
        re-enters 3 pixels inside, scaled from that Slave's height."""
        (width, height), (sw, sh) = screen_of(m), screen_of(slave)
        _, y = push_out(m, (sw, sh), "right" if side == "left" else "left")
        back = (3 if side == "left" else width - 3, scaled(y, sh, height))
        wait_until(lambda: m.cursor() == back, 5, "the Master's pointer back at %s" % (back,))
        self.assertEqual(m.drive("clip"), "0 0 %d %d" % (width, height))

    def follow(self, slave, dx):
        """Moves on until the Slave's pointer follows (a fresh Slave drops the
        first actions it replays)."""
        wait_following(m, slave, m.move(dx, 100))

    def chars(self):
        return [pc.drive.json("keys")["chars"] for pc in (m, a, b)]

    def assertNoBoxes(self):
        self.assertEqual([pc.boxes() for pc in (m, a, b)], [[], [], []])


class Desk(DeskTest):
    def test_each_slave_takes_the_typing_while_it_has_control_and_no_other_pc(self):
        self.desk("left", "right", 0)
        self.assertEqual(m.drive("focus"), "ok")
        time.sleep(0.5)  # Wine takes the pointer from X's as the window shows
        for slave, side, text in ((a, "left", "typed on a"), (b, "right", "typed on b")):
            cross_sideways(m, slave, side)
            self.follow(slave, 150 if side == "right" else -150)
            self.assertEqual(slave.drive("focus"), "ok")   # a's stays for b's turn
            for pc in (m, a, b):
                pc.drive("clear")
            self.assertEqual(m.drive("type " + text), "ok")
            wait_until(lambda: slave.drive.json("keys")["chars"] == text, 10, "the typing on %s" % slave.name)
            time.sleep(0.3)
            self.assertEqual(self.chars(), [text if pc is slave else "" for pc in (m, a, b)])
            self.home(slave, side)
        for pc in (m, a, b):
            pc.drive("clear")
        self.assertEqual(m.drive("type home"), "ok")
        wait_until(lambda: self.chars() == ["home", "", ""], 10, "the typing in the Master's own window")
        self.assertNoBoxes()

    def test_keys_take_control_straight_from_one_slave_to_the_other_and_home(self):
        self.desk("left", "right", 0)   # a | m | b
        press(m, CTRL, ALT, F2)
        wait_until(lambda: a.cursor() == (512, 384), 5, "a's pointer at its centre")
        self.follow(a, 40)
        for pc in (a, b):
            self.assertEqual(pc.drive("focus"), "ok")
            pc.drive("clear")
        press(m, CTRL, ALT, F3)
        wait_until(lambda: b.cursor() == (400, 300), 5, "b's pointer at its centre")
        self.assertEqual(m.drive("clip"), "0 0 800 600")
        self.follow(b, 40)
        self.assertEqual(m.drive("type on b"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "on b", 10, "the typing on b")
        press(m, CTRL, ALT, F1)
        wait_until(lambda: m.drive("clip") == "0 0 1280 1024", 5, "the Master's pointer free")
        for pc in (a, b):
            keys = pc.drive.json("keys")
            self.assertEqual([k for k in keys["down"] + keys["up"] if k in (F1, F2, F3)], [], pc.name)
            self.assertEqual(sorted(set(keys["down"]) - set(keys["up"])), [], pc.name)
        self.assertEqual(a.drive.json("keys")["chars"], "")
        self.assertNoBoxes()

    def test_a_row_crosses_slave_to_slave_straight_and_the_clipboard_goes_along(self):
        self.desk("right", "right", 1)   # m | a | b
        cross_sideways(m, a, "right")
        self.follow(a, 150)
        self.assertEqual(a.drive("clipboard set copied on a"), "ok")
        entry = self.pass_on(a, b, "right")
        wait_until(lambda: b.cursor() == entry, 5, "b's pointer at %s" % (entry,))
        self.follow(b, 100)
        wait_until(lambda: b.drive.json("clipboard get") == "copied on a", 10, "a's text on b's clipboard")
        self.assertEqual(b.drive("clipboard set copied on b"), "ok")
        entry = self.pass_on(b, a, "left")
        wait_until(lambda: a.cursor() == entry, 5, "a's pointer at %s" % (entry,))
        wait_until(lambda: a.drive.json("clipboard get") == "copied on b", 10, "b's text on a's clipboard")
        self.home(a, "right")
        wait_until(lambda: m.drive.json("clipboard get") == "copied on b", 10, "the text on the Master")
        self.assertNoBoxes()

    def test_a_slave_that_dies_leaves_the_other_in_control_and_links_again_when_back(self):
        self.desk("left", "right", 0)
        cross_sideways(m, b, "right")
        self.follow(b, 150)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        self.assertEqual(m.drive("type before "), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "before ", 10, "the typing on b")
        a.kill()
        wait_until(lambda: connections_to(self.ports[a]) == 0, 10, "a's link to drop")
        self.assertEqual(m.drive("clip"), "0 0 800 600", "b keeps control")
        self.assertEqual(m.drive("type after"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "before after", 10, "the typing on b after a died")
        self.follow(b, -100)
        a.start()
        self.wait_links(30)
        self.home(b, "right")
        cross_sideways(m, a, "left")
        self.home(a, "left")
        self.assertNoBoxes()

    def test_a_plain_slave_in_the_second_cell_gets_only_the_packets_it_knows(self):
        slave_side = P.Peer(self.ports[b], auto_ready=True).listen()
        self.addCleanup(slave_side.close)
        self.desk("right", "right", 1, b_runs=False)   # m | a | the peer
        self.assertTrue(slave_side.accept(), "the Master connects both connections")
        control = slave_side.control
        control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 800, 600))
        time.sleep(0.3)
        cross_sideways(m, a, "right")
        self.follow(a, 150)
        self.assertEqual(a.drive("clipboard set copied on a"), "ok")
        _, y = push_out(m, screen_of(a), "right")
        y = scaled(y, screen_of(a)[1], 600)
        self.assertEqual(control.next(), P.Packet(P.PKT_ENTER, 1, y))
        wait_until(lambda: m.cursor() == (1, y), 5, "the Master's pointer at the entry point")
        self.assertEqual(m.drive("type q"), "ok")
        expected = P.clipboard_bytes("copied on a")
        slave_side.clipboard.wait_bytes(len(expected), 10)
        # Both of the key's packets are in before control moves on: a key still
        # queued then would follow PKT_LEAVE, as on any way back.
        control.wait(lambda: len([p for p in control.packets if p.key]) >= 2, 5)
        entry = self.pass_on(b, a, "left")
        self.assertEqual(control.wait_for(P.PKT_LEAVE).type, P.PKT_LEAVE)
        wait_until(lambda: a.cursor() == entry, 5, "a's pointer at %s" % (entry,))
        self.home(a, "right")
        self.assertEqual(slave_side.clipboard.data, expected, "a's text, passed on as plain text")
        self.assertEqual({p.type for p in control.packets}, {P.PKT_ENTER, P.PKT_INPUT, P.PKT_LEAVE})
        self.assertEqual([(p.key, p.event) for p in control.packets if p.key],
                         [(ord("Q"), P.EV_KEY_DOWN), (ord("Q"), P.EV_KEY_UP)])
        self.assertEqual(control.packets[-1].type, P.PKT_LEAVE, "nothing after it")
        self.assertNoBoxes()


if __name__ == "__main__":
    unittest.main()
