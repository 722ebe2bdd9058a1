#!/usr/bin/env python3
"""Responsiveness of the host on a simulated robot, for one or more builds, alternating.

Per run and build: a fresh host (`--can sim` or `--can sim:FILE`, `--start-delay 0`, a bus
trace) and
  - cold start: seconds from launching the process until every device is listed;
  - the refresh round's period: intervals between the version frames each round begins with;
  - CPU over an idle window (per cent of one core), the host's own threads apart from the
    in-process simulator's ("sim robot", "CAN wire"), and RSS;
  - "blink" end to end over HTTP, cycling through the listed devices, at random spacing;
  - "selftest" of the Kestrel KX with ID 1 end to end over HTTP;
  - bench_lock_wait (the lock's wait and "blink" on the device interface, in one process);
  - bench_selftest_capture's Kestrel KX capture time (the capture alone, no round running).
Prints each run, then the medians over runs of each figure per build. The machine may be
shared: the load average is printed before and after; p99 figures follow its scheduling.

  bench/engine/responsiveness.py [--runs N] [--requests N] [--robot FILE] [--cold-start-only]
                                 BUILD_DIR...
"""
import argparse
import json
import os
import random
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

SIM_THREADS = ("sim robot", "CAN wire")
VERSION_FRAME = "000402BF"  # each discovery round begins with it
RESET_ALL, CONFIRM, GET_ALL = "0004F9BF", "0004F8FF", "0004F9FF"  # the dynamic-ID server's


def quantiles(samples):
    s = sorted(samples)
    at = lambda q: s[min(len(s) - 1, int(q * len(s)))]
    return {"median": statistics.median(s), "p90": at(0.9), "p99": at(0.99), "max": s[-1]}


def get(base, query):
    with urllib.request.urlopen(base + query, timeout=30) as answer:
        return json.load(answer)


def thread_cpu(pid):
    """Clock ticks of user+system time per thread name."""
    ticks = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        ticks[name] = ticks.get(name, 0) + int(fields[11]) + int(fields[12])
    return ticks


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def round_period_ms(trace_path, since, until):
    starts = []
    with open(trace_path) as f:
        for line in f:
            m = re.match(r"\((\d+\.\d+)\) \S+ ([0-9A-F]+)#", line)
            if m and m.group(2) == VERSION_FRAME and since <= float(m.group(1)) <= until:
                starts.append(float(m.group(1)))
    gaps = [(b - a) * 1000 for a, b in zip(starts, starts[1:])]
    return statistics.median(gaps) if gaps else float("nan")


def sent_frames(trace_path):
    """(wall-clock time, ID) of every frame the host sent."""
    frames = []
    with open(trace_path) as f:
        for line in f:
            m = re.match(r"\((\d+\.\d+)\) \S+ ([0-9A-F]+)#\S* T", line)
            if m:
                frames.append((float(m.group(1)), m.group(2)))
    return frames


def cold_start_steps(trace_path, launched_wall, listed_wall):
    """Seconds after launch: the dynamic-ID server's reset-all, its last confirm before it
    rebuilt its tables, its get-all (the tables rebuilt after 1.2 s of quiet; settled 0.5 s
    later), the first round, and the last round that began before every device was listed."""
    frames = sent_frames(trace_path)
    first = lambda ident: next((t for t, i in frames if i == ident), float("nan"))
    get_all = first(GET_ALL)
    confirms = [t for t, i in frames if i == CONFIRM and t < get_all]
    rounds = [t for t, i in frames if i == VERSION_FRAME and t <= listed_wall]
    at = lambda t: t - launched_wall
    return {"t reset-all": at(first(RESET_ALL)),
            "t last confirm": at(confirms[-1]) if confirms else float("nan"),
            "t get-all": at(get_all),
            "t round 1": at(rounds[0]) if rounds else float("nan"),
            "t last round": at(rounds[-1]) if rounds else float("nan"),
            "rounds to list": float(len(rounds))}


