"""How two PCs find each other and keep their link, with real processes
under Wine: two programs for the meeting and the restarts, and one program
with the scripted peer in the partner's place where the bytes matter.

PC "a" (1280x1024) plays the Master and PC "b" (1024x768) the Slave, which
stands to the Master's right. The build folder comes from SKIPRAIL_BUILD.
"""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from rig import (Rig, connections_to, cross_back, cross_right, free_port_pair, listening, make_files,  # noqa: E402
                 scaled, screen_of, wait_crossing, wait_following, wait_linked, wait_until)

BIND_FAILED = "Attempt to bind socket failed."
PARTNER = "127.0.0.1"
STRANGER = "127.0.0.2"

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


def both_listening(port):
    return listening(port) and listening(port + 1)


class SystemTest(unittest.TestCase):
    """Each test gets a fresh port pair and leaves no program running."""

    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (master, slave):
            pc.kill()
            pc.dismiss_boxes()
            pc.drive("unfocus")

    def start(self, pc, is_master, partner=PARTNER):
        pc.settings(master=is_master, position="right", partner=partner, port=self.port)
        return pc.start()

    def peer(self, **options):
        p = P.Peer(self.port, **options)
        self.addCleanup(p.close)
        return p

    def connect(self, port=None, source=PARTNER, **options):
        conn = P.connect(port or self.port, source=source, **options)
        self.addCleanup(conn.close)
        return conn

    def assertNoBoxes(self, *pcs):
        for pc in pcs:
            self.assertEqual(pc.boxes(), [], "message boxes on PC %s" % pc.name)

    def assertStillRunning(self, *pcs):
        for pc in pcs:
            self.assertTrue(pc.running(), "PC %s's program ended with code %s" % (pc.name, pc.exit_code()))


# ---------------------------------------------------------------- two programs

