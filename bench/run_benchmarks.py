#!/usr/bin/env python3
"""Measures the built Ringwarden from outside, the way a user runs it.

Starts an X server of its own (Xvfb, with openbox as window manager), a fresh
temporary home folder with the agreement already accepted, and the modem
simulator as COM4, then measures:

  startup  time from exec to the settings window being viewable (fresh home
           folder each time), median of --startups runs
  listen   one listening session: CPU over --cpu-seconds on a quiet line,
           peak memory while listening, the latency from the simulator
           writing RING to the program's ring reaction over --calls calls,
           CPU over --cpu-seconds with the band animating, peak memory after
           ringing
  frame    the frame cost of the animation at 1366, 1920 and 3840 wide
           (bench_visual, Google Benchmark)
  network  two stations on one broker (mosquitto, started here): a station
           with the simulated modem and a station without one (port
           "network"); the time from the modem station's ring reaction to
           the other station's over --calls calls, both stations' memory
           while listening, the network station's CPU on a quiet line, and
           what the home network costs one ring reaction
           (bench_ringreaction, Google Benchmark)
  alwayson an always-on run (ringwarden --listen) through --always-on-calls
           calls, the band clicked away after each: peak memory, resident
           memory and open descriptors before and after, every call's
           reaction, then CPU over --cpu-seconds on a quiet line
  soak     the same run for --soak-minutes, the modem unplugged and plugged
           in again every --unplug-every calls
  (alwayson and soak take most of an hour each at the default 14 s between
  calls; they run only when named in --only)

    bench/run_benchmarks.py [--build DIR] [--quick] [--only startup,listen,frame,network,alwayson,soak]

A full run takes about five minutes; --quick about one and a half. Exit
status: 0 when every goal is met, 3 when a figure misses its goal, 1 when a
measurement could not be made.

The ring reaction is taken from the program's own log line ("ring reaction",
category ringwarden.alert) when the program writes one; otherwise from the X
server: the Alert window's request to come to the front (under a window
manager the above state, asked for at a call's first reaction; on a bare X
server a raise at every reaction), recorded with bench's xwatch tool. When both are there, both
are reported.
"""

import argparse
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

# The poll period of the listening loop and the reaction goal on top of it.
POLL_SECONDS = 2.0
REACTION_GOAL_MS = 150.0


def fail(message):
    print(f"run_benchmarks: {message}", file=sys.stderr)
    sys.exit(1)


