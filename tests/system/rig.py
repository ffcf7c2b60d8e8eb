"""The two-PC test rig: each PC is a Wine prefix of its own on an Xvfb display
of its own, with its settings, a skiprail.exe process and an srdrive process
that drives the PC and reads it back. The PCs link over the loopback, or,
in a rig made with network=True, each PC is a host of its own: a network
namespace with its own address (192.0.2.1, 192.0.2.2, ...), joined to the
others through a bridge in a hub namespace, so both can listen on one port, a
network blip is `ss -K` inside a PC, a pulled cable is its link set down and
a slow link is a relay in the hub (Rig.relay()).

The rig starts and ends everything it starts: Xvfb and the programs by PID
(through their Popen objects, so a PID is never signalled after it was
reaped), each prefix's wineserver with `wineserver -k`, and, last, any
process still carrying one of its prefixes in its environment. That runs on close(),
at exit and on SIGTERM, so a failing test leaves nothing behind. Nothing is
ever killed by name.

Run as a program it shows two linked PCs (see demo(), used by scripts/run.sh).
"""

import atexit
import glob
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SETTINGS_POSITIONS = {"left": 0, "right": 1, "above": 2, "below": 3}
BOOT_TIMEOUT = 120
DISPLAY_BASE = int(os.environ.get("SKIPRAIL_DISPLAY_BASE", "80"))


class RigError(AssertionError):
    pass


def figure(name, seconds):
    """A measured figure, printed for the run's log."""
    print("FIGURE %s: %d ms" % (name, seconds * 1000), flush=True)


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it gives a true value, which is returned; fails
    with `what` at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise RigError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# ---------------------------------------------------------------- ports

def free_port_pair(low=20000, high=60000):
    """A port whose successor is free too, both bindable on INADDR_ANY now."""
    for _ in range(200):
        probe = socket.socket()
        probe.bind(("0.0.0.0", 0))
        port = probe.getsockname()[1]
        probe.close()
        if not low <= port < high - 1:
            continue
        taken = []
        try:
            for p in (port, port + 1):
                s = socket.socket()
                taken.append(s)
                s.bind(("0.0.0.0", p))
            return port
        except OSError:
            pass
        finally:
            for s in taken:
                s.close()
    raise RigError("no free port pair")


def _tcp_table(pid=None):
    """(local port, remote port, state) of every IPv4 TCP socket, of this
    process's network or that of the process pid."""
    rows = []
    with open("/proc/net/tcp" if pid is None else "/proc/%d/net/tcp" % pid) as table:
        next(table)
        for line in table:
            fields = line.split()
            rows.append((int(fields[1].split(":")[1], 16), int(fields[2].split(":")[1], 16), fields[3]))
    return rows


def listening(port, pc=None):
    """Whether a socket listens on the port (Wine's sockets are Linux
    sockets), on the loopback or on the PC of a networked rig."""
    return any(local == port and state == "0A" for local, _, state in _tcp_table(pc and pc.net_pid()))


def connections_to(port, pc=None):
    """How many established connections have `port` as their server side,
    counted once (loopback lists both ends); on a networked rig, those of pc."""
    return sum(1 for local, remote, state in _tcp_table(pc and pc.net_pid())
               if state == "01" and (local == port or (pc is not None and remote == port)))


# ---------------------------------------------------------------- processes

def wine_loader(exe):
    """The Wine loader that runs exe in the process it starts: wine64 for a
    64-bit program, as with 32-bit Wine installed a plain `wine` hands a
    64-bit program to a process of its own, and signals sent to the process
    started would not reach it."""
    with open(exe, "rb") as f:
        header = f.read(4096)
    at = int.from_bytes(header[0x3C:0x40], "little")
    machine = int.from_bytes(header[at + 4:at + 6], "little") if header[at:at + 4] == b"PE\0\0" else 0
    wine64 = shutil.which("wine64") or ("/usr/lib/wine/wine64" if os.path.exists("/usr/lib/wine/wine64") else None)
    return wine64 if machine == 0x8664 and wine64 else "wine"


def _processes_with_prefix(prefix):
    """PIDs of the processes whose environment names this prefix."""
    needle = ("WINEPREFIX=%s" % prefix).encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as environ:
                if needle in environ.read().split(b"\0"):
                    pids.append(int(entry))
        except OSError:
            pass
    return pids


def _kill_pid(pid, sig=signal.SIGKILL):
    try:
        os.kill(pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


def _display_taken(n):
    """Whether display :n is in use: a lock file of a live process. Xvfb
    itself clears a lock that a killed server left."""
    try:
        with open("/tmp/.X%d-lock" % n) as lock:
            pid = int(lock.read().strip() or 0)
    except (OSError, ValueError):
        return os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n)
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def _serving(server, n):
    """Whether X server `server` (a Popen) holds display :n: the display's lock
    names its PID and the display's socket takes a connection. The socket
    alone is not enough: a stale one, or another server's, is there before a
    server that then fails to take the display has ended."""
    try:
        with open("/tmp/.X%d-lock" % n) as lock:
            if int(lock.read().strip() or 0) != server.pid:
                return False
        probe = socket.socket(socket.AF_UNIX)
        try:
            probe.connect("/tmp/.X11-unix/X%d" % n)
        finally:
            probe.close()
        return True
    except (OSError, ValueError):
        return False


def _start_server(command, n, env=None):
    """Starts X server `command` for display :n; its Popen once it serves
    there, else None (it has been ended)."""
    server = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True, env=env)
    try:
        wait_until(lambda: server.poll() is not None or _serving(server, n), 10, "X server :%d" % n)
    except RigError:
        pass
    if server.poll() is None and _serving(server, n):
        return server
    _stop_xvfb(server)
    return None


def _stop_xvfb(xvfb):
    """SIGTERM first, so Xvfb removes its lock file and socket."""
    _kill_pid(xvfb.pid, signal.SIGTERM)
    try:
        xvfb.wait(5)
    except subprocess.TimeoutExpired:
        _kill_pid(xvfb.pid)
        xvfb.wait(5)


