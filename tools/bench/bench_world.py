"""The bench's world under Wine: the prefix, the agent and the baselines installed in it, the
registry values they read, the programs started and ended, and the local servers."""
import json
import os
import shutil
import subprocess
import tempfile
import time

import tls_peers
from servers import Nginx, rates_page

AGENT_KEY = r"HKCU\Software\Morvane\Zelvantic"  # the user's own settings
BASELINE_KEY = r"HKCU\Software\ZelvanticBench"


class BenchWorld:
    """The bench's Windows PC: its prefix, the programs installed in it, their registry values,
    and the servers they talk to."""


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

    def close(self):
        for p in list(self.children):
            if p.poll() is None:
                p.kill()
                p.wait()
        self.nginx.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)