class Meeting(SystemTest):
    """Two programs find each other whichever starts first, with no message."""

    def meet(self, first, second, partner=PARTNER):
        self.start(first, first is master, partner)
        wait_until(lambda: both_listening(self.port), 10, "the first PC to listen on both ports")
        self.assertNoBoxes(first)

        self.start(second, second is master, partner)
        wait_until(lambda: connections_to(self.port) == 1 and connections_to(self.port + 1) == 1, 15,
                   "the control and clipboard connections")

        # The crossing needs the Master's hooks; the entry point needs the
        # Slave's height, and the confinement its whole size.
        width, height = screen_of(master)
        self.assertEqual(wait_linked(master, slave), (1, scaled(height // 2, height, 768)))
        corner = master.move(4000, 4000)
        self.assertEqual(corner, (1023, 767), "the Master's pointer is confined to the Slave's screen")
        wait_following(master, slave, corner)
        self.assertEqual(cross_back(master), (width - 3, scaled(767, 768, height)))
        self.assertNoBoxes(master, slave)

    def test_slave_starts_first_and_the_master_connects(self):
        self.meet(slave, master)

    def test_master_starts_first_and_the_slave_connects_by_name(self):
        self.start(master, True, partner="localhost")
        wait_until(lambda: both_listening(self.port), 10, "the Master to listen")
        # No partner yet: no hooks, so the pointer stops at the edge.
        width, _ = screen_of(master)
        cross_right(master)
        time.sleep(0.5)
        self.assertEqual(master.cursor()[0], width - 1)
        master.kill()
        wait_until(lambda: not listening(self.port), 10, "the Master's ports to close")
        self.meet(master, slave, partner="localhost")


class Restart(SystemTest):
    """A partner that ends and comes back links again with no user action."""

    def link(self):
        self.start(slave, False)
        wait_until(lambda: both_listening(self.port), 10, "the Slave to listen")
        self.start(master, True)
        wait_linked(master, slave)
        cross_back(master)

    def test_the_connecting_side_exits_and_comes_back(self):
        self.link()
        self.assertEqual(master.stop(), 0, "exit code after a close request")
        wait_until(lambda: connections_to(self.port) == 0 and connections_to(self.port + 1) == 0, 10,
                   "both connections to close")
        # The Slave had listened, and listens on.
        self.assertTrue(both_listening(self.port))
        master.start()
        wait_linked(master, slave)
        cross_back(master)
        self.assertNoBoxes(master, slave)

    def test_the_listening_side_dies_during_remote_control_and_comes_back(self):
        self.link()
        wait_linked(master, slave)          # the Slave has control now
        slave.kill()
        # The Master takes control back at once: no confinement, no capture.
        width, _ = screen_of(master)
        wait_until(lambda: master.move(4000, 0)[0] == width - 1, 10, "the Master's pointer to reach its own edge")
        self.assertFalse(master.window()["visible"], "the capture window is gone")
        # It had connected; now it listens on both ports for the partner.
        wait_until(lambda: both_listening(self.port), 10, "the Master to listen")
        self.assertNoBoxes(master)

        slave.start()
        wait_until(lambda: connections_to(self.port) == 1 and connections_to(self.port + 1) == 1, 15,
                   "the Slave to connect both connections")
        wait_linked(master, slave)
        cross_back(master)
        self.assertNoBoxes(master, slave)


# ---------------------------------------------------------------- one program and the peer

class Listening(SystemTest):
    """A PC that cannot reach its partner listens; a port it cannot have
    costs one message, once."""

    def test_an_unresolvable_partner_listens_at_once_without_a_box(self):
        started = time.monotonic()
        self.start(slave, False, partner="no-such-host.invalid")
        wait_until(lambda: both_listening(self.port), 5, "both ports listening")
        self.assertLess(time.monotonic() - started, 5)
        # Nobody resolves to the partner, so nobody may link.
        conn = self.connect()
        self.assertTrue(conn.wait_closed(5), "a caller that is not the partner is turned away")
        self.assertEqual(conn.packets, [])
        self.assertNoBoxes(slave)

    def test_a_taken_control_port_shows_one_box_and_is_never_retried(self):
        holder = socket.socket()
        holder.bind(("0.0.0.0", self.port))   # bound, not listening: connects are refused
        self.addCleanup(holder.close)
        self.start(slave, False)
        wait_until(lambda: slave.boxes(), 10, "a message box")
        self.assertEqual([(b["caption"], b["text"]) for b in slave.boxes()], [("Error", BIND_FAILED)])
        # The box is modal: the clipboard port's turn comes once it is closed.
        slave.dismiss_boxes()
        wait_until(lambda: listening(self.port + 1), 10, "the clipboard port to listen all the same")
        holder.close()
        time.sleep(2)
        self.assertFalse(listening(self.port), "the control port is not tried again")
        self.assertNoBoxes(slave)
        self.assertStillRunning(slave)

    def test_a_taken_clipboard_port_leaves_the_control_link_working(self):
        holder = socket.socket()
        holder.bind(("0.0.0.0", self.port + 1))
        self.addCleanup(holder.close)
        self.start(slave, False)
        wait_until(lambda: slave.boxes(), 10, "a message box")
        self.assertEqual(slave.box_texts(), [BIND_FAILED])
        holder.close()
        # The box stays open: its modal loop goes on serving the sockets.
        for _ in range(2):
            conn = self.connect()
            self.assertEqual(conn.next(), P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
            conn.send_packet(P.Packet(P.PKT_INPUT, 10, 10))
            self.assertEqual(conn.next(), P.Packet(P.PKT_READY))
            conn.close()
            wait_until(lambda: connections_to(self.port) == 0, 10, "the program to close its end")
        self.assertEqual(slave.box_texts(), [BIND_FAILED], "still the one box")
        self.assertFalse(listening(self.port + 1), "the clipboard port is not tried again")


class Strangers(SystemTest):
    """Only the configured partner may link; anyone else is closed at once and
    the live link does not notice."""

    def test_a_stranger_is_closed_before_and_while_the_partner_links(self):
        self.start(slave, False)
        wait_until(lambda: both_listening(self.port), 10, "the Slave to listen")
        for port in (self.port, self.port + 1):
            stranger = self.connect(port, source=STRANGER)
            self.assertTrue(stranger.wait_closed(5), "a stranger on port %d is turned away" % port)
            self.assertEqual(stranger.packets, [], "and is told nothing")

        partner = self.peer().connect(source=PARTNER)
        self.assertEqual(partner.control.next(), P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        for port in (self.port, self.port + 1):
            stranger = self.connect(port, source=STRANGER)
            self.assertTrue(stranger.wait_closed(5))
        partner.control.send_packet(P.Packet(P.PKT_INPUT, 20, 20))
        self.assertEqual(partner.control.next(), P.Packet(P.PKT_READY))
        self.assertFalse(partner.control.closed or partner.clipboard.closed, "the partner's link is untouched")
        self.assertTrue(both_listening(self.port))
        self.assertNoBoxes(slave)

    def test_a_stranger_gets_no_hold_on_a_masters_input(self):
        self.start(master, True)
        wait_until(lambda: both_listening(self.port), 10, "the Master to listen")
        stranger = self.connect(source=STRANGER)
        self.assertTrue(stranger.wait_closed(5))
        # Had the stranger been taken for the partner, the hooks would be in
        # and the pointer would cross to it.
        width, _ = screen_of(master)
        cross_right(master)
        time.sleep(0.5)
        self.assertEqual(master.cursor()[0], width - 1)
        self.assertEqual(stranger.packets, [])
        self.assertNoBoxes(master)


class Replacement(SystemTest):
    """A partner that connects again takes the place of its earlier
    connection; the earlier one's late events touch nothing live."""

    def setUp(self):
        super().setUp()
        self.start(slave, False)
        wait_until(lambda: both_listening(self.port), 10, "the Slave to listen")

    def test_a_replaced_control_connection_closing_late_leaves_the_new_one_up(self):
        first = self.connect()
        self.assertEqual(first.next().type, P.PKT_SCREEN_SIZE)
        second = self.connect()
        self.assertEqual(second.next(), P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        self.assertTrue(first.wait_closed(5), "the replaced connection is closed by the program")
        first.close()
        for i in range(3):
            second.send_packet(P.Packet(P.PKT_INPUT, 100 + i, 100))
            self.assertEqual(second.next(), P.Packet(P.PKT_READY), "answer %d" % i)
        self.assertEqual(second.quiet(0.5), [])
        self.assertFalse(second.closed)
        self.assertTrue(listening(self.port), "the listener stays")
        self.assertNoBoxes(slave)

    def test_a_replaced_clipboard_connection_is_closed_and_the_new_one_kept(self):
        control = self.connect()
        first = self.connect(self.port + 1, kind="clipboard")
        second = self.connect(self.port + 1, kind="clipboard")
        self.assertTrue(first.wait_closed(5))
        self.assertFalse(second.wait_closed(1), "the new clipboard connection stays")
        self.assertFalse(control.closed)
        self.assertNoBoxes(slave)

    def test_reconnecting_in_the_other_order_keeps_both_connections(self):
        # A closed connection's socket number is given out again: the slots
        # must not keep it, or the next accept closes the other connection.
        for round in range(3):
            control = self.connect()
            clipboard = self.connect(self.port + 1, kind="clipboard")
            self.assertEqual(control.next().type, P.PKT_SCREEN_SIZE)
            control.close()
            clipboard.close()
            wait_until(lambda: connections_to(self.port) + connections_to(self.port + 1) == 0, 10,
                       "the program to close both ends")
            clipboard = self.connect(self.port + 1, kind="clipboard")
            wait_until(lambda: connections_to(self.port + 1) == 1, 5, "the clipboard connection")
            control = self.connect()
            self.assertEqual(control.next().type, P.PKT_SCREEN_SIZE)
            self.assertFalse(clipboard.wait_closed(1), "round %d: the clipboard connection stays" % round)
            control.send_packet(P.Packet(P.PKT_INPUT, 50, 50))
            self.assertEqual(control.next(), P.Packet(P.PKT_READY))
            control.close()
            clipboard.close()
            wait_until(lambda: connections_to(self.port) + connections_to(self.port + 1) == 0, 10,
                       "the program to close both ends")
        self.assertNoBoxes(slave)


class WireInput(SystemTest):
    """Whatever the wire brings, a Slave neither crashes nor raises a box, and
    answers exactly the packets it replays."""

    def setUp(self):
        super().setUp()
        self.start(slave, False)
        wait_until(lambda: both_listening(self.port), 10, "the Slave to listen")
        self.partner = self.peer().connect()
        self.control = self.partner.control
        self.assertEqual(self.control.next().type, P.PKT_SCREEN_SIZE)
        # A fresh Slave drops the first two pointer or key actions it replays.
        for _ in range(2):
            self.control.send_packet(P.Packet(P.PKT_INPUT, 512, 384))
        self.assertEqual(len(self.control.take(2)), 2)

    def tearDown(self):
        self.assertStillRunning(slave)
        self.assertNoBoxes(slave)

    def answers(self, n):
        got = self.control.take(n) + self.control.quiet(0.3)
        self.assertEqual(got, [P.Packet(P.PKT_READY)] * n)

    def test_packets_split_anywhere_or_merged_are_each_answered_once(self):
        one = P.Packet(P.PKT_INPUT, 101, 202).encode()
        self.control.send_split(one, range(1, 56), pause=0.01)   # a byte at a time
        self.answers(1)
        self.assertEqual(slave.cursor(), (101, 202))

        three = b"".join(P.Packet(P.PKT_INPUT, 300 + i, 300).encode() for i in range(3))
        self.control.send(three)
        self.answers(3)
        self.assertEqual(slave.cursor(), (302, 300))

        # Cuts inside the first packet, across the boundary and inside the second.
        two = P.Packet(P.PKT_INPUT, 11, 22).encode() + P.wheel_bytes(-120)
        self.control.send_split(two, [3, 50, 60, 111])
        self.answers(2)
        self.assertEqual(slave.cursor(), (11, 22))

    def test_unknown_types_and_unusable_sizes_are_ignored(self):
        for packet in (P.Packet(0), P.Packet(-1, 5, 5), P.Packet(9018, 1, 1), P.Packet(9021), P.Packet(0x7FFFFFFF),
                       P.Packet(P.PKT_SCREEN_SIZE, 0, 0), P.Packet(P.PKT_SCREEN_SIZE, -1024, 768),
                       P.Packet(P.PKT_SCREEN_SIZE, 1024, 0), P.Packet(P.PKT_READY), P.Packet(P.PKT_LEAVE, -2, 5)):
            self.control.send_packet(packet)
        self.assertEqual(self.control.quiet(0.5), [])
        # The Slave's own size still maps the pointer exactly.
        self.control.send_packet(P.Packet(P.PKT_INPUT, 1023, 767))
        self.answers(1)
        self.assertEqual(slave.cursor(), (1023, 767))

    def test_extreme_numbers_are_clamped_or_ignored(self):
        self.control.send_packet(P.Packet(P.PKT_ENTER, 2 ** 31 - 1, -2 ** 31))
        self.answers(1)
        self.assertEqual(slave.cursor(), (1023, 0))
        self.control.send_packet(P.Packet(P.PKT_INPUT, -2 ** 31, 2 ** 31 - 1, button=77, key=ord("A"), event=5))
        self.answers(1)
        self.assertEqual(slave.cursor(), (0, 767))
        self.control.send(P.wheel_bytes(-32768))
        self.control.send(P.wheel_bytes(32767))
        self.answers(2)

    def test_a_new_connection_starts_on_a_packet_boundary(self):
        self.control.send(P.Packet(P.PKT_INPUT, 700, 500).encode()[:30])
        time.sleep(0.2)
        self.partner.close()
        wait_until(lambda: connections_to(self.port) == 0, 10, "the program to close its end")
        again = self.connect()
        self.assertEqual(again.next().type, P.PKT_SCREEN_SIZE)
        again.send_packet(P.Packet(P.PKT_INPUT, 40, 60))
        self.assertEqual(again.next(), P.Packet(P.PKT_READY))
        self.assertEqual(again.quiet(0.3), [])
        self.assertEqual(slave.cursor(), (40, 60))

    def test_a_dropped_link_releases_what_the_replay_holds_down(self):
        self.assertEqual(slave.drive("focus"), "ok")
        slave.drive("clear")
        self.control.send_packet(P.Packet(P.PKT_INPUT, 200, 200, key=0x10, event=P.EV_KEY_DOWN))   # shift
        self.control.send_packet(P.Packet(P.PKT_INPUT, 200, 200, button=P.EV_LEFT_DOWN))
        self.answers(2)
        wait_until(lambda: slave.drive.json("keys")["buttons"] == ["ldown"], 5, "the press to arrive")
        self.partner.close()
        keys = wait_until(lambda: (lambda k: k if k["buttons"] == ["ldown", "lup"] and 0x10 in k["up"] else None)(
            slave.drive.json("keys")), 10, "shift and the button to be released")
        self.assertEqual(keys["down"], [0x10])


class ClipboardLink(SystemTest):

    def test_a_refused_clipboard_connect_costs_one_box_and_leaves_control_working(self):
        slave_side = P.Listener(self.port)
        self.addCleanup(slave_side.close)
        self.start(master, True)
        control = slave_side.accept(10, auto_ready=True)
        self.assertIsNotNone(control, "the Master connects the control connection")
        self.addCleanup(control.close)
        wait_until(lambda: master.boxes(), 10, "a message box")
        self.assertEqual([(b["caption"], b["text"]) for b in master.boxes()],
                         [("Error", "Could not connect Clipboard.")])
        # With the box still open, input sharing goes on; the crossing's
        # clipboard push finds no connection and says so.
        control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        cross_right(master)
        self.assertEqual(control.wait_for(P.PKT_ENTER).type, P.PKT_ENTER)
        texts = wait_until(lambda: (lambda t: sorted(t) if len(t) == 2 else None)(master.box_texts()), 10,
                           "the push's report")
        self.assertRegex(texts[0], r"^Call to sendbuffer \(\) returned error \d+!$")
        self.assertEqual(texts[1], "Could not connect Clipboard.")
        master.dismiss_boxes()
        wait_until(lambda: master.cursor()[0] < 640, 10, "the crossing to finish")
        cross_back(master)
        self.assertEqual(control.wait_for(P.PKT_LEAVE).type, P.PKT_LEAVE)
        self.assertFalse(listening(self.port + 1), "no clipboard listener is started")
        self.assertEqual(master.boxes(), [])


class ClipboardOnTheWire(SystemTest):
    """A Slave pushing its clipboard at PKT_LEAVE to the peer as its Master."""

    def setUp(self):
        super().setUp()
        self.start(slave, False)
        wait_until(lambda: both_listening(self.port), 10, "the Slave to listen")

    def test_a_partner_that_never_announces_gets_plain_text_and_no_packet_it_would_not_ignore(self):
        partner = self.peer().connect()
        self.assertEqual(slave.drive("clipboard picture 64 48 32 " + P.wide("Grüße")), "ok")
        partner.control.send_packet(P.Packet(P.PKT_LEAVE))
        time.sleep(1)
        self.assertEqual(partner.clipboard.data, P.clipboard_bytes("Grüße"))
        self.assertEqual(partner.control.take(1) + partner.control.quiet(0.1), [P.Packet(P.PKT_SCREEN_SIZE, 1024, 768)])
        self.assertEqual(partner.control.announcements, [P.Packet(P.PKT_CLIPBOARD_CAPS, 1, 15, 7)])
        # One that announces all but files gets the text beside them, and not a byte of them.
        partner.control.send_packet(P.Packet(P.PKT_CLIPBOARD_CAPS, 1, 7))
        files = make_files(os.path.join(rig.root, "plain"), {"f.txt": 10, "dir/g.txt": 20})
        self.assertEqual(slave.drive("clipboard files 1 %s %s" % (files, P.wide("Grüße"))), "ok")
        sent = len(partner.clipboard.data)
        partner.control.send_packet(P.Packet(P.PKT_LEAVE))
        time.sleep(1)
        chunks, rest = P.split_chunks(partner.clipboard.data[sent:])
        self.assertEqual(([c[1:] for c in chunks], rest),
                         ([(P.CHUNK_TEXT, 7, 0, "Grüße".encode()), (P.CHUNK_END, 1, 0, b"")], b""))
        self.assertNoBoxes(slave)

    def test_a_newer_crossing_takes_over_a_picture_under_way_and_input_flows_meanwhile(self):
        control, text = self.peer().connect(clipboard=False).control, "Привет 😀".encode()
        raw = socket.socket()   # a clipboard connection read only later: the picture fills it and waits
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
        raw.connect((PARTNER, self.port + 1))
        control.send_packet(P.Packet(P.PKT_CLIPBOARD_CAPS, 1, 3))
        self.assertEqual(slave.drive("clipboard picture 3840 2160 32"), "ok")
        control.send_packet(P.Packet(P.PKT_LEAVE))
        time.sleep(1)
        control.send_packet(P.Packet(P.PKT_ENTER, 100, 200))
        self.assertEqual(control.take(2), [P.Packet(P.PKT_SCREEN_SIZE, 1024, 768), P.Packet(P.PKT_READY)])
        self.assertEqual(slave.drive("clipboard wide " + P.wide("Привет 😀")), "ok")
        control.send_packet(P.Packet(P.PKT_LEAVE))
        data, chunks = b"", []
        raw.settimeout(10)
        while len(chunks) < 3 or chunks[-1][:2] != (chunks[0][0] + 1, P.CHUNK_END):
            got, data = P.split_chunks(data + raw.recv(1 << 20))
            chunks += got
        first, sent = chunks[0][0], sum(len(c[4]) for c in chunks[:-3])
        self.assertLess(sent, 40 + 3840 * 2160 * 4, "the picture given up part way")
        self.assertEqual(chunks[-3:], [(first, P.CHUNK_END, 0, 0, b""), (first + 1, P.CHUNK_TEXT, len(text), 0, text),
                                       (first + 1, P.CHUNK_END, 1, 0, b"")])
        self.assertEqual([c[:4] for c in chunks[:-3]], [(first, P.CHUNK_DIB, 40 + 3840 * 2160 * 4, at)
                                                        for at in range(0, sent, 1 << 18)])


class MasterOnTheWire(SystemTest):
    """A Master under test with the peer as its Slave."""

    def setUp(self):
        super().setUp()
        self.slave_side = self.peer(auto_ready=True).listen()
        self.start(master, True)
        self.assertTrue(self.slave_side.accept(), "the Master connects both connections")
        self.control = self.slave_side.control

    def last_position(self):
        inputs = [p for p in self.control.packets if p.type == P.PKT_INPUT]
        return (inputs[-1].x, inputs[-1].y) if inputs else None

    def test_only_a_usable_screen_size_from_the_slave_is_taken(self):
        for w, h in ((0, 0), (-5, 600), (800, -1), (800, 600), (0, 300)):
            self.control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, w, h))
        time.sleep(0.3)
        wait_crossing(master, 512)
        self.assertEqual(self.control.wait_for(P.PKT_ENTER), P.Packet(P.PKT_ENTER, 1, scaled(512, 1024, 600)))
        self.assertEqual(master.move(4000, 4000), (799, 599), "confined to the Slave's screen")
        # The newest position is always sent in the end (here the hook's
        # point beyond the corner, which the Slave takes to its corner).
        self.assertEqual(master.move(-1, -1), (798, 598))
        wait_until(lambda: self.last_position() == (798, 598), 5, "a packet with the newest position")
        cross_back(master)
        self.assertEqual(self.control.wait_for(P.PKT_LEAVE).type, P.PKT_LEAVE)
        self.assertNoBoxes(master)

    def test_a_closed_link_ends_remote_control_and_the_master_listens(self):
        self.control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        wait_crossing(master)
        self.assertEqual(self.control.wait_for(P.PKT_ENTER).type, P.PKT_ENTER)
        # Two PCs of one host share the ports: the peer gives them up first.
        self.slave_side.close_listeners()
        self.control.close()
        width, _ = screen_of(master)
        wait_until(lambda: master.move(4000, 0)[0] == width - 1, 10, "the Master's pointer to reach its edge")
        wait_until(lambda: listening(self.port), 10, "the Master to listen on the control port")
        self.assertFalse(listening(self.port + 1), "the clipboard connection is still up")
        self.slave_side.clipboard.close()
        wait_until(lambda: listening(self.port + 1), 10, "the Master to listen on the clipboard port")
        self.assertNoBoxes(master)


if __name__ == "__main__":
    unittest.main()
