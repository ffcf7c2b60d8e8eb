"""The 64-bit installer run silently by Wine's msiexec on a Master beside a Slave; both hold one link key.
Under Wine a start with administrator rights is refused everywhere, and no firewall rule can be seen."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from rig import Rig, connections_to, cross_back, free_port_pair, wait_linked, wait_until  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN_VALUE = r'"C:\Program Files\Skiprail\skiprail.exe"'
rig = m = s = None
versions = []  # this one's, and a newer one's


def setUpModule():
    global rig, m, s
    rig = Rig(os.environ.get("SKIPRAIL_BUILD", "build/windows"))
    m, s = rig.add_pcs(("m", "1280x1024"), ("s", "1024x768"))
    with open(os.path.join(ROOT, "resources", "version.h")) as header:
        a, b, c = re.search(r"VERSION_NUMBERS\s+(\d+),(\d+),(\d+)", header.read()).groups()
    versions.extend(["%s.%s.%s" % (a, b, c), "%s.%s.%d" % (a, b, int(c) + 1)])
    for version in versions:
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "make_msi.sh"), rig.build_dir, "64", msi(version),
                        version], check=True, stdout=subprocess.DEVNULL, timeout=120)


def tearDownModule():
    rig and rig.close()


def msi(version):
    return os.path.join(rig.root, "skiprail-%s.msi" % version)


def msiexec(*arguments):  # no pipe: a copy the installer starts would hold it open
    return subprocess.run(m.cmd(["wine", "msiexec"] + list(arguments)), env=m.env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180).returncode


def entries():
    """Skiprail's entries in Programs and Features, {value: data} each."""
    listing = subprocess.run(m.cmd(["wine", "reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                                    "/s", "/reg:64"]), env=m.env, capture_output=True, text=True, timeout=60)
    found = [dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]*(.*?)[ \t]*$", block, re.M))
             for block in listing.stdout.replace("\r", "").split("\n\n")]
    return [entry for entry in found if entry.get("DisplayName") == "Skiprail"]


def state():
    """What of Skiprail the Master holds."""
    folder = m.unix_path(r"C:\Program Files\Skiprail")
    return {"files": sorted(os.listdir(folder)) if os.path.isdir(folder) else [],
            "versions": [entry["DisplayVersion"] for entry in entries()],
            "run": m.drive.json("regget run Skiprail"), "running": m.window()["found"],
            "task": os.path.exists(os.path.join(m.prefix, "drive_c", "windows", "system32", "tasks", "Skiprail")),
            "shortcuts": sum(files.count("Skiprail.lnk") for _, _, files in os.walk(m.prefix + "/drive_c"))}


class Installer(unittest.TestCase):
    def setUp(self):
        self.port = free_port_pair()
        self.addCleanup(self.end)
        for pc in (s, m):
            pc.settings(master=pc is m, position="right", partner="127.0.0.1", port=self.port)
            self.assertEqual(pc.drive("linkkey-store K7QF-2MXD-9PZR-4TWA-3HNB-6YCE"), "ok")

    def end(self):
        for version in versions:
            msiexec("/x", msi(version), "/qn")
        for pc in (m, s):
            pc.clean_up()
        m.folder = os.path.join(rig.root, "m", "program")

    def test_installed_for_all_users_it_links_upgrades_in_place_and_uninstalls_clean(self):
        s.start()
        self.assertEqual(msiexec("/i", msi(versions[0]), "/qn", "START=user"), 0)
        installed = dict(files=["skiprail.exe", "srhook.dll"], versions=versions[:1], run=RUN_VALUE, running=False,
                         task=False, shortcuts=1)
        wait_until(lambda: state() == installed, 30, "the install, starting nothing")
        [entry] = entries()
        self.assertRegex(entry["UninstallString"], r"(?i)^msiexec\.exe /x\{[0-9A-F-]{36}\}$")
        self.assertEqual((entry["Publisher"], entry["QuietUninstallString"]),
                         ("Tamberlode", entry["UninstallString"] + " /qn"))

        m.folder = m.unix_path(r"C:\Program Files\Skiprail")  # the installed pair, hooks and all
        old = m.start().process
        wait_linked(m, s)
        cross_back(m)
        self.assertEqual(msiexec("/i", msi(versions[1]), "/qn"), 0)
        self.assertEqual(old.wait(30), 0, "the running copy was closed the normal way")
        upgraded = dict(installed, versions=versions[1:], running=True)
        wait_until(lambda: state() == upgraded, 30, "the upgrade, started again")
        wait_until(lambda: connections_to(self.port) == connections_to(self.port + 1) == 1, 30,
                   "the upgraded copy to link with the key it kept")

        self.assertEqual(msiexec("/x", msi(versions[1]), "/qn"), 0)
        gone = dict(files=[], versions=[], run=None, running=False, task=False, shortcuts=0)
        wait_until(lambda: state() == gone, 30, "a clean uninstall")
        self.assertEqual((m.drive.json("regget hklm SRPartner"), m.boxes(), s.boxes()), ("127.0.0.1", [], []))
        self.assertIsNotNone(m.drive.json("regget hkcu SRLinkKey"))

    def test_start_off_a_bad_start_refused_and_an_uninstall_that_removes_the_settings(self):
        self.assertNotEqual(msiexec("/i", msi(versions[0]), "/qn", "START=sometimes"), 0)
        self.assertEqual((entries(), m.boxes()), ([], []))
        self.assertEqual(msiexec("/i", msi(versions[0]), "/qn", "START=off"), 0)
        self.assertEqual((len(entries()), m.drive.json("regget run Skiprail")), (1, None))
        self.assertEqual(msiexec("/x", msi(versions[0]), "/qn", "REMOVESETTINGS=1"), 0)
        self.assertEqual((entries(), m.drive.json("regget hklm SRPartner"), m.drive.json("regget hkcu SRLinkKey")),
                         ([], None, None))


if __name__ == "__main__":
    unittest.main()
