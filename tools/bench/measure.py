"""The measuring run: the agent, the baselines and the probe under Wine, each step's samples
kept in .raw for the figures. A step that fails is noted in .errors and the others still run."""
import glob
import json
import os
import re
import signal
import subprocess
import time

import tls_peers
from bench_world import AGENT_KEY, BASELINE_KEY, BenchWorld
from readings import (process_cpu_ns, process_private_kib, process_requests, process_wakeups,
                      thread_cpu_ns, wineserver_pid)
from servers import BlackHole, body_of_size, rates_file
from winesession import PALM_FOLDER_W

BASELINE_THREAD_KEY = r"HKCU\Software\ZelvanticBench\Thread"
WAITER_KEY = r"HKCU\Software\ZelvanticBench\Wait"
# Reminding ticks once a minute: an agent measured over whole minutes gets its ticks counted.
AGENT_IDLE_SECONDS = 60
# The probe's update server, and the https one put in its place (as long, so it fits).
HTTP_ADDRESS = "http://127.0.0.1/updatedrates.php"
HTTPS_ADDRESS = "https://%s/updatedrates.ph" % tls_peers.SERVER_NAME


class Bench(BenchWorld):
    # -- the figures
    def measure_sizes(self):
        sizes = {}
        for label, path in (("agent.exe", os.path.join(self.shipped, "agent.exe")),
                            ("conduit.dll", os.path.join(self.shipped, "conduit.dll")),
                            ("installer", os.path.join(self.shipped, "Zelvantic-Setup-1.5.exe")),
                            ("baseline.exe", os.path.join(self.shipped, "bench", "baseline.exe"))):
            entry = {"bytes": os.path.getsize(path) if os.path.exists(path) else None}
            if entry["bytes"] and path.endswith((".exe", ".dll")) and label != "installer":
                p = subprocess.run(["i686-w64-mingw32-size", path], capture_output=True,
                                   text=True)
                fields = p.stdout.splitlines()[-1].split() if p.returncode == 0 else []
                if len(fields) >= 3:
                    entry.update(text=int(fields[0]), data=int(fields[1]), bss=int(fields[2]))
            sizes[label] = entry
        self.raw["size"] = sizes

    def measure_startup(self):
        runs = 3 if self.quick else 9
        self.set_lastupdate_now()
        lines = self.probe_run("startup", runs, self.winpath("Zelvantic", "agent.exe"), AGENT_KEY,
                               self.winpath("Bench", "baseline.exe"), BASELINE_KEY)
        self.raw["startup"] = {"agent_ms": lines[0]["ms"], "baseline_ms": lines[1]["ms"]}

    def measure_memory_after_download(self):
        """The agent's private memory once its download is on disk, beside the baseline and
        beside the baseline that has run one thread of its own, as the download's worker."""
        runs = 1 if self.quick else 3
        memory = {"agent_kib": [], "baseline_kib": [], "baseline_thread_kib": []}
        self.raw["memory_download"] = memory
        for _ in range(runs):
            self.clear_lastupdate()
            if os.path.exists(self.rates_path):
                os.remove(self.rates_path)
            b = self.spawn(self.baseline_exe)
            t = self.spawn(self.baseline_exe, "-thread")
            a = self.spawn(self.agent_exe)
            try:
                deadline = time.time() + 20
                while not os.path.exists(self.rates_path) and time.time() < deadline:
                    if a.poll() is not None:
                        raise RuntimeError("the agent ended during its download")
                    time.sleep(0.1)
                if not os.path.exists(self.rates_path):
                    raise RuntimeError("the agent wrote no rates file within 20 s")
                self.wait_window(b, "baseline")
                self.wait_window(t, "baseline", key=BASELINE_THREAD_KEY)
                time.sleep(1.0)  # settled
                memory["agent_kib"].append(process_private_kib(a.pid))
                memory["baseline_kib"].append(process_private_kib(b.pid))
                memory["baseline_thread_kib"].append(process_private_kib(t.pid))
            finally:
                self.end(a, AGENT_KEY)
                self.end(b, BASELINE_KEY)
                self.end(t, BASELINE_THREAD_KEY)

    def measure_idle_and_hotsync(self):
        """Each program alone, one after the other: the 100 ms baseline, the baseline that only
        waits in its message loop, then the agent in reminder mode, from 2 s after its window
        came up. Memory after start-up, then spells of the program stopped and running in turn:
        the CPU time of the process while it runs, and of the wineserver both ways. The
        wineserver keeps a 16 ms clock of its own whatever runs, so the time a program causes
        there is what the server spends while it runs beyond what it spends while the program
        is stopped, measured beside it. The agent's spells span a whole minute, so its slow tick
        falls inside. Then, during the agent's run, HotSyncs into the stand-in handheld while
        the agent takes the sync-result message. Alone, because two programs on timers of the
        same period wake together and the second finds the caches warm from the first."""
        spell = 2.0 if self.quick else 5.0
        pairs = {"agent": 2 if self.quick else AGENT_IDLE_SECONDS // 10,
                 "baseline": 2 if self.quick else 4, "waiter": 2 if self.quick else 4}
        cpu = {}
        for name in pairs:
            for key in ("_ms", "_server_ms", "_s", "_requests", "_stopped_server_ms",
                        "_stopped_s", "_stopped_wakeups"):
                cpu[name + key] = []
        memory = {"agent_kib": [], "baseline_kib": []}
        self.raw["idle_cpu"] = cpu
        self.raw["memory_startup"] = memory
        self.set_lastupdate_now()
        keys = {"agent": AGENT_KEY, "baseline": BASELINE_KEY, "waiter": WAITER_KEY}
        for name in ("baseline", "waiter", "agent"):
            if os.path.exists(self.rates_path):
                os.remove(self.rates_path)
            if name == "agent":
                p = self.spawn(self.agent_exe)
            else:
                p = self.spawn(self.baseline_exe, *(["-wait"] if name == "waiter" else []))
            try:
                self.wait_window(p, name, key=keys[name])
                time.sleep(2.0)
                if name + "_kib" in memory:
                    memory[name + "_kib"].append(process_private_kib(p.pid))
                server = wineserver_pid(self.prefix)
                if not server:
                    raise RuntimeError("no wineserver found for the prefix")
                for _ in range(pairs[name]):
                    self.idle_spells(p, server, name, spell, cpu)
                if name == "agent":
                    self.measure_hotsync()
            finally:
                self.end(p, keys[name])
        # What one request costs the server, sent back to back: no wake-up of its own.
        for _ in range(1 if self.quick else 3):
            line = self.probe_run("requests", 20000 if self.quick else 100000, server)[0]
            cpu.setdefault("request_us", []).append(line["server_ms"] * 1000.0 /
                                                    line["requests"])

    def idle_spells(self, proc, server, name, spell, cpu):
        """One spell of the program stopped, then one of it running. Stopped first: a timer
        that fell due meanwhile is handled as it runs again, and counted."""
        os.kill(proc.pid, signal.SIGSTOP)
        try:
            s0, w0, t0 = process_cpu_ns(server), process_wakeups(server), time.time()
            time.sleep(spell)
            s1, w1, t1 = process_cpu_ns(server), process_wakeups(server), time.time()
        finally:
            os.kill(proc.pid, signal.SIGCONT)
        p0, r0 = process_cpu_ns(proc.pid), process_requests(proc.pid)
        s2, t2 = process_cpu_ns(server), time.time()
        time.sleep(spell)
        p1, r1 = process_cpu_ns(proc.pid), process_requests(proc.pid)
        s3, t3 = process_cpu_ns(server), time.time()
        if proc.poll() is not None:
            raise RuntimeError("the %s ended during its idle run" % name)
        cpu[name + "_stopped_server_ms"].append((s1 - s0) / 1e6)
        cpu[name + "_stopped_wakeups"].append(w1 - w0)
        cpu[name + "_stopped_s"].append(t1 - t0)
        cpu[name + "_ms"].append((p1 - p0) / 1e6)
        cpu[name + "_requests"].append(r1 - r0)
        cpu[name + "_server_ms"].append((s3 - s2) / 1e6)
        cpu[name + "_s"].append(t3 - t2)

    def sync_env(self):
        return dict(self.env, ZLV_HANDHELD_DIR="Z:" + self.handheld.replace("/", "\\"))

    def hotsync(self):
        """One HotSync of type 3 by the stand-in host: its result, its time, its progress log."""
        p = self.wine([PALM_FOLDER_W + r"\hotsync.exe", "3"], env=self.sync_env(), check=False)
        m = re.search(r"hotsync: result (-?\d+) after ([\d.]+) ms", p.stderr)
        if not m:
            raise RuntimeError("hotsync gave no timing: %s" % p.stderr[-300:])
        return int(m.group(1)), float(m.group(2)), p.stdout

    def measure_hotsync(self):
        runs = 3 if self.quick else 9
        self.wine([PALM_FOLDER_W + r"\hotsync.exe", "--install-db"], env=self.sync_env())
        body = body_of_size(60000)
        copy, empty = [], []
        # Where the agent's start leaves "target"; the bench may come here before any start.
        os.makedirs(os.path.dirname(self.rates_path), exist_ok=True)
        self.reg("add", AGENT_KEY, "/v", "target", "/d", self.rates_folder_w)
        for _ in range(runs):
            with open(self.rates_path, "wb") as f:
                f.write(rates_file(body, time.time()))
            result, ms, out = self.hotsync()
            if result != 0 or os.path.exists(self.rates_path):
                raise RuntimeError("HotSync failed (%d) or left the rates file:\n%s" % (result,
                                                                                      out))
            copy.append(ms)
            # Nothing to copy: the same conduit, the same stand-ins, no record written.
            result, ms, out = self.hotsync()
            if result != 0 or "up-to-date" not in out:
                raise RuntimeError("HotSync without a rates file: %d\n%s" % (result, out))
            empty.append(ms)
        pdbs = glob.glob(os.path.join(self.handheld, "*.pdb"))
        record = max((os.path.getsize(p) for p in pdbs), default=0)
        if record < len(body):
            raise RuntimeError("the handheld database holds %d bytes, less than the body" % record)
        self.raw["hotsync"] = {"copy_ms": copy, "nothing_ms": empty, "body_bytes": len(body),
                               "database_bytes": record}

    def https_probe(self):
        """A copy of the probe whose update server is the https one; the CA trusted first."""
        folder = os.path.join(self.tmp, "https")  # never into the build: it is a copy
        path = os.path.join(folder, "bench_probe.exe")
        tls_peers.trust_in_prefix(os.path.join(self.win, "tests", "trust_ca.exe"),
                                  self.certs["ca_der"], self.env)
        data = open(self.probe, "rb").read()
        old, new = (len(a).to_bytes(2, "little") + a.encode("utf-16-le")
                    for a in (HTTP_ADDRESS, HTTPS_ADDRESS))
        if data.count(old) != 1 or len(old) != len(new):
            raise RuntimeError("the probe's update server is not %s" % HTTP_ADDRESS)
        os.makedirs(folder, exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.replace(old, new))
        return path

    def curl_times(self, runs, url=HTTP_ADDRESS):
        out = os.path.join(self.tmp, "curl.page")
        times = []
        for _ in range(runs):
            p = subprocess.run(["curl", "-s", "--cacert", self.certs["ca_pem"], "-o", out, "-w",
                                "%{time_total}", url], capture_output=True,
                               text=True, timeout=30)
            if p.returncode != 0:
                raise RuntimeError("curl failed: %s" % p.stderr)
            times.append(float(p.stdout) * 1000.0)
        return times, os.path.getsize(out)

    def measure_download(self):
        runs = 3 if self.quick else 9
        result = {}
        https_probe = self.https_probe()
        for label, page in (("4k", self.page4), ("60k", self.page60)):
            self.nginx.serve(page)
            for kind, url, probe in (("http", HTTP_ADDRESS, self.probe),
                                     ("https", HTTPS_ADDRESS, https_probe)):
                curl, got = self.curl_times(runs, url)
                if got != len(page):
                    raise RuntimeError("curl fetched %d bytes of a %d-byte page over %s" %
                                       (got, len(page), kind))
                line = self.probe_run("download", runs, exe=probe)[0]
                if int(line["file_bytes"]) != 17 + len(page):
                    raise RuntimeError("the rates file of the %s page over %s holds %d bytes, "
                                       "not %d" % (label, kind, line["file_bytes"], 17 + len(page)))
                row = {"agent_ms": line["ms"], "ticks": line["ticks"], "curl_ms": curl,
                       "page_bytes": len(page)}
                result[label if kind == "http" else label + "_https"] = row
        self.raw["download"] = result

    def measure_stall(self):
        runs = 1 if self.quick else 3
        stall = {}
        self.raw["stall"] = stall
        self.nginx.stop()
        try:
            hole = BlackHole()
            try:
                if not hole.swallowing:
                    self.errors.append("the black-hole listener answered every connect")
                stall["unanswered"] = self.probe_run("stall", runs, 3)[0]
                stall["idle"] = self.probe_run("stall", runs, 3, "idle")[0]
            finally:
                hole.close()
            stall["refused"] = self.probe_run("stall", runs, 3)[0]
        finally:
            self.nginx.start()

    def measure_cycles(self):
        self.nginx.serve(self.page4)
        count = 20 if self.quick else 100
        self.raw["cycles"] = self.probe_run("cycles", count, timeout=600)[0]

    def measure_tick(self):
        self.raw["tick"] = self.probe_run("tick", 20 if self.quick else 60)[0]

    def measure_logo(self):
        """Load times from the probe; the animation thread's CPU from Linux, whose figures are
        exact where the system's thread times under Wine move in 10 ms steps. The probe's
        animation thread is the busier of its two extra threads; the other only waits."""
        runs, windows, spell = (5, 1, 3.7) if self.quick else (15, 3, 3.7)
        out_path = os.path.join(self.tmp, "logo.out")
        with open(out_path, "w") as out:
            p = subprocess.Popen(["wine", self.probe, "logo", str(runs), str(windows), str(spell)],
                                 env=self.env, stdout=out, stderr=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL)
        self.children.append(p)
        lines = lambda: [json.loads(l) for l in open(out_path) if l.startswith("{")]
        deadline = time.time() + 120
        while not any(l["kind"] in ("animating", "error") for l in lines()):
            if p.poll() is not None or time.time() > deadline:
                raise RuntimeError("the logo probe never started the animation")
            time.sleep(0.02)
        spells = []
        for _ in range(windows):
            before, t0 = thread_cpu_ns(p.pid), time.time()
            time.sleep(spell - 0.15)  # inside the probe's own spell
            after, t1 = thread_cpu_ns(p.pid), time.time()
            spells.append({t: (after[t] - before[t]) / 1e6 / (t1 - t0) for t in after
                           if t in before and t != str(p.pid)})
        p.wait(120)
        self.children.remove(p)
        found = lines()
        errors = [l["message"] for l in found if l["kind"] == "error"]
        if errors or p.returncode != 0:
            raise RuntimeError("logo probe: %s (exit %s)" % ("; ".join(errors), p.returncode))
        loads = [l for l in found if l["kind"] == "logo_loads"][0]
        system = [l for l in found if l["kind"] == "logo"][0]
        others = set.intersection(*(set(s) for s in spells)) if spells else set()
        if len(others) < 2:
            raise RuntimeError("expected the animation and the waiting thread, found %d" %
                               len(others))
        total = {t: sum(s[t] for s in spells) for t in others}
        animation, waiter = max(total, key=total.get), min(total, key=total.get)
        self.raw["logo"] = {"load_ms": loads["load_ms"], "picture_ms": loads["picture_ms"],
                            "animation_ms_per_s": [s[animation] for s in spells],
                            "waiter_ms_per_s": [s[waiter] for s in spells],
                            "other_threads": len(others) - 2, "clock": "linux",
                            "system_clock": system}

    def run(self):
        steps = [("sizes", self.measure_sizes), ("install", self.install),
                 ("start-up", self.measure_startup),
                 ("memory after a download", self.measure_memory_after_download),
                 ("idle and HotSync", self.measure_idle_and_hotsync),
                 ("idle tick", self.measure_tick),
                 ("download", self.measure_download), ("UI stall", self.measure_stall),
                 ("logo", self.measure_logo), ("update cycles", self.measure_cycles)]
        for name, step in steps:
            if self.only and name not in ("sizes", "install") and \
                    not any(word in name for word in self.only):
                continue
            started = time.time()
            self.log(name)
            try:
                step()
            except Exception as e:  # the other figures still get measured
                self.errors.append("%s: %s" % (name, e))
                self.log("  failed: %s" % e)
                if name == "install":
                    break
            self.log("  %.0f s" % (time.time() - started))
