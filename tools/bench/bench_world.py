"""The measuring run: the agent, the baselines and the probe under Wine, each step's samples
kept in .raw for the figures. A step that fails is noted in .errors and the others still run."""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

import tls_peers
from readings import (process_cpu_ns, process_private_kib, process_requests, process_wakeups,
                      thread_cpu_ns, wineserver_pid)
from servers import BlackHole, Nginx, body_of_size, rates_file, rates_page
from winesession import PALM_FOLDER_W

AGENT_KEY = r"HKCU\Software\Morvane\Zelvantic"  # the user's own settings
BASELINE_KEY = r"HKCU\Software\ZelvanticBench"
BASELINE_THREAD_KEY = r"HKCU\Software\ZelvanticBench\Thread"
WAITER_KEY = r"HKCU\Software\ZelvanticBench\Wait"
# Reminding ticks once a minute: an agent measured over whole minutes gets its ticks counted.
AGENT_IDLE_SECONDS = 60
# The probe's update server, and the https one put in its place (as long, so it fits).
HTTP_ADDRESS = "http://127.0.0.1/updatedrates.php"
HTTPS_ADDRESS = "https://%s/updatedrates.ph" % tls_peers.SERVER_NAME


class Bench:
    def __init__(self, session, build, quick, only=None):
        self.session = session
        self.env = dict(session.env)
        self.quick = quick
        self.only = only
        self.win = session.env["ZLV_WIN"]  # the build measured
        self.shipped = session.env["ZLV_SHIPPED"]  # sizes are the shipped build's
        self.probe = os.path.join(self.win, "bench", "bench_probe.exe")
        self.prefix = self.env["WINEPREFIX"]
        self.c = os.path.join(self.prefix, "drive_c")
        self.tmp = tempfile.mkdtemp(prefix="zlv-bench-")
        # A test CA of this run's own, trusted only in the bench's prefix, for the https rows.
        self.certs = tls_peers.make_certificates(os.path.join(self.tmp, "certs"))
        self.nginx = Nginx(self.tmp, tls=self.certs["good"])
        self.handheld = os.path.join(self.tmp, "handheld")
        self.raw = {}
        self.errors = []
        self.children = []

    # -- plumbing
    def log(self, text):
        print("bench: " + text, flush=True)

    def winpath(self, *parts):
        return "C:\\" + "\\".join(parts)

    def wine(self, args, timeout=120, env=None, check=True):
        # Output through files, not pipes: the first program of a session starts Wine's desktop
        # and services, which inherit its handles and would hold a pipe open long after.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(["wine"] + args, env=env or self.env, stdout=out, stderr=err,
                                  timeout=timeout, stdin=subprocess.DEVNULL).returncode
            out.seek(0)
            err.seek(0)
            p = subprocess.CompletedProcess(args, code, out.read().decode("utf-8", "replace"),
                                            err.read().decode("utf-8", "replace"))
        if check and p.returncode != 0:
            raise RuntimeError("wine %s: exit %d\n%s%s" % (" ".join(args), p.returncode,
                                                          p.stdout[-500:], p.stderr[-500:]))
        return p

    def probe_run(self, *args, timeout=300, exe=None):
        p = self.wine([exe or self.probe] + [str(a) for a in args], timeout=timeout, check=False)
        lines = [json.loads(l) for l in p.stdout.splitlines() if l.startswith("{")]
        for l in lines:
            if l.get("kind") == "error":
                raise RuntimeError("bench_probe %s: %s" % (args[0], l.get("message")))
        if p.returncode != 0 or not lines:
            raise RuntimeError("bench_probe %s: exit %d\n%s" % (args[0], p.returncode,
                                                               p.stderr[-500:]))
        return lines

    def reg(self, *args):
        self.wine(["reg"] + list(args) + ["/f"], timeout=60)

    def set_lastupdate_now(self):
        self.reg("add", AGENT_KEY, "/v", "lastupdate", "/t", "REG_DWORD", "/d",
                 str(int(time.time())))

    def clear_lastupdate(self):
        self.wine(["reg", "delete", AGENT_KEY, "/v", "lastupdate", "/f"], check=False)

    def spawn(self, exe_path, *args):
        """Starts a program in the prefix; the Popen's pid is the Windows process itself."""
        p = subprocess.Popen(["wine", exe_path] + list(args), env=self.env,
                             cwd=os.path.dirname(exe_path),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             stdin=subprocess.DEVNULL)
        self.children.append(p)
        return p

    def end(self, proc, key):
        if proc.poll() is None:
            self.wine([self.probe, "exit", key], check=False, timeout=30)
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc in self.children:
            self.children.remove(proc)

    def wait_window(self, proc, name, timeout=20, key=None):
        """Until the program has its window, and so its tray icon."""
        key = key or (AGENT_KEY if name == "agent" else BASELINE_KEY)
        p = self.wine([self.probe, "wait", key, str(timeout)], check=False, timeout=timeout + 30)
        if p.returncode != 0 or proc.poll() is not None:
            raise RuntimeError("%s did not come up" % name)

    # -- set-up
    def user_rates_folder(self):
        """The user's own rates folder (the local application data's Zelvantic), a Linux path."""
        local = self.wine(["cmd", "/c", "echo", "%LOCALAPPDATA%"], timeout=60).stdout.strip()
        with tempfile.TemporaryFile() as out:
            subprocess.run(["winepath", "-u", local], env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            folder = out.read().decode("utf-8", "replace").strip()
        if not local or not folder:
            raise RuntimeError("no local application data folder for this user")
        self.rates_folder_w = local + "\\Zelvantic"
        return os.path.join(folder, "Zelvantic")

    def install(self):
        # As installed, beside the session's Palm Desktop in its own folder.
        self.agent_dir = os.path.join(self.c, "Zelvantic")
        bench = os.path.join(self.c, "Bench")
        for d in (self.agent_dir, bench, self.handheld):
            os.makedirs(d, exist_ok=True)
        for name in ("agent.exe", "conduit.dll"):
            shutil.copy(os.path.join(self.win, name), self.agent_dir)
        shutil.copy(os.path.join(self.win, "bench", "baseline.exe"), bench)
        self.agent_exe = os.path.join(self.agent_dir, "agent.exe")
        self.baseline_exe = os.path.join(bench, "baseline.exe")
        self.rates_path = os.path.join(self.user_rates_folder(), "mrvrates.zlv")
        self.reg("add", AGENT_KEY, "/v", "tooltip", "/t", "REG_SZ", "/d", "0")
        self.set_lastupdate_now()
        self.page4 = rates_page(4 * 1024)
        self.page60 = rates_page(60 * 1024)
        self.nginx.serve(self.page60)
        self.nginx.start()

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

    def close(self):
        for p in list(self.children):
            if p.poll() is None:
                p.kill()
                p.wait()
        self.nginx.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)
