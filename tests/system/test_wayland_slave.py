"""The Linux program as the Slave of the Windows Master in a Wayland session,
on each desktop it drives (see wayland_pc.py): the Linux Slave's tests
(test_linux_slave.py) again, with the Linux PC a headless sway, then a
headless mutter (GNOME's compositor), read through a Wayland program of the
tests' own, both run by a normal user (srtest, made when missing). Needs
SKIPRAIL_LINUX_BUILD; skipped without it, or without the desktop."""

import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import test_linux_slave as base  # noqa: E402
from rig import CTRL, Rig, connections_to, cross_back, cross_sideways, press, wait_until  # noqa: E402
from wayland_pc import GnomePC, SwayPC  # noqa: E402


def make_rig(pc_class, program):
    if not os.environ.get("SKIPRAIL_LINUX_BUILD"):
        raise unittest.SkipTest("SKIPRAIL_LINUX_BUILD (the native build holding unix/skiprail) is not given")
    if not shutil.which(program):
        raise unittest.SkipTest("%s is not installed (scripts/setup.sh installs it)" % program)
    base.rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"), network=True,
                   linux_build=os.environ["SKIPRAIL_LINUX_BUILD"])
    base.m, base.s = base.rig.add_pcs(("m", "1280x1024"), ("s", "1024x768", pc_class))


def close_rig():
    if base.rig:
        base.rig.close()
    base.rig = base.m = base.s = None


class Sway(base.LinuxSlave):
    """Every test of the X Slave; the layout the Linux PC's keyboard has
    changes when a keyboard of the German layout types on the seat."""

    @classmethod
    def setUpClass(cls):
        make_rig(SwayPC, "sway")

    # Pictures and files are set and read through X programs (xclip, a file
    # manager's targets) in these tests: here the clipboard's text is tested.
    test_a_picture_both_ways_pixel_for_pixel = None
    test_files_and_a_folder_of_40_mb_both_ways_byte_for_byte = None
    test_a_transfer_cut_by_a_pulled_cable_offers_nothing_half_written = None
    test_a_hostile_partners_names_never_leave_the_drop_folder = None

    @classmethod
    def tearDownClass(cls):
        close_rig()

    def test_the_compositor_ending_ends_the_program_and_lets_the_master_go(self):
        self.link()
        self.cross()
        self.hold(button=False)
        self.assertIn("the desktop is driven through", base.s.said())
        base.s.end_desktop()
        try:
            wait_until(lambda: base.s.exit_code() is not None, 10, "the program to end with its desktop")
            self.assertEqual(base.s.exit_code(), 1, base.s.said())
            self.assertIn("went away", base.s.said())
            wait_until(lambda: connections_to(base.PORT, base.m) == 0, 10, "the Master to see the link end")
        finally:
            self.let_go()
            base.s.boot()  # a fresh desktop for the next test


    def test_a_new_resolution_reaches_the_master_and_moves_land_one_to_one_on_it(self):
        self.link()
        m, s = base.m, base.s
        s.resize(800, 600)
        try:
            self.assertEqual(cross_sideways(m, s, "right"), (1, 300))
            self.assertEqual(m.drive("clip"), "0 0 800 600")
            self.assertEqual(m.move(5000, 5000), (799, 599))
            wait_until(lambda: s.cursor() == (799, 599), 5, "the Linux pointer in the far corner")
            cross_back(m)
        finally:
            s.resize(1024, 768)


class Gnome(Sway):
    """The same on GNOME's compositor, where no program may make a keyboard
    of its own: the layout is the session's, and stays the US one here."""

    @classmethod
    def setUpClass(cls):
        make_rig(GnomePC, "mutter")

    # mutter's virtual monitor keeps the size it was started with.
    test_a_new_resolution_reaches_the_master_and_moves_land_one_to_one_on_it = None

    def test_typing_by_key_position_in_the_linux_layout_with_ctrl_and_alt(self):
        self.link()
        self.cross()
        s, m = base.s, base.m
        s.watch.clear()
        m.drive("type Hello, World 123!")
        s.watch.wait(lambda e: "Hello, World 123!" in s.typed() and
                     sum(1 if k["down"] else -1 for k in e if k["ev"] == "key") == 0, 10, "the typed text")
        self.assertEqual(s.typed(), "Hello, World 123!")
        s.watch.clear()
        press(m, CTRL, 0x43)
        events = s.watch.wait(lambda e: len(e) >= 4, 5, "Ctrl+C")
        self.assertEqual([(e["sym"], e["down"]) for e in events],
                         [("Control_L", True), ("c", True), ("c", False), ("Control_L", False)])
        s.watch.clear()  # extended keys: the right Ctrl and an arrow, by scan code with E0
        for key in ("0xa3 down 0x1d e", "0x25 down 0x4b e", "0x25 up 0x4b e", "0xa3 up 0x1d e"):
            m.drive("key " + key)
        events = s.watch.wait(lambda e: len(e) >= 4, 5, "the extended keys")
        self.assertEqual([(e["sym"], e["down"]) for e in events],
                         [("Control_R", True), ("Left", True), ("Left", False), ("Control_R", False)])
        self.assertEqual((s.keys_down(), m.boxes()), ([], []))

    def test_a_compositor_that_offers_no_way_in_is_named_with_what_works_instead(self):
        """As on KDE Plasma: mutter's remote desktop out of reach (no session bus)."""
        s = base.s
        bus = s.env["DBUS_SESSION_BUS_ADDRESS"]
        s.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(s.runtime, "no-bus")
        try:
            s.start("--slave", "--partner", base.m.address, "--port", base.PORT)
            wait_until(lambda: s.exit_code() is not None, 10, "the refusal")
        finally:
            s.env["DBUS_SESSION_BUS_ADDRESS"] = bus
        self.assertEqual(s.exit_code(), 1)
        for missing in ("zwp_virtual_keyboard_manager_v1", "org.gnome.Mutter.RemoteDesktop", "X11"):
            self.assertIn(missing, s.said())


if __name__ == "__main__":
    unittest.main()