class Lines:
    """Reads a child's output on a thread, stamping each line on arrival."""

    def __init__(self, stream, copy_to=None):
        self.lines = []  # (monotonic seconds, text)
        self._lock = threading.Lock()
        self._copy = copy_to
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            now = time.monotonic()
            text = raw.decode("utf-8", "replace").rstrip("\n")
            with self._lock:
                self.lines.append((now, text))
            if self._copy:
                self._copy.write(f"{now:.6f} {text}\n")
                self._copy.flush()

    def snapshot(self):
        with self._lock:
            return list(self.lines)

    def wait_for(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for stamp, text in self.snapshot():
                if predicate(text):
                    return stamp, text
            time.sleep(0.02)
        return None


class Session:
    """Xvfb + openbox, and every child started through it, ended on close."""

    def __init__(self, work, width=1366, height=768):
        self.work = work
        self.children = []
        xvfb = self.start(["Xvfb", "-displayfd", "1", "-screen", "0", f"{width}x{height}x24",
                           "-nolisten", "tcp", "-noreset"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
        self.xvfb = xvfb
        number = xvfb.stdout.readline().decode().strip()
        if not number:
            fail("Xvfb did not start")
        self.display = ":" + number
        self.env = dict(os.environ)
        self.env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        for name in ("QT_LOGGING_RULES", "QT_MESSAGE_PATTERN", "SESSION_MANAGER"):
            self.env.pop(name, None)
        self.start(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
        if not wait_until(lambda: "window id" in self.x(["xprop", "-root",
                                                          "_NET_SUPPORTING_WM_CHECK"]), 10):
            fail("openbox did not start")

    def start(self, command, **kwargs):
        child = subprocess.Popen(command, **kwargs)
        self.children.append(child)
        return child

    def x(self, command, timeout=10):
        try:
            return subprocess.run(command, env=self.env, capture_output=True, text=True,
                                  timeout=timeout).stdout
        except subprocess.TimeoutExpired:
            return ""

    def find_window(self, name, visible=False):
        command = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", name]
        out = self.x(command).split()
        return out[0] if out else None

    def close(self):
        for child in reversed(self.children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()


def wait_until(probe, timeout, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if probe():
            return True
        time.sleep(step)
    return probe()


def fresh_home(parent):
    """A home folder with the agreement accepted, as after a first run."""
    home = tempfile.mkdtemp(prefix="home.", dir=parent)
    env = {
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_RUNTIME_DIR": os.path.join(home, "runtime"),
    }
    config = os.path.join(env["XDG_CONFIG_HOME"], "ringwarden")
    os.makedirs(os.path.join(config, "ports"))
    os.makedirs(env["XDG_DATA_HOME"])
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    with open(os.path.join(config, "ringwarden.conf"), "w") as store:
        store.write("[Software]\nRingwarden\\Eula\\Eula=^\n")
    return env


def cpu_ticks(pid):
    """User + system time of the whole process (all its threads), in ticks."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def memory_kb(pid):
    figures = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                figures[key] = int(value.split()[0])
    return figures


def measure_cpu(pids, seconds):
    """Percent of one core each process used over the next `seconds`."""
    before = {pid: cpu_ticks(pid) for pid in pids}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {pid: 100.0 * (cpu_ticks(pid) - before[pid]) / CLOCK_TICKS / wall for pid in pids}


SUMMARY = []  # (figure, value, met, goal)


def verdict(figure, value, met, goal):
    SUMMARY.append((figure, value, met, goal))


def print_summary():
    if not SUMMARY:
        return
    print("== summary")
    width = max(len(figure) for figure, *_ in SUMMARY)
    for figure, value, met, goal in SUMMARY:
        print(f"   {figure:<{width}}  {value:>14}  {'meets' if met else 'MISSES'} the goal: {goal}")


def percentile_summary(values):
    return statistics.median(values), min(values), max(values)


# --- start-up ---------------------------------------------------------------

def run_startup(args, session, tools):
    print(f"== start-up: exec to the settings window shown, {args.startups} runs, "
          "fresh home folder each", flush=True)
    times = []
    for _ in range(args.startups):
        env = dict(session.env)
        env.update(fresh_home(session.work))
        result = subprocess.run([tools["xwatch"], "shown", "Ringwarden", "--timeout", "30",
                                 "--", tools["ringwarden"]], env=env, capture_output=True,
                                text=True, timeout=60)
        match = re.search(r"^shown ([\d.]+)$", result.stdout, re.M)
        if not match:
            fail("the settings window did not show: " + result.stderr.strip())
        times.append(float(match.group(1)))
    median, low, high = percentile_summary(times)
    verdict("start-up to the settings window (median)", f"{median:.0f} ms", median < 500,
            "under 500 ms")
    print("   runs (ms): " + " ".join(f"{t:.0f}" for t in times))
    print(f"   median {median:.0f} ms, fastest {low:.0f} ms, slowest {high:.0f} ms "
          "(goal: under 500 ms; under 100 ms once the players are lazy)", flush=True)
    return {"startup_ms": times}


# --- listening --------------------------------------------------------------

def read_modem_log(path):
    """(seconds, kind, payload) for each line of the simulator's log."""
    entries = []
    with open(path) as log:
        for line in log:
            parts = line.rstrip("\n").split(" ", 2)
            if len(parts) >= 2:
                entries.append((float(parts[0]), parts[1], parts[2] if len(parts) > 2 else ""))
    return entries


RING_HEX = "52 49 4e 47"  # "RING"
BOOT_TIME = re.compile(r"^\s*(\d+\.\d{3}) ")


def log_reactions(lines):
    """Times of the program's "ring reaction" log lines: their own stamp
    (QT_MESSAGE_PATTERN's %{time boot}, the monotonic clock) when present,
    else when the line arrived."""
    times = []
    for stamp, text in lines:
        if "ring reaction" in text:
            match = BOOT_TIME.match(text)
            times.append(float(match.group(1)) if match else stamp)
    return times


def first_after(times, start, end):
    later = [t for t in times if start <= t < end]
    return min(later) if later else None


def latency_summary(name, short, latencies, judged=True):
    values = [v for v in latencies if v is not None]
    if not values:
        print(f"   {name}: no reactions seen")
        return None
    median, low, high = percentile_summary(values)
    missed = len(latencies) - len(values)
    bound = POLL_SECONDS * 1000 + REACTION_GOAL_MS
    if judged:
        verdict(f"ring latency, {short} (median / worst)", f"{median:.0f} / {high:.0f} ms",
                high <= bound and not missed, f"worst within {bound:.0f} ms, no call missed")
    print(f"   {name}: {len(values)} calls, median {median:.0f} ms, best {low:.0f} ms, "
          f"worst {high:.0f} ms (bound: {bound:.0f} ms = {POLL_SECONDS * 1000:.0f} ms poll + "
          f"{REACTION_GOAL_MS:.0f} ms)"
          + (f", {missed} calls without a reaction" if missed else ""))
    print("   per call (ms): " + " ".join("-" if v is None else f"{v:.0f}" for v in latencies))
    return {"median": median, "best": low, "worst": high, "all": latencies}


def screenshot(session, path):
    if shutil.which("xwd") and shutil.which("convert"):
        shot = subprocess.run(["xwd", "-root", "-display", session.display], capture_output=True)
        subprocess.run(["convert", "xwd:-", path], input=shot.stdout)


def run_listen(args, session, tools):
    work = tempfile.mkdtemp(prefix="listen.", dir=session.work)
    env = dict(session.env)
    env.update(fresh_home(work))
    # Only the alert category: one line per reaction, nothing while quiet.
    env["QT_LOGGING_RULES"] = "ringwarden.alert=true"
    env["QT_MESSAGE_PATTERN"] = "%{time boot} %{category} %{message}"
    ports = os.path.join(env["XDG_CONFIG_HOME"], "ringwarden", "ports")
    modem_log = os.path.join(work, "modem.log")
    control = os.path.join(work, "control")
    results = {}

    print("== listening session", flush=True)
    modem = session.start([tools["modem-sim"], "--link", os.path.join(ports, "COM4"),
                           "--log", modem_log, "--control", control, "--renew-on-hangup",
                           "--rings", "1"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if not modem.stdout.readline():
        fail("the modem simulator did not start")

    stderr_copy = open(os.path.join(work, "ringwarden.stderr"), "w")
    program = session.start([tools["ringwarden"]], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    program_lines = Lines(program.stderr, stderr_copy)
    if not wait_until(lambda: session.find_window("^Ringwarden$", True) is not None, 20):
        fail("the settings window did not show")
    settings = session.find_window("^Ringwarden$", True)
    session.x(["xdotool", "windowactivate", "--sync", settings])
    session.x(["xdotool", "key", "--delay", "200", "alt+s", "l"])
    alert = None

    def found_alert():
        nonlocal alert
        alert = session.find_window(r"^Activating modem\.\.\.$")
        return alert is not None

    if not wait_until(found_alert, 15):
        fail("Start Listening did not show the Alert window")
    if not wait_until(lambda: session.x(["xdotool", "getwindowname", alert]).strip()
                      == "Listening for calls", 40):
        fail("the Alert window never said it was listening")

    watcher = session.start([tools["xwatch"], "requests", alert], env=session.env,
                            stdout=subprocess.PIPE)
    x_lines = Lines(watcher.stdout, open(os.path.join(work, "xwatch.out"), "w"))
    if not x_lines.wait_for(lambda text: text.endswith(" ready"), 10):
        fail("xwatch could not record the program's requests")
    # Let the set-up's last passes go by.
    time.sleep(4)
    pid = program.pid

    # Quiet line.
    cpu = measure_cpu([pid, session.xvfb.pid], args.cpu_seconds)
    results["cpu_quiet"] = cpu[pid]
    results["mem_listening"] = memory_kb(pid)
    verdict("CPU on a quiet line", f"{cpu[pid]:.2f} %", cpu[pid] < 0.5, "under 0.5 % of a core")
    verdict("peak memory while listening", f"{results['mem_listening']['VmHWM'] / 1024:.1f} MB",
            results["mem_listening"]["VmHWM"] < 80 * 1024, "under 80 MB")
    print(f"   CPU on a quiet line over {args.cpu_seconds:.0f} s: {cpu[pid]:.2f} % of one core "
          f"(goal: under 0.5 %); the X server meanwhile {cpu[session.xvfb.pid]:.2f} %")
    print(f"   memory while listening: VmHWM {results['mem_listening']['VmHWM'] / 1024:.1f} MB, "
          f"VmRSS {results['mem_listening']['VmRSS'] / 1024:.1f} MB (goal: peak under 80 MB)",
          flush=True)

    # Calls, each on a quiet line: after a reaction the next pass (the text
    # emptied) is another one, and two more empty passes go by before the
    # next call, which comes at a random point of the poll period.
    placed = []
    for i in range(args.calls):
        number = f"555{1000 + i:04d}"
        placed.append((time.monotonic(), number))
        with open(control, "w") as fifo:
            fifo.write(f"call {number} CALLER {i + 1}\n")
        time.sleep(3 * POLL_SECONDS + 0.2 + random.uniform(0, POLL_SECONDS))
    time.sleep(2)

    # The simulator's clock against ours: its "call" record follows our write
    # to the control FIFO by a little; the smallest gap comes closest.
    log = read_modem_log(modem_log)
    calls = [(t, payload.split(" ", 1)[1]) for t, kind, payload in log
             if kind == "event" and payload.startswith("call ")]
    sim_call = {number: t for t, number in calls}
    gaps = [sim_call[number] - written for written, number in placed if number in sim_call]
    offset = min(gaps)
    rings = [t - offset for t, kind, payload in log if kind == "tx" and RING_HEX in payload]
    if len(rings) != args.calls:
        fail(f"expected {args.calls} RINGs in the simulator's log, found {len(rings)}")
    if any(kind == "event" and payload == "would-answer" for _, kind, payload in log):
        fail("the modem was made to answer a call")

    # A raise at each reaction on a bare X server; under a window manager
    # (openbox here) the window is put in the above state once a call.
    raise_times = [float(text.split()[0]) for _, text in x_lines.snapshot()
                   if text.endswith(" raise") or text.endswith(" above")]
    log_times = log_reactions(program_lines.snapshot())
    bounds = rings[1:] + [float("inf")]
    x_latency = [None if (r := first_after(raise_times, ring, end)) is None
                 else (r - ring) * 1000 for ring, end in zip(rings, bounds)]
    log_latency = [None if (r := first_after(log_times, ring, end)) is None
                   else (r - ring) * 1000 for ring, end in zip(rings, bounds)]
    print(f"   latency from the simulator's RING to the ring reaction, {args.calls} calls "
          f"(the simulator's clock matched to ours within {(max(gaps) - offset) * 1000:.1f} ms):")
    if log_times:
        results["latency_log"] = latency_summary("from the log line \"ring reaction\"",
                                                 "log line", log_latency)
    else:
        print("   (the program wrote no \"ring reaction\" line: timed from the X server)")
    # Under a window manager the above state is asked for once and held
    # until the call ends: a call placed while the last one still counts
    # brings no request of its own, so the X server's record is only the
    # judge when the program wrote no log line.
    results["latency_x"] = latency_summary(
        "from the Alert window's request to come to the front on the X server", "X front",
        x_latency, judged=not log_times)
    per_call = [sum(1 for t in raise_times if ring <= t < end) for ring, end in zip(rings, bounds)]
    print("   requests to come to the front per call seen on the X server (under openbox one: "
          "the above state, kept until the call ends): " + " ".join(map(str, per_call)))
    print("   the first call's reaction includes making the band window", flush=True)

    # The band is up since the first call and animates on a quiet line.
    band = session.find_window("^Form1$", True)
    if not band:
        fail("the band is not shown after the calls")
    time.sleep(2)
    if args.keep:
        screenshot(session, os.path.join(work, "band.png"))
    cpu = measure_cpu([pid, session.xvfb.pid], args.cpu_seconds)
    results["cpu_animating"] = cpu[pid]
    results["mem_ringing"] = memory_kb(pid)
    verdict("CPU with the band animating", f"{cpu[pid]:.2f} %", cpu[pid] < 5, "under 5 % of a core")
    verdict("peak memory after ringing", f"{results['mem_ringing']['VmHWM'] / 1024:.1f} MB",
            results["mem_ringing"]["VmHWM"] < 80 * 1024, "under 80 MB")
    print(f"   CPU with the band animating over {args.cpu_seconds:.0f} s: {cpu[pid]:.2f} % of "
          f"one core (goal: under 5 %); the X server meanwhile {cpu[session.xvfb.pid]:.2f} %")
    print(f"   memory after ringing: VmHWM {results['mem_ringing']['VmHWM'] / 1024:.1f} MB, "
          f"VmRSS {results['mem_ringing']['VmRSS'] / 1024:.1f} MB (goal: peak under 80 MB)",
          flush=True)

    program.terminate()
    program.wait(10)
    stderr_copy.close()
    return results


# --- always on --------------------------------------------------------------

def open_descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def run_always_on(args, session, tools, calls, minutes=None, unplug_every=None, name="always-on"):
    """One run started as the log-in starts it (--listen): calls placed one
    by one, each band clicked away as soon as it shows, memory and
    descriptors noted before, during and after."""
    work = tempfile.mkdtemp(prefix=name + ".", dir=session.work)
    env = dict(session.env)
    env.update(fresh_home(work))
    env["QT_LOGGING_RULES"] = "ringwarden.alert=true"
    env["QT_MESSAGE_PATTERN"] = "%{time boot} %{category} %{message}"
    link = os.path.join(env["XDG_CONFIG_HOME"], "ringwarden", "ports", "COM4")
    control = os.path.join(work, "control")
    results = {}
    print(f"== {name} run: ringwarden --listen, "
          + (f"{minutes:.0f} minutes" if minutes else f"{calls} calls")
          + f", a call every {args.call_gap:.1f} s, the band clicked away after each"
          + (f", the modem unplugged every {unplug_every} calls" if unplug_every else ""),
          flush=True)

    modem = None

    def plug_in():
        nonlocal modem
        modem = session.start([tools["modem-sim"], "--link", link, "--log",
                               os.path.join(work, "modem.log"), "--control", control,
                               "--renew-on-hangup", "--rings", "1"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if not modem.stdout.readline():
            fail("the modem simulator did not start")

    def unplug():
        modem.terminate()
        modem.wait(10)

    plug_in()
    stderr_copy = open(os.path.join(work, "ringwarden.stderr"), "w")
    program = session.start([tools["ringwarden"], "--listen"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines = Lines(program.stderr, stderr_copy)
    pid = program.pid
    alert = None

    def caption():
        return session.x(["xdotool", "getwindowname", alert]).strip() if alert else ""

    def found_alert():
        nonlocal alert
        alert = session.find_window(r"^(Activating modem\.\.\.|Listening for calls)$")
        return alert is not None

    if not wait_until(found_alert, 20):
        fail("--listen did not show the Alert window")
    if session.find_window("^Ringwarden$", True):
        fail("--listen showed the settings window")
    if not wait_until(lambda: caption() == "Listening for calls", 40):
        fail("the Alert window never said it was listening")
    time.sleep(4)

    def band_shown():
        return session.find_window("^Form1$", True) is not None

    def place_call(number, label):
        """Places one call, clicks its band away; returns whether the band
        came and went and the caption went back."""
        before = len(lines.snapshot())
        with open(control, "w") as fifo:
            fifo.write(f"call {number} {label}\n")
        if not wait_until(band_shown, 3 * POLL_SECONDS + 2, 0.05):
            return False
        # The band's middle, where its picture is.
        session.x(["xdotool", "mousemove", str(1366 // 2), str(768 // 2), "click", "1"])
        gone = wait_until(lambda: not band_shown(), 3, 0.05)
        back = wait_until(lambda: caption() == "Listening for calls", 3, 0.05)
        reacted = any("ring reaction:" in text for _, text in lines.snapshot()[before:])
        return gone and back and reacted

    def figures():
        memory = memory_kb(pid)
        return {"VmHWM": memory["VmHWM"], "VmRSS": memory["VmRSS"], "fds": open_descriptors(pid)}

    # The first call makes the band's window and fonts for good: measured
    # from after it, and also from before.
    first = figures()
    if not place_call("5550000", "WARM UP"):
        fail("the first call was not shown and dismissed")
    time.sleep(args.call_gap)
    before = figures()
    series = [(0, before)]
    missed = []
    unplugs = 0
    start = time.monotonic()
    i = 0
    while (minutes and time.monotonic() - start < minutes * 60) or (not minutes and i < calls):
        i += 1
        if unplug_every and i % unplug_every == 0:
            unplug()
            if not wait_until(lambda: caption().startswith("Modem disconnected"), 10):
                fail("the lost modem was not shown")
            plug_in()
            if not wait_until(lambda: caption() == "Listening for calls", 40):
                fail("listening did not come back after the modem was plugged in again")
            unplugs += 1
        called = time.monotonic()
        if not place_call(f"555{i:04d}", f"CALLER {i}"):
            missed.append(i)
            print(f"   call {i}: not shown or not dismissed (caption {caption()!r})", flush=True)
            # Clear whatever stayed up before the next call.
            if band_shown():
                session.x(["xdotool", "mousemove", "683", "384", "click", "1"])
        if i % 25 == 0:
            series.append((i, figures()))
            print(f"   after {i} calls: " + ", ".join(f"{k} {v}" for k, v in series[-1][1].items()),
                  flush=True)
        time.sleep(max(0.0, args.call_gap - (time.monotonic() - called)))
    after = figures()
    reactions = sum(1 for _, text in lines.snapshot() if "ring reaction:" in text)
    if program.poll() is not None:
        fail(f"the program ended during the run (status {program.returncode})")

    cpu = measure_cpu([pid, session.xvfb.pid], args.cpu_seconds)
    grew = (after["VmHWM"] - before["VmHWM"]) / 1024
    grew_rss = (after["VmRSS"] - before["VmRSS"]) / 1024
    results.update(calls=i, missed=missed, unplugs=unplugs, first=first, before=before,
                   after=after, cpu_quiet=cpu[pid], series=series)
    verdict(f"{name}: calls shown and dismissed", f"{i - len(missed)} of {i}", not missed,
            "every call")
    verdict(f"{name}: peak memory growth", f"{grew:+.2f} MB", grew < 1.0, "under 1 MB")
    verdict(f"{name}: open descriptors", f"{before['fds']} -> {after['fds']}",
            after["fds"] <= before["fds"], "flat")
    verdict(f"{name}: CPU on a quiet line", f"{cpu[pid]:.3f} %", cpu[pid] < 0.1,
            "under 0.1 % of a core")
    print(f"   {i} calls ({unplugs} with the modem unplugged and back before them), "
          f"{reactions} ring reactions in all, {len(missed)} calls missed"
          + (f": {missed}" if missed else ""))
    print(f"   before the first call: VmHWM {first['VmHWM'] / 1024:.1f} MB, VmRSS "
          f"{first['VmRSS'] / 1024:.1f} MB, {first['fds']} descriptors")
    print(f"   after the first call:  VmHWM {before['VmHWM'] / 1024:.1f} MB, VmRSS "
          f"{before['VmRSS'] / 1024:.1f} MB, {before['fds']} descriptors")
    print(f"   after the last call:   VmHWM {after['VmHWM'] / 1024:.1f} MB, VmRSS "
          f"{after['VmRSS'] / 1024:.1f} MB, {after['fds']} descriptors")
    print(f"   growth over the calls: VmHWM {grew:+.2f} MB, VmRSS {grew_rss:+.2f} MB, "
          f"descriptors {after['fds'] - before['fds']:+d} (goal: under 1 MB, flat)")
    print(f"   CPU on a quiet line over {args.cpu_seconds:.0f} s: {cpu[pid]:.3f} % of one core "
          f"(goal: under 0.1 %); the X server meanwhile {cpu[session.xvfb.pid]:.3f} %", flush=True)
    with open(os.path.join(work, "series.txt"), "w") as out:
        for n, f in series + [(i, after)]:
            out.write(f"{n} {f['VmHWM']} {f['VmRSS']} {f['fds']}\n")

    program.terminate()
    program.wait(10)
    unplug()
    stderr_copy.close()
    return results


# --- home network -----------------------------------------------------------

# The station without a modem shows a ring this long after the modem's station
# at most, on the same machine.
NETWORK_GOAL_MS = 100.0
# Its memory may exceed the modem station's by this much at most.
NETWORK_MEMORY_GOAL_KB = 5 * 1024


def start_broker(session, work):
    """Debian's mosquitto on a free port of the loopback interface."""
    import getpass
    import socket
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    config = os.path.join(work, "mosquitto.conf")
    with open(config, "w") as out:
        out.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                  f"user {getpass.getuser()}\n")
    broker = session.start(["mosquitto", "-c", config], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

    def accepts():
        with socket.socket() as client:
            return client.connect_ex(("127.0.0.1", port)) == 0

    if not wait_until(accepts, 10):
        fail("mosquitto did not start")
    return broker, port


def join_home_network(env, port, station):
    """Stores the broker and the station name, as the Home network dialog does."""
    path = os.path.join(env["XDG_CONFIG_HOME"], "ringwarden", "ringwarden.conf")
    with open(path, "a") as store:
        store.write(f"Ringwarden\\Network\\Broker=mqtt://127.0.0.1:{port}\n"
                    f"Ringwarden\\Network\\Station={station}\n")


def start_station(session, env, work, name, port_text=None):
    """Starts the program, gives the port box `port_text` if set, and chooses
    Start Listening. Returns the process and its log lines."""
    program = session.start([session.tools["ringwarden"]], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    lines = Lines(program.stderr, open(os.path.join(work, f"{name}.stderr"), "w"))
    if not wait_until(lambda: session.find_window("^Ringwarden$", True) is not None, 20):
        fail(f"the {name} station's settings window did not show")
    settings = session.find_window("^Ringwarden$", True)
    session.x(["xdotool", "windowactivate", "--sync", settings])
    if port_text is not None:
        # The port box has the focus when the window opens.
        session.x(["xdotool", "key", "--delay", "100", "ctrl+a", "BackSpace"])
        session.x(["xdotool", "type", "--delay", "50", port_text])
    session.x(["xdotool", "key", "--delay", "200", "alt+s", "l"])
    return program, lines


def run_network(args, session, tools):
    work = tempfile.mkdtemp(prefix="network.", dir=session.work)
    session.tools = tools
    results = {}
    print("== home network: a station with the modem, a station without one, one broker",
          flush=True)
    broker, port = start_broker(session, work)

    modem_env = dict(session.env)
    modem_env.update(fresh_home(os.path.join(work)))
    network_env = dict(session.env)
    network_env.update(fresh_home(os.path.join(work)))
    for env in (modem_env, network_env):
        env["QT_LOGGING_RULES"] = "ringwarden.alert=true"
        env["QT_MESSAGE_PATTERN"] = "%{time boot} %{category} %{message}"
    join_home_network(modem_env, port, "kitchen")
    join_home_network(network_env, port, "den")

    ports = os.path.join(modem_env["XDG_CONFIG_HOME"], "ringwarden", "ports")
    modem_log = os.path.join(work, "modem.log")
    control = os.path.join(work, "control")
    modem = session.start([tools["modem-sim"], "--link", os.path.join(ports, "COM4"),
                           "--log", modem_log, "--control", control, "--renew-on-hangup",
                           "--rings", "1"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if not modem.stdout.readline():
        fail("the modem simulator did not start")

    kitchen, kitchen_lines = start_station(session, modem_env, work, "kitchen")
    if not wait_until(lambda: session.find_window("^Listening for calls$") is not None, 40):
        fail("the modem's station never said it was listening")
    den, den_lines = start_station(session, network_env, work, "den", "network")
    if not wait_until(lambda: session.find_window(r"^Listening for calls \(home network\)$")
                      is not None, 20):
        fail("the station without a modem never said it was listening")
    time.sleep(4)

    # Memory of both while listening, and the quiet line's CPU of the one
    # without a modem.
    cpu = measure_cpu([den.pid, kitchen.pid], args.cpu_seconds)
    kitchen_memory = memory_kb(kitchen.pid)
    den_memory = memory_kb(den.pid)
    extra = den_memory["VmHWM"] - kitchen_memory["VmHWM"]
    results.update(cpu_network_quiet=cpu[den.pid], mem_modem_station=kitchen_memory,
                   mem_network_station=den_memory)
    verdict("network station's memory beside the modem station's",
            f"{extra / 1024:+.1f} MB", extra <= NETWORK_MEMORY_GOAL_KB, "within +5 MB")
    verdict("network station's CPU on a quiet line", f"{cpu[den.pid]:.2f} %",
            cpu[den.pid] < 0.5, "under 0.5 % of a core")
    print(f"   peak memory while listening (VmHWM): modem station "
          f"{kitchen_memory['VmHWM'] / 1024:.1f} MB, network station "
          f"{den_memory['VmHWM'] / 1024:.1f} MB ({extra / 1024:+.1f} MB; goal: within +5 MB)")
    print(f"   CPU on a quiet line over {args.cpu_seconds:.0f} s: network station "
          f"{cpu[den.pid]:.2f} %, modem station {cpu[kitchen.pid]:.2f} % of one core",
          flush=True)

    # Calls, as in the listening session.
    for i in range(args.calls):
        with open(control, "w") as fifo:
            fifo.write(f"call 555{2000 + i:04d} CALLER {i + 1}\n")
        time.sleep(3 * POLL_SECONDS + 0.2 + random.uniform(0, POLL_SECONDS))
    time.sleep(2)

    # The first reaction of each call at the modem's station, and the first
    # at the other station after it.
    log = read_modem_log(modem_log)
    sim_rings = [t for t, kind, payload in log if kind == "tx" and RING_HEX in payload]
    kitchen_times = log_reactions(kitchen_lines.snapshot())
    den_times = log_reactions(den_lines.snapshot())
    # Each call gives two reactions at the modem's station, 2 s apart.
    firsts = []
    for t in kitchen_times:
        if not firsts or t - firsts[-1] > 3 * POLL_SECONDS:
            firsts.append(t)
    if len(firsts) != args.calls or len(sim_rings) != args.calls:
        fail(f"expected {args.calls} calls, the modem's station reacted to {len(firsts)} "
             f"(the simulator rang {len(sim_rings)} times)")
    bounds = firsts[1:] + [float("inf")]
    latencies = [None if (d := first_after(den_times, start, end)) is None
                 else (d - start) * 1000 for start, end in zip(firsts, bounds)]
    values = [v for v in latencies if v is not None]
    missed = len(latencies) - len(values)
    if values:
        median, low, high = percentile_summary(values)
        verdict("network station's ring after the modem station's (median / worst)",
                f"{median:.1f} / {high:.1f} ms", high < NETWORK_GOAL_MS and not missed,
                f"under {NETWORK_GOAL_MS:.0f} ms, no call missed")
        print(f"   from the modem station's ring reaction to the network station's, "
              f"{len(values)} calls: median {median:.1f} ms, best {low:.1f} ms, worst "
              f"{high:.1f} ms (goal: under {NETWORK_GOAL_MS:.0f} ms)"
              + (f", {missed} calls not shown" if missed else ""))
        print("   per call (ms): " + " ".join("-" if v is None else f"{v:.1f}" for v in latencies))
        results["network_latency"] = {"median": median, "best": low, "worst": high,
                                      "all": latencies}
    else:
        verdict("network station's ring after the modem station's", "none", False,
                "every call shown")
    print(f"   reactions: modem station {len(kitchen_times)}, network station {len(den_times)}",
          flush=True)
    if args.keep:
        screenshot(session, os.path.join(work, "both.png"))

    for program in (den, kitchen):
        program.terminate()
        program.wait(10)

    # What the home network costs a single ring reaction.
    print("== one ring reaction with and without the home network (bench_ringreaction)",
          flush=True)
    command = [tools["bench_ringreaction"]]
    if args.quick:
        command.append("--benchmark_repetitions=1")
    result = subprocess.run(command, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                            capture_output=True, text=True)
    print(result.stdout.rstrip())
    if result.returncode != 0:
        fail("bench_ringreaction failed: " + result.stderr.strip())
    # The single runs, not the aggregates after them.
    worst = [float(m) for m in re.findall(r"broker:[23]/iterations:\d+/repeats:\d+ .*worst_ms=([\d.]+)",
                                          result.stdout)]
    if worst:
        verdict("one ring reaction, broker frozen or mute (worst)", f"{max(worst):.1f} ms",
                max(worst) < 50, "under 50 ms")
    return results


# --- frame cost -------------------------------------------------------------

def run_frame(args, tools):
    print("== frame cost of the animation (bench_visual)", flush=True)
    command = [tools["bench_visual"]]
    if args.quick:
        command.append("--benchmark_min_time=0.1")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    result = subprocess.run(command, env=env, capture_output=True, text=True)
    print(result.stdout.rstrip())
    if result.returncode != 0:
        fail("bench_visual failed: " + result.stderr.strip())
    return {}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"),
                        help="the build folder (default: build beside bench/)")
    parser.add_argument("--only", default="startup,listen,frame,network",
                        help="comma-separated parts to run: startup, listen, frame, network, "
                             "alwayson, soak")
    parser.add_argument("--quick", action="store_true",
                        help="10 s of CPU, 5 calls, 3 start-ups, short frame runs")
    parser.add_argument("--keep", action="store_true",
                        help="keep the work folder (logs, the simulator's log, a screenshot of "
                             "the band) and print where it is")
    parser.add_argument("--cpu-seconds", type=float)
    parser.add_argument("--calls", type=int)
    parser.add_argument("--startups", type=int)
    parser.add_argument("--always-on-calls", type=int,
                        help="calls of the always-on run (default 200, 10 with --quick)")
    parser.add_argument("--call-gap", type=float, default=14.0,
                        help="seconds from one call to the next in the always-on run and the "
                             "soak (default 14: each call ends before the next, 12 s after its "
                             "last ring)")
    parser.add_argument("--soak-minutes", type=float, default=30.0)
    parser.add_argument("--unplug-every", type=int, default=10,
                        help="in the soak, unplug the modem before every Nth call")
    args = parser.parse_args()
    args.cpu_seconds = args.cpu_seconds or (10.0 if args.quick else 60.0)
    args.calls = args.calls or (5 if args.quick else 20)
    args.startups = args.startups or (3 if args.quick else 10)
    args.always_on_calls = args.always_on_calls or (10 if args.quick else 200)
    parts = set(args.only.split(","))
    if not parts <= {"startup", "listen", "frame", "network", "alwayson", "soak"}:
        fail("--only takes startup, listen, frame, network, alwayson, soak")

    build = os.path.abspath(args.build)
    tools = {
        "ringwarden": os.path.join(build, "ringwarden"),
        "modem-sim": os.path.join(build, "tools", "modem-sim", "modem-sim"),
        "xwatch": os.path.join(build, "bench", "xwatch"),
        "bench_visual": os.path.join(build, "bench", "bench_visual"),
        "bench_ringreaction": os.path.join(build, "bench", "bench_ringreaction"),
    }
    for name, path in tools.items():
        if not os.access(path, os.X_OK):
            fail(f"{path} is missing: build first (cmake --build {build})")
    for tool in ("Xvfb", "openbox", "xdotool", "xprop", "mosquitto"):
        if not shutil.which(tool):
            fail(f"{tool} is missing: run tools/install-deps")

    work = tempfile.mkdtemp(prefix="ringwarden-bench.")
    session = None
    try:
        if parts & {"startup", "listen", "network", "alwayson", "soak"}:
            session = Session(work)
        if "startup" in parts:
            run_startup(args, session, tools)
        if "listen" in parts:
            run_listen(args, session, tools)
        if "alwayson" in parts:
            run_always_on(args, session, tools, args.always_on_calls)
        if "soak" in parts:
            run_always_on(args, session, tools, None, minutes=args.soak_minutes,
                          unplug_every=args.unplug_every, name="soak")
        if "frame" in parts:
            run_frame(args, tools)
        if "network" in parts:
            run_network(args, session, tools)
        print_summary()
    finally:
        if session:
            session.close()
        if args.keep:
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main()
    sys.exit(0 if all(met for _, _, met, _ in SUMMARY) else 3)