class Drive:
    """The srdrive process of one PC: one command line in, one answer line out."""

    def __init__(self, pc):
        self.pc = pc
        self.lock = threading.Lock()
        # A Wine start right after the prefix's server went down now and then
        # ends at once with nothing said: one more try.
        for attempt in range(2):
            self.process = subprocess.Popen(
                pc.cmd([wine_loader(pc.rig.srdrive), pc.rig.srdrive]), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, env=pc.env, text=True, bufsize=1, start_new_session=True)
            first = self._read_line(60)
            if first == "ready":
                return
            if first != "" or attempt == 1:
                raise RigError("srdrive on %s did not start: %r" % (pc.name, first))
            self.process.wait(10)
            time.sleep(1)

    def _read_line(self, timeout):
        result = []
        reader = threading.Thread(target=lambda: result.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        if not result:
            raise RigError("srdrive on %s gave no answer in %s s" % (self.pc.name, timeout))
        return result[0].rstrip("\n")

    def __call__(self, command, timeout=20):
        with self.lock:
            if self.process.poll() is not None:
                raise RigError("srdrive on %s has ended" % self.pc.name)
            self.process.stdin.write(command + "\n")
            self.process.stdin.flush()
            answer = self._read_line(timeout)
        if answer.startswith("err"):
            raise RigError("srdrive on %s: %s -> %s" % (self.pc.name, command, answer))
        return answer

    def json(self, command):
        return json.loads(self(command))

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
                self.process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                _kill_pid(self.process.pid)
                self.process.wait(5)
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass


class Relay:
    """The slow link of Rig.relay(): a relay.py process in the hub."""

    MASTER_SIDE, SLAVE_SIDE = "192.0.2.250", "192.0.2.251"

    def __init__(self, rig, target, port, hold_ms):
        self.master_side, self.slave_side = self.MASTER_SIDE, self.SLAVE_SIDE
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "relay.py")
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", rig.hub, sys.executable, script, "serve", self.MASTER_SIDE, self.SLAVE_SIDE,
             target, str(hold_ms), str(port), str(port), str(port + 1)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        if self("") != "ready":
            raise RigError("the relay did not start")

    def __call__(self, command, timeout=10):
        if command:
            self.process.stdin.write(command + "\n")
            self.process.stdin.flush()
        line = []
        reader = threading.Thread(target=lambda: line.append(self.process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        return line[0].strip() if line else None

    def stats(self):
        """{"most": packets in flight at most at once, "asked": packets that
        ask for an answer, "answered": READYs}, since the last reset()."""
        return json.loads(self("stats"))

    def reset(self):
        self("reset")

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                _kill_pid(self.process.pid)
                self.process.wait(5)


class PC:
    """One PC: a prefix, a display, a folder with the program, its processes."""

    def __init__(self, rig, name, size):
        self.rig = rig
        self.name = name
        # "WxH" is one monitor on an Xvfb display. "WxH+WxH..." is as many
        # monitors side by side, left to right, and "WxH*" one monitor whose
        # resolution can change (resize()): both on a nested X server (Xephyr
        # inside an Xvfb large enough to hold it). `size` is then the size of
        # the whole desktop, `monitors` the sizes one by one.
        self.resizable = size.endswith("*")
        self.monitors = [tuple(int(v) for v in m.split("x")) for m in size.rstrip("*").split("+")]
        self.nested = self.resizable or len(self.monitors) > 1
        self.size = "%dx%d" % (sum(w for w, _ in self.monitors), max(h for _, h in self.monitors))
        self.prefix = os.path.join(rig.root, name, "prefix")
        self.netns = None         # the PC's network namespace on a networked rig
        self.address = "127.0.0.1"
        self.folder = os.path.join(rig.root, name, "program")
        self.display = rig.start_nested_display(self) if self.nested else rig.start_display(size)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.process = None
        self.drive = None
        self.log = os.path.join(rig.root, name, "program.log")
        os.makedirs(self.folder)
        self.copy_program()

    def cmd(self, args):
        """A command line of this PC: inside its network namespace, if it has one."""
        return (["ip", "netns", "exec", self.netns] if self.netns else []) + list(args)

    def net_pid(self):
        """A process of the PC's own that lives in its network."""
        return self.drive.process.pid

    def blip(self, port=None):
        """A network blip: every TCP connection of this PC is reset, or only
        those to or from `port`."""
        only = ["( sport = :%d or dport = :%d )" % (port, port)] if port else []
        subprocess.run(self.cmd(["ss", "-K", "state", "established"] + only), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=20)

    def cable(self, plugged):
        """Pulls or plugs this PC's network cable."""
        subprocess.run(self.cmd(["ip", "link", "set", self.link, "up" if plugged else "down"]), check=True,
                       timeout=20)

    def copy_program(self, build_dir=None):
        """The program and its hook library side by side, as they ship: the
        rig's, or those of another build folder (an earlier release)."""
        shutil.copy2(os.path.join(build_dir, "skiprail.exe") if build_dir else self.rig.program, self.folder)
        shutil.copy2(os.path.join(build_dir, "hook", "srhook.dll") if build_dir else self.rig.hook_library,
                     self.folder)

    def boot(self):
        """Makes the prefix (about 13 s) and starts the PC's srdrive."""
        env = dict(self.env, DISPLAY="")
        subprocess.run(self.cmd(["wineboot", "-i"]), env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=BOOT_TIMEOUT)
        # Xvfb runs no window manager: without this Wine waits 2 s for every
        # hidden or destroyed top-level window to be withdrawn.
        # /reg:64: the view Wine's own 64-bit processes read (HKCU\Software is
        # shared by both views, so 32-bit programs see it too).
        subprocess.run(self.cmd(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d",
                                 "N", "/f", "/reg:64"]),
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=BOOT_TIMEOUT)
        if len(self.monitors) > 1:
            # Wine asks XRandR for the monitors, which sees one screen on a
            # nested server: told not to, it reads Xinerama's layout.
            subprocess.run(self.cmd(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "UseXRandR",
                                     "/d", "N", "/f", "/reg:64"]),
                           env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=BOOT_TIMEOUT)
        subprocess.run(self.cmd(["wineserver", "-w"]), env=env, timeout=BOOT_TIMEOUT)
        self.drive = Drive(self)

    # ---- settings

    def settings(self, master, position="right", partner="127.0.0.1", port=None, slaves=()):
        """Writes the four values, so the program opens no dialog; on a Master,
        Slaves 2, 3, ... of its desk from (partner, port, position, next_to)
        each, next_to 0 for the Master or a Slave's number."""
        self.drive("regclear")
        self.drive("regset SRMaster dword %d" % (1 if master else 0))
        self.drive("regset ScreenPos dword %d" % SETTINGS_POSITIONS[position])
        self.drive("regset SRPartner sz %s" % partner)
        self.drive("regset SRPort sz %s" % port)
        for n, (host, slave_port, place, next_to) in enumerate(slaves, 2):
            for name, kind, value in (("SRPartner", "sz", host), ("SRPort", "sz", slave_port),
                                      ("ScreenPos", "dword", SETTINGS_POSITIONS[place]), ("SRNextTo", "dword", next_to)):
                self.drive("regset %s%d %s %s" % (name, n, kind, value))
        self.port = port

    def settings_dialog(self):
        """The open settings dialog: texts, checked buttons, rectangle."""
        return self.drive.json("settings")

    def wait_settings_dialog(self, timeout=30):
        return wait_until(lambda: self.settings_dialog() if self.settings_dialog()["found"] else None, timeout,
                          "%s's settings dialog" % self.name)

    def fill_settings(self, master, position="right", partner="127.0.0.1", port=None):
        """Types partner and port into the open settings dialog and clicks
        the mode and the position, as a user would; OK is left to the caller."""
        self.wait_settings_dialog()
        self.drive("settings-type partner %s" % partner)
        self.drive("settings-type port %s" % port)
        self.drive("settings-click %s" % ("master" if master else "slave"))
        self.drive("settings-click %s" % position)
        expected = sorted(["master" if master else "slave", position])
        wait_until(lambda: sorted(self.settings_dialog().get("checked", [])) == expected, 10,
                   "%s's dialog to show %s" % (self.name, expected))
        self.port = port

    def press_settings_ok(self):
        self.drive("settings-click ok")
        wait_until(lambda: not self.settings_dialog()["found"], 10, "%s's settings dialog to close" % self.name)

    def screenshot_settings(self, path):
        """A picture of the open settings dialog alone."""
        box = self.settings_dialog()
        crop = "%dx%d+%d+%d" % (box["right"] - box["left"], box["bottom"] - box["top"], box["left"], box["top"])
        subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", crop, "+repage", path],
                       check=True, timeout=30)
        return path

    # ---- the program

    def start(self, wait=True):
        """Starts skiprail.exe; with wait, returns once its main window exists."""
        if self.running():
            raise RigError("%s: the program is running already" % self.name)
        with open(self.log, "ab") as log:
            start = log.tell()
            # Wine's errors (not its notes on what it lacks) go to the log, so
            # a start that fails says why.
            self.process = subprocess.Popen(self.cmd([wine_loader(self.rig.program), "skiprail.exe"]), cwd=self.folder,
                                            env=dict(self.env, WINEDEBUG="fixme-all"),
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        if wait:
            wait_until(lambda: self.window()["found"] or not self.running(), 30, "%s's main window" % self.name)
            if not self.running():
                with open(self.log, "rb") as log:
                    log.seek(start)
                    said = log.read().decode("latin-1").strip().splitlines()[-5:]
                raise RigError("%s: the program ended at start, code %s; Wine said: %s"
                               % (self.name, self.exit_code(), " | ".join(said) or "nothing"))
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def exit_code(self):
        return None if self.process is None else self.process.poll()

    def stop(self, timeout=15):
        """A close request to the main window, as at log-off; kills it if it
        does not end. Returns the exit code."""
        if not self.running():
            return self.exit_code()
        self.drive("close-main")
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise RigError("%s: the program did not end within %s s of a close request" % (self.name, timeout))

    def restart(self):
        self.stop()
        return self.start()

    def kill(self):
        """Ends the program at once, as a crash would."""
        if self.running():
            _kill_pid(self.process.pid)
            self.process.wait(10)

    def clean_up(self):
        """After a test: the program ended, and no box, recorder window or
        confinement left for the next one."""
        self.kill()
        self.dismiss_boxes()
        self.drive("unfocus")
        self.drive("unclip")

    def window(self):
        return self.drive.json("window-info")

    # ---- reading and driving

    def cursor(self):
        """The pointer. Under Wine, while a ClipCursor rectangle is in force
        (the Master in remote control), this reads the X pointer once 100 ms
        have passed since the last move, that is the last SetCursorPos, not
        where relative moves took the pointer: use the answer of move() then.
        Wine may take its pointer back from X's (a window shown under it); with a mouse hook in
        and no confinement a relative SendInput may not move it; xdotool stops at X's edge."""
        x, y = self.drive("cursor").split()
        return int(x), int(y)

    def move(self, dx, dy):
        x, y = self.drive("move %d %d" % (dx, dy)).split()
        return int(x), int(y)

    def put(self, x, y):
        x, y = self.drive("abs %d %d" % (x, y)).split()
        return int(x), int(y)

    def boxes(self):
        return self.drive.json("boxes")

    def box_texts(self):
        return [box["text"] for box in self.boxes()]

    def dismiss_boxes(self):
        n = int(self.drive("dismiss"))
        if n:
            wait_until(lambda: not self.boxes(), 10, "%s's boxes to close" % self.name)
        return n

    def resize(self, width, height):
        """Changes the resolution of a resizable PC's monitor as the display
        settings do (Wine changes the nested server's mode with XRandR); the
        PC's programs are told so."""
        if not self.resizable:
            raise RigError("%s has no resizable monitor" % self.name)
        result = self.drive("resolution %d %d" % (width, height))
        if result != "0":
            raise RigError("%s: the resolution %dx%d was refused (%s)" % (self.name, width, height, result))
        self.monitors = [(width, height)]
        self.size = "%dx%d" % (width, height)

    def desktop(self):
        """The monitors as this PC's Windows sees them: [left, top, right,
        bottom] each, and the virtual screen's rectangle."""
        return self.drive.json("monitors")

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True, timeout=30)
        return path

    # ---- files on the clipboard

    def unix_path(self, path):
        """Where a path of this PC lies on the host (C: is its prefix's, Z: the host's root)."""
        drive = os.path.realpath(os.path.join(self.prefix, "dosdevices", path[0].lower() + ":"))
        return os.path.join(drive, path[2:].replace("\\", "/").lstrip("/"))

    def received_files(self):
        """The folders the program has received files into, in its temporary folder."""
        users = os.path.join(self.prefix, "drive_c", "users", "*")
        return [folder for temp in ("Temp", "AppData/Local/Temp")  # Wine's, Windows'
                for folder in glob.glob(os.path.join(users, temp, "Skiprail", "*"))]

    def close(self):
        if self.process is not None and self.process.poll() is None:
            _kill_pid(self.process.pid)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                pass
        if self.drive:
            try:
                self.drive.close()
            except (OSError, RigError):
                pass
            self.drive = None
        subprocess.run(self.cmd(["wineserver", "-k"]), env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
        for pid in _processes_with_prefix(self.prefix):
            _kill_pid(pid)


class Watch:
    """The xwatch process of a Linux PC: a focused window covering its screen
    that reports each key and button event (kept in `events`), and answers
    one command line with one line (see tests/tools/xwatch.cpp)."""

    def __init__(self, pc):
        self.pc = pc
        self.events = []
        self.answers = []
        self.changed = threading.Condition()
        command = getattr(pc, "watch_command", None) or [os.path.join(pc.rig.linux_build, "tests", "tools", "xwatch")]
        self.process = subprocess.Popen(pc.cmd(command),
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        env=pc.env, text=True, bufsize=1, start_new_session=True)
        threading.Thread(target=self._read, daemon=True).start()
        first = self._answer(20)
        if first.get("ev") != "ready":
            raise RigError("xwatch on %s did not take the focus: %r" % (pc.name, first))

    def _read(self):
        for line in self.process.stdout:
            item = json.loads(line)
            with self.changed:
                (self.events if item["ev"] in ("key", "button") else self.answers).append(item)
                self.changed.notify_all()
        with self.changed:
            self.answers.append({"ev": "ended"})
            self.changed.notify_all()

    def _answer(self, timeout):
        with self.changed:
            if not self.changed.wait_for(lambda: self.answers, timeout):
                raise RigError("xwatch on %s gave no answer in %s s" % (self.pc.name, timeout))
            return self.answers.pop(0)

    def __call__(self, command, timeout=10):
        if self.process.poll() is not None:
            raise RigError("xwatch on %s has ended" % self.pc.name)
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self._answer(timeout)
        if answer["ev"] != command:
            raise RigError("xwatch on %s: %s -> %r" % (self.pc.name, command, answer))
        return answer

    def clear(self):
        with self.changed:
            del self.events[:]

    def wait(self, predicate, timeout, what):
        """Waits until predicate(events) holds; returns the events."""
        with self.changed:
            if not self.changed.wait_for(lambda: predicate(self.events), timeout):
                raise RigError("timed out after %.1f s waiting for %s on %s; it has %s"
                               % (timeout, what, self.pc.name, self.events[-20:]))
            return list(self.events)

    close = Drive.close


class LinuxPC:
    """A Linux PC: an Xvfb display of its own (started with -noreset, so a
    layout set with setxkbmap stays), a home folder for the program's
    settings, and on a networked rig a namespace of its own; the Linux
    `skiprail` (the native build's unix/skiprail) and an xwatch process that
    reads what an X program gets."""

    def __init__(self, rig, name, size):
        if not rig.linux_build:
            raise RigError("a Linux PC needs the native build (SKIPRAIL_LINUX_BUILD)")
        self.rig, self.name, self.size = rig, name, size
        self.program = os.path.join(rig.linux_build, "unix", "skiprail")
        for path in (self.program, os.path.join(rig.linux_build, "tests", "tools", "xwatch")):
            if not os.path.isfile(path):
                raise RigError("missing %s: build the native targets first" % path)
        self.netns = None
        self.address = "127.0.0.1"
        self.display = rig.start_display(size, noreset=True)
        self.home = os.path.join(rig.root, name, "home")
        os.makedirs(os.path.join(self.home, ".config"))
        # The folder of the session's own files, where received files land.
        self.runtime = os.path.join(rig.root, name, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.home,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"), XDG_RUNTIME_DIR=self.runtime)
        self.env.pop("XDG_CACHE_HOME", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.log = os.path.join(rig.root, name, "program.log")
        self.process = None
        self.watch = None
        self.clip_owner = None  # the xclip that holds text set here

    cmd, blip, cable, running, exit_code, kill = PC.cmd, PC.blip, PC.cable, PC.running, PC.exit_code, PC.kill

    def net_pid(self):
        return self.watch.process.pid

    def boot(self):
        self.watch = Watch(self)

    # ---- the program

    def start(self, *args):
        """Starts `skiprail` with these arguments and --verbose, its output to
        the log (said() reads it); returns at once."""
        if self.running():
            raise RigError("%s: the program is running already" % self.name)
        with open(self.log, "ab") as log:
            self.log_start = log.tell()
            self.process = subprocess.Popen(self.cmd([self.program, "--verbose"] + [str(a) for a in args]),
                                            env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                            start_new_session=True)
        return self

    def said(self):
        """What the program wrote since its last start."""
        with open(self.log, "rb") as log:
            log.seek(getattr(self, "log_start", 0))
            return log.read().decode("utf-8", "replace")

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """Signals the program (SIGTERM: as at log-off) and returns its exit code."""
        if not self.running():
            return self.exit_code()
        self.process.send_signal(sig)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise RigError("%s: the program did not end within %s s of signal %d" % (self.name, timeout, sig))

    # ---- reading and driving the X display

    def cursor(self):
        at = self.watch("pointer")
        return at["x"], at["y"]

    def keys_down(self):
        """The X keycodes the server holds down."""
        return self.watch("keymap")["down"]

    def buttons_down(self):
        """The pointer buttons the server holds down (1 to 5)."""
        mask = self.watch("pointer")["mask"]
        return [n for n in range(1, 6) if mask & (1 << (7 + n))]

    def typed(self):
        """The text the focused window got from the keys pressed since clear()."""
        return "".join(e["text"] for e in self.watch.events if e["ev"] == "key" and e["down"])

    def clean_up(self):
        """After a test: the program ended (as at log-off), nothing held
        down, the US layout and xwatch's window in focus."""
        if self.running():
            self.stop()
        self.watch("release")
        self.layout("us")
        self.watch("focus")

    def layout(self, *args):
        """The keyboard layout, as `setxkbmap` sets it."""
        subprocess.run(["setxkbmap", "-display", self.display] + list(args), check=True, timeout=20)

    def _xclip(self, *args):
        return ["xclip", "-display", self.display, "-selection", "clipboard"] + list(args)

    def clipboard_set(self, text, target="UTF8_STRING"):
        """Text (or bytes, as `target`: image/png, x-special/gnome-copied-files
        ...) owned as the CLIPBOARD selection by an xclip of the rig's."""
        data = text.encode("utf-8") if isinstance(text, str) else text
        self.clip_release()
        self.clip_owner = subprocess.Popen(self._xclip("-quiet", "-i", "-target", target),
                                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL, start_new_session=True)
        self.clip_owner.stdin.write(data)
        self.clip_owner.stdin.close()
        wait_until(lambda: self.clipboard_bytes(target) == data, 10, "%s's selection to hold the %s" % (self.name, target))

    def clip_release(self):
        if self.clip_owner is not None and self.clip_owner.poll() is None:
            _kill_pid(self.clip_owner.pid)
            self.clip_owner.wait(5)
        self.clip_owner = None

    def clipboard_bytes(self, target, timeout=30):
        """The CLIPBOARD selection as `target` (bytes), or None when it is not offered."""
        got = subprocess.run(self._xclip("-o", "-target", target), capture_output=True, timeout=timeout)
        return got.stdout if got.returncode == 0 else None

    def clipboard_targets(self):
        return (self.clipboard_bytes("TARGETS") or b"").decode().split()

    def received_files(self):
        """The folders the program has received files into (and any still coming, as NAME.part)."""
        return sorted(glob.glob(os.path.join(self.runtime, "skiprail", "received", "*")))

    def clipboard_get(self, timeout=10):
        """The CLIPBOARD selection's text (UTF-8), or None when no one owns it."""
        got = subprocess.run(self._xclip("-o", "-target", "UTF8_STRING"), capture_output=True, timeout=timeout)
        return got.stdout.decode("utf-8", "replace") if got.returncode == 0 else None

    def close(self):
        self.kill()
        self.clip_release()
        if self.watch:
            self.watch.close()
            self.watch = None


_rigs = []  # every rig of this process, all closed on SIGTERM


class Rig:
    """The PCs of one test run; make them once and reuse them across tests."""

    def __init__(self, build_dir, network=False, linux_build=None):
        self.build_dir = os.path.abspath(build_dir)
        # The native build, for Linux PCs: unix/skiprail and tests/tools/xwatch.
        self.linux_build = linux_build and os.path.abspath(linux_build)
        self.network = network
        self._namespaces = []
        self.program = os.path.join(self.build_dir, "skiprail.exe")
        self.hook_library = os.path.join(self.build_dir, "hook", "srhook.dll")
        self.srdrive = os.path.join(self.build_dir, "tools", "srdrive.exe")
        for path in (self.program, self.hook_library, self.srdrive):
            if not os.path.isfile(path):
                raise RigError("missing %s: build the Windows targets first" % path)
        self.root = tempfile.mkdtemp(prefix="skiprail-rig.")
        self.pcs = []
        self._displays = []   # (Popen, name)
        self.extra_processes = []  # other programs started in a PC's prefix
        self._closed = False
        atexit.register(self.close)
        _rigs.append(self)
        signal.signal(signal.SIGTERM, lambda *_: ([rig.close() for rig in _rigs], os._exit(143)))

    def start_display(self, size, noreset=False):
        """Starts Xvfb on the first free display from DISPLAY_BASE up; with
        noreset, one that keeps its keymap when its last client leaves."""
        n = DISPLAY_BASE
        while n < DISPLAY_BASE + 100:
            if _display_taken(n):
                n += 1
                continue
            xvfb = _start_server(["Xvfb", ":%d" % n, "-screen", "0", "%sx24" % size, "-nolisten", "tcp"] +
                                 (["-noreset"] if noreset else []), n)
            if xvfb:
                self._displays.append((xvfb, ":%d" % n))
                return ":%d" % n
            n += 1
        raise RigError("no free X display")

    def start_nested_display(self, pc):
        """An Xephyr server with the PC's monitors, on an Xvfb display of its
        own large enough to hold it: a resizable one gets room for the
        largest resolution Xephyr offers."""
        width, height = (int(v) for v in pc.size.split("x"))
        host = self.start_display("%dx%d" % (max(width, 1600) + 16, max(height, 1200) + 16))
        screens = []
        for w, h in pc.monitors:
            screens += ["-screen", "%dx%d" % (w, h)]
        options = ["+xinerama"] if len(pc.monitors) > 1 else ["-resizeable"]
        n = DISPLAY_BASE
        while n < DISPLAY_BASE + 100:
            if _display_taken(n):
                n += 1
                continue
            xephyr = _start_server(["Xephyr", ":%d" % n] + options + screens + ["-nolisten", "tcp", "-noreset"],
                                   n, env=dict(os.environ, DISPLAY=host))
            if xephyr:
                # Before its host: a nested server ends with its own display.
                self._displays.insert(0, (xephyr, ":%d" % n))
                return ":%d" % n
            n += 1
        raise RigError("no free X display for Xephyr")

    def _make_network(self, pcs):
        """Each PC a namespace with an address of its own, all joined by veth
        pairs to a bridge in a hub namespace of their own."""
        tag = "sr%d" % os.getpid()
        self.hub = tag + "hub"
        for netns in [self.hub] + [tag + pc.name for pc in pcs]:
            subprocess.run(["ip", "netns", "add", netns], check=True, timeout=20)
            self._namespaces.append(netns)
            subprocess.run(["ip", "netns", "exec", netns, "ip", "link", "set", "lo", "up"], check=True, timeout=20)
        hub = ["ip", "netns", "exec", self.hub]
        subprocess.run(hub + ["ip", "link", "add", "br0", "type", "bridge"], check=True, timeout=20)
        subprocess.run(hub + ["ip", "link", "set", "br0", "up"], check=True, timeout=20)
        for i, pc in enumerate(pcs, 1):
            pc.netns, pc.address, pc.link = tag + pc.name, "192.0.2.%d" % i, "eth%d" % i
            near = "port%d" % i
            subprocess.run(["ip", "link", "add", near, "netns", self.hub, "type", "veth", "peer", "name", pc.link,
                            "netns", pc.netns], check=True, timeout=20)
            subprocess.run(hub + ["ip", "link", "set", near, "master", "br0", "up"], check=True, timeout=20)
            subprocess.run(pc.cmd(["ip", "addr", "add", pc.address + "/24", "dev", pc.link]), check=True, timeout=20)
            subprocess.run(pc.cmd(["ip", "link", "set", pc.link, "up"]), check=True, timeout=20)

    def relay(self, master, slave, port, hold_ms=2.0):
        """A slow link (tests/system/relay.py) in the hub of a networked rig
        between master and slave on `port` and the next one up: the Master
        names relay.master_side as its partner, the Slave relay.slave_side."""
        if not getattr(self, "relay_addresses", False):
            for address in (Relay.MASTER_SIDE, Relay.SLAVE_SIDE):
                subprocess.run(["ip", "netns", "exec", self.hub, "ip", "addr", "add", address + "/24", "dev", "br0"],
                               check=True, timeout=20)
            self.relay_addresses = True
        relay = Relay(self, slave.address, port, hold_ms)
        self.extra_processes.append(relay.process)
        return relay

    def add_pcs(self, *wanted):
        """Makes PCs from (name, "WxH") pairs, booting their prefixes side by
        side; (name, "WxH", "linux") makes a Linux PC, (name, "WxH", Class) a PC of that class."""
        pcs = [LinuxPC(self, *pc[:2]) if pc[2:] == ("linux",) else pc[2](self, *pc[:2]) if pc[2:] and callable(pc[2])
               else PC(self, *pc) for pc in wanted]
        self.pcs.extend(pcs)
        if self.network:
            self._make_network(pcs)
        errors = []

        def boot(pc):
            try:
                pc.boot()
            except Exception as error:  # reported below, on the caller's thread
                errors.append(error)

        threads = [threading.Thread(target=boot, args=(pc,)) for pc in pcs]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if errors:
            raise errors[0]
        return pcs

    def close(self):
        if self._closed:
            return
        self._closed = True
        for process in self.extra_processes:
            if process.poll() is None:
                _kill_pid(process.pid)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    pass
        for pc in self.pcs:
            try:
                pc.close()
            except Exception:
                pass
        for xvfb, _ in self._displays:
            _stop_xvfb(xvfb)
        for netns in self._namespaces:
            subprocess.run(["ip", "netns", "del", netns], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=20)
        shutil.rmtree(self.root, ignore_errors=True)


# ---------------------------------------------------------------- linking

CTRL, ALT, F1, F2, F3, SCROLL_LOCK = 0xA2, 0xA4, 0x70, 0x71, 0x72, 0x91


def press(pc, *keys):
    """A combination on the PC: the keys down in order, then up in reverse."""
    for key in keys:
        pc.drive("key %#x down" % key)
    for key in reversed(keys):
        pc.drive("key %#x up" % key)


def tree(path):
    """A file's or folder's contents: its SHA-256, or {name: tree} for a folder."""
    if os.path.isdir(path):
        return {name: tree(os.path.join(path, name)) for name in os.listdir(path)}
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def make_files(root, sizes):
    """Files of random bytes under root, {relative path: size}, with their
    folders. Returns the top paths as a PC names them (on its drive Z:),
    joined by '|' for srdrive."""
    for name, size in sizes.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            for at in range(0, size, 1 << 20):
                f.write(os.urandom(min(1 << 20, size - at)))
    tops = sorted({name.split("/")[0] for name in sizes})
    return "|".join("Z:" + os.path.join(root, top).replace("/", "\\") for top in tops)


def screen_of(pc):
    return tuple(int(v) for v in pc.size.split("x"))


def scaled(v, source, target):
    """The program's mapping between the screens: per mille, truncated toward zero."""
    q = abs(v) * 1000 // source * (1 if v >= 0 else -1)
    return abs(q) * target // 1000 * (1 if q >= 0 else -1)


def crossing_point(master, slave_size, y):
    """Where the Slave's pointer lands when the Master's pointer leaves its right
    edge at height y: one pixel in, the height scaled through per mille."""
    master_height = int(master.size.split("x")[1])
    slave_height = slave_size[1]
    return 1, (y * 1000 // master_height) * slave_height // 1000


def cross_right(master, y=None):
    """Pushes the Master's pointer past its right edge at height y (the middle
    by default); returns the height."""
    width, height = (int(v) for v in master.size.split("x"))
    y = height // 2 if y is None else y
    master.put(width - 10, y)
    master.move(40, 0)
    return y


def wait_crossing(master, y=None, timeout=20):
    """Pushes the Master's pointer past its right edge until it crosses, that
    is until it jumps to the entry point at the far left. The crossing needs
    the Master's hooks, which go in only when the control connection is up."""
    width, height = (int(v) for v in master.size.split("x"))
    y = height // 2 if y is None else y

    def crossed():
        cross_right(master, y)
        try:
            return wait_until(lambda: master.cursor()[0] < width // 2, 1.0, "the crossing")
        except RigError:
            return None

    wait_until(crossed, timeout, "%s's pointer to cross its right edge" % master.name, interval=0.2)
    return y


def wait_linked(master, slave, timeout=20):
    """Crosses from the Master to the Slave; returns the Slave's pointer,
    which must stand at the entry point."""
    slave_size = tuple(int(v) for v in slave.drive("screen").split())
    for attempt in range(2):
        y = wait_crossing(master, timeout=timeout)
        target = crossing_point(master, slave_size, y)
        # Until the Slave's size reaches it, the Master maps onto its own
        # size: a crossing in that moment (the link up, the Slave's size still
        # on its way, a handshake's round trip longer with a link key) enters
        # at the unscaled point. Once back, the next crossing must map.
        own = (1, y)
        try:
            where = wait_until(lambda: (lambda p: p if p in (target, own) else None)(slave.cursor()), 5,
                               "%s's pointer at %s" % (slave.name, target))
        except RigError as error:
            # Where it stands instead tells a mapping from one that never moved.
            raise RigError("%s; it stands at %s" % (error, slave.cursor())) from None
        if where == target:
            return where
        if attempt == 0:
            cross_back(master)
    raise RigError("%s's pointer entered at %s twice, not at %s: the Slave's size was not taken"
                   % (slave.name, own, target))


def wait_following(master, slave, target, timeout=10):
    """Waits until the Slave's pointer stands at target, the Master's pointer
    as its last move left it, nudging the Master's pointer by a pixel now and
    then: a fresh Slave drops the first actions it is sent, and a position it
    dropped is not sent again. Returns the Slave's pointer."""
    nudges = [(-1, 0), (1, 0)]
    state = {"target": tuple(target)}

    def same():
        try:
            return wait_until(lambda: slave.cursor() == state["target"] and state["target"], 0.5,
                              "the Slave's pointer")
        except RigError:
            state["target"] = master.move(*nudges[0])
            nudges.reverse()
            return None

    return wait_until(same, timeout, "%s's pointer to follow %s's" % (slave.name, master.name), interval=0)


def wait_stepping(master, slave, entry, step):
    """After a crossing to entry (best made from the edge pixel, where Wine's
    pointer and X's agree), steps and back until the Slave's pointer follows."""
    for i in range(20):
        sign = -1 if i % 2 else 1
        master.move(sign * step[0], sign * step[1])
        target = entry if sign < 0 else (entry[0] + step[0], entry[1] + step[1])
        if any(slave.cursor() == target or time.sleep(0.05) for _ in range(10)):
            return target
    raise RigError("%s's pointer does not follow the steps" % slave.name)


def cross_back(master):
    """Moves the Master's pointer out across the Slave's left edge; returns
    where the Master's pointer lands."""
    width = int(master.size.split("x")[0])
    x, _ = master.move(-1, 0)  # a fresh reading (see PC.cursor)
    master.move(-(x + 10), 0)
    return wait_until(lambda: master.cursor()[0] > width // 2 and master.cursor(), 5,
                      "the return to %s" % master.name)


def cross_sideways(master, slave, side, y=None, timeout=20):
    """Pushes the Master's pointer across its left or right edge at height y
    (the middle by default) until it is confined to a Slave, then waits for
    the Slave's pointer at the entry point and the Master's own pointer on the
    same point (see the README's note on the rig). Returns the entry point."""
    (width, height), (slave_width, slave_height) = screen_of(master), screen_of(slave)
    y = height // 2 if y is None else y
    entry = (1 if side == "right" else slave_width - 1, scaled(y, height, slave_height))

    def crossed():
        if master.drive("clip") != "0 0 %d %d" % (width, height):
            return True
        master.put(width - 10 if side == "right" else 10, y)
        master.move(20 if side == "right" else -20, 0)
        return None

    wait_until(crossed, timeout, "%s's pointer to cross its %s edge" % (master.name, side), interval=0.5)
    wait_until(lambda: master.drive("clip") == "0 0 %d %d" % (slave_width, slave_height), 5,
               "%s's pointer confined to %s's screen" % (master.name, slave.name))
    wait_until(lambda: slave.cursor() == entry, 5, "%s's pointer at %s" % (slave.name, entry))
    wait_until(lambda: master.cursor() == entry, 5, "%s's pointer at %s" % (master.name, entry))
    return entry


def push_out(master, size, side):
    """Takes the Master's pointer, confined to a Slave's screen of `size`, to
    its left or right edge, then 5 pixels past in a step of its own (no later
    step goes on beyond the crossing). Returns the point pushed to."""
    x, y = master.move(1 if side == "left" else -1, 0)  # a fresh reading (see PC.cursor)
    master.move(-x if side == "left" else size[0] - 1 - x, 0)
    master.move(-5 if side == "left" else 5, 0)
    return (-5 if side == "left" else size[0] + 4, y)


# ---------------------------------------------------------------- demo

IDM_ABOUT = 12034


def splash_shot(master, master_started, out_dir):
    """The Master's screen while the splash shows: 3 s after its start, for
    about 3 s. Returns {name: path}, empty if the moment has passed."""
    os.makedirs(out_dir, exist_ok=True)
    splash_at = master_started + 3.8
    if time.monotonic() < splash_at:
        time.sleep(splash_at - time.monotonic())
    if time.monotonic() > master_started + 5.5:
        print("(the splash was over before the link was up: no splash screenshot)")
        return {}
    return {"master-splash": master.screenshot(os.path.join(out_dir, "master-splash.png"))}


def showcase(master, slave, shots, out_dir):
    """With control on the Slave: types on the Master's keyboard into notepad
    on the Slave, and leaves screenshots of what a person sees on each screen:
    the Master's splash (3 s after start) and tray icon, the notice while the
    Slave has control, the About box, and notepad on the Slave. Returns the
    message boxes either PC showed."""
    os.makedirs(out_dir, exist_ok=True)
    shots = dict(shots)

    # Notepad on the Slave, in front, and the Master's typing reaches it.
    with open(os.path.join(slave.rig.root, "notepad.log"), "ab") as log:
        notepad = subprocess.Popen(["wine", "notepad.exe"], cwd=slave.folder, env=slave.env,
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    slave.rig.extra_processes.append(notepad)
    wait_until(lambda: slave.drive.json("window-info Notepad").get("visible"), 60, "notepad on the Slave")
    time.sleep(1.0)
    text = "Typed on the Master's keyboard, written on the Slave."
    master.drive("type %s" % text, timeout=60)
    time.sleep(2.0)
    print("typed on the master: %r" % text)

    shots["master"] = master.screenshot(os.path.join(out_dir, "master.png"))
    shots["slave"] = slave.screenshot(os.path.join(out_dir, "slave.png"))

    # The About box, from the Master's tray menu.
    master.drive("menu %d" % IDM_ABOUT)
    about = wait_until(lambda: [b for b in master.boxes() if b["caption"] == "About Skiprail"], 20, "the About box")
    time.sleep(0.5)
    shots["about"] = master.screenshot(os.path.join(out_dir, "about.png"))
    crop(shots["about"], about[0]["rect"], 0)
    master.dismiss_boxes()

    for name, path in sorted(shots.items()):
        print("screenshot %s: %s" % (name, path))
    return master.boxes() + slave.boxes()


def crop(path, rect, margin):
    """Crops a screenshot to rect (left, top, right, bottom) and a margin."""
    left, top, right, bottom = rect
    geometry = "%dx%d+%d+%d" % (right - left + 2 * margin, bottom - top + 2 * margin, max(0, left - margin),
                                max(0, top - margin))
    subprocess.run(["convert", path, "-crop", geometry, "+repage", path], check=True, timeout=30)


def demo(build_dir, out_dir):
    """Two PCs side by side, the Slave on the right; links them, drives a
    crossing on the Master and leaves screenshots of both screens."""
    rig = Rig(build_dir)
    try:
        print("Starting two PCs (Wine prefixes take a while to make)...", flush=True)
        master, slave = rig.add_pcs(("master", "1280x1024"), ("slave", "1024x768"))
        port = free_port_pair(40000, 60000)
        print("master on %s, slave on %s, control port %d, clipboard port %d"
              % (master.display, slave.display, port, port + 1), flush=True)
        # A first run opens the settings dialog: each PC is set up in it.
        os.makedirs(out_dir, exist_ok=True)
        slave.start()
        slave.fill_settings(master=False, position="right", partner="127.0.0.1", port=port)
        slave.screenshot_settings(os.path.join(out_dir, "settings.png"))
        slave.press_settings_ok()
        print("slave set up in its settings dialog: Slave, right of the Master, partner 127.0.0.1, port %d" % port,
              flush=True)
        wait_until(lambda: listening(port) and listening(port + 1), 20, "the Slave to listen")
        print("slave listening on both ports", flush=True)
        master.start()
        master_started = time.monotonic()
        master.fill_settings(master=True, position="right", partner="127.0.0.1", port=port)
        master.press_settings_ok()
        print("master set up in its settings dialog: Master, Slave on the right, partner 127.0.0.1, port %d" % port,
              flush=True)
        wait_until(lambda: connections_to(port) >= 1 and connections_to(port + 1) >= 1, 20, "both connections")
        print("control and clipboard connections established", flush=True)
        shots = splash_shot(master, master_started, out_dir)

        copied = "Copied on the Master at %s" % time.strftime("%H:%M:%S")
        master.drive("clipboard set " + copied)
        before = slave.cursor()
        entry = wait_linked(master, slave)
        wait_until(lambda: slave.drive.json("clipboard get") == copied, 10, "the clipboard text on the Slave")
        print("clipboard text copied on the master is on the slave's clipboard: %r" % copied)
        print("slave pointer %s before; after the master's pointer crossed its right edge: %s" % (before, entry))
        target = master.move(300, 200)
        moved = wait_following(master, slave, target)
        print("master moved on by (300, 200); slave pointer now %s, where the master's pointer is" % (moved,))
        master.move(-300, -200)
        boxes = showcase(master, slave, shots, out_dir)
        slave.drive("clipboard set Copied on the Slave")
        print("back on the master: pointer at %s" % (cross_back(master),))
        wait_until(lambda: master.drive.json("clipboard get") == "Copied on the Slave", 10,
                   "the clipboard text on the Master")
        print("clipboard text copied on the slave is on the master's clipboard: 'Copied on the Slave'")
        print("message boxes: %s" % (boxes or "none"))
        return 0 if not boxes else 1
    finally:
        rig.close()


def monitors_demo(build_dir, out_dir):
    """A Master with two monitors (1280 x 1024, and 1024 x 768 to its right)
    and a Slave to their right: the pointer goes from the first monitor onto
    the second and crosses to the Slave at the second one's right edge.
    Leaves half-size screenshots of the Master's whole desktop, while the
    Slave has control (the notice shows on the first monitor), and of the
    Slave with notepad holding a line typed on the Master."""
    rig = Rig(build_dir)
    try:
        print("Starting a Master with two monitors and a Slave...", flush=True)
        master, slave = rig.add_pcs(("master", "1280x1024+1024x768"), ("slave", "1024x768"))
        monitors = master.desktop()["monitors"]
        print("master's monitors: %s" % monitors, flush=True)
        port = free_port_pair(40000, 60000)
        slave.settings(master=False, position="right", port=port)
        slave.start()
        wait_until(lambda: listening(port) and listening(port + 1), 20, "the Slave to listen")
        master.settings(master=True, position="right", port=port)
        master.start()
        wait_until(lambda: connections_to(port) >= 1 and connections_to(port + 1) >= 1, 20, "both connections")
        with open(os.path.join(rig.root, "notepad.log"), "ab") as log:
            notepad = subprocess.Popen(["wine", "notepad.exe"], cwd=slave.folder, env=slave.env,
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        rig.extra_processes.append(notepad)
        wait_until(lambda: slave.drive.json("window-info Notepad").get("visible"), 60, "notepad on the Slave")
        time.sleep(8.0)  # the splashes are over
        master.put(1270, 500)
        print("pushed right from the first monitor's edge: pointer at %s" % (master.move(40, 0),))
        time.sleep(1.0)

        def crossed():
            master.put(2294, 500)
            master.move(40, 0)
            try:
                return wait_until(lambda: master.cursor()[0] < 100, 1.0, "the crossing")
            except RigError:
                return None

        wait_until(crossed, 20, "the crossing at the second monitor's right edge")
        print("crossed at the second monitor's right edge: slave pointer at %s" % (slave.cursor(),))
        master.move(300, 200)
        time.sleep(1.0)
        master.drive("type Typed on the Master, past its second monitor.", timeout=60)
        time.sleep(2.0)
        os.makedirs(out_dir, exist_ok=True)
        shots = {"monitors-master": master.screenshot(os.path.join(out_dir, "monitors-master.png")),
                 "monitors-slave": slave.screenshot(os.path.join(out_dir, "monitors-slave.png"))}
        # The X server draws no monitor borders: the Master's are outlined.
        outline = ["-stroke", "gray50", "-strokewidth", "2"]
        for i, (left, top, right, bottom) in enumerate(monitors, 1):
            outline += ["-fill", "none", "-draw", "rectangle %d,%d %d,%d" % (left + 1, top + 1, right - 2, bottom - 2),
                        "-fill", "gray60", "-draw", "text %d,%d 'monitor %d: %d x %d'" % (left + 40, (top + bottom) // 2, i,
                                                                        right - left, bottom - top)]
        subprocess.run(["convert", shots["monitors-master"], "-font", "DejaVu-Sans", "-pointsize", "28"] + outline +
                       [shots["monitors-master"]], check=True, timeout=30)
        for name, path in sorted(shots.items()):
            subprocess.run(["convert", path, "-resize", "50%", "-colors", "64", path], check=True, timeout=30)
            print("screenshot %s: %s" % (name, path))
        return 0 if not master.boxes() + slave.boxes() else 1
    finally:
        rig.close()


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["demo", "monitors"])
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--out", default="out", help="where the screenshots go")
    arguments = parser.parse_args()
    raise SystemExit((monitors_demo if arguments.command == "monitors" else demo)(arguments.build, arguments.out))
