"""Several monitors and screens that change, with real programs under Wine on
nested X servers, and the scripted peer as the partner on the wire.

PC "d" has two monitors side by side: 1280x1024 with 1024x768 to its right
(a desktop of 2304x1024 whose bottom right corner no monitor covers). PC "r"
has one 1024x768 monitor whose resolution the test changes.
"""

import ntpath
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from rig import Rig, connections_to, free_port_pair, listening, scaled, wait_stepping, wait_until  # noqa: E402

IDM_START_WITH_WINDOWS = 12036
IDM_START_OFF = 12037

rig = None
d = None  # 1280x1024 + 1024x768
r = None  # 1024x768, resizable


def setUpModule():
    global rig, d, r
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    d, r = rig.add_pcs(("d", "1280x1024+1024x768"), ("r", "1024x768*"))


def tearDownModule():
    if rig:
        rig.close()


class MonitorTest(unittest.TestCase):
    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (d, r):
            pc.kill()
            pc.dismiss_boxes()
            pc.drive("unclip")

    def peer(self, **options):
        p = P.Peer(self.port, **options)
        self.addCleanup(p.close)
        return p

    def start(self, pc, master):
        pc.settings(master=master, position="right", port=self.port)
        return pc.start()

    def slave_side(self, master_pc, width, height):
        """The Master under test linked to the peer as a Slave of that size."""
        peer = self.peer(auto_ready=True).listen()
        self.start(master_pc, True)
        self.assertTrue(peer.accept(), "the Master connects both connections")
        peer.control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, width, height))
        time.sleep(0.3)
        return peer.control

    def master_side(self, slave_pc):
        """The Slave under test with the peer as its Master, warmed up: a
        fresh Slave drops the first two actions it replays."""
        self.start(slave_pc, False)
        wait_until(lambda: listening(self.port) and listening(self.port + 1), 15, "the Slave to listen")
        control = self.peer().connect().control
        size = control.next()
        self.assertEqual(size.type, P.PKT_SCREEN_SIZE)
        for _ in range(2):
            control.send_packet(P.Packet(P.PKT_INPUT, 10, 10))
        self.assertEqual(len(control.take(2)), 2)
        return control, (size.x, size.y)

    def assertNoBoxes(self, pc):
        self.assertEqual(pc.boxes(), [], "message boxes on PC %s" % pc.name)


class TwoMonitorMaster(MonitorTest):
    def push_right(self, control, x, y):
        """Puts the Master's pointer at (x, y) and pushes it 40 pixels right;
        returns the PKT_ENTER this sent, or None, and where the move took the
        pointer."""
        before = len(control.packets)
        d.put(x, y)
        moved = d.move(40, 0)
        time.sleep(0.4)
        enters = [p for p in control.packets[before:] if p.type == P.PKT_ENTER]
        return (enters[0] if enters else None), moved

    def come_back(self, control):
        """Pushes out across the Slave's left edge; returns where the Master's
        pointer lands."""
        x, _ = d.move(-1, 0)
        d.move(-(x + 10), 0)
        control.wait_for(P.PKT_LEAVE)
        return wait_until(lambda: (lambda p: p if p[0] > 1100 else None)(d.cursor()), 5, "the pointer back on d")

    def test_control_passes_at_the_desktops_outer_edge_and_comes_back_to_that_monitor(self):
        self.assertEqual(d.desktop(), {"monitors": [[0, 0, 1280, 1024], [1280, 0, 2304, 768]],
                                       "virtual": [0, 0, 2304, 1024]})
        control = self.slave_side(d, 1024, 768)

        # The primary's right edge faces the second monitor: the pointer goes on.
        self.assertEqual(self.push_right(control, 1270, 500), (None, (1310, 500)))

        # The second monitor's right edge is the desktop's: control passes,
        # at the height scaled over the whole desktop.
        self.assertEqual(self.push_right(control, 2294, 500)[0], P.Packet(P.PKT_ENTER, 1, scaled(500, 1024, 768)))
        back = self.come_back(control)
        self.assertEqual(back, (2304 - 3, scaled(scaled(500, 1024, 768), 768, 1024)))

        # Below the second monitor the primary's right edge is outer: control
        # passes there too, and comes back 3 pixels inside the primary.
        enter, _ = self.push_right(control, 1270, 900)
        self.assertEqual(enter, P.Packet(P.PKT_ENTER, 1, scaled(900, 1024, 768)))
        self.assertEqual(self.come_back(control), (1280 - 3, scaled(enter.y, 768, 1024)))
        self.assertNoBoxes(d)

    def test_a_new_slave_size_while_in_control_confines_the_pointer_to_it_at_once(self):
        control = self.slave_side(d, 1024, 768)
        self.assertIsNotNone(self.push_right(control, 2294, 300)[0])
        d.drive("key 0x41 down 0x1E")
        d.drive("key 0x41 up 0x1E")
        control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 800, 600))
        time.sleep(0.3)
        self.assertEqual(d.drive("clip"), "0 0 800 600")
        self.assertEqual(d.move(4000, 4000), (799, 599))
        d.move(-1, -1)
        wait_until(lambda: [(p.x, p.y) for p in control.packets if p.type == P.PKT_INPUT][-1:] == [(798, 598)], 5,
                   "the newest position on the wire")
        control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 3000, 1500))  # larger than d: driven by steps
        time.sleep(0.3)
        d.move(4000, 4000)
        wait_until(lambda: [(p.x, p.y) for p in control.packets if p.type == P.PKT_INPUT][-1:] == [(2999, 1499)], 5,
                   "the Slave's far corner on the wire")
        # To a partner that announced nothing, keys go as they always did: no scan code.
        keys = [(p.key, p.event, p.scan, p.flags) for p in control.packets if p.key]
        self.assertEqual(keys, [(0x41, P.EV_KEY_DOWN, 0, 0), (0x41, P.EV_KEY_UP, 0, 0)])
        self.assertEqual([p for p in control.packets if p.type == P.PKT_LEAVE], [], "still in control")
        self.assertNoBoxes(d)


