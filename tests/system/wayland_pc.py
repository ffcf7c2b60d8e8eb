"""A Linux PC of the rig in a Wayland session: a headless compositor (sway,
or mutter in a D-Bus session of its own with PipeWire beside it) run by a
normal user, the Linux `skiprail` run by the same user in the PC's network
namespace, and wlwatch (tests/tools/wlwatch.cpp), which answers as xwatch
does, reading what a Wayland program gets."""

import glob
import os
import pwd
import shutil
import subprocess

from rig import LinuxPC, RigError, Watch, _kill_pid, wait_until

USER = os.environ.get("SKIPRAIL_TEST_USER", "srtest")


class WaylandPC(LinuxPC):
    desktop = None  # "sway" or "gnome"

    def __init__(self, rig, name, size):
        if not rig.linux_build:
            raise RigError("a Linux PC needs the native build (SKIPRAIL_LINUX_BUILD)")
        if subprocess.run(["id", USER], capture_output=True).returncode:
            subprocess.run(["useradd", "--create-home", USER], check=True, timeout=30)
        self.user = pwd.getpwnam(USER)
        self.rig, self.name, self.size = rig, name, size
        self.program = os.path.join(rig.linux_build, "unix", "skiprail")
        self.watch_command = self.as_user([os.path.join(rig.linux_build, "tests", "tools", "wlwatch")])
        self.netns, self.address = None, "127.0.0.1"
        os.chmod(rig.root, 0o755)  # the user reaches the PC's folders
        self.home = os.path.join(rig.root, name, "home")
        self.runtime = os.path.join(rig.root, name, "runtime")
        os.makedirs(os.path.join(self.home, ".config"))
        os.makedirs(self.runtime, mode=0o700)
        for path in (os.path.join(rig.root, name), self.home, os.path.join(self.home, ".config"), self.runtime):
            os.chown(path, self.user.pw_uid, self.user.pw_gid)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_RUNTIME_DIR": self.runtime}
        self.log = os.path.join(rig.root, name, "program.log")
        self.process = self.watch = None
        self.servers = []

    def as_user(self, args, listens=False):
        """As the user; one that `listens` may take port 447, as the Debian
        package's program may (its file capability)."""
        caps = ["--inh-caps=+net_bind_service", "--ambient-caps=+net_bind_service"] if listens else []
        return ["setpriv", "--reuid=%d" % self.user.pw_uid, "--regid=%d" % self.user.pw_gid, "--init-groups"] + \
            caps + list(args)

    def user_env(self):
        return ["env", "-i"] + ["%s=%s" % item for item in sorted(self.env.items())]

    def serve(self, args, log):
        with open(os.path.join(self.rig.root, self.name, log), "ab") as out:
            server = subprocess.Popen(self.as_user(self.user_env() + list(args)), stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=out, start_new_session=True)
        self.servers.append(server)
        return server

    def boot(self):
        width, height = self.size.split("x")
        if self.desktop == "sway":
            config = os.path.join(self.runtime, "sway.conf")
            with open(config, "w") as f:
                f.write("output HEADLESS-1 resolution %sx%s\n" % (width, height))
            self.env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
            server = self.serve(["sway", "-c", config], "sway.log")
            sockets = lambda: [p for p in glob.glob(os.path.join(self.runtime, "wayland-*")) if not p.endswith(".lock")]
            wait_until(lambda: sockets() or server.poll() is not None, 20, "sway's socket")
            self.env["WAYLAND_DISPLAY"] = os.path.basename(sockets()[0])
        else:
            bus = os.path.join(self.runtime, "bus")
            self.serve(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus], "dbus.log")
            wait_until(lambda: os.path.exists(bus), 10, "the session bus")
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
            self.serve(["pipewire"], "pipewire.log")
            self.env["WAYLAND_DISPLAY"] = "wayland-sr"
            server = self.serve(["mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=wayland-sr",
                                 "--virtual-monitor", self.size], "mutter.log")
            wait_until(lambda: os.path.exists(os.path.join(self.runtime, "wayland-sr")) or server.poll() is not None,
                       20, "mutter's socket")
        if server.poll() is not None:
            raise RigError("%s did not start on %s" % (self.desktop, self.name))
        self.watch = Watch(self)

    def start(self, *args):
        """Starts `skiprail` as the user with these arguments and --verbose."""
        if self.running():
            raise RigError("%s: the program is running already" % self.name)
        for folder, _, files in os.walk(self.home):  # what a test put there is the user's
            for path in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(path, self.user.pw_uid, self.user.pw_gid)
        with open(self.log, "ab") as log:
            self.log_start = log.tell()
            self.process = subprocess.Popen(
                self.cmd(self.as_user(self.user_env() + [self.program, "--verbose"] + [str(a) for a in args], True)),
                stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        return self

    def resize(self, width, height):
        """The output's resolution, as the user sets it (sway's own command)."""
        socket = glob.glob(os.path.join(self.runtime, "sway-ipc.*.sock"))
        if self.desktop != "sway" or not socket:
            raise RigError("%s: only sway's output is resized here" % self.name)
        subprocess.run(self.as_user(["env", "SWAYSOCK=" + socket[0], "swaymsg", "output", "HEADLESS-1", "resolution",
                                     "%dx%d" % (width, height)]), check=True, capture_output=True, timeout=20)
        self.size = "%dx%d" % (width, height)

    def layout(self, *args):
        """The seat's layout, as a keyboard of that layout typing on it makes
        it (a compositor that lets a program make a keyboard)."""
        if not self.watch("layout " + args[0])["ok"] and args[0] != "us":
            raise RigError("%s: no keyboard of another layout can be made here" % self.name)

    def clipboard_set(self, text):
        path = os.path.join(self.home, "clip.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, 0o644)
        if not self.watch("clip-set " + path)["ok"]:
            raise RigError("%s: wlwatch could not set the selection" % self.name)
        wait_until(lambda: self.clipboard_get() == text, 10, "%s's selection to hold the text" % self.name)

    def clipboard_get(self, timeout=10):
        return self.watch("clip-get", timeout)["text"]

    def clip_release(self):
        pass

    def end_desktop(self):
        """The session ends: its compositor (and bus) gone, as at log-off."""
        if self.watch:
            self.watch.close()
            self.watch = None
        for server in reversed(self.servers):
            if server.poll() is None:
                _kill_pid(server.pid)
                server.wait(10)
        self.servers = []
        for path in os.listdir(self.runtime):
            target = os.path.join(self.runtime, path)
            shutil.rmtree(target) if os.path.isdir(target) else os.remove(target)

    def close(self):
        self.kill()
        self.end_desktop()
        shutil.rmtree(self.runtime, ignore_errors=True)


class SwayPC(WaylandPC):
    desktop = "sway"


class GnomePC(WaylandPC):
    desktop = "gnome"
