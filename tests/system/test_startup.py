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

Run as root, Wine shows every file as the user's own to change, so the start
with administrator rights is refused on the two PCs; it is written only by
Wine run as another Unix user, for a copy in a folder owned by root.

The figures the tests measure are printed as "FIGURE name: N ms".
"""

import ntpath
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import Rig, _tcp_table, connections_to, figure, wait_following, wait_linked, wait_until, wine_loader  # noqa: E402

PORT = 447
UNSAFE = "Skiprail cannot start with administrator rights from this folder"

IDM_START_WITH_WINDOWS, IDM_START_OFF, IDM_START_AS_ADMIN, IDM_RESTART_ELEVATED = 12036, 12037, 12038, 12039

# A task as Wine's scheduler keeps it: the description names the program.
TASK_FILE = ('<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"><RegistrationInfo>'
             '<Description>Starts {0} with administrator rights when {1} logs on.</Description>'
             '</RegistrationInfo><Settings><Enabled>true</Enabled></Settings></Task>')

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
        """The task's file as the scheduler of a PC (or prefix) keeps it, or None."""
        prefix = pc if isinstance(pc, str) else pc.prefix
        try:
            with open(os.path.join(prefix, "drive_c", "windows", "system32", "tasks", "Skiprail"), "rb") as f:
                return f.read().decode("utf-8-sig")
        except FileNotFoundError:
            return None

    def test_the_command_line_sets_the_start_and_a_running_copy_keeps_its_link(self):
        own = ntpath.join("Z:" + s.folder.replace("/", "\\"), "skiprail.exe")
        link = self.control_connection()

        # A folder the user's programs can change: the start with
        # administrator rights is refused, and nothing is written.
        code, boxes = self.command(s, "/STARTUP", "admin")
        self.assertEqual((code, len(boxes)), (3, 1))
        self.assertIn(UNSAFE, boxes[0])
        self.assertEqual((self.task(s), s.drive.json("regget run Skiprail")), (None, None))

        self.assertEqual(self.command(s, "/startup", "user"), (0, []))
        self.assertEqual(s.drive.json("regget run Skiprail"), '"%s"' % own)
        self.assertIsNone(self.task(s))
        self.assertEqual(self.command(s, "/startup", "admin")[0], 3)
        self.assertEqual(s.drive.json("regget run Skiprail"), '"%s"' % own, "the start for the user stays")

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
        # runs it as administrator); its greyed item, chosen all the same, is
        # refused with the box.
        s.drive("menu %d" % IDM_START_AS_ADMIN)
        self.assertIn(UNSAFE, wait_until(lambda: " ".join(s.box_texts()), 10, "the refusal"))
        s.dismiss_boxes()
        self.assertEqual((self.task(s), s.drive.json("regget run Skiprail")), (None, None))
        s.drive("menu %d" % IDM_START_WITH_WINDOWS)
        wait_until(lambda: s.drive.json("regget run Skiprail"), 10, "the Run value")
        s.drive("menu %d" % IDM_START_OFF)
        wait_until(lambda: s.drive.json("regget run Skiprail") is None, 10, "neither")
        self.assertIsNone(self.task(s))

        # The running copies never noticed: the same connection, no second copy.
        self.assertTrue(s.running() and m.running())
        self.assertEqual(self.control_connection(), link)
        self.assertTrue(self.linked())
        self.assertEqual((m.boxes(), s.boxes()), ([], []))

    def test_a_task_that_starts_the_program_from_a_folder_others_can_change_goes_at_start(self):
        # A task left by an earlier release, as Wine's scheduler keeps it.
        s.stop()
        own = ntpath.join("Z:" + s.folder.replace("/", "\\"), "skiprail.exe")
        account = subprocess.run(s.cmd(["wine", "cmd", "/c", "echo %USERDOMAIN%\\%USERNAME%"]), env=s.env,
                                 capture_output=True, text=True, timeout=60).stdout.strip()
        with open(os.path.join(s.prefix, "drive_c", "windows", "system32", "tasks", "Skiprail"), "wb") as f:
            f.write(TASK_FILE.format(own, account).encode("utf-8-sig"))

        s.start()
        told = wait_until(lambda: " ".join(s.box_texts()), 20, "the word that the task is gone")
        self.assertIn("Skiprail no longer starts with administrator rights", told)
        self.assertIn("It now starts for this user", told)
        self.assertIsNone(self.task(s))
        self.assertEqual(s.drive.json("regget run Skiprail"), '"%s"' % own)
        s.dismiss_boxes()
        self.assertEqual(self.command(s, "/startup", "off"), (0, []))

    def test_a_copy_in_a_folder_only_root_can_change_writes_the_task_for_another_user(self):
        """Wine run as a normal user, with the program's folder and every folder
        above it owned by root and closed to others."""
        user = "srtest"
        if subprocess.run(["id", user], capture_output=True).returncode:
            subprocess.run(["useradd", "--create-home", user], check=True, timeout=30)
        # A folder of root's own, where no checkout or temporary folder lies
        # under one that others may change.
        folder = tempfile.mkdtemp(prefix="skiprail-rig.", dir="/var/lib")
        home = tempfile.mkdtemp(prefix="skiprail-user.")
        for made in (folder, home):
            self.addCleanup(shutil.rmtree, made, True)
            os.chmod(made, 0o755)
        shutil.chown(home, user)
        others = [p for p in [folder, *Path(folder).parents] if os.stat(p).st_uid or os.stat(p).st_mode & 0o22]
        if others:
            self.skipTest("others than root may change %s" % others[0])
        for built in (rig.program, rig.hook_library):
            shutil.copy(built, folder)
        run_as = ["runuser", "-u", user, "--", "env", "WINEPREFIX=%s/prefix" % home, "WINEDEBUG=-all",
                  "WINEDLLOVERRIDES=mscoree,mshtml="]
        self.addCleanup(subprocess.run, run_as + ["wineserver", "-k"], stderr=subprocess.DEVNULL, timeout=30)
        # As the rig boots a prefix: no display, so nothing waits on an install dialog.
        subprocess.run(run_as + ["DISPLAY=", "wineboot", "-i"], capture_output=True, timeout=120)
        subprocess.run(run_as + ["wineserver", "-w"], timeout=120)

        done = subprocess.run(run_as + ["DISPLAY=" + s.display, wine_loader(rig.program), "skiprail.exe", "/startup",
                                        "admin"], cwd=folder, capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0)
        task = self.task(os.path.join(home, "prefix"))
        self.assertIsNotNone(task)
        own = ntpath.join("Z:" + folder.replace("/", "\\"), "skiprail.exe")
        for part in ("<Description>Starts %s with administrator rights when " % own,
                     "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                     "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
                     "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
                     "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>", "<Priority>4</Priority>"):
            self.assertIn(part, task)

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