class TwoMonitorSlave(MonitorTest):
    def test_every_corner_of_every_monitor_is_reached_and_a_gap_goes_to_the_nearest_monitor(self):
        control, size = self.master_side(d)
        self.assertEqual(size, (2304, 1024), "the whole desktop")
        corners = [(0, 0), (1279, 0), (0, 1023), (1279, 1023), (1280, 0), (2303, 0), (1280, 767), (2303, 767)]
        for point in corners + [(2000, 1000), (2400, 500), (-5, -5)]:
            control.send_packet(P.Packet(P.PKT_INPUT, *point))
            self.assertEqual(control.next(), P.Packet(P.PKT_READY))
            expected = {(2000, 1000): (2000, 767), (2400, 500): (2303, 500), (-5, -5): (0, 0)}.get(point, point)
            self.assertEqual(d.cursor(), expected, "sent %s" % (point,))
        control.send_packet(P.Packet(P.PKT_ENTER, 2303, 767))
        self.assertEqual(control.next(), P.Packet(P.PKT_READY))
        self.assertEqual(d.cursor(), (2303, 767))
        self.assertNoBoxes(d)

    def test_a_real_master_of_one_monitor_reaches_the_last_pixel_of_the_second(self):
        r.resize(1280, 1024)
        wait_until(lambda: r.drive("screen") == "1280 1024", 10, "r at 1280 x 1024")
        self.start(d, False)
        wait_until(lambda: listening(self.port) and listening(self.port + 1), 15, "the Slave to listen")
        self.start(r, True)
        wait_until(lambda: connections_to(self.port) == 1 and connections_to(self.port + 1) == 1, 15, "the link")
        time.sleep(0.3)
        r.put(1279, 512)
        r.move(20, 0)
        wait_stepping(r, d, (1, 512), (5, 5))
        r.move(3000, -2000)  # far past r's own right edge
        r.move(0, 767)
        wait_until(lambda: d.cursor() == (2303, 767), 5, "the second monitor's last pixel")
        self.assertEqual((d.boxes(), r.boxes()), ([], []))


class ChangingScreen(MonitorTest):
    def test_a_linked_slave_reports_its_new_resolution_and_maps_onto_it(self):
        r.resize(1024, 768)
        wait_until(lambda: r.drive("screen") == "1024 768", 10, "r at 1024 x 768")
        control, size = self.master_side(r)
        self.assertEqual(size, (1024, 768))
        r.resize(1280, 1024)
        resized = control.wait_for(P.PKT_SCREEN_SIZE, timeout=10)
        self.assertEqual((resized.x, resized.y), (1280, 1024))
        control.send_packet(P.Packet(P.PKT_INPUT, 1279, 1023))
        self.assertEqual(control.next(), P.Packet(P.PKT_READY))
        self.assertEqual(r.cursor(), (1279, 1023))
        self.assertNoBoxes(r)


class StartWithWindows(MonitorTest):
    def test_the_run_key_follows_the_menu_item_and_the_first_setup_turns_it_on(self):
        quoted = '"%s"' % ntpath.join("Z:" + r.folder.replace("/", "\\"), "skiprail.exe")
        r.drive("regclear")
        self.assertEqual(r.drive("regget run Skiprail"), "null")
        # The first start's settings dialog: OK turns it on.
        r.start()
        r.fill_settings(master=False, partner="127.0.0.1", port=self.port)
        r.press_settings_ok()
        wait_until(lambda: r.drive.json("regget run Skiprail") == quoted, 5, "the program in the Run key")
        # The user turns it off, and it stays off across a restart.
        r.drive("menu %d" % IDM_START_OFF)
        wait_until(lambda: r.drive("regget run Skiprail") == "null", 5, "the Run value gone")
        r.restart()
        time.sleep(1.0)
        self.assertEqual(r.drive("regget run Skiprail"), "null")
        r.drive("menu %d" % IDM_START_WITH_WINDOWS)
        wait_until(lambda: r.drive.json("regget run Skiprail") == quoted, 5, "the program in the Run key again")
        self.assertNoBoxes(r)


if __name__ == "__main__":
    unittest.main()
