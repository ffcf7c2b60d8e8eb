"""The start with Windows set on the command line, and the restart with
administrator rights, on two linked PCs under Wine that are hosts of their
own (a Master at 1280x1024 on 192.0.2.1, a Slave at 1024x768 on its right
on 192.0.2.2, each listening on port 447 itself, as a copy that takes over
must be able to).

Wine runs every program with a full administrator's token and lets "runas"
start a program without asking, so the menu's restart runs for real here.
Its scheduler keeps a task's description and settings but drops its
triggers, principal and actions (and its schtasks has no /query): the test
reads the task's file, and the native tests check the definition itself.

The figures the tests measure are printed as "FIGURE name: N ms".
"""

import ntpath
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import Rig, _tcp_table, connections_to, figure, wait_following, wait_linked, wait_until, wine_loader  # noqa: E402

PORT = 447

IDM_START_WITH_WINDOWS, IDM_START_OFF, IDM_START_AS_ADMIN, IDM_RESTART_ELEVATED = 12036, 12037, 12038, 12039

rig = None
m = None
s = None


def setUpModule():
    global rig, m, s
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"), network=True)
    m, s = rig.add_pcs(("m", "1280x1024"), ("s", "1024x768"))


def tearDownModule():
    if rig:
        rig.close()


class StartTest(unittest.TestCase):
    def setUp(self):
        self.addCleanup(self.end_programs)
        for pc in (s, m):
            pc.settings(master=pc is m, position="right", partner=(s if pc is m else m).address, port=PORT)
            pc.start()
        wait_until(self.linked, 30, "the two PCs to link")

    def end_programs(self):
        for pc in (m, s):
            pc.clean_up()
            # A copy that took over is no Popen of the rig's.
            if pc.window()["found"]:
                pc.drive("close-main")
                wait_until(lambda: not pc.window()["found"], 15, "%s's program to end" % pc.name)

    @staticmethod
    def linked():
        return connections_to(PORT, m) == 1 and connections_to(PORT + 1, m) == 1

    @staticmethod
    def control_connection():
        """The Master's end of the control connection: the same one while the link holds."""
        ends = [local for local, remote, state in _tcp_table(m.drive.process.pid) if state == "01" and remote == PORT]
        return ends[0] if len(ends) == 1 else None

    @staticmethod
    def command(pc, *arguments):
        """skiprail.exe with the arguments on the PC, as a script runs it; a
        box it shows is read and dismissed. Returns (exit code, box texts)."""
        run = subprocess.Popen(pc.cmd([wine_loader(rig.program), "skiprail.exe"] + list(arguments)), cwd=pc.folder,
                               env=pc.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        rig.extra_processes.append(run)
        boxes = []
        deadline = time.monotonic() + 60
        while run.poll() is None and time.monotonic() < deadline:
            shown = [b["text"] for b in pc.boxes() if b["caption"] == "Skiprail"]
            if shown:
                boxes += shown
                pc.dismiss_boxes()
            time.sleep(0.2)
        return run.wait(5), boxes

    @staticmethod
    def task(pc):
        """The task's file as the scheduler keeps it, or None."""
        try:
            with open(os.path.join(pc.prefix, "drive_c", "windows", "system32", "tasks", "Skiprail"), "rb") as f:
                return f.read().decode("utf-8-sig")
        except FileNotFoundError:
            return None

    def test_the_command_line_sets_the_start_and_a_running_copy_keeps_its_link(self):
        own = ntpath.join("Z:" + s.folder.replace("/", "\\"), "skiprail.exe")
        link = self.control_connection()

        self.assertEqual(self.command(s, "/startup", "user"), (0, []))
        self.assertEqual(s.drive.json("regget run Skiprail"), '"%s"' % own)
        self.assertIsNone(self.task(s))

        self.assertEqual(self.command(s, "/STARTUP", "admin"), (0, []))
        task = self.task(s)
        self.assertIsNotNone(task)
        for part in ("<Description>Starts %s with administrator rights when " % own,
                     "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                     "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
                     "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
                     "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>", "<Priority>4</Priority>"):
            self.assertIn(part, task)
        self.assertIsNone(s.drive.json("regget run Skiprail"), "the task replaces the Run value")

        self.assertEqual(self.command(s, "/startup", "user"), (0, []))
        self.assertIsNone(self.task(s))
        self.assertEqual(s.drive.json("regget run Skiprail"), '"%s"' % own)

        self.assertEqual(self.command(s, "/startup", "admin"), (0, []))
        self.assertEqual(self.command(s, "/startup", "off"), (0, []))
        self.assertIsNone(self.task(s))
        self.assertIsNone(s.drive.json("regget run Skiprail"))

        code, boxes = self.command(s, "/startup", "sometimes")
        self.assertNotEqual(code, 0)
        self.assertEqual(len(boxes), 1)
        for form in ("/startup admin", "/startup user", "/startup off"):
            self.assertIn(form, boxes[0])
        self.assertIsNone(self.task(s))

        # The menu's choices do the same, here in the running copy itself (Wine
        # runs it as administrator).
        s.drive("menu %d" % IDM_START_AS_ADMIN)
        wait_until(lambda: self.task(s), 10, "the task")
        self.assertIsNone(s.drive.json("regget run Skiprail"))
        s.drive("menu %d" % IDM_START_WITH_WINDOWS)
        wait_until(lambda: self.task(s) is None and s.drive.json("regget run Skiprail"), 10, "the Run value alone")
        s.drive("menu %d" % IDM_START_OFF)
        wait_until(lambda: s.drive.json("regget run Skiprail") is None, 10, "neither")
        self.assertIsNone(self.task(s))

        # The running copies never noticed: the same connection, no second copy.
        self.assertTrue(s.running() and m.running())
        self.assertEqual(self.control_connection(), link)
        self.assertTrue(self.linked())
        self.assertEqual((m.boxes(), s.boxes()), ([], []))

    def test_a_restart_with_administrator_rights_takes_over_and_relinks_within_2_s(self):
        for pc in (s, m):
            old = pc.process
            pc.drive("menu %d" % IDM_RESTART_ELEVATED)
            old.wait(30)
            gone = time.monotonic()
            wait_until(self.linked, 10, "the link with %s's new copy" % pc.name, interval=0.02)
            figure("%s: relinked after the old copy ended" % pc.name, time.monotonic() - gone)
            self.assertLess(time.monotonic() - gone, 2.0)
            self.assertTrue(pc.window()["found"], "%s's new copy runs" % pc.name)

            wait_linked(m, s)
            wait_following(m, s, m.move(150, 100))  # a fresh Slave drops its first two moves
            self.assertEqual(s.drive("focus"), "ok")
            s.drive("clear")
            self.assertEqual(m.drive("type restarted"), "ok")
            wait_until(lambda: s.drive.json("keys")["chars"] == "restarted", 10, "the typing on the Slave")
            figure("%s: typing reaches the Slave after the old copy ended" % pc.name, time.monotonic() - gone)
            s.drive("unfocus")
            x, _ = m.move(-1, 0)
            m.move(-(x + 10), 0)
            self.assertEqual((m.boxes(), s.boxes()), ([], []))


if __name__ == "__main__":
    unittest.main()