def capture_ms(build):
    program = os.path.join(build, "bench/selftest/bench_selftest_capture")
    if not os.path.exists(program):
        return float("nan")
    out = subprocess.run([program, "--benchmark_filter=KestrelKx", "--benchmark_repetitions=20",
                          "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                         capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b.get("time_unit", "ns")]
            return b["real_time"] * scale
    return float("nan")


def lock_probe(build, robot, devices, samples):
    program = os.path.join(build, "bench/engine/bench_lock_wait")
    if not os.path.exists(program):
        return {}
    args = [program, "--samples", str(samples), "--devices", str(devices)]
    if robot:
        args += ["--robot", robot]
    out = subprocess.run(args, capture_output=True, text=True).stdout
    figures = {}
    for line in out.splitlines():
        m = re.match(r"(lock wait|blink)\s+n \d+\s+median ([\d.]+)\s+p90 ([\d.]+)\s+p99 ([\d.]+)", line)
        if m:
            key = "lock wait" if m.group(1) == "lock wait" else "di blink"
            figures[key + " p50"] = float(m.group(2))
            figures[key + " p99"] = float(m.group(4))
    return figures


def steady_figures(process, base, listing, requests, idle_s, figures):
    """Idle CPU and RSS, then "blink" and "selftest" over HTTP, into `figures`; the idle
    window's wall-clock bounds, for the round period."""
    time.sleep(1.0)
    since = time.time()
    before = thread_cpu(process.pid)
    time.sleep(idle_s)
    after = thread_cpu(process.pid)
    until = time.time()
    hz = os.sysconf("SC_CLK_TCK")
    sim = sum(after.get(n, 0) - before.get(n, 0) for n in after if n in SIM_THREADS)
    total = sum(after.values()) - sum(before.values())
    figures["host cpu %"] = 100.0 * (total - sim) / hz / idle_s
    figures["sim cpu %"] = 100.0 * sim / hz / idle_s
    figures["rss MB"] = rss_kb(process.pid) / 1024.0

    rng = random.Random(1)
    blinks, selftests = [], []
    for i in range(requests):
        time.sleep(rng.uniform(0.03, 0.25))
        d = listing[i % len(listing)]
        query = "action=blink&model=%s&id=%d" % (urllib.request.quote(d["Model"]), d["ID"])
        start = time.monotonic()
        get(base, query)
        blinks.append((time.monotonic() - start) * 1000)
    for i in range(requests):
        time.sleep(rng.uniform(0.03, 0.25))
        start = time.monotonic()
        get(base, "action=selftest&model=kestrel+kx&id=1")
        selftests.append((time.monotonic() - start) * 1000)
    b, s = quantiles(blinks), quantiles(selftests)
    figures.update({"blink p50": b["median"], "blink p99": b["p99"],
                    "selftest p50": s["median"], "selftest p99": s["p99"]})
    return since, until


def one_run(build, robot, devices, requests, idle_s, work, cold_start_only=False):
    host = os.path.join(build, "host/tessera-diag-server")
    trace = os.path.join(work, "trace.log")
    can = "sim:" + robot if robot else "sim"
    launched = time.monotonic()
    launched_wall = time.time()
    process = subprocess.Popen([host, "--can", can, "--port", "0", "--start-delay", "0",
                                "--trace", trace, "--trace-direction"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    figures = {}
    try:
        port = None
        for line in process.stdout:
            m = re.search(r"running on port: (\d+)", line)
            if m:
                port = int(m.group(1))
                break
        base = "http://127.0.0.1:%d/?" % port
        listing = []
        while time.monotonic() - launched < 60:
            listing = get(base, "action=getdevices")["DeviceArray"]
            if len(listing) >= devices:
                break
            time.sleep(0.01)
        figures["cold start s"] = time.monotonic() - launched
        listed_wall = time.time()
        if len(listing) < devices:
            raise RuntimeError("only %d of %d devices listed" % (len(listing), devices))

        window = None if cold_start_only else steady_figures(process, base, listing, requests, idle_s,
                                                             figures)
    finally:
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    # Read once the host has stopped and written the whole trace.
    if window is not None:
        figures["round ms"] = round_period_ms(trace, *window)
    figures.update(cold_start_steps(trace, launched_wall, listed_wall))
    os.remove(trace)
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--requests", type=int, default=40)
    parser.add_argument("--idle-seconds", type=float, default=10)
    parser.add_argument("--robot", default="")
    parser.add_argument("--cold-start-only", action="store_true",
                        help="launch, wait for the whole listing and stop: the start-up figures alone")
    parser.add_argument("builds", nargs="*", default=["build"])
    options = parser.parse_args()
    robot = os.path.abspath(options.robot) if options.robot else ""
    devices = len(json.load(open(robot))["devices"]) if robot else 8
    print("load average before:", open("/proc/loadavg").read().strip())
    results = {b: [] for b in options.builds}
    with tempfile.TemporaryDirectory() as work:
        for run in range(options.runs):
            order = options.builds if run % 2 == 0 else list(reversed(options.builds))
            for build in order:
                figures = one_run(build, robot, devices, options.requests, options.idle_seconds, work,
                                  options.cold_start_only)
                if not options.cold_start_only:
                    figures.update(lock_probe(build, robot, devices, max(options.requests, 100)))
                    figures["capture ms"] = capture_ms(build)
                results[build].append(figures)
                print("run %d %s: %s" % (run + 1, build, "  ".join(
                    "%s %.3g" % (k, v) for k, v in figures.items())), flush=True)
    print("load average after:", open("/proc/loadavg").read().strip())
    keys = [k for k in results[options.builds[0]][0]]
    print("\nmedians over %d runs (%d devices)" % (options.runs, devices))
    print("%-18s" % "" + "".join("%16s" % os.path.normpath(b)[-15:] for b in options.builds))
    for k in keys:
        print("%-18s" % k + "".join(
            "%16.3g" % statistics.median(r[k] for r in results[b] if k in r) for b in options.builds))


if __name__ == "__main__":
    sys.exit(main())
