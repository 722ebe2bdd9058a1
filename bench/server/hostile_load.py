#!/usr/bin/env python3
"""Hostile-client load against the real host program (--can sim), one fresh server per scenario.

Scenarios (each while a normal client polls "getdevices" every 200 ms from its own address, on a
new connection each time, and counts answers that come within 2 s):
  keepalive  1000 kept-alive wrk clients for 20 s mixing "getversion" and "getdevices"
  slowloris  300 connections sending one header byte every 5 s (reconnecting when cut off)
  uploads    32 uploads declaring 32 MiB, half sent, then kept alive one byte every 0.5 s
  churn      100,000 connections opened, asked "getversion" and closed
For each: the server's peak RSS and threads, and the normal client's success rate and latency;
for churn the growth of descriptors, threads and RSS. With --base, the same scenarios run first
against a second binary, and both columns are printed side by side.
"""
import argparse, os, re, select, socket, statistics, subprocess, sys, tempfile, threading, time

NORMAL_SOURCE = "127.0.0.9"   # the configuration tool's host
ATTACK_SOURCES = ["127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"]
HERE = os.path.dirname(os.path.abspath(__file__))


def proc_status(pid):
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                values[key] = rest.split()[0] if rest.split() else ""
        values["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None
    return values


class Server:
    def __init__(self, binary):
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([binary, "--port", "0", "--start-delay", "0", "--can", "sim"],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        self.port = None
        while self.port is None and time.monotonic() < deadline:
            self.log.seek(0)
            m = re.search(rb"running on port: (\d+)", self.log.read())
            if m:
                self.port = int(m.group(1))
            else:
                time.sleep(0.05)
        if self.port is None:
            raise RuntimeError("server did not start")
        # Let the first listing land so "getdevices" carries the devices.
        time.sleep(1.5)
        self.peak_threads = 0
        self.peak_fds = 0
        self._stop = threading.Event()
        self._watch = threading.Thread(target=self._sample, daemon=True)
        self._watch.start()

    def _sample(self):
        while not self._stop.is_set():
            s = proc_status(self.proc.pid)
            if s:
                self.peak_threads = max(self.peak_threads, int(s["Threads"]))
                self.peak_fds = max(self.peak_fds, s["fds"])
            time.sleep(0.05)

    def status(self):
        return proc_status(self.proc.pid) or {}

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        self._stop.set()
        s = self.status()
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        return s


def connect(port, source, timeout=2.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def read_response(s, deadline):
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            m = re.search(rb"Content-Length: (\d+)", data[:head_end])
            need = head_end + 4 + (int(m.group(1)) if m else 0)
            if len(data) >= need:
                return data[:need]
        s.settimeout(max(0.001, deadline - time.monotonic()))
        chunk = s.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        data += chunk


class NormalClient(threading.Thread):
    """Polls like the configuration tool, on a new connection each time: every poll has to win
    a connection slot again while the attack goes on."""
    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.stop_event = port, threading.Event()
        self.latencies, self.failures = [], 0

    def run(self):
        while not self.stop_event.is_set():
            start = time.monotonic()
            try:
                with connect(self.port, NORMAL_SOURCE) as s:
                    s.sendall(b"GET /?action=getdevices HTTP/1.1\r\nHost: x\r\n\r\n")
                    if b"DeviceArray" not in read_response(s, start + 2.0):
                        raise ConnectionError("bad answer")
                self.latencies.append(time.monotonic() - start)
            except OSError:
                self.failures += 1
            self.stop_event.wait(max(0.0, 0.2 - (time.monotonic() - start)))

    def finish(self):
        self.stop_event.set()
        self.join()
        total = len(self.latencies) + self.failures
        lat = sorted(self.latencies) or [float("nan")]
        return {"normal ok": f"{len(self.latencies)}/{total}",
                "normal median ms": f"{statistics.median(lat) * 1000:.1f}",
                "normal max ms": f"{lat[-1] * 1000:.1f}"}


def scenario_keepalive(server):
    script = os.path.join(HERE, "mixed_requests.lua")
    out = subprocess.run(["wrk", "-t2", "-c1000", "-d20s", "--timeout", "5s", "--latency", "-s", script,
                          f"http://127.0.0.1:{server.port}/"], capture_output=True, text=True).stdout
    rps = re.search(r"Requests/sec:\s+([\d.]+)", out)
    p99 = re.search(r"99%\s+([\d.]+\w+)", out)
    errors = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    error_count = sum(map(int, errors.groups())) if errors else 0
    error_count += int(non2xx.group(1)) if non2xx else 0
    return {"req/s": rps.group(1) if rps else "-", "p99": p99.group(1) if p99 else "-",
            "errors": str(error_count)}


def scenario_slowloris(server, connections=300, seconds=30):
    stop = time.monotonic() + seconds
    socks, cut_off = {}, [0]

    def open_one(i):
        try:
            s = connect(server.port, ATTACK_SOURCES[0], timeout=5.0)
            s.sendall(b"GET /?action=getversion HTTP/1.1\r\n")
            s.setblocking(False)
            socks[i] = s
        except OSError:
            socks.pop(i, None)

    def open_all(indexes):
        # In parallel, as an attacker would: a slow handshake must not keep the others back.
        openers = [threading.Thread(target=open_one, args=(i,)) for i in indexes]
        for t in openers:
            t.start()
        for t in openers:
            t.join()

    open_all(range(connections))
    while time.monotonic() < stop:
        time.sleep(min(5.0, max(0.0, stop - time.monotonic())))
        lost = []
        for i in range(connections):
            s = socks.get(i)
            try:
                if s is None:
                    raise OSError
                s.send(b"X")
                r, _, _ = select.select([s], [], [], 0)
                if r and not s.recv(4096):
                    raise OSError
            except OSError:
                cut_off[0] += 1
                if s:
                    s.close()
                lost.append(i)
        open_all(lost)
    for s in socks.values():
        s.close()
    return {"attacker cut off": str(cut_off[0])}


def scenario_uploads(server, uploads=32, declared=32 << 20, seconds=10):
    header = (b"POST /?action=getversion HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=q\r\n"
              b"Content-Length: %d\r\n\r\n" % declared)
    half = b"u" * (declared // 2)
    socks, refused = [], [0]
    lock = threading.Lock()

    def upload(i):
        try:
            s = connect(server.port, ATTACK_SOURCES[i % 2], timeout=5.0)
            s.sendall(header + half)
            with lock:
                socks.append(s)
        except OSError:
            with lock:
                refused[0] += 1

    workers = [threading.Thread(target=upload, args=(i,)) for i in range(uploads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    end = time.monotonic() + seconds
    peak_rss = 0
    while time.monotonic() < end:
        for s in list(socks):
            try:
                s.send(b"u")
            except OSError:
                socks.remove(s)
                refused[0] += 1
        peak_rss = max(peak_rss, int(server.status().get("VmRSS", 0)))
        time.sleep(0.5)
    held = len(socks)
    for s in socks:
        s.close()
    time.sleep(1.0)
    return {"uploads still held": str(held), "uploads refused/cut": str(refused[0]),
            "RSS after MB": f"{int(server.status().get('VmRSS', 0)) / 1024:.1f}"}


def scenario_churn(server, total=100_000, workers=4):
    time.sleep(0.5)
    before = server.status()
    done, failed = [0], [0]
    lock = threading.Lock()
    linger = b"\x01\x00\x00\x00\x00\x00\x00\x00"  # SO_LINGER on, 0 s: no TIME_WAIT on our side

    def work(w):
        for _ in range(total // workers):
            try:
                s = connect(server.port, ATTACK_SOURCES[w % len(ATTACK_SOURCES)])
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
                s.sendall(b"GET /?action=getversion HTTP/1.1\r\n\r\n")
                read_response(s, time.monotonic() + 2.0)
                s.close()
                with lock:
                    done[0] += 1
            except OSError:
                with lock:
                    failed[0] += 1

    start = time.monotonic()
    threads = [threading.Thread(target=work, args=(w,)) for w in range(workers)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - start
    time.sleep(2.0)  # connection threads end
    after = server.status()
    grow = lambda key: int(after.get(key, 0)) - int(before.get(key, 0))
    return {"answered": f"{done[0]}/{total}", "conn/s": f"{total / elapsed:.0f}",
            "fd growth": str(grow("fds")), "thread growth": str(grow("Threads")),
            "RSS growth MB": f"{grow('VmRSS') / 1024:.1f}"}


SCENARIOS = {"keepalive": scenario_keepalive, "slowloris": scenario_slowloris,
             "uploads": scenario_uploads, "churn": scenario_churn}


def run_all(binary, names):
    results = {}
    for name in names:
        server = Server(binary)
        normal = NormalClient(server.port)
        normal.start()
        figures = SCENARIOS[name](server)
        figures.update(normal.finish())
        alive = server.alive()
        final = server.stop()
        figures["peak RSS MB"] = f"{int(final.get('VmHWM', 0)) / 1024:.1f}" if alive else "died"
        figures["peak threads"] = str(server.peak_threads)
        figures["server alive"] = "yes" if alive else "NO"
        results[name] = figures
        print(f"  {binary}: {name} done", file=sys.stderr)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", required=True, help="tessera-diag-server under test")
    parser.add_argument("--base", help="a second binary to measure first, as the baseline")
    parser.add_argument("scenarios", nargs="*", default=list(SCENARIOS))
    args = parser.parse_args()
    columns = ([("before", run_all(args.base, args.scenarios))] if args.base else [])
    columns.append(("after" if args.base else "figure", run_all(args.host, args.scenarios)))
    for name in args.scenarios:
        print(f"\n### {name}\n")
        print("| figure | " + " | ".join(c for c, _ in columns) + " |")
        print("|---|" + "---|" * len(columns))
        for key in columns[-1][1][name]:
            print(f"| {key} | " + " | ".join(r[name].get(key, "-") for _, r in columns) + " |")


if __name__ == "__main__":
    main()
