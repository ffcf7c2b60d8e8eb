"""The Master's side end to end, with two real programs under Wine: the
Master's own pointer and keys are driven with SendInput, and what arrives is
read back on the Slave's own screen and in a window there.

PC "a" is 1280x1024, PC "b" 1024x768 and PC "c" 1600x1200. In most tests a
is the Master and b the Slave; c is a Slave larger than its Master.
"""

import os
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peer as P  # noqa: E402
from peer import unwide, wide  # noqa: E402
from rig import (ALT, CTRL, F1, F2, SCROLL_LOCK, Rig, connections_to, free_port_pair, make_files, press,  # noqa: E402
                 scaled, screen_of, tree, wait_following, wait_stepping, wait_until)

rig = None
a = None  # 1280x1024
b = None  # 1024x768
c = None  # 1600x1200


def setUpModule():
    global rig, a, b, c
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    a, b, c = rig.add_pcs(("a", "1280x1024"), ("b", "1024x768"), ("c", "1600x1200"))


def tearDownModule():
    if rig:
        rig.close()


def edge_start(position, size):
    """Where the Master's pointer waits near the entry edge, and the move that
    pushes it across."""
    width, height = size
    return {
        "right": ((width - 10, height // 2), (20, 0)),
        "left": ((10, height // 2), (-20, 0)),
        "above": ((width // 2, 10), (0, -20)),
        "below": ((width // 2, height - 10), (0, 20)),
    }[position]


def entry_point(position, local, remote):
    """Where the Slave's pointer appears (the Slave's own edge pixel where the
    entry lies one past it), from the pointer at edge_start."""
    (x, y), _ = edge_start(position, local)
    return {
        "right": (1, scaled(y, local[1], remote[1])),
        "left": (remote[0] - 1, scaled(y, local[1], remote[1])),
        "above": (scaled(x, local[0], remote[0]), remote[1] - 1),
        "below": (scaled(x, local[0], remote[0]), 1),
    }[position]


def push_back(position):
    """One step across the exit edge, from the pointer standing on it."""
    return {"right": (-5, 0), "left": (5, 0), "above": (0, 5), "below": (0, -5)}[position]


class MasterTest(unittest.TestCase):
    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end_programs)

    def end_programs(self):
        for pc in (a, b, c):
            pc.kill()
            pc.dismiss_boxes()
            pc.drive("unfocus")

    def link(self, master, slave, position, values=()):
        """Starts both programs (the Master with more registry `values`) and
        waits for both connections; the Slave keeps running across a later
        restart of the Master."""
        if not slave.running():
            slave.settings(master=False, position=position, port=self.port)
            slave.start()
        master.settings(master=True, position=position, port=self.port)
        for value in values:
            master.drive("regset " + value)
        master.start()
        wait_until(lambda: connections_to(self.port) == 1 and connections_to(self.port + 1) == 1, 15,
                   "the two connections")
        time.sleep(0.3)  # the Slave's screen size reaches the Master

    def cross(self, master, slave, position):
        """Crosses at the edge of `position`; returns the Slave's pointer."""
        start, push = edge_start(position, screen_of(master))
        master.put(*start)
        master.move(*push)
        target = entry_point(position, screen_of(master), screen_of(slave))
        wait_until(lambda: slave.cursor() == target, 5, "the Slave's pointer at the entry point %s" % (target,))
        # The Master's own pointer is put on the same point once the crossing
        # is done (within its own screen); later moves start from there.
        width, height = screen_of(master)
        at = (min(target[0], width - 1), min(target[1], height - 1))
        wait_until(lambda: master.cursor() == at, 5, "the Master's pointer at %s" % (at,))
        return target

    def cross_and_warm_up(self, master, slave, position="right"):
        """Crosses, then moves until the Slave's pointer follows the Master's:
        a Slave drops the first two actions it replays after its start.
        Returns the pointer's position."""
        self.cross(master, slave, position)
        at = master.move(150, 100 if position != "below" else -100)
        return wait_following(master, slave, at)

    def leave(self, master, slave, position):
        """Takes the pointer to the exit edge, then one step across it, so no
        later step moves the pointer once it is back on the Master. Returns
        where the Master's pointer lands. (While the Master's pointer is
        confined, only the answer to a move reads it reliably.)"""
        away = {"right": (1, 0), "left": (-1, 0), "above": (0, -1), "below": (0, 1)}[position]
        x, y = master.move(*away)
        last_x = min(screen_of(master)[0], screen_of(slave)[0]) - 1
        last_y = min(screen_of(master)[1], screen_of(slave)[1]) - 1
        master.move(*{"right": (-x, 0), "left": (last_x - x, 0), "above": (0, last_y - y), "below": (0, -y)}[position])
        master.move(*push_back(position))
        return wait_until(lambda: (lambda p: p if self.is_local(master, p) else None)(master.cursor()), 5,
                          "control back on the Master (the move to the edge from %s)" % ((x, y),))

    @staticmethod
    def is_local(master, point):
        """Back on the Master: the pointer 3 pixels inside one of its edges."""
        width, height = screen_of(master)
        x, y = point
        return x in (3, width - 3) or y in (3, height - 3)


class Crossings(MasterTest):
    def test_each_position_enters_at_its_point_and_returns_three_pixels_inside(self):
        local, remote = screen_of(a), screen_of(b)
        reentry = {
            "right": lambda p: (local[0] - 3, scaled(p[1], remote[1], local[1])),
            "left": lambda p: (3, scaled(p[1], remote[1], local[1])),
            "above": lambda p: (scaled(p[0], remote[0], local[0]), 3),
            "below": lambda p: (scaled(p[0], remote[0], local[0]), local[1] - 3),
        }
        for position in ("right", "left", "above", "below"):
            with self.subTest(position=position):
                if a.running():
                    a.stop()
                self.link(a, b, position)
                entered = self.cross(a, b, position)
                # The Master's pointer stands on the same point, confined to
                # the Slave's screen; pushing out across the far edge leaves.
                pushed = tuple(e + d for e, d in zip(entered, push_back(position)))
                self.assertEqual(self.leave(a, b, position), reentry[position](pushed))
                self.assertEqual(a.boxes(), [])

    def test_every_pixel_of_a_larger_slave_is_reached_step_for_step(self):
        # a (1280 x 1024) drives c (1600 x 1200): c's far corner exactly, 100
        # pixels back, then out across the edge facing a.
        (width, height), local = screen_of(c), screen_of(a)
        corner, at = (width - 1, height - 1), (width - 101, height - 101)
        for position, out, back in (("right", (-1, 0), (local[0] - 3, scaled(at[1], height, local[1]))),
                                    ("below", (0, -1), (scaled(at[0], width, local[0]), local[1] - 3))):
            with self.subTest(position=position):
                if a.running():
                    a.stop()
                self.link(a, c, position)
                start, push = edge_start(position, local)
                a.put(*[min(v + p // 2, n - 1) for v, p, n in zip(start, push, local)])  # on the edge
                a.move(*push)
                wait_stepping(a, c, entry_point(position, local, (width, height)), (5, 5))
                for move, target in (((2400, 2400), corner), ((-100, -100), at)):
                    a.move(*move)
                    wait_until(lambda: c.cursor() == target, 5, "the Slave's pointer at %s" % (target,))
                a.move(at[0] * out[0], at[1] * out[1])
                a.move(out[0] * 5, out[1] * 5)
                wait_until(lambda: a.cursor() == back, 5, "the Master's pointer at %s" % (back,))
                self.assertEqual(a.drive("clip"), "0 0 1280 1024")  # a's own again: free, c's stays put
                slave_at = c.cursor()
                self.assertEqual(a.put(640, 512), (640, 512))
                time.sleep(0.3)
                self.assertEqual((a.cursor(), c.cursor(), a.boxes(), c.boxes()), ((640, 512), slave_at, [], []))

    def test_the_first_crossing_into_a_larger_slave_follows_the_hand_from_its_first_step(self):
        self.link(a, c, "right")  # both fresh; the hand comes from inside a, not from its edge pixel
        a.put(*edge_start("right", screen_of(a))[0])
        for step in [(20, 0)] + [(10, 0)] * 15:  # across, then on at a hand's pace
            a.move(*step)
            time.sleep(0.1)
        x, y = entry_point("right", screen_of(a), screen_of(c))
        wait_until(lambda: c.cursor() == (x + 150, y), 5, "the Slave's pointer 150 pixels on from the entry")


class Typing(MasterTest):
    def type_from_master_to_slave(self):
        """Linked and crossed, with an empty window in front on each PC: the
        Slave's takes what is typed, the Master's shows what slips past."""
        self.link(a, b, "right")
        self.assertEqual(a.drive("focus"), "ok")
        a.drive("clear")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")

    def test_300_keystrokes_arrive_in_a_window_on_the_slave_exactly_and_in_order(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        text = ("The quick brown fox, 2 lazy dogs; JUMPS over 31 fences. " * 6)[:300]
        for at in range(0, len(text), 20):
            chunk = text[at:at + 20]
            self.assertEqual(a.drive("type " + chunk), "ok")
            # A fast typist's burst, then the Slave catches up.
            wait_until(lambda: len(b.drive.json("keys")["chars"]) >= at + len(chunk), 10,
                       "the Slave to type %d characters" % (at + len(chunk)))
        time.sleep(0.3)
        self.assertEqual(b.drive.json("keys")["chars"], text)
        self.leave(a, b, "right")


    def test_an_automated_typists_burst_of_2000_keystrokes_arrives_whole_and_in_order(self):
        # A password manager's auto-type or a text expander: thousands of key
        # events within milliseconds, far more than the queue's 255 slots.
        self.type_from_master_to_slave()
        text = ("Auto-typed: Pack my box with 5 dozen LIQUOR jugs; 0123456789. " * 40)[:2000]
        self.assertEqual(a.drive("type " + text, timeout=60), "ok")
        wait_until(lambda: len(b.drive.json("keys")["chars"]) >= len(text), 180,
                   "the Slave to type all %d characters" % len(text), interval=1)
        time.sleep(0.5)
        self.assertEqual(b.drive.json("keys")["chars"], text)
        # None went around the hooks to the Master's own focused window.
        self.assertEqual(a.drive.json("keys")["chars"], "")
        self.leave(a, b, "right")

    def test_typing_goes_back_to_the_masters_own_window_after_the_crossing_back(self):
        self.type_from_master_to_slave()
        self.assertEqual(a.drive("type remote"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "remote", 10, "the typing on the Slave")
        self.assertEqual(a.drive.json("keys")["chars"], "")
        self.leave(a, b, "right")
        self.assertEqual(a.drive("type home"), "ok")
        wait_until(lambda: a.drive.json("keys")["chars"] == "home", 10, "the typing in the Master's own window")

    def test_every_key_arrives_as_the_slaves_own_keyboard_gives_it_alt_included(self):
        # Alt+X, right Ctrl, the arrow and the numpad's 4, numpad Enter, AltGr+Q, A, as a
        # keyboard driver reports them: the Slave's window and raw input get what its own keyboard gives.
        keys = ["0xA4 down 0x38", "0x58 down 0x2D", "0x58 up 0x2D", "0xA4 up 0x38", "0xA3 down 0x1D e",
                "0xA3 up 0x1D e", "0x25 down 0x4B e", "0x25 up 0x4B e", "0x25 down 0x4B", "0x25 up 0x4B",
                "0x0D down 0x1C e", "0x0D up 0x1C e", "0xA5 down 0x38 e", "0x51 down 0x10", "0x51 up 0x10",
                "0xA5 up 0x38 e", "0x41 down 0x1E", "0x41 up 0x1E"]

        def typed(pc):
            b.drive("clear")
            for key in keys:
                self.assertEqual(pc.drive("key " + key), "ok")
            wait_until(lambda: len(b.drive.json("keys")["strokes"]) >= len(keys), 10, "every key in the Slave's window")
            time.sleep(0.3)
            return b.drive.json("keys")

        self.assertEqual(b.drive("focus"), "ok")
        own = typed(b)
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        shared = typed(a)
        self.assertIn("104:58:2D:0:1", shared["strokes"])  # X as a system key, with Alt held
        self.assertEqual((shared["strokes"], shared["raw"]), (own["strokes"], own["raw"]))
        self.leave(a, b, "right")

    def test_a_key_held_while_the_queue_is_flooded_is_released_on_the_slave(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        a.drive("key 0x10 down")
        wait_until(lambda: 0x10 in b.drive.json("keys")["down"], 5, "Shift down on the Slave")
        # The Slave stops answering while 150 keystrokes, 300 key events,
        # overrun the 255 slots; then Shift comes up.
        os.kill(b.process.pid, signal.SIGSTOP)
        try:
            self.assertEqual(a.drive("type " + "abcdefghij" * 15), "ok")
            a.drive("key 0x10 up")
        finally:
            os.kill(b.process.pid, signal.SIGCONT)
        wait_until(lambda: 0x10 in b.drive.json("keys")["up"], 10, "Shift released on the Slave")
        # Every keystroke typed while the Slave was silent arrives, with Shift.
        self.assertEqual(b.drive.json("keys")["chars"], "ABCDEFGHIJ" * 15)
        self.leave(a, b, "right")


class Pointer(MasterTest):
    def test_a_click_lands_on_the_intended_pixel_and_the_wheel_scrolls(self):
        self.link(a, b, "right")
        at = self.cross_and_warm_up(a, b)
        target = (300, 200)
        at = a.move(target[0] - at[0], target[1] - at[1])
        self.assertEqual(at, target)
        wait_following(a, b, target)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        time.sleep(0.2)
        a.drive("click left")
        keys = wait_until(lambda: (lambda k: k if k["buttons"] == ["ldown", "lup"] else None)(b.drive.json("keys")),
                          5, "the click on the Slave")
        self.assertEqual(keys["clicks"], ["%d,%d" % target])
        time.sleep(0.3)  # the handshake idle: a wheel step goes out only then
        a.drive("wheel -120")
        wait_until(lambda: b.drive.json("keys")["wheel"] == [-120], 5, "the wheel turn on the Slave")
        self.leave(a, b, "right")

    def test_a_fast_wheel_spin_arrives_as_its_whole_turn(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        time.sleep(0.3)
        # Fifty notches back to back: most arrive while a packet awaits its
        # answer, and add up rather than vanish.
        self.assertEqual(a.drive("wheel -120 50"), "ok")
        wait_until(lambda: sum(b.drive.json("keys")["wheel"]) <= -6000, 10, "the whole turn on the Slave")
        time.sleep(0.5)
        self.assertEqual(sum(b.drive.json("keys")["wheel"]), -6000)
        self.leave(a, b, "right")

    def test_middle_and_side_buttons_and_the_sideways_wheel_reach_a_slave_that_takes_them_and_no_plain_one(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        time.sleep(0.3)
        for command in ("click middle", "click x1", "hwheel 120", "click left", "click x2", "hwheel -240"):
            self.assertEqual(a.drive(command), "ok")
        order = ["mdown", "mup", "x1down", "x1up", "ldown", "lup", "x2down", "x2up"]
        wait_until(lambda: b.drive.json("keys")["buttons"] == order, 5, "the clicks on the Slave, in order")
        wait_until(lambda: sum(b.drive.json("keys")["hwheel"]) == -120, 5, "the sideways turns on the Slave")
        # One held as control goes back is let go of on the Slave.
        a.drive("button middle down")
        wait_until(lambda: b.drive.json("keys")["buttons"][-1:] == ["mdown"], 5, "the press on the Slave")
        self.leave(a, b, "right")
        wait_until(lambda: b.drive.json("keys")["buttons"][-1:] == ["mup"], 5, "the release on the Slave")
        a.drive("button middle up")

        # A partner of the plain protocol gets none of them, and the rest as ever.
        for pc in (a, b):
            pc.kill()
        peer = P.Peer(self.port, auto_ready=True).listen()
        self.addCleanup(peer.close)
        a.settings(master=True, position="right", port=self.port)
        a.start()
        self.assertTrue(peer.accept(), "the Master links to the peer")
        peer.control.send_packet(P.Packet(P.PKT_SCREEN_SIZE, 1024, 768))
        time.sleep(0.3)
        start, push = edge_start("right", screen_of(a))
        a.put(*start)
        a.move(*push)
        self.assertIsNotNone(peer.control.wait_for(P.PKT_ENTER), "the crossing to the peer")
        for command in ("click middle", "click x1", "hwheel 120", "click left", "click x2", "click right"):
            self.assertEqual(a.drive(command), "ok")
        peer.control.wait(lambda: any(p.button == P.EV_RIGHT_UP for p in peer.control.packets), 5)
        time.sleep(0.5)
        self.assertEqual([p.button for p in peer.control.packets if p.button],
                         [P.EV_LEFT_DOWN, P.EV_LEFT_UP, P.EV_RIGHT_DOWN, P.EV_RIGHT_UP])
        self.assertEqual({p.type for p in peer.control.packets}, {P.PKT_ENTER, P.PKT_INPUT})

    def test_the_slaves_pointer_rests_exactly_where_the_masters_stopped(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        # Bursts of movement: most positions arrive while a packet awaits
        # its answer and are only recorded.
        for dx, dy in ((120, 40), (-60, 90), (200, -30), (-15, 7), (33, 61)):
            last = a.move(dx, dy)
        wait_until(lambda: b.cursor() == last, 3, "the Slave's pointer to rest at %s" % (last,))
        time.sleep(0.3)
        self.assertEqual(b.cursor(), last)
        self.leave(a, b, "right")

    def test_a_key_held_across_the_crossing_back_is_released_on_the_slave(self):
        self.link(a, b, "right")
        self.cross_and_warm_up(a, b)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        a.drive("key 0x10 down")
        wait_until(lambda: 0x10 in b.drive.json("keys")["down"], 5, "Shift down on the Slave")
        self.leave(a, b, "right")
        wait_until(lambda: 0x10 in b.drive.json("keys")["up"], 5, "Shift released on the Slave")
        a.drive("key 0x10 up")


class Hotkeys(MasterTest):
    def test_keys_switch_lock_and_take_back_at_once_and_reach_no_window(self):
        self.link(a, b, "right")
        for pc in (a, b):
            self.assertEqual(pc.drive("focus"), "ok")
            pc.drive("clear")
        # Ctrl+Alt+F2: control to Slave 1, its pointer at its centre the first time.
        press(a, CTRL, ALT, F2)
        wait_until(lambda: b.cursor() == (512, 384), 5, "the Slave's pointer at its centre")
        at = wait_following(a, b, a.move(40, 30))
        self.assertEqual(a.drive("type remote"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "remote", 10, "the typing on the Slave")

        # Locked, a push past the edge leaves nothing; unlocked, it does.
        press(a, SCROLL_LOCK)
        a.move(-at[0] - 30, 0)
        a.move(-20, 0)
        wait_until(lambda: b.cursor()[0] == 0, 5, "the Slave's pointer on its edge")
        self.assertEqual(a.drive("type x"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "remotex", 10, "the typing still on the Slave")
        press(a, SCROLL_LOCK)
        home = self.leave(a, b, "right")

        # Back by key to where the Slave's pointer stood, then taken back at
        # once from a Slave that does not answer.
        press(a, CTRL, ALT, F2)
        wait_until(lambda: a.drive("clip") == "0 0 1024 768" and b.cursor()[0] == 0, 5,
                   "the Slave's pointer where it left, not at its centre")
        os.kill(b.process.pid, signal.SIGSTOP)
        try:
            since = time.time()
            press(a, CTRL, ALT, F1)
            self.assertEqual(a.drive("type mine"), "ok")
            wait_until(lambda: a.drive.json("keys")["chars"] == "mine", 2, "the typing on the Master")
            wait_until(lambda: a.cursor() == home, 2, "the Master's pointer where it last stood")
            print("FIGURE keys and pointer back on the Master from a stopped Slave: %d ms"
                  % ((time.time() - since) * 1000))
        finally:
            os.kill(b.process.pid, signal.SIGCONT)
        # No hotkey's key reached a window on either PC, and nothing stays down on the Slave.
        time.sleep(0.5)
        for pc in (a, b):
            keys = pc.drive.json("keys")
            self.assertNotIn(F1, keys["down"] + keys["up"])
            self.assertNotIn(F2, keys["down"] + keys["up"])
            self.assertNotIn(SCROLL_LOCK, keys["down"] + keys["up"])
        keys = b.drive.json("keys")
        self.assertEqual(sorted(set(keys["down"]) - set(keys["up"])), [], "keys left down on the Slave")


    def test_guards_hold_a_push_back_until_it_is_meant(self):
        self.link(a, b, "right", ("SRSwitchDelay dword 300", "SRDeadCorners dword 40"))
        # In a corner nothing crosses, however long the push.
        a.put(1270, 1000)
        a.move(20, 0)
        time.sleep(0.6)
        self.assertEqual(a.drive("clip"), "0 0 1280 1024")
        # A push that rests against the edge crosses once the delay has run.
        a.put(1270, 512)
        a.move(20, 0)
        self.assertEqual(a.drive("clip"), "0 0 1280 1024")
        wait_until(lambda: a.drive("clip") == "0 0 1024 768", 3, "the crossing after the delay")
        wait_until(lambda: b.cursor() == (1, 384), 5, "the Slave's pointer at the entry point")


def x_clipboard(pc):
    """The text of the PC's X CLIPBOARD selection, as any X program would paste it."""
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=dict(os.environ, DISPLAY=pc.display),
                            capture_output=True, timeout=20)
    return result.stdout.decode("latin-1") if result.returncode == 0 else None


class Clipboard(MasterTest):
    def test_text_follows_each_crossing_and_an_empty_clipboard_sends_nothing(self):
        self.link(a, b, "right")
        self.assertEqual(a.drive("clipboard set copied on the Master"), "ok")
        self.cross(a, b, "right")
        wait_until(lambda: x_clipboard(b) == "copied on the Master", 10, "the text on the Slave's X clipboard")
        # Placed by a program that puts CF_TEXT after its other text formats.
        self.assertEqual(b.drive("clipboard last copied on the Slave"), "ok")
        self.leave(a, b, "right")
        wait_until(lambda: a.drive.json("clipboard get") == "copied on the Slave", 10, "the text on the Master")

        # Nothing on the Master's clipboard: the Slave keeps its text.
        self.assertEqual(a.drive("clipboard empty"), "ok")
        self.cross(a, b, "right")
        time.sleep(1)
        self.assertEqual(b.drive.json("clipboard get"), "copied on the Slave")
        self.leave(a, b, "right")
        self.assertEqual((a.boxes(), b.boxes()), ([], []))

    def test_a_clipboard_not_changed_since_stays_put_and_a_newer_copy_on_the_master_is_kept(self):
        self.link(a, b, "right")
        self.assertEqual(a.drive("clipboard set first"), "ok")
        self.cross(a, b, "right")
        wait_until(lambda: b.drive.json("clipboard get") == "first", 10, "the text on the Slave")
        self.assertEqual(a.drive("clipboard set newer"), "ok")  # a program on the Master copies meanwhile
        self.leave(a, b, "right")
        time.sleep(1)
        self.assertEqual(a.drive.json("clipboard get"), "newer", "the Slave's unchanged clipboard stays there")
        self.cross(a, b, "right")
        wait_until(lambda: b.drive.json("clipboard get") == "newer", 10, "the newer text on the Slave")
        self.leave(a, b, "right")
        self.assertEqual((a.boxes(), b.boxes()), ([], []))

    def test_the_largest_text_crosses_whole_both_ways(self):
        self.link(a, b, "right")
        self.assertEqual(a.drive("clipboard fill 4999995"), "ok")
        largest = a.drive("clipboard sum")
        self.assertEqual(largest.split()[0], "4999995")
        self.cross(a, b, "right")
        wait_until(lambda: b.drive("clipboard sum") == largest, 30, "the whole text on the Slave")
        # Copied anew on the Slave, after the Master's clipboard changed:
        # coming back brings the Slave's newer copy home whole.
        self.assertEqual(a.drive("clipboard set changed"), "ok")
        self.assertEqual(b.drive("clipboard fill 4999995"), "ok")
        self.leave(a, b, "right")
        wait_until(lambda: a.drive("clipboard sum") == largest, 30, "the whole text back on the Master")
        # No box on either side: a large transfer is no failure.
        time.sleep(0.5)
        self.assertEqual((a.boxes(), b.boxes()), ([], []))

    def test_text_in_every_script_and_pictures_cross_whole_both_ways(self):
        self.link(a, b, "right")
        there = "Grüße, Привет, Γειά, 你好, こんにちは, 한국어, שלום, مرحبا 😀"
        self.assertEqual(a.drive("clipboard wide " + wide(there)), "ok")
        self.cross(a, b, "right")
        wait_until(lambda: unwide(b.drive("clipboard bytes 13")) == there, 10, "the text whole on the Slave")
        # A picture with text beside it comes home, both (odd rows at 24 bits end in padding).
        self.assertEqual(b.drive("clipboard picture 1001 701 24 " + wide("back home 𝄞 ✓")), "ok")
        picture = b.drive("clipboard hash 8")
        self.leave(a, b, "right")
        wait_until(lambda: a.drive("clipboard hash 8") == picture, 10, "the picture on the Master")
        self.assertEqual(unwide(a.drive("clipboard bytes 13")), "back home 𝄞 ✓")
        # A 2560 x 1440 screenshot, arriving while a program on the Slave has the clipboard open.
        self.assertEqual(a.drive("clipboard picture 2560 1440 32"), "ok")
        screenshot = a.drive("clipboard hash 8")
        self.assertEqual(b.drive("clipboard hold 700"), "ok")
        self.cross(a, b, "right")
        wait_until(lambda: b.drive("clipboard hash 8") == screenshot, 10, "the screenshot on the Slave")
        self.leave(a, b, "right")
        self.assertEqual((a.boxes(), b.boxes()), ([], []))

    def test_files_and_folders_cross_byte_for_byte_both_ways(self):
        self.link(a, b, "right")
        root = os.path.join(rig.root, "copied")
        paths = make_files(root, {"small.txt": 5, "medium.bin": 3 << 20, "big.bin": 200 << 20, "folder/in.txt": 999})

        def received(pc):
            dropped = pc.drive.json("clipboard dropped")
            return dropped if dropped and "\\Skiprail\\" in dropped["files"][0] else None

        def arrived(pc, dropped):
            return {os.path.basename(pc.unix_path(path)): tree(pc.unix_path(path)) for path in dropped["files"]}

        self.assertEqual(a.drive("clipboard files 2 " + paths), "ok")  # cut on the Master
        self.cross(a, b, "right")
        there = wait_until(lambda: received(b), 60, "the files on the Slave's clipboard")
        self.assertEqual((there["effect"], arrived(b, there)), (2, tree(root)))
        # Copied on the Slave from where they landed: home again, whole.
        self.assertEqual(b.drive("clipboard files 1 " + "|".join(there["files"])), "ok")
        self.leave(a, b, "right")
        back = wait_until(lambda: received(a), 60, "the files on the Master's clipboard")
        self.assertEqual((back["effect"], arrived(a, back)), (1, tree(root)))
        self.assertEqual((a.boxes(), b.boxes()), ([], []))

    def test_without_a_clipboard_connection_a_push_reports_it_and_typing_goes_on(self):
        # The Slave's clipboard port is taken: it cannot listen there, and the
        # Master's clipboard connect is refused.
        blocker = socket.socket()
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 0)
        blocker.bind(("0.0.0.0", self.port + 1))
        self.addCleanup(blocker.close)
        b.settings(master=False, position="right", port=self.port)
        b.start()
        wait_until(lambda: b.box_texts() == ["Attempt to bind socket failed."], 15, "the Slave's bind box")
        b.dismiss_boxes()
        a.settings(master=True, position="right", port=self.port)
        a.start()
        wait_until(lambda: connections_to(self.port) == 1, 15, "the control connection")
        wait_until(lambda: a.box_texts() == ["Could not connect Clipboard."], 15, "the Master's clipboard box")
        a.dismiss_boxes()
        time.sleep(0.3)

        start, push = edge_start("right", screen_of(a))
        a.put(*start)
        a.move(*push)
        texts = wait_until(lambda: a.box_texts() or None, 10, "the push's report")
        self.assertEqual(len(texts), 1)
        self.assertRegex(texts[0], r"^Call to sendbuffer \(\) returned error \d+!$")
        a.dismiss_boxes()
        wait_until(lambda: a.cursor() == (1, scaled(start[1], 1024, 768)), 5, "the crossing to finish")
        at = a.move(150, 100)
        wait_following(a, b, at)
        self.assertEqual(b.drive("focus"), "ok")
        b.drive("clear")
        self.assertEqual(a.drive("type still typing"), "ok")
        wait_until(lambda: b.drive.json("keys")["chars"] == "still typing", 10, "the typing on the Slave")
        self.leave(a, b, "right")


if __name__ == "__main__":
    unittest.main()
