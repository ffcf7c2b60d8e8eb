"""The benchmark: every figure of the program beside the floor that the same
machine reaches in the same run with a minimal program of the same mechanism,
as a ratio. Runs on the two-PC rig (tests/system/rig.py): a Master at
1280x1024 and a Slave at 1024x768, each a Wine prefix on a display of its own.

    python3 bench/bench.py --build BUILD/windows [--only NAMES] [--results FILE]

The "linux" section adds a Linux PC to the rig (an Xvfb display of 1024x768)
and measures the Linux program as the Master's Slave beside the Windows
Slave and beside bench/xfloor, a bare receiver that injects through XTest;
it needs --linux-build, the native build folder (unix/skiprail,
tests/tools/xwatch, bench/xfloor).

The "linuxclip" section times 40 MB of files and a 3840 x 2160 picture
from the Windows Master to the Linux Slave and back, beside the same between
the two Windows PCs (also --linux-build).

The "linuxmaster" section puts a second Linux PC on the rig as the Master
of the Linux Slave: keys typed through XTest on its display until xwatch on
the Slave has them, beside the same keys from the Windows Master in the
same run, and the Master's idle CPU while linked (also --linux-build).

The "slowlink" section runs on a second rig whose PCs are hosts of their own,
joined through a relay that holds every chunk 2 ms each way
(tests/system/relay.py): both programs, then the floor programs, through it.

bench/srbench.exe plays the partner, injects and records inside a PC's
prefix; bench/floor.exe is the floor. Prints each figure as it is measured
and writes the table to the results file (Markdown).
"""

import argparse
import datetime
import difflib
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "system"))

from rig import (Rig, connections_to, cross_back, cross_sideways, free_port_pair, listening, screen_of,  # noqa: E402
                 wait_following, wait_linked, wait_until, wine_loader)

NOTES_HEADING = "## Notes"
SECTIONS = ["slave", "master", "flood", "crossing", "e2e", "pointer", "idle", "clipboard", "files", "linkkey", "desk",
            "hotkeys", "slowlink", "linux", "linuxclip", "linuxmaster", "wayland"]
# The link key the "linkkey" section gives both sides.
LINK_KEY = "K7QF-2MXD-9PZR-4TWA-3HNB-6YCE"
PACKET_SIZE = 56
# The "slowlink" section's relay (tests/system/relay.py) and how long it holds each chunk, each way.
RELAY = os.path.join(HERE, "..", "tests", "system", "relay.py")
SLOW_HOLD_MS = 2.0
# The "desk" section's Slaves: the side of the Master each stands on, and the
# settings' number for it (ScreenPosN); every one next to the Master.
DESK = (("right", 1), ("left", 0), ("above", 2))


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100))]


class Figure:
    """One line of the results: median and 99th percentile beside the floor's."""

    def __init__(self, section, what, unit, value, p99=None, floor=None, floor_p99=None, target=None,
                 met=None, note=""):
        self.section, self.what, self.unit = section, what, unit
        self.value, self.p99, self.floor, self.floor_p99 = value, p99, floor, floor_p99
        self.target, self.met, self.note = target, met, note

    def ratio(self):
        return self.value / self.floor if self.floor else None

    def cells(self):
        def number(v):
            if v is None:
                return ""
            return "%.2f" % v if abs(v) < 100 else "%.0f" % v
        ratio = self.ratio()
        p99_ratio = self.p99 / self.floor_p99 if self.p99 is not None and self.floor_p99 else None
        return [self.what, "%s %s" % (number(self.value), self.unit), number(self.p99),
                number(self.floor), number(self.floor_p99),
                ("%.2f" % ratio if ratio is not None else "") + (" / %.2f" % p99_ratio if p99_ratio else ""),
                self.target or "", "" if self.met is None else ("met" if self.met else "NOT MET"), self.note]


