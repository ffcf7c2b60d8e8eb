"""The installer for all users (scripts/make_msi.sh, the 64-bit build), run
silently with Wine's msiexec on PC "m" (the Master, 1280x1024) beside a Slave
"s" (1024x768) that runs the build's own copy; both hold one link key.

Under Wine every program runs as an administrator, so the start with
administrator rights refuses any folder and is left to the other tests; the
firewall rule cannot be seen (Wine's netsh keeps none).
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import (Rig, _processes_with_prefix, connections_to, cross_back, free_port_pair, wait_linked,  # noqa: E402
                 wait_until)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INSTALLED = r"C:\Program Files\Skiprail"
KEY = "K7QF-2MXD-9PZR-4TWA-3HNB-6YCE"

rig = None
m = None
s = None
msi = {}
versions = {}


def setUpModule():
    global rig, m, s
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    m, s = rig.add_pcs(("m", "1280x1024"), ("s", "1024x768"))
    with open(os.path.join(ROOT, "resources", "version.h")) as header:
        numbers = re.search(r"SKIPRAIL_VERSION_NUMBERS\s+(\d+),(\d+),(\d+)", header.read()).groups()
    this = ".".join(numbers)
    newer = "%s.%s.%d" % (numbers[0], numbers[1], int(numbers[2]) + 1)
    for version in (this, newer):
        msi[version] = os.path.join(rig.root, "skiprail-%s.msi" % version)
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "make_msi.sh"), rig.build_dir, "64", msi[version],
                        version], check=True, stdout=subprocess.DEVNULL, timeout=120)
    msi["this"], msi["newer"] = msi[this], msi[newer]
    versions.update(this=this, newer=newer)


def tearDownModule():
    if rig:
        rig.close()


def msiexec(*arguments):
    """Wine's msiexec on the Master, as a script runs it; its exit code."""
    run = subprocess.run(m.cmd(["wine", "msiexec"] + list(arguments)), env=m.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
    return run.returncode


def entries():
    """Skiprail's entries in Programs and Features, {value name: data} each."""
    listing = subprocess.run(m.cmd(["wine", "reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                                    "/s", "/reg:64"]), env=m.env, capture_output=True, text=True, timeout=60).stdout.replace("\r", "")
    found = []
    for block in listing.split("\n\n"):
        values = dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]*(.*?)[ \t]*$", block, re.M))
        if values.get("DisplayName") == "Skiprail":
            found.append(values)
    return found


def copies():
    """The command lines of the program's processes on the Master."""
    lines = []
    for pid in _processes_with_prefix(m.prefix):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                line = f.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if "skiprail.exe" in line.lower():
            lines.append(line)
    return lines


def shortcuts():
    return [os.path.join(d, f) for d, _, files in os.walk(os.path.join(m.prefix, "drive_c"))
            for f in files if f == "Skiprail.lnk"]


def task():
    return os.path.exists(os.path.join(m.prefix, "drive_c", "windows", "system32", "tasks", "Skiprail"))


class Installer(unittest.TestCase):
    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end)
        for pc in (s, m):
            pc.settings(master=pc is m, position="right", partner="127.0.0.1", port=self.port)
            self.assertEqual(pc.drive("linkkey-store " + KEY), "ok")

    def end(self):
        msiexec("/x", msi["newer"], "/qn")
        msiexec("/x", msi["this"], "/qn")
        for pc in (m, s):
            pc.clean_up()
        m.folder = os.path.join(rig.root, "m", "program")

    def linked(self):
        return connections_to(self.port) == 1 and connections_to(self.port + 1) == 1

    def test_installed_for_all_users_it_links_upgrades_in_place_and_uninstalls_clean(self):
        s.start()
        self.assertEqual(msiexec("/i", msi["this"], "/qn", "START=user"), 0)
        folder = m.unix_path(INSTALLED)
        self.assertEqual(sorted(os.listdir(folder)), ["skiprail.exe", "srhook.dll"])
        for name, built in (("skiprail.exe", rig.program), ("srhook.dll", rig.hook_library)):
            with open(os.path.join(folder, name), "rb") as a, open(built, "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        [entry] = entries()
        self.assertEqual((entry["Publisher"], entry["DisplayVersion"]), ("Tamberlode", versions["this"]))
        self.assertRegex(entry["UninstallString"], r"(?i)^msiexec\.exe /x\{[0-9A-F-]{36}\}$")
        self.assertEqual(entry["QuietUninstallString"], entry["UninstallString"] + " /qn")
        self.assertEqual(m.drive.json("regget run Skiprail"), '"%s\\skiprail.exe"' % INSTALLED)
        self.assertEqual(len(shortcuts()), 1)
        wait_until(lambda: not copies(), 15, "a first install to leave nothing running")

        # The installed pair links with the partner, hooks and all.
        m.folder = folder
        m.start()
        wait_until(self.linked, 30, "the installed copy to link")
        wait_linked(m, s)
        cross_back(m)

        # An upgrade closes the running copy, puts the new files in and starts
        # it again, with the settings, link key and start it had.
        old = m.process
        self.assertEqual(msiexec("/i", msi["newer"], "/qn"), 0)
        self.assertEqual(old.wait(30), 0)
        wait_until(lambda: m.window()["found"], 30, "the upgraded copy to start")
        wait_until(self.linked, 30, "the upgraded copy to link with its kept key")
        [entry] = entries()
        self.assertEqual(entry["DisplayVersion"], versions["newer"])
        self.assertEqual(m.drive.json("regget hklm SRPartner"), "127.0.0.1")
        self.assertEqual(m.drive.json("regget run Skiprail"), '"%s\\skiprail.exe"' % INSTALLED)
        self.assertEqual(len(copies()), 1)

        # Uninstalled: nothing runs, starts or stays but the settings.
        self.assertEqual(msiexec("/x", msi["newer"], "/qn"), 0)
        wait_until(lambda: not copies(), 30, "the running copy to end")
        self.assertFalse(os.path.exists(folder) and os.listdir(folder))
        self.assertEqual((entries(), shortcuts(), task()), ([], [], False))
        self.assertIsNone(m.drive.json("regget run Skiprail"))
        self.assertEqual(m.drive.json("regget hklm SRPartner"), "127.0.0.1")
        self.assertIsNotNone(m.drive.json("regget hkcu SRLinkKey"))
        self.assertEqual((m.boxes(), s.boxes()), ([], []))

    def test_start_off_a_bad_start_refused_and_an_uninstall_that_removes_the_settings(self):
        self.assertNotEqual(msiexec("/i", msi["this"], "/qn", "START=sometimes"), 0)
        self.assertEqual(entries(), [])
        self.assertEqual(m.boxes(), [], "no box waits for a click in a silent install")

        self.assertEqual(msiexec("/i", msi["this"], "/qn", "START=off"), 0)
        self.assertEqual(len(entries()), 1)
        self.assertIsNone(m.drive.json("regget run Skiprail"))
        self.assertFalse(task())
        self.assertEqual(msiexec("/x", msi["this"], "/qn", "REMOVESETTINGS=1"), 0)
        self.assertEqual(entries(), [])
        self.assertIsNone(m.drive.json("regget hklm SRPartner"))
        self.assertIsNone(m.drive.json("regget hkcu SRLinkKey"))


if __name__ == "__main__":
    unittest.main()