def combine_runs(passes):
    """One figure per line of the table from several runs of it: the run whose
    ratio to its floor (or, without a floor, whose value) is the median of
    them all, its note saying every run's value and the spread, the largest
    less the smallest as a share of the median."""
    combined = []
    for figure in passes[0]:
        runs = [f for figures in passes for f in figures if f.what == figure.what and f.section == figure.section]
        valid = [f for f in runs if f.value == f.value]  # not NaN
        if len(runs) < 2 or not valid:
            combined.append(figure)
            continue
        by_ratio = all(f.ratio() is not None for f in valid)
        key = (lambda f: f.ratio()) if by_ratio else (lambda f: f.value)
        ordered = sorted(valid, key=key)
        middle = ordered[(len(ordered) - 1) // 2]
        values = [key(f) for f in ordered]
        median = statistics.median(values)
        spread = (values[-1] - values[0]) / abs(median) * 100 if median else 0.0
        shown = ", ".join("%.3g" % v for v in values)
        what = "ratios" if by_ratio else "values"
        note = "%d runs, %s %s, spread %.0f%%" % (len(runs), what, shown, spread)
        if len(valid) < len(runs):
            note += " (%d failed)" % (len(runs) - len(valid))
        combined.append(Figure(middle.section, middle.what, middle.unit, middle.value, middle.p99, middle.floor,
                               middle.floor_p99, middle.target, middle.met,
                               note + ("; " + middle.note if middle.note else "")))
    return combined


class Bench:
    def __init__(self, build, sections, linux_build=None):
        self.build = os.path.abspath(build)
        self.linux_build = linux_build and os.path.abspath(linux_build)
        self.linux = None  # the Linux PC, made at first use
        self.tools = os.path.join(self.build, "bench")
        self.sections = sections
        self.figures = []
        self.rigs = []
        self.master = self.slave = None
        if any(name != "slowlink" for name in sections):
            self.rig = Rig(self.build)
            self.rigs.append(self.rig)
            print("Starting two PCs (making the Wine prefixes takes a while)...", flush=True)
            self.master, self.slave = self.rig.add_pcs(("master", "1280x1024"), ("slave", "1024x768"))
        self.floors = {}

    # ---- processes in a PC's prefix

    def spawn(self, pc, exe, *args, key=None):
        """A tool in pc's prefix; with key, srbench speaks the protected link."""
        path = os.path.join(self.tools, exe)
        env = dict(pc.env, SRBENCH_LINK_KEY=key) if key else pc.env
        return subprocess.Popen(pc.cmd([wine_loader(path), path] + [str(a) for a in args]),
                                cwd=self.tools, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, start_new_session=True)

    @staticmethod
    def wait_ready(process, timeout=60):
        line = []
        reader = threading.Thread(target=lambda: line.append(process.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        if not line or line[0].strip() not in ("ready", "unfocused"):
            raise RuntimeError("tool did not start: %r" % (line,))
        return line[0].strip()

    @staticmethod
    def result(process, timeout=300):
        try:
            out, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            out, _ = process.communicate()
        lines = [l for l in out.splitlines() if l.startswith("{")]
        if not lines:
            raise RuntimeError("tool gave no result (code %s)" % process.returncode)
        data = json.loads(lines[-1])
        if "error" in data:
            # Every error the tool printed: the first says what went wrong.
            raise RuntimeError("; ".join(json.loads(l).get("error", "") for l in lines if '"error"' in l))
        return data

    def end(self, process):
        if process.poll() is None:
            process.kill()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            pass

    def end_programs(self):
        if self.master is None:  # a run of the slow link alone has no PCs on the loopback
            return
        for pc in (self.master, self.slave):
            pc.kill()
            try:
                pc.dismiss_boxes()
            except Exception as error:  # a slow driver costs the boxes, not the run
                print("   (%s: %s)" % (pc.name, error), flush=True)
        # A program or floor ended while it confined the pointer leaves it so.
        subprocess.run(self.master.cmd(["wine", os.path.join(self.tools, "srbench.exe"), "unclip"]),
                       env=self.master.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def start_program(self, pc, master, port, partner="127.0.0.1", key=None):
        pc.settings(master=master, position="right", partner=partner, port=port)
        if key:
            pc.drive("linkkey-store " + key)
        pc.start()

    # ---- reporting

    def add(self, figure):
        self.figures.append(figure)
        self.print_figure(figure)

    @staticmethod
    def print_figure(figure):
        cells = figure.cells()
        line = "%-44s %12s  p99 %-8s floor %-8s p99 %-8s ratio %-12s %s %s" % tuple(cells[:8])
        print(re.sub(r"\s+$", "", line) + ("  (%s)" % figure.note if figure.note else ""), flush=True)

    def latency(self, section, what, samples_us, floor_us=None, target=None, limit=None, note=""):
        value = statistics.median(samples_us) / 1000
        p99 = percentile(samples_us, 99) / 1000
        floor = statistics.median(floor_us) / 1000 if floor_us else None
        floor_p99 = percentile(floor_us, 99) / 1000 if floor_us else None
        met = None
        if limit is not None and floor:
            met = value / floor <= limit
        self.add(Figure(section, what, "ms", value, p99, floor, floor_p99, target, met, note))

    # ---- 1. the Slave's path

    def measure_slave_path(self, start_a, start_b, kind, n, key=None):
        """The two Slaves (program and floor) answer in turn, sample by sample."""
        port_a, port_b = free_port_pair(), free_port_pair()
        tool = self.spawn(self.slave, "srbench.exe", "slave-path", port_a, port_b, n, kind, key=key)
        self.wait_ready(tool)
        others = [start_a(port_a), start_b(port_b)]
        try:
            result = self.result(tool)
            return result["a"], result["b"]
        finally:
            for other in others:
                if other is not None:
                    self.end(other)
            self.end_programs()

    def end_after(self, other):
        """Ends what a measurement started: a floor process, or the programs."""
        if other is None:
            self.end_programs()
        else:
            self.end(other)

    def program_slave(self, port):
        self.start_program(self.slave, False, port)
        return None

    def section_slave(self, n=1000):
        pc = self.slave
        for kind in ("move", "key"):
            ours, floor = self.measure_slave_path(self.program_slave,
                                                  lambda port: self.spawn(pc, "floor.exe", "slave", port), kind, n)
            self.floors["slave-" + kind] = floor
            self.latency("slave", "Slave: PKT_INPUT (%s) until its READY" % kind, ours, floor, "<= 1.2x", 1.2)

    # ---- 2. the Master's path

    def measure_master_path(self, start, kind, n, cross, key=None):
        port = free_port_pair()
        tool = self.spawn(self.master, "srbench.exe", "master-path", port, n, kind, 1 if cross else 0, key=key)
        self.wait_ready(tool)
        other = start(port)
        try:
            return self.result(tool)["us"]
        finally:
            self.end_after(other)

    def section_master(self, n=1000, rounds=2):
        pc = self.master
        for kind in ("move", "key"):
            ours, floor, posted = [], [], []
            for _ in range(rounds):  # in turns, so the machine's noise falls on both alike
                ours += self.measure_master_path(lambda port: self.start_program(pc, True, port), kind,
                                                 n // rounds, True)
                floor += self.measure_master_path(lambda port: self.spawn(pc, "floor.exe", "master", port), kind,
                                                  n // rounds, False)
                posted += self.measure_master_path(lambda port: self.spawn(pc, "floor.exe", "master-posted", port),
                                                   kind, n // rounds, False)
            self.floors["master-" + kind] = floor
            # The floor sends from the hook; a hook thread that posts to the
            # window, as the program's must, has a floor of its own beside it.
            self.latency("master", "Master: injected %s until its packet is in" % kind, ours, floor, "<= 1.2x",
                         1.2, "hook thread posting to the window: %.2f ms, ours %.2fx that"
                         % (statistics.median(posted) / 1000, statistics.median(ours) / statistics.median(posted)))

    # ---- 7. flood

    def measure_flood(self, start, n, kind, key=None):
        port = free_port_pair()
        tool = self.spawn(self.slave, "srbench.exe", "flood", port, n, kind, key=key)
        self.wait_ready(tool)
        other = start(port)
        try:
            return self.result(tool, timeout=600)
        finally:
            self.end_after(other)

    def section_flood(self):
        for n, kind, what in ((100000, "ready", "100,000 READY from the partner, then a PKT_INPUT: until its READY"),
                              (10000, "move", "10,000 PKT_INPUT moves: until the last READY")):
            ours = self.measure_flood(self.program_slave, n, kind)
            floor = self.measure_flood(lambda port: self.spawn(self.slave, "floor.exe", "slave", port), n, kind)
            value, floor_value = ours["answered_us"] / 1000, floor["answered_us"] / 1000
            self.add(Figure("flood", "Flood: " + what, "ms", value, None, floor_value, None,
                            "about the time it took to arrive", None,
                            "writing them took %.0f ms (floor %.0f ms)" % (ours["written_us"] / 1000,
                                                                          floor["written_us"] / 1000)))

    # ---- 8. crossings

    def measure_crossing(self, start, n):
        port = free_port_pair()
        tool = self.spawn(self.master, "srbench.exe", "crossing", port, n)
        self.wait_ready(tool)
        other = start(port)
        try:
            return self.result(tool, timeout=300)
        finally:
            self.end_after(other)

    def section_crossing(self, n=20, rounds=2):
        pc = self.master
        ours, floor = {"enter_us": [], "leave_us": []}, {"enter_us": [], "leave_us": []}
        for _ in range(rounds):
            for into, start in ((ours, lambda port: self.start_program(pc, True, port)),
                                (floor, lambda port: self.spawn(pc, "floor.exe", "crossing", port, 1024, 768))):
                got = self.measure_crossing(start, n // rounds)
                for key in into:
                    into[key] += got[key]
        self.latency("crossing", "Crossing: move over the edge until PKT_ENTER", ours["enter_us"],
                     floor["enter_us"])
        self.latency("crossing", "Crossing back: move until the pointer is free", ours["leave_us"],
                     floor["leave_us"])

    # ---- the programs linked on the rig, control on the Slave

    def link_remote(self, key=None):
        port = free_port_pair()
        self.start_program(self.slave, False, port, key=key)
        wait_until(lambda: self.slave.running(), 10, "the Slave")
        self.start_program(self.master, True, port, key=key)
        wait_linked(self.master, self.slave, timeout=60)
        target = self.master.move(300, 200)
        wait_following(self.master, self.slave, target)
        return port

    # ---- 3. end to end

    def type_and_record(self, paced, burst, pace_us=10000, slave=None, linux=None):
        """Typed on the Master, recorded by a focused window of the Slave's:
        srbench's, or xwatch's on a Linux PC."""
        if linux is None:
            recorder = self.spawn(slave or self.slave, "srbench.exe", "record", paced + burst, 240)
            if self.wait_ready(recorder) != "ready":
                raise RuntimeError("the recorder could not take the focus")
        else:
            linux.watch.clear()
        phases = []
        for n, pace in ((paced, pace_us), (burst, 0)):
            if n:
                typist = self.spawn(self.master, "srbench.exe", "type", n, pace)
                phases.append(self.result(typist, timeout=240)["down_us"])
                time.sleep(1.0)
            else:
                phases.append([])
        keys = self.result(recorder, timeout=300)["keys"] if linux is None else self.watched_keys(linux, paced + burst)
        if os.environ.get("BENCH_DUMP"):
            with open(os.environ["BENCH_DUMP"], "a") as dump:
                json.dump({"phases": phases, "keys": keys}, dump)
                dump.write("\n")
        # Each phase's keys by when they arrived; matched in order against what was typed.
        burst_start = phases[1][0] if phases[1] else float("inf")
        result = {"latency": [], "rate": 0, "lost": 0, "doubled": 0, "burst_s": float("nan")}
        for phase, typed in enumerate(phases):
            downs = [(vk, t) for vk, up, t in keys if not up and (t >= burst_start) == (phase == 1)]
            expected = [ord("A") + i % 26 for i in range(len(typed))]
            matcher = difflib.SequenceMatcher(None, expected, [vk for vk, _ in downs], autojunk=False)
            matched = sum(block.size for block in matcher.get_matching_blocks())
            result["lost"] += len(expected) - matched
            result["doubled"] += len(downs) - matched
            if phase == 0:
                for block in matcher.get_matching_blocks():
                    for k in range(block.size):
                        result["latency"].append(downs[block.b + k][1] - typed[block.a + k])
            elif downs:
                result["burst_s"] = (downs[-1][1] - burst_start) / 1e6
                result["rate"] = matched / result["burst_s"]
        return result

    @staticmethod
    def watched_keys(linux, n):
        """The keys xwatch got, as srbench's recorder gives them ([vk, up,
        t]), once n have gone down and none came for 0.5 s, or none for 5 s."""
        def downs():
            return sum(1 for e in linux.watch.events if e["down"])

        seen = [downs(), time.monotonic()]

        def quiet():
            if downs() != seen[0]:
                seen[:] = [downs(), time.monotonic()]
            return time.monotonic() - seen[1] > (0.5 if seen[0] >= n else 5)

        wait_until(quiet, 300, "the keys on the Linux PC", interval=0.1)
        return [[ord(e["sym"].upper()) if len(e["sym"]) == 1 else 0, 0 if e["down"] else 1, e["t"]]
                for e in linux.watch.events if e["ev"] == "key"]

    def type_to_floor(self, master_mode, paced, burst):
        """Types to the floor Slave linked with the floor Master of that mode."""
        port = free_port_pair()
        floor_slave = self.spawn(self.slave, "floor.exe", "slave", port, "listen")
        time.sleep(2)
        floor_master = self.spawn(self.master, "floor.exe", master_mode, port)
        time.sleep(2)
        try:
            return self.type_and_record(paced, burst)
        finally:
            self.end(floor_master)
            self.end(floor_slave)

    def section_e2e(self, paced=int(os.environ.get("BENCH_PACED", 1000)), burst=int(os.environ.get("BENCH_BURST", 1000))):
        self.link_remote()
        ours = self.type_and_record(paced, burst)
        self.end_programs()
        floor = self.type_to_floor("master", paced, burst)
        # The same two minimal programs with the handshake: one packet at a
        # time, the Master's hook thread posting to its window, as the
        # program does. Its burst is the most a stop-and-wait link of this
        # mechanism carries here.
        handshake = self.type_to_floor("master-handshake", 50, burst)
        # The ping-pong between two minimal programs.
        pingpong, _ = self.measure_slave_path(lambda p: self.spawn(self.slave, "floor.exe", "echo", p),
                                              lambda p: self.spawn(self.slave, "floor.exe", "echo", p), "move", 500)
        parts = [statistics.median(self.floors[k]) for k in ("master-key", "slave-key") if k in self.floors]
        composite = sum(parts) + statistics.median(pingpong) if len(parts) == 2 else None
        value = statistics.median(ours["latency"]) / 1000 if ours["latency"] else float("nan")
        paced_note = "%d keystrokes typed 10 ms apart, then %d as fast as SendInput goes" % (paced, burst)
        # The tail beside the tail of the two floor programs linked, typed to in the same run.
        p99 = percentile(ours["latency"], 99) / 1000 if ours["latency"] else None
        floor_p99 = percentile(floor["latency"], 99) / 1000 if floor["latency"] else None
        met = None
        if composite and ours["latency"]:
            met = value / (composite / 1000) <= 1.2 and (floor_p99 is None or p99 <= 3 * floor_p99)
        self.add(Figure("e2e", "End to end: key typed until it arrives (paced)", "ms", value, p99,
                        composite / 1000 if composite else None, floor_p99, "<= 1.2x, p99 <= 3x", met,
                        "floor: Master + Slave floors + ping-pong %.2f ms; the two floor programs linked: %.2f ms, "
                        "p99 %.2f ms" % (statistics.median(pingpong) / 1000,
                                         statistics.median(floor["latency"]) / 1000 if floor["latency"] else float("nan"),
                                         floor_p99 if floor_p99 is not None else float("nan"))))
        self.add(Figure("e2e", "End to end: keys per second in a burst", "keys/s", ours["rate"], None,
                        floor["rate"], None, ">= 2/3 of floor",
                        ours["rate"] >= floor["rate"] * 2 / 3 if floor["rate"] else None,
                        "keys that arrived, per second; floor: the floor programs linked, no handshake; "
                        "with the handshake %.0f keys/s, ours %.2fx that (lost %d, doubled %d)"
                        % (handshake["rate"], ours["rate"] / handshake["rate"] if handshake["rate"] else float("nan"),
                           handshake["lost"], handshake["doubled"])))
        self.add(Figure("e2e", "End to end: keys lost / doubled of %d" % (paced + burst), "keys",
                        ours["lost"] + ours["doubled"], None, None, None, "0", ours["lost"] + ours["doubled"] == 0,
                        "lost %d, doubled %d (floor: lost %d, doubled %d)"
                        % (ours["lost"], ours["doubled"], floor["lost"], floor["doubled"])))
        self.end_programs()

    # ---- 4. pointer

    def control_bytes(self, port):
        """Bytes received so far by the Slave's end of the control connection
        (the established socket whose local port is `port`)."""
        lines = subprocess.run(["ss", "-tinH", "state", "established"], capture_output=True,
                               text=True).stdout.splitlines()
        total = 0
        for address, info in zip(lines[::2], lines[1::2]):
            fields = address.split()
            if len(fields) >= 4 and fields[2].rsplit(":", 1)[-1] == str(port):
                found = re.search(r"bytes_received:(\d+)", info)
                total += int(found.group(1)) if found else 0
        return total

    def move_and_log(self, seconds, rate=1000, slave=None):
        log = self.spawn(slave or self.slave, "srbench.exe", "cursor-log", seconds + 4)
        self.wait_ready(log)
        mover = self.spawn(self.master, "srbench.exe", "move-path", seconds * rate, rate)
        moved = self.result(mover, timeout=seconds + 120)
        logged = self.result(log, timeout=seconds + 120)["log"]
        return moved, logged

    def section_pointer(self, seconds=10, rate=1000):
        port = self.link_remote()
        before = self.control_bytes(port)
        started = time.monotonic()
        moved, logged = self.move_and_log(seconds, rate)
        elapsed = time.monotonic() - started
        packets = (self.control_bytes(port) - before) / PACKET_SIZE
        time.sleep(1.0)
        rest = self.slave.cursor()
        last = tuple(moved["points"][-1])
        error = max(abs(rest[0] - last[0]), abs(rest[1] - last[1]))
        lags = self.pointer_lags(moved, logged)
        first, end = moved["at_us"][0], moved["at_us"][-1]
        injected = len(moved["points"]) / ((end - first) / 1e6)
        self.add(Figure("pointer", "Pointer: packets per second while moving", "pkt/s", packets / elapsed, None,
                        None, None, None, None, "%.0f moves per second injected on the Master" % injected))
        if lags:
            self.latency("pointer", "Pointer: lag behind the Master's point", lags,
                         note="%d positions of the Slave's pointer" % len(lags))
        self.add(Figure("pointer", "Pointer: resting error after the movement", "px", error, None, None, None,
                        "0", error == 0, "Slave at %s, Master's last point %s" % (rest, last)))
        self.end_programs()

    @staticmethod
    def pointer_lags(moved, logged):
        """For each position the Slave's pointer took, the time since the
        Master's pointer was last there (us)."""
        times = {}
        for (x, y), t in zip(moved["points"], moved["at_us"]):
            times.setdefault((x, y), []).append(t)
        lags = []
        first, end = moved["at_us"][0], moved["at_us"][-1]
        for x, y, t in logged:
            if not first <= t <= end + 1e6:
                continue
            visits = times.get((x, y), [])
            earlier = [m for m in visits if m <= t]
            later = [m for m in visits if m > t]
            # A move is stamped once SendInput returns, and the Slave may be
            # there a little before: nearer that visit than one a lap before.
            if later and (not earlier or later[0] - t < t - earlier[-1]):
                lags.append(0.0)
            elif earlier:
                lags.append(t - earlier[-1])
        return lags

    # ---- 6. idle

    @staticmethod
    def cpu_seconds(pid):
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    @staticmethod
    def rss_mb(pid):
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
        return 0

    @staticmethod
    def program_pid(pc):
        """The program's own process (wine starts it as a process of its own)."""
        from rig import _processes_with_prefix
        for pid in _processes_with_prefix(pc.prefix):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
                    if cmdline.read().split(b"\0")[0].lower().endswith(b"skiprail.exe"):
                        return pid
            except OSError:
                pass
        raise RuntimeError("no skiprail.exe process on %s" % pc.name)

    def section_idle(self, seconds=60):
        self.link_remote()
        # Back on the Master: linked and idle.
        from rig import cross_back
        cross_back(self.master)
        pcs = (self.master, self.slave)
        pids = [self.program_pid(pc) for pc in pcs]
        time.sleep(2)
        cpu0 = [self.cpu_seconds(p) for p in pids]
        mem0 = [self.rss_mb(p) for p in pids]
        time.sleep(seconds)
        cpu1 = [self.cpu_seconds(p) for p in pids]
        mem1 = [self.rss_mb(p) for p in pids]
        for pc, a, b, m0, m1 in zip(pcs, cpu0, cpu1, mem0, mem1):
            per_minute = (b - a) * 60 / seconds
            self.add(Figure("idle", "Idle, linked: %s CPU seconds per minute" % pc.name, "s", per_minute, None,
                            None, None, "< 0.05", per_minute < 0.05, "memory %.1f MB" % m1))
        # Moving, control on the Slave.
        from rig import wait_crossing
        wait_crossing(self.master)
        time.sleep(1)
        cpu0 = [self.cpu_seconds(p) for p in pids]
        mem0 = [self.rss_mb(p) for p in pids]
        mover = self.spawn(self.master, "srbench.exe", "move-path", seconds * 1000, 1000)
        # The first 40 s touch what the movement needs once (the hook
        # library's ring of 32,768 records, 1.75 MB, is full after 33 s at
        # 1000 events per second); the rest must add nothing.
        time.sleep(seconds * 2 / 3)
        mem_half = [self.rss_mb(p) for p in pids]
        self.result(mover, timeout=seconds + 120)
        cpu1 = [self.cpu_seconds(p) for p in pids]
        mem1 = [self.rss_mb(p) for p in pids]
        for pc, a, b, m0, mh, m1 in zip(pcs, cpu0, cpu1, mem0, mem_half, mem1):
            per_minute = (b - a) * 60 / seconds
            self.add(Figure("idle", "Moving 1000/s: %s CPU seconds per minute" % pc.name, "s", per_minute, None,
                            None, None, "memory must not grow", m1 - mh <= 0.1,
                            "memory %.1f MB before, %.1f MB after 40 s, %.1f MB at the end" % (m0, mh, m1)))
        self.end_programs()

    # ---- 5. clipboard

    def wine_path(self, path):
        return "Z:" + path.replace("/", "\\")

    def clipboard_leg(self, source, target, direction, size, wait=None):
        """The pointer pushed across on `source`; until `target`'s clipboard
        holds the text (or what `wait`, srbench's waiting mode and its
        arguments, waits for)."""
        waiter = self.spawn(target, "srbench.exe", *(wait or ("clip-wait", size)), 60)
        self.wait_ready(waiter)
        pushed = self.result(self.spawn(self.master, "srbench.exe", "push", direction), timeout=60)["at_us"]
        try:
            arrived = self.result(waiter, timeout=90)["at_us"]
        except RuntimeError as error:
            # What each side holds and shows tells a transfer lost from one never made.
            seen = ["%s: clipboard %s, boxes %s" % (pc.name, pc.drive("clipboard sum"), pc.box_texts())
                    for pc in (source, target)]
            raise RuntimeError("%s (%s)" % (error, "; ".join(seen))) from None
        return (arrived - pushed) / 1000

    def clipboard_text(self, size):
        text_file = os.path.join(self.rig.root, "clipboard.txt")
        line = b"The quick brown fox jumps over the lazy dog 0123456789.\r\n"
        with open(text_file, "wb") as out:
            out.write((line * (size // len(line) + 1))[:size])
        return text_file

    def clipboard_rounds(self, text_file, size, rounds, key=None):
        """Linked programs (with the key, if any): the text there and back, in ms per round."""
        self.link_remote(key)
        from rig import cross_back
        cross_back(self.master)
        ours = []
        for _ in range(rounds):
            self.result(self.spawn(self.master, "srbench.exe", "clip-set", self.wine_path(text_file)))
            there = self.clipboard_leg(self.master, self.slave, "right", size)
            # The Master's clipboard now holds something else, so the text's
            # return is seen.
            self.result(self.spawn(self.master, "srbench.exe", "clip-set", "x"))
            time.sleep(0.5)
            back = self.clipboard_leg(self.slave, self.master, "left", size)
            ours.append(there + back)
            time.sleep(0.5)
        self.end_programs()
        return ours

    def section_clipboard(self, size=4999995, rounds=3):
        text_file = self.clipboard_text(size)
        ours = self.clipboard_rounds(text_file, size, rounds)
        floor = []
        for _ in range(rounds):
            total = 0
            for source, target in ((self.master, self.slave), (self.slave, self.master)):
                port = free_port_pair()
                receiver = self.spawn(target, "floor.exe", "clipboard-receive", port)
                self.wait_ready(receiver)
                self.result(self.spawn(source, "srbench.exe", "clip-set", self.wine_path(text_file)))
                total += self.result(self.spawn(source, "floor.exe", "clipboard-send", port,
                                                self.wine_path(text_file)), timeout=120)["ms"]
                self.end(receiver)
            floor.append(total)
        value, floor_value = statistics.median(ours), statistics.median(floor)
        self.add(Figure("clipboard", "Clipboard: %s bytes there and back" % format(size, ","), "ms", value,
                        max(ours), floor_value, max(floor), "<= 2x", value / floor_value <= 2,
                        "median of %d rounds; p99 column: the slowest" % rounds))
        self.section_picture(rounds=rounds)

    def section_picture(self, width=2560, height=1440, rounds=3):
        """A screenshot's picture (32 bits) from the crossing until it is on
        the partner's clipboard, each way."""
        self.link_remote()
        from rig import cross_back
        cross_back(self.master)
        legs = []
        wait = ("clip-wait-picture", width, height)
        for _ in range(rounds):
            self.result(self.spawn(self.master, "srbench.exe", "clip-picture", width, height))
            legs.append(self.clipboard_leg(self.master, self.slave, "right", 0, wait))
            self.result(self.spawn(self.master, "srbench.exe", "clip-set", "x"))
            time.sleep(0.5)
            legs.append(self.clipboard_leg(self.slave, self.master, "left", 0, wait))
            time.sleep(0.5)
        self.end_programs()
        # Whether the system's own codec would make the picture smaller here.
        probe = self.result(self.spawn(self.master, "srbench.exe", "compress", width, height))
        value = statistics.median(legs)
        self.add(Figure("clipboard", "Clipboard: a %d x %d picture at 32 bits (%s bytes), one way" % (
            width, height, format(40 + width * height * 4, ",")), "ms", value, max(legs), None, None, "<= 1000 ms",
            max(legs) <= 1000, "median of %d legs, both ways; p99 column: the slowest; the system's LZNT1 makes "
            "a page of text %s bytes in %.1f ms, noise %s bytes" % (
                len(legs), format(probe["page"]["packed"], ","), probe["page"]["compress_ms"],
                format(probe["noise"]["packed"], ","))))

    # ---- files on the clipboard

    @staticmethod
    def connection_bytes(port):
        """Bytes sent so far both ways on the loopback connection to `port` (both ends are listed)."""
        out = subprocess.run(["ss", "-tinH", "state", "established", "( sport = :%d or dport = :%d )" % (port, port)],
                             capture_output=True, text=True).stdout
        return sum(int(v) - 1 for v in re.findall(r"bytes_acked:(\d+)", out))  # less the SYN's one

    def section_files(self, count=1000, total=1 << 30, rounds=3):
        """1 GB in 1,000 files from the crossing until they are on the
        partner's clipboard, beside the same files copied over a plain socket;
        the receiver's memory meanwhile. Then a crossing that finds a 33 MB
        picture unchanged on the clipboard, in bytes on the clipboard connection."""
        from rig import cross_back, make_files, wait_crossing
        folder = os.path.join(self.rig.root, "files", "many")
        if not os.path.isdir(folder):
            make_files(os.path.dirname(folder), {"many/%04d.bin" % i: total // count for i in range(count)})
        # The last run's picture would cross at the linking crossing and stay
        # in the Slave's memory as its clipboard: both emptied first.
        for pc in (self.master, self.slave):
            pc.drive("clipboard empty")
        port = self.link_remote()
        cross_back(self.master)
        pid = self.program_pid(self.slave)
        before = self.rss_mb(pid)
        ours, floor, peaks, last = [], [], [], None
        for _ in range(rounds):
            self.master.drive("clipboard files 1 " + self.wine_path(folder))
            peak, started = [0.0], time.monotonic()
            wait_crossing(self.master)

            def arrived():
                peak[0] = max(peak[0], self.rss_mb(pid))
                dropped = self.slave.drive.json("clipboard dropped")
                return dropped if dropped and "\\Skiprail\\" in dropped["files"][0] and dropped != last else None

            dropped = last = wait_until(arrived, 300, "the files on the Slave's clipboard", interval=0.01)
            ours.append((time.monotonic() - started) * 1000)
            peaks.append(peak[0])
            landed = self.slave.unix_path(dropped["files"][0])
            if sum(os.path.getsize(os.path.join(landed, f)) for f in os.listdir(landed)) != total // count * count:
                raise RuntimeError("the files arrived with another size")
            shutil.rmtree(os.path.dirname(landed))
            cross_back(self.master)
            time.sleep(0.5)
            copy = os.path.join(self.rig.root, "files", "copy")
            floor_port = free_port_pair()
            receiver = self.spawn(self.slave, "floor.exe", "files-receive", floor_port, self.wine_path(copy))
            self.wait_ready(receiver)
            floor.append(self.result(self.spawn(self.master, "floor.exe", "files-send", floor_port,
                                                self.wine_path(folder)), timeout=300)["ms"])
            self.end(receiver)
            shutil.rmtree(copy)
        # One more round with the hand on the Slave meanwhile: a step each
        # time, until the Slave's pointer stands where the Master's went.
        self.master.drive("clipboard files 1 " + self.wine_path(folder))
        wait_crossing(self.master)
        lags, step = [], -5
        while True:
            landed = arrived()
            if landed:
                break
            step = -step
            target, moved = self.master.move(step, 0), time.monotonic()
            wait_until(lambda: self.slave.cursor() == target, 10, "the Slave's pointer at %s" % (target,), 0.001)
            lags.append((time.monotonic() - moved) * 1000)
        shutil.rmtree(os.path.dirname(self.slave.unix_path(landed["files"][0])))
        cross_back(self.master)
        value, floor_value = statistics.median(ours), statistics.median(floor)
        self.add(Figure("files", "Files: 1 GB in 1,000 files, crossing until on the partner's clipboard", "ms", value,
                        max(ours), floor_value, max(floor), "<= 1.3x", value / floor_value <= 1.3,
                        "median of %d rounds; p99 column: the slowest; floor: the files over a plain socket, read "
                        "and written in 256 KB pieces" % rounds))
        self.add(Figure("files", "Files: the receiver's memory during them, at most", "MB", max(peaks), None, None, None,
                        "< 64 MB", max(peaks) < 64, "the program's resident set, sampled every 10 ms; "
                        "%.1f MB before the first" % before))
        self.add(Figure("files", "Files: a step of the pointer until the Slave shows it, meanwhile", "ms",
                        statistics.median(lags), max(lags), None, None, None, None,
                        "%d steps; p99 column: the slowest; read back through srdrive" % len(lags)))
        # A 3840 x 2160 picture crosses once; the crossings after it find it unchanged.
        self.master.drive("clipboard picture 3840 2160 32")
        picture = self.master.drive("clipboard hash 8")
        wait_crossing(self.master)
        wait_until(lambda: self.slave.drive("clipboard hash 8") == picture, 30, "the picture on the Slave")
        sent = []
        for cross in (cross_back, wait_crossing, cross_back):
            before = self.connection_bytes(port + 1)
            cross(self.master)
            time.sleep(1)
            sent.append(self.connection_bytes(port + 1) - before)
        self.add(Figure("files", "Unchanged 33 MB picture: bytes on the clipboard connection per crossing, at most",
                        "B", max(sent), None, None, None, "< 1 KB", max(sent) < 1024,
                        "crossings back, there and back: %s" % ", ".join(str(b) for b in sent)))
        self.end_programs()

    # ---- 9. the protected link: each path with a link key beside the same without

    @staticmethod
    def turns(turn, plain, protected):
        """Without a key and with one, in alternating order from turn to turn."""
        pairs = ((None, plain), (LINK_KEY, protected))
        return pairs if turn % 2 == 0 else pairs[::-1]

    def section_linkkey(self, n=1000, rounds=4, clipboard_rounds=10, size=4999995):
        def keyed(what, plain, protected, target=1.10):
            value, floor = statistics.median(protected), statistics.median(plain)
            self.add(Figure("linkkey", what + ", with a link key", "ms", value, percentile(protected, 99)
                            if len(protected) > 3 else max(protected), floor,
                            percentile(plain, 99) if len(plain) > 3 else max(plain), "<= %.2fx" % target,
                            value / floor <= target, "floor column: the same without a key, in turns"))

        for kind in ("move", "key"):
            plain, protected = [], []
            for turn in range(rounds):  # in turns, each first every other time, so noise falls on both alike
                for key, into in self.turns(turn, plain, protected):
                    ours, _ = self.measure_slave_path(
                        lambda port, key=key: self.start_program(self.slave, False, port, key=key),
                        lambda port: self.spawn(self.slave, "floor.exe", "slave", port), kind, n // rounds, key)
                    into += ours
            keyed("Slave: PKT_INPUT (%s) until its READY" % kind, [v / 1000 for v in plain],
                  [v / 1000 for v in protected])
        for kind in ("move", "key"):
            plain, protected = [], []
            for turn in range(rounds):
                for key, into in self.turns(turn, plain, protected):
                    into += self.measure_master_path(
                        lambda port, key=key: self.start_program(self.master, True, port, key=key), kind,
                        n // rounds, True, key)
            keyed("Master: injected %s until its packet is in" % kind, [v / 1000 for v in plain],
                  [v / 1000 for v in protected])
        text_file = self.clipboard_text(size)
        plain, protected = [], []
        for turn in range(clipboard_rounds):
            for key, into in self.turns(turn, plain, protected):
                into += self.clipboard_rounds(text_file, size, 1, key)
        keyed("Clipboard: %s bytes there and back" % format(size, ","), plain, protected)
        # The cipher's own work on that transfer, each way sealed once and opened once.
        costs = [self.result(self.spawn(self.master, "srbench.exe", "cipher", size)) for _ in range(3)]
        cipher = 2 * statistics.median(c["seal_ms"] + c["open_ms"] for c in costs)
        self.add(Figure("linkkey", "Cipher alone: %s bytes sealed and opened, there and back" % format(size, ","),
                        "ms", cipher, note="%.0f %% of the same transfer without a key; median of 3"
                        % (100 * cipher / statistics.median(plain))))

    # ---- 10. a desk: the Master with three Slaves beside the same with one

    def desk_slaves(self):
        if not hasattr(self, "more_slaves"):
            print("   (making two more Slaves)", flush=True)
            self.more_slaves = self.rig.add_pcs(("slave2", "1024x768"), ("slave3", "1024x768"))
        return [self.slave] + self.more_slaves

    def end_desk(self):
        for pc in self.more_slaves:
            pc.kill()
            try:
                pc.dismiss_boxes()
            except Exception as error:
                print("   (%s: %s)" % (pc.name, error), flush=True)
        self.end_programs()

    def link_desk(self, count):
        """The Slaves started, each on a port pair of its own, then the Master
        with the first `count` of them on its desk."""
        slaves, ports = self.desk_slaves()[:count], []
        while len(ports) < count:
            port = free_port_pair()
            if all(abs(port - p) > 1 for p in ports):
                ports.append(port)
        for pc, port in zip(slaves, ports):
            self.start_program(pc, False, port)
        wait_until(lambda: all(pc.running() for pc in slaves), 10, "the Slaves")
        self.master.settings(master=True, position="right", partner="127.0.0.1", port=ports[0])
        for n, port, (_, place) in zip(range(2, count + 1), ports[1:], DESK[1:]):
            for name, kind, value in (("SRPartner", "sz", "127.0.0.1"), ("SRPort", "sz", port),
                                      ("ScreenPos", "dword", place), ("SRNextTo", "dword", 0)):
                self.master.drive("regset %s%d %s %s" % (name, n, kind, value))
        self.master.start()
        return slaves

    def desk_cross(self, slave, side, back=False):
        """Control to `slave` across the Master's `side` edge, its pointer then
        at (300, 200); or, with back, from it to the Master again."""
        master, (width, height) = self.master, screen_of(self.master)
        dx, dy = {"right": (1, 0), "left": (-1, 0), "above": (0, -1)}[side]
        local = "0 0 %d %d" % (width, height)
        if back:
            x, y = master.move(-dx, -dy)  # a fresh reading (see PC.cursor)
            far = screen_of(slave)
            master.move(-dx * ((x if dx > 0 else far[0] - x) + 10), -dy * (far[1] - y + 10))
            wait_until(lambda: master.drive("clip") == local, 5, "the return to the Master")
            return

        def crossed():
            if master.drive("clip") != local:
                return True
            master.put(width // 2 + dx * (width // 2 - 10), height // 2 + dy * (height // 2 - 10))
            master.move(40 * dx, 40 * dy)
            return None

        wait_until(crossed, 60, "control to %s" % slave.name, interval=0.5)
        # The Master's own pointer at the entry point ends the crossing (see the README's note on the rig).
        wait_until(lambda: master.cursor() == slave.cursor(), 5, "both pointers at the entry point")
        x, y = master.move(-dx, -dy)
        wait_following(master, slave, master.move(300 - x, 200 - y))

    def desk_round(self, count, paced, seconds, idle):
        """Each Slave of a desk of `count` given control in turn, typed to and
        moved on; then back on the Master, idle."""
        got = {"keys": [], "lags": [], "lost": 0}
        try:
            slaves = self.link_desk(count)
            for slave, (side, _) in zip(slaves, DESK):
                self.desk_cross(slave, side)
                typed = self.type_and_record(paced, 50, slave=slave)
                got["keys"].append(typed["latency"])
                got["lost"] += typed["lost"] + typed["doubled"]
                got["lags"].append(self.pointer_lags(*self.move_and_log(seconds, slave=slave)))
                self.desk_cross(slave, side, back=True)
            pid = self.program_pid(self.master)
            time.sleep(2)
            cpu = self.cpu_seconds(pid)
            time.sleep(idle)
            got["cpu"] = (self.cpu_seconds(pid) - cpu) * 60 / idle
            got["rss"] = self.rss_mb(pid)
        finally:
            self.end_desk()
        return got

    def section_desk(self, paced=500, seconds=10, idle=60):
        self.desk_turn = getattr(self, "desk_turn", -1) + 1
        counts = (1, 3) if self.desk_turn % 2 == 0 else (3, 1)  # each first every other run
        rounds = {count: self.desk_round(count, paced, seconds, idle) for count in counts}
        one, three = rounds[1], rounds[3]
        note = "floor column: one Slave linked, in turns; %s"
        for i, (side, _) in enumerate(DESK):
            self.latency("desk", "Desk of three: key typed until it arrives on Slave %d (paced)" % (i + 1),
                         three["keys"][i], one["keys"][0], "<= 1.1x", 1.1,
                         note % ("Slave %d on the Master's %s; keys lost or doubled, all three: %d, one: %d"
                                 % (i + 1, "top" if side == "above" else side, three["lost"], one["lost"])))
        for i, (side, _) in enumerate(DESK):
            self.latency("desk", "Desk of three: pointer lag on Slave %d at 1,000 moves/s" % (i + 1),
                         three["lags"][i], one["lags"][0], "unchanged",
                         note=note % ("%d positions" % len(three["lags"][i])))
        self.add(Figure("desk", "Desk of three: Master idle, CPU seconds per minute", "s", three["cpu"], None,
                        one["cpu"], None, "< 0.05", three["cpu"] < 0.05, note % ("%d s" % idle)))
        self.add(Figure("desk", "Desk of three: Master's memory (RSS)", "MB", three["rss"], None, one["rss"],
                        None, "<= 1.2x", three["rss"] <= 1.2 * one["rss"], note % "at the end of the idle minute"))

    # ---- the keys that move control

    def section_hotkeys(self, n=40, keys=500, rounds=2):
        pc = self.master
        edge, chord = [], []
        for _ in range(rounds):  # in turns, so the machine's noise falls on both alike
            for into, how in ((edge, "edge"), (chord, "key")):
                port = free_port_pair()
                tool = self.spawn(pc, "srbench.exe", "first-key", port, n // rounds, how)
                self.wait_ready(tool)
                self.start_program(pc, True, port)
                try:
                    into += self.result(tool)["us"]
                finally:
                    self.end_programs()
        self.latency("hotkeys", "Hotkey switch: control taken, a key typed at once, until its packet is in",
                     chord, edge, "<= 1.0x", 1.0, "floor column: the same after a push across the edge")
        # The hook's cost per key, with the hotkeys on (the defaults) and off.
        on, off = [], []
        for _ in range(rounds):
            for into, hotkeys in ((on, True), (off, False)):
                def start(port, hotkeys=hotkeys):
                    pc.settings(master=True, position="right", port=port)
                    if not hotkeys:
                        for name in ("SRKeyMaster", "SRKeySlave1", "SRKeySlave2", "SRKeySlave3", "SRKeySlave4",
                                     "SRKeyLock"):
                            pc.drive("regset %s dword 0" % name)
                    pc.start()
                into += self.measure_master_path(start, "key", keys // rounds, True)
        self.latency("hotkeys", "Hotkeys on: injected key until its packet is in", on, off, "within noise",
                     note="floor column: every hotkey off")

    # ---- a slow link: both PCs hosts of their own, through a relay that holds every chunk

    def slow_pcs(self):
        """The networked rig's Master and Slave, made at first use."""
        if not hasattr(self, "slow_rig"):
            print("   (making two PCs on hosts of their own)", flush=True)
            self.slow_rig = Rig(self.build, network=True)
            self.rigs.append(self.slow_rig)
            self.slow_master, self.slow_slave = self.slow_rig.add_pcs(("master", "1280x1024"), ("slave", "1024x768"))
        return self.slow_master, self.slow_slave

    def slow_typing(self, taps, burst, typist):
        """A tap every 5 ms, a burst, a typist's tap every 30 ms, each to a recorder of its own."""
        return (self.type_and_record(taps, 0, 5000), self.type_and_record(0, burst),
                self.type_and_record(typist, 0, 30000))

    def section_slowlink(self, taps=300, burst=1000, typist=100, seconds=10):
        loopback = self.master, self.slave
        self.master, self.slave = self.slow_pcs()
        rig, relay = self.slow_rig, None
        try:
            port = free_port_pair()
            relay = rig.relay(self.master, self.slave, port, SLOW_HOLD_MS)
            echo = subprocess.Popen(self.slave.cmd([sys.executable, RELAY, "echo", str(port)]), stdout=subprocess.PIPE,
                                    text=True)
            rig.extra_processes.append(echo)
            echo.stdout.readline()
            pinged = subprocess.run(self.master.cmd([sys.executable, RELAY, "ping", relay.master_side, str(port),
                                                     "500"]), capture_output=True, text=True, timeout=60)
            self.end(echo)
            rtt = json.loads(pinged.stdout)["us"]
            one_way = statistics.median(rtt) / 2000
            self.latency("slowlink", "Slow link: 56-byte echo round trip through the relay", rtt,
                         note="each chunk held %.1f ms each way" % SLOW_HOLD_MS)
            # The two programs through it.
            self.start_program(self.slave, False, port, partner=relay.slave_side)
            self.start_program(self.master, True, port, partner=relay.master_side)
            wait_linked(self.master, self.slave, timeout=60)
            wait_following(self.master, self.slave, self.master.move(300, 200))
            relay.reset()
            ours = self.slow_typing(taps, burst, typist)
            flight = relay.stats()["most"]
            lags = self.pointer_lags(*self.move_and_log(seconds))
            self.end_programs()
            relay.close()
            # The floor programs through a relay of their own: a bare hook that
            # sends each key as it comes, a bare replayer.
            port = free_port_pair()
            relay = rig.relay(self.master, self.slave, port, SLOW_HOLD_MS)
            floor_slave = self.spawn(self.slave, "floor.exe", "slave", port, "listen")
            time.sleep(2)
            floor_master = self.spawn(self.master, "floor.exe", "master", port, relay.master_side)
            time.sleep(2)
            try:
                floor = self.slow_typing(taps, burst, typist)
                floor_flight = relay.stats()["most"]
            finally:
                self.end(floor_master)
                self.end(floor_slave)
        finally:
            if relay:
                relay.close()
            self.end_programs()
            self.master, self.slave = loopback

        def keyed(what, ours, floor, target=None, limit=None):
            value, p99 = statistics.median(ours["latency"]) / 1000, percentile(ours["latency"], 99) / 1000
            floor_value, floor_p99 = (statistics.median(floor["latency"]) / 1000,
                                      percentile(floor["latency"], 99) / 1000)
            met = value <= limit * floor_value and p99 <= 2 * floor_p99 if limit else None
            self.add(Figure("slowlink", what, "ms", value, p99, floor_value, floor_p99, target, met,
                            "lost %d, doubled %d (floor: %d, %d)" % (ours["lost"], ours["doubled"], floor["lost"],
                                                                   floor["doubled"])))

        keyed("Slow link: a tap every 5 ms, key typed until it arrives", ours[0], floor[0], "<= 1.2x, p99 <= 2x", 1.2)
        whole = ours[1]["lost"] + ours[1]["doubled"] == 0
        self.add(Figure("slowlink", "Slow link: %s taps at once, until the last arrives" % format(burst, ","), "s",
                        ours[1]["burst_s"], None, floor[1]["burst_s"], None, "<= 1.5x, all, in order",
                        whole and ours[1]["burst_s"] <= 1.5 * floor[1]["burst_s"],
                        "lost %d, doubled %d (floor: %d, %d); packets in flight at most, all typing: %d (floor: %d)"
                        % (ours[1]["lost"], ours[1]["doubled"], floor[1]["lost"], floor[1]["doubled"], flight,
                           floor_flight)))
        keyed("Slow link: a typist, a tap every 30 ms, key typed until it arrives", ours[2], floor[2])
        self.add(Figure("slowlink", "Slow link: pointer lag at 1,000 moves/s", "ms", statistics.median(lags) / 1000,
                        percentile(lags, 99) / 1000, one_way, None, "<= one way + 1 ms",
                        statistics.median(lags) / 1000 <= one_way + 1,
                        "floor column: one way, half the echo's round trip; %d positions" % len(lags)))

    # ---- the Linux Slave: the Linux program beside the Windows Slave and beside xfloor

    def linux_pc(self):
        if self.linux is None:
            if not self.linux_build:
                raise RuntimeError("the Linux Slave needs --linux-build, the native build folder")
            self.rig.linux_build = os.path.abspath(self.linux_build)
            self.linux, = self.rig.add_pcs(("linux", "1024x768", "linux"))
        return self.linux

    def link_linux(self, start, linux=None):
        """The Master linked with what start(port) starts on the Linux PC (or
        on `linux`), control on it; returns what start returned."""
        linux, port = linux or self.linux_pc(), free_port_pair()
        started = start(port)
        wait_until(lambda: listening(port) and listening(port + 1), 10, "the Linux Slave to listen")
        self.start_program(self.master, True, port)
        wait_until(lambda: connections_to(port) >= 1 and connections_to(port + 1) >= 1, 30, "both connections")
        cross_sideways(self.master, linux, "right")
        wait_following(self.master, linux, self.master.move(150, 100))
        return started

    def start_xfloor(self, port):
        floor = subprocess.Popen([os.path.join(self.linux_build, "bench", "xfloor"), str(port)], env=self.linux.env,
                                 stdout=subprocess.PIPE, text=True, start_new_session=True)
        self.wait_ready(floor)
        return floor

    def section_linux(self, paced=int(os.environ.get("BENCH_PACED", 1000)), burst=1000, idle=60):
        linux = self.linux_pc()
        args = ("--slave", "--partner", "127.0.0.1", "--position", "right", "--port")
        self.link_linux(lambda port: linux.start(*args, port))
        try:
            ours = self.type_and_record(paced, burst, linux=linux)
            cross_back(self.master)
            time.sleep(2)
            pid = linux.process.pid
            used = self.cpu_seconds(pid)
            time.sleep(idle)
            used = self.cpu_seconds(pid) - used
            cpu = used * 60 / idle
            rss = self.rss_mb(pid)
        finally:
            linux.stop()
            self.end_programs()
        floor_process = self.link_linux(self.start_xfloor)
        try:
            floor = self.type_and_record(paced, burst, linux=linux)
        finally:
            self.end(floor_process)
            self.end_programs()
        self.link_remote()
        windows = self.type_and_record(paced, 0)
        self.end_programs()

        def ms(samples, p=None):
            return (percentile(samples, p) if p else statistics.median(samples)) / 1000 if samples else float("nan")

        self.latency("linux", "Linux Slave: key typed on the Master until the X program has it (paced)",
                     ours["latency"], floor["latency"], "<= 1.2x", 1.2,
                     "floor: xfloor, a bare XTest receiver, under the same Master; the Windows Slave: %.2f ms, "
                     "p99 %.2f ms" % (ms(windows["latency"]), ms(windows["latency"], 99)))
        whole = ours["lost"] + ours["doubled"] == 0
        self.add(Figure("linux", "Linux Slave: %s keys at once, until the last arrives" % format(burst, ","), "s",
                        ours["burst_s"], None, floor["burst_s"], None, "all, in order", whole,
                        "lost %d, doubled %d (xfloor: lost %d, doubled %d), all typing"
                        % (ours["lost"], ours["doubled"], floor["lost"], floor["doubled"])))
        self.add(Figure("linux", "Linux Slave: idle, linked, CPU seconds per minute", "s", cpu, None, None, None,
                        "< 0.05", cpu < 0.05, "%.3f CPU seconds in %d s, control back on the Master" % (used, idle)))
        self.add(Figure("linux", "Linux Slave: resident memory after it all", "MB", rss, None, None, None, None, None,
                        "VmRSS of skiprail at the end of the idle minute"))

    # ---- a Linux PC as the Master

    @staticmethod
    def xtest_typist(display):
        """Types through XTest on a display, each key down at a time read on
        xwatch's clock (CLOCK_MONOTONIC_RAW, in microseconds)."""
        import ctypes
        import ctypes.util
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        dpy = x11.XOpenDisplay(display.encode())

        def type_keys(n, pace_us):
            downs = []
            for i in range(n):
                downs.append(time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1e6)
                xtst.XTestFakeKeyEvent(dpy, 38, 1, 0)  # A, by its place
                x11.XFlush(dpy)
                xtst.XTestFakeKeyEvent(dpy, 38, 0, 0)
                x11.XFlush(dpy)
                time.sleep(pace_us / 1e6)
            return downs

        return type_keys, lambda: x11.XCloseDisplay(dpy)

    @staticmethod
    def matched_latency(downs, keys):
        """Each key typed against the n-th key down that arrived, in ms order."""
        arrived = [k[2] for k in keys if k[1] == 0]
        return [a - d for d, a in zip(downs, arrived)], len(downs) - len(arrived)

    def section_linuxmaster(self, n=int(os.environ.get("BENCH_PACED", 1000)), idle=60):
        from rig import wait_until as until
        linux = self.linux_pc()
        if getattr(self, "lead", None) is None:
            self.lead, = self.rig.add_pcs(("lead", "1024x768", "linux"))
        lead, port = self.lead, free_port_pair()
        linux.start("--slave", "--partner", "127.0.0.1", "--position", "right", "--port", port)
        until(lambda: listening(port) and listening(port + 1), 10, "the Linux Slave to listen")
        lead.start("--master", "--partner", "127.0.0.1", "--position", "right", "--port", port)
        type_keys, close = self.xtest_typist(lead.display)
        try:
            until(lambda: "linked with" in lead.said(), 30, "the Linux Master linked")
            until(lambda: "desktop: 1024x768" in lead.said(), 10, "the Slave's size")
            subprocess.run(["xdotool", "mousemove", "1023", "384"], env=dict(os.environ, DISPLAY=lead.display),
                           check=True, timeout=20)
            until(lambda: "entered Slave 1" in lead.said(), 10, "control on the Slave")
            linux.watch("focus")
            linux.watch.clear()
            downs = type_keys(n, 10000)
            latency, lost = self.matched_latency(downs, self.watched_keys(linux, n))
            subprocess.run(["xdotool", "key", "ctrl+alt+shift+F1"], env=dict(os.environ, DISPLAY=lead.display),
                           check=True, timeout=20)
            time.sleep(2)
            pid = lead.process.pid
            used = self.cpu_seconds(pid)
            time.sleep(idle)
            cpu = (self.cpu_seconds(pid) - used) * 60 / idle
        finally:
            close()
            lead.stop()
            linux.stop()
            self.end_programs()
        # The same keys from the Windows Master to the same Slave, now.
        args = ("--slave", "--partner", "127.0.0.1", "--position", "right", "--port")
        self.link_linux(lambda p: linux.start(*args, p))
        try:
            windows = self.type_and_record(n, 0, linux=linux)
        finally:
            linux.stop()
            self.end_programs()

        def ms(samples, p=None):
            return (percentile(samples, p) if p else statistics.median(samples)) / 1000 if samples else float("nan")

        self.latency("linuxmaster", "Linux Master: key typed (XTest) until the Linux Slave's X program has it (paced)",
                     latency, None, None, None,
                     "%d of %d keys lost; the Windows Master to the same Slave: %.2f ms, p99 %.2f ms"
                     % (lost, n, ms(windows["latency"]), ms(windows["latency"], 99)))
        self.add(Figure("linuxmaster", "Linux Master: idle, linked, CPU seconds per minute", "s", cpu, None, None, None,
                        "< 0.05", cpu < 0.05, "control back on the Master, one Slave linked"))

    # ---- pictures and files between Windows and Linux (issue 46), beside Windows and Windows

    def clip_round(self, rounds, there, back):
        """`rounds` times: a crossing to the Slave until there() holds, then
        back until back() holds; each leg in ms from the push on the Master's
        side (srdrive's move, read on this host's clock) to what a paste sees."""
        from rig import cross_back, wait_crossing
        legs_there, legs_back = [], []
        for _ in range(rounds):
            prepare, check = there()
            started = time.monotonic()
            wait_crossing(self.master)
            wait_until(check, 120, "the Slave's clipboard", interval=0.005)
            legs_there.append((time.monotonic() - started) * 1000)
            prepare, check = back()
            started = time.monotonic()
            cross_back(self.master)
            wait_until(check, 120, "the Master's clipboard", interval=0.005)
            legs_back.append((time.monotonic() - started) * 1000)
            time.sleep(0.3)
        return legs_there, legs_back

    def section_linuxclip(self, width=3840, height=2160, rounds=3):
        from rig import cross_back, make_files
        folder = os.path.join(self.rig.root, "files", "forty")
        if not os.path.isdir(folder):
            make_files(os.path.dirname(folder), {"forty/%02d.bin" % i: 1 << 20 for i in range(40)})
        linux = self.linux_pc()
        master = self.master
        state = {}

        def dropped(pc):
            got = pc.drive.json("clipboard dropped")
            return got if got and "\\Skiprail\\" in got["files"][0] and got != state.get("last") else None

        def files_linux():
            master.drive("clipboard files 1 " + self.wine_path(folder))
            state["log"] = len(linux.said())
            return None, lambda: "files and folders" in linux.said()[state["log"]:] and linux.clipboard_bytes(
                "x-special/gnome-copied-files")

        def files_linux_back():
            listed = linux.clipboard_bytes("x-special/gnome-copied-files")
            linux.clipboard_set(listed, "x-special/gnome-copied-files")  # as a file manager copies them
            return None, lambda: dropped(master) and state.update(last=dropped(master)) is None

        def picture_linux():
            master.drive("clipboard picture %d %d 32" % (width, height))
            state["log"] = len(linux.said())

            def pasted():
                if "picture" not in linux.said()[state["log"]:]:
                    return None
                state["png"] = linux.clipboard_bytes("image/png")
                return state["png"]
            return None, pasted

        def picture_linux_back():
            linux.clipboard_set(state["png"], "image/png")  # as an image viewer copies it
            master.drive("clipboard empty")
            return None, lambda: master.drive("clipboard hash 17").split()[0] != "0"

        results = {}
        args = ("--slave", "--partner", "127.0.0.1", "--position", "right", "--port")
        self.link_linux(lambda port: linux.start(*args, port))
        try:
            cross_back(master)
            results["files linux"] = self.clip_round(rounds, files_linux, files_linux_back)
            results["picture linux"] = self.clip_round(rounds, picture_linux, picture_linux_back)
            png_size = len(state["png"])
        finally:
            linux.stop()
            self.end_programs()

        slave = self.slave

        def files_windows():
            master.drive("clipboard files 1 " + self.wine_path(folder))
            return None, lambda: dropped(slave) and state.update(last=dropped(slave)) is None

        def files_windows_back():
            slave.drive("clipboard files 1 " + "|".join(state["last"]["files"]))
            return None, lambda: dropped(master) and state.update(last=dropped(master)) is None

        def picture_windows():
            master.drive("clipboard picture %d %d 32" % (width, height))
            state["hash"] = master.drive("clipboard hash 8")
            return None, lambda: slave.drive("clipboard hash 8") == state["hash"]

        def picture_windows_back():
            slave.drive("clipboard picture %d %d 32" % (width, height))
            master.drive("clipboard empty")
            return None, lambda: master.drive("clipboard hash 8") == state["hash"]

        self.link_remote()
        try:
            cross_back(master)
            results["files windows"] = self.clip_round(rounds, files_windows, files_windows_back)
            results["picture windows"] = self.clip_round(rounds, picture_windows, picture_windows_back)
        finally:
            self.end_programs()
        for what, label in (("files", "40 MB in 40 files"), ("picture", "a %d x %d picture at 32 bits" % (width, height))):
            for leg, direction in ((0, "Windows to Linux"), (1, "Linux to Windows")):
                ours = results[what + " linux"][leg]
                windows = results[what + " windows"][leg]
                note = "median of %d; p99 column: the slowest; floor column: the same between the two Windows PCs" % len(ours)
                if what == "picture":
                    note += "; on Linux a PNG of %s bytes, made when first pasted" % format(png_size, ",")
                self.add(Figure("linuxclip", "Linux Slave: %s, %s, crossing until a paste has it" % (label, direction),
                                "ms", statistics.median(ours), max(ours), statistics.median(windows), max(windows),
                                None, None, note))
    def section_wayland(self, paced=int(os.environ.get("BENCH_PACED", 1000)), burst=1000, idle=60):
        """The Linux Slave in a Wayland session, headless sway and headless
        mutter (tests/system/wayland_pc.py), beside the X Slave in the same run."""
        from wayland_pc import GnomePC, SwayPC
        args = ("--slave", "--partner", "127.0.0.1", "--position", "right", "--port")
        x11 = self.linux_pc()
        self.link_linux(lambda port: x11.start(*args, port))
        try:
            x = self.type_and_record(paced, 0, linux=x11)
        finally:
            x11.stop()
            self.end_programs()
        for pc_class in (SwayPC, GnomePC):
            self.rig.linux_build = os.path.abspath(self.linux_build)
            pc, = self.rig.add_pcs((pc_class.desktop, "1024x768", pc_class))
            try:
                self.link_linux(lambda port: pc.start(*args, port), pc)
                try:
                    ours = self.type_and_record(paced, burst, linux=pc)
                    cross_back(self.master)
                    time.sleep(2)
                    used = self.cpu_seconds(pc.process.pid)
                    time.sleep(idle)
                    cpu = (self.cpu_seconds(pc.process.pid) - used) * 60 / idle
                finally:
                    pc.stop()
                    self.end_programs()
            finally:
                self.rig.pcs.remove(pc)
                pc.close()
            name = "Wayland Slave (%s)" % ("sway" if pc_class is SwayPC else "GNOME, mutter")
            self.latency("wayland", name + ": key typed on the Master until the Wayland program has it (paced)",
                         ours["latency"], x["latency"], None, None,
                         "beside it (the floor column): the X Slave on Xvfb in the same run")
            self.add(Figure("wayland", name + ": %s keys at once, until the last arrives" % format(burst, ","), "s",
                            ours["burst_s"], None, None, None, "all, in order", ours["lost"] + ours["doubled"] == 0,
                            "lost %d, doubled %d" % (ours["lost"], ours["doubled"])))
            self.add(Figure("wayland", name + ": idle, linked, CPU seconds per minute", "s", cpu, None, None, None,
                            "< 0.05", cpu < 0.05, "control back on the Master"))

    # ---- running

    def run(self, runs=3):
        """Every section `runs` times over, in turn, so that the machine's
        noise of one moment falls on one run of each; each figure is then the
        median of its runs, with the spread between them."""
        passes = []
        for run in range(runs):
            self.figures = []
            for name in SECTIONS:
                if name not in self.sections:
                    continue
                print("== %s (run %d of %d)" % (name, run + 1, runs), flush=True)
                started = time.monotonic()
                try:
                    getattr(self, "section_" + name)()
                except Exception as error:  # one failed section does not end the run
                    self.add(Figure(name, "%s: failed" % name, "", float("nan"), note=str(error)[:200]))
                    self.end_programs()
                print("   (%.0f s)" % (time.monotonic() - started), flush=True)
            passes.append(self.figures)
        self.figures = combine_runs(passes)
        if runs > 1:
            print("== the median of %d runs, with the spread between them" % runs, flush=True)
            for figure in self.figures:
                self.print_figure(figure)

    def write(self, path):
        cpu = ""
        try:
            with open("/proc/cpuinfo") as info:
                cpu = next(l.split(":", 1)[1].strip() for l in info if l.startswith("model name"))
        except (OSError, StopIteration):
            pass
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
        load = os.getloadavg()
        lines = [
            "# Benchmark results",
            "",
            "Written by `bash scripts/bench.sh` on %s UTC." % datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"),
            "",
            "Machine: %s, %d cores, %s, %s, Linux %s. Load average at the end: %.2f %.2f %.2f."
            % (cpu, os.cpu_count(), wine, "Xvfb", platform.release(), *load),
            "",
            "Each figure is the median (and 99th percentile) of its samples beside the floor: the same",
            "measurement of a minimal program of the same mechanism (bench/floor.cpp), taken in the same run.",
            "Ratio = figure / floor (median / p99). Every section runs several times in turn; each line is",
            "the run whose ratio (or value, without a floor) is the median, and its note gives every run's",
            "and the spread between them (largest less smallest, as a share of the median).",
            "What the benchmark found over time, and what was mended, is under Notes below the table.",
            "",
            "| figure | median | p99 | floor | floor p99 | ratio | target | | note |",
            "|---|---|---|---|---|---|---|---|---|",
        ]
        for figure in self.figures:
            lines.append("| " + " | ".join(c.replace("|", "/") for c in figure.cells()) + " |")
        # The notes below the table are the team's own, kept from run to run.
        notes = ""
        if os.path.exists(path):
            with open(path) as old:
                previous = old.read()
            if NOTES_HEADING in previous:
                notes = "\n" + previous[previous.index(NOTES_HEADING):]
        with open(path, "w") as out:
            out.write("\n".join(lines) + "\n" + notes)

    def close(self):
        for rig in self.rigs:
            rig.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--only", default=",".join(SECTIONS), help="sections: " + ",".join(SECTIONS))
    parser.add_argument("--results", default=None, help="Markdown file for the table")
    parser.add_argument("--runs", type=int, default=3, help="runs of every section; each figure is their median")
    parser.add_argument("--linux-build", default=None, help="the native build folder, for the Linux Slave")
    arguments = parser.parse_args()
    bench = Bench(arguments.build, arguments.only.split(","), arguments.linux_build)
    try:
        bench.run(max(1, arguments.runs))
        if arguments.results:
            bench.write(arguments.results)
            print("results written to %s" % arguments.results)
    finally:
        bench.close()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
