#!/usr/bin/env python3
"""Runs every test of the project and ends with the line 'N passed, N failed[, N skipped]'.

- native GoogleTest programs:   build/host/tests/*_tests
- Win32 GoogleTest programs:    build/win/tests/*_tests.exe (and build/win64/...), under Wine
- scripted tests:               tests/scripts/test_*.py and test_*.sh (print PASS/FAIL/SKIP lines)
- fuzz targets, briefly:        build/fuzz/fuzz_*, corpus in tests/fuzz/corpus/<target>/

The Windows tests run once for each build the machine can run (tools/machine.sh): the shipped
i686 build and the x86_64 test build, or the x86_64 one alone where no 32-bit code runs;
ZLV_ARCH=i686 or x86_64 chooses one. Each build has its own throw-away prefix, Xvfb display and
persistent wineserver; all of it runs inside a private network namespace when the machine allows
one (so port 80 is ours). Scripts that start no Windows program run once.
"""
import argparse
import concurrent.futures
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # keep tools/ free of __pycache__
from winesession import (WineSession, describe, enter_private_network, loopback_up, modes,
                         win_folder)

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
LOGS = os.path.join(BUILD, "test-logs")
ARTIFACTS = os.path.join(BUILD, "artifacts")


class Tally:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0
        self.failures = []

    def merge(self, other):
        self.passed += other.passed
        self.failed += other.failed
        self.skipped += other.skipped
        self.failures += other.failures

    def add(self, name, outcome, detail=""):
        if outcome == "pass":
            self.passed += 1
        elif outcome == "skip":
            self.skipped += 1
        else:
            self.failed += 1
            self.failures.append((name, detail))


def log_path(name):
    os.makedirs(LOGS, exist_ok=True)
    return os.path.join(LOGS, re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".log")


def tail(path, lines=40):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


LAST_SECONDS = [0.0]


def run_logged(name, argv, env=None, cwd=None, timeout=900):
    """Runs argv with output to the test's log; returns (exit code or None on time-out, log path)."""
    started = time.time()
    try:
        return _run_logged(name, argv, env, cwd, timeout)
    finally:
        LAST_SECONDS[0] = time.time() - started


def _run_logged(name, argv, env, cwd, timeout):
    path = log_path(name)
    with open(path, "w") as out:
        try:
            p = subprocess.run(argv, stdout=out, stderr=subprocess.STDOUT, env=env, cwd=cwd,
                               timeout=timeout, stdin=subprocess.DEVNULL)
            return p.returncode, path
        except subprocess.TimeoutExpired:
            out.write("\n*** timed out after %d s\n" % timeout)
            return None, path


def tally_gtest_xml(tally, program, xml_path, code, log):
    try:
        tree = ET.parse(xml_path)
    except (OSError, ET.ParseError):
        tally.add(program, "fail", "no test report (exit code %s)\n%s" % (code, tail(log)))
        return
    for case in tree.iter("testcase"):
        name = "%s: %s.%s" % (program, case.get("classname"), case.get("name"))
        failure = case.find("failure")
        if failure is not None:
            tally.add(name, "fail", failure.get("message", ""))
        elif case.find("skipped") is not None or case.get("result") == "skipped":
            tally.add(name, "skip")
        else:
            tally.add(name, "pass")
    if code not in (0, 1):  # gtest exits 1 on a failed test; anything else is a crash or a hang
        tally.add(program, "fail", "exit code %s\n%s" % (code, tail(log)))


def matches(name, flt):
    return not flt or flt in name


def native_programs(flt):
    return [p for p in sorted(glob.glob(os.path.join(BUILD, "host", "tests", "*_tests")))
            if matches(os.path.basename(p), flt)]


def wine_programs(arch, flt):
    pattern = os.path.join(win_folder(arch), "tests", "*_tests.exe")
    return [p for p in sorted(glob.glob(pattern)) if matches(os.path.basename(p), flt)]


# Scripts that start no Windows program: they run once, outside the Wine sessions. The shipped
# binaries they read are the i686 build's on every machine.
WITHOUT_WINE = ("test_art.sh", "test_bench_tool.py", "test_binaries.sh", "test_fetch.py",
                "test_installer_manual.py")


def test_scripts(flt, wine):
    found = sorted(glob.glob(os.path.join(ROOT, "tests", "scripts", "test_*.py")) +
                   glob.glob(os.path.join(ROOT, "tests", "scripts", "test_*.sh")))
    return [s for s in found if matches(os.path.basename(s), flt) and
            (os.path.basename(s) not in WITHOUT_WINE) == wine]


def fuzz_programs(flt):
    return [p for p in sorted(glob.glob(os.path.join(BUILD, "fuzz", "fuzz_*")))
            if os.access(p, os.X_OK) and not os.path.isdir(p) and matches(os.path.basename(p), flt)]


def run_native(tally, flt):
    for prog in native_programs(flt):
        name = os.path.basename(prog)
        xml_path = os.path.join(LOGS, name + ".xml")
        if os.path.exists(xml_path):
            os.remove(xml_path)
        env = dict(os.environ, TZ=os.environ.get("TZ", "UTC"))
        code, log = run_logged(name, [prog, "--gtest_output=xml:" + xml_path], env=env,
                               cwd=os.path.dirname(prog))
        tally_gtest_xml(tally, name, xml_path, code, log)
        print("  %-40s %-6s %5.1f s" % (name, "ok" if code == 0 else "FAILED", LAST_SECONDS[0]),
              flush=True)


# The deployment values the shipped agent must carry (its strings 1 and 8), stated here rather
# than taken from the build's own settings; set them in the environment for another deployment.
EXPECTED_DEPLOYMENT = {"ZLV_EXPECT_UPDATE_HOST": "127.0.0.1",
                       "ZLV_EXPECT_WEBSITE": "http://www.zelvantic.example/"}


def run_wine(tally, session, flt):
    env = dict(session.env)
    for name, value in EXPECTED_DEPLOYMENT.items():
        env[name] = os.environ.get(name, value)
    for prog in wine_programs(session.arch, flt):
        name = "%s/%s" % (session.arch, os.path.basename(prog))
        xml_path = os.path.join(LOGS, name + ".xml")
        if os.path.exists(xml_path):
            os.remove(xml_path)
        code, log = run_logged(name, ["wine", prog, "--gtest_output=xml:Z:" +
                                      xml_path.replace("/", "\\")],
                               env=env, cwd=os.path.dirname(prog))
        tally_gtest_xml(tally, name, xml_path, code, log)
        check_leftovers(tally, session, name)
        print("  %-40s %-6s %5.1f s" % (name, "ok" if code == 0 else "FAILED", LAST_SECONDS[0]),
              flush=True)


LINE = re.compile(r"^(PASS|FAIL|SKIP)[: ]\s*(.*)$")

# Programs a test starts and must end: one left running holds the agent's mutex or the HotSync,
# and every later test would fail for it.
OWN_PROGRAMS = ("agent.exe", "hotsync.exe", "baseline.exe")


def leftover_programs(session):
    """Ends the session's own programs still running; returns their names."""
    prefix = ("WINEPREFIX=%s" % session.env["WINEPREFIX"]).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if prefix not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        names = [os.path.basename(a.replace(b"\\", b"/")).decode(errors="replace").lower()
                 for a in argv if a]
        hit = next((n for n in names if n in OWN_PROGRAMS), None)
        if hit and "winedbg" not in names:
            found.append(hit)
            try:
                os.kill(int(entry), signal.SIGKILL)
            except OSError:
                pass
    return found


def check_leftovers(tally, session, name):
    left = leftover_programs(session)
    if left:
        tally.add(name, "fail", "left running: %s" % ", ".join(sorted(left)))


def run_scripts(tally, session, flt):
    """The scripts of one Wine session, or with session None those that need none."""
    env = session.env if session else dict(os.environ, ZLV_ROOT=ROOT, ZLV_BUILD=BUILD,
                                           ZLV_ARTIFACTS=ARTIFACTS, TZ="UTC",
                                           ZLV_SHIPPED=win_folder("i686"))
    for script in test_scripts(flt, session is not None):
        name = os.path.basename(script)
        if session:
            name = "%s/%s" % (session.arch, name)
        runner = ["python3"] if script.endswith(".py") else ["bash"]
        code, log = run_logged(name, runner + [script], env=env, cwd=ROOT)
        seen = 0
        with open(log, errors="replace") as f:
            for line in f:
                m = LINE.match(line.rstrip("\n"))
                if m:
                    seen += 1
                    kind = {"PASS": "pass", "FAIL": "fail", "SKIP": "skip"}[m.group(1)]
                    tally.add("%s: %s" % (name, m.group(2)), kind, m.group(2))
        if code != 0 and not any(n.startswith(name) for n, _ in tally.failures):
            tally.add(name, "fail", "exit code %s\n%s" % (code, tail(log)))
        elif seen == 0 and code == 0:
            tally.add(name, "fail", "reported no result")
        if session:
            check_leftovers(tally, session, name)
        print("  %-40s %-6s %5.1f s" % (name, "ok" if code == 0 else "FAILED", LAST_SECONDS[0]),
              flush=True)


def fuzz_one(prog, seconds, out_dir):
    """One fuzz target from its seed corpus; returns (exit code, log path, runs done)."""
    name = os.path.basename(prog)
    seeds = os.path.join(ROOT, "tests", "fuzz", "corpus", name[len("fuzz_"):])
    work = tempfile.mkdtemp(prefix="zlv-corpus-")
    if os.path.isdir(seeds):
        for f in os.listdir(seeds):
            shutil.copy(os.path.join(seeds, f), work)
    code, log = _run_logged(name, [prog, "-max_total_time=%d" % seconds, "-rss_limit_mb=2048",
                                   "-timeout=10", "-artifact_prefix=" + out_dir + "/" + name + "-",
                                   work], None, None, seconds * 3 + 60)
    shutil.rmtree(work, ignore_errors=True)
    with open(log, errors="replace") as f:
        runs = re.findall(r"Done (\d+) runs", f.read())
    with open(os.path.join(out_dir, name + ".txt"), "w") as f:
        f.write("%s runs in %d s\n" % (runs[-1] if runs else "?", seconds))
    return code, log, runs[-1] if runs else "?"


def run_fuzz(tally, seconds, flt, workers=None):
    out_dir = os.path.join(BUILD, "fuzz-runs")
    os.makedirs(out_dir, exist_ok=True)
    progs = fuzz_programs(flt)
    # Each target is one process on one core: alone, as many run at once as there are cores.
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers or os.cpu_count() or 1) as pool:
        results = list(pool.map(lambda p: fuzz_one(p, seconds, out_dir), progs))
    for prog, (code, log, runs) in zip(progs, results):
        name = os.path.basename(prog)
        tally.add(name, "pass" if code == 0 else "fail", tail(log))
        print("  %-40s %s (%s runs)" % (name, "ok" if code == 0 else "FAILED", runs), flush=True)


def run_session(tally, session, flt):
    """One build's Windows tests in its own booted session."""
    print("tests under Wine: %s" % describe(session.arch), flush=True)
    if session.error:
        tally.add("%s wine session" % session.arch, "fail", session.error)
        return
    run_wine(tally, session, flt)
    run_scripts(tally, session, flt)
    if not session.alive():
        tally.add("%s wine session" % session.arch, "fail",
                  "the X display %s died during the run" % session.display)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("filter", nargs="?", default="")
    ap.add_argument("--fuzz-seconds", type=int, default=int(os.environ.get("ZLV_FUZZ_SECONDS", 10)))
    ap.add_argument("--only-fuzz", action="store_true")
    args = ap.parse_args()

    arches = [] if args.only_fuzz else modes()
    if not args.only_fuzz and not arches:
        print("no Windows build to test: tools/machine.sh names none (ZLV_ARCH?)", file=sys.stderr)
        return 2
    # Say why nothing would run, instead of a quiet "0 passed, 0 failed".
    built = fuzz_programs("") if args.only_fuzz else native_programs("") and all(
        wine_programs(a, "") for a in arches)
    if not built:
        print("nothing built: run ./zlv build", file=sys.stderr)
        return 2
    chosen = fuzz_programs(args.filter) if args.only_fuzz else (
        native_programs(args.filter) + test_scripts(args.filter, False) +
        test_scripts(args.filter, True) + fuzz_programs(args.filter) +
        [p for a in arches for p in wine_programs(a, args.filter)])
    if not chosen:
        print("no test matches %s" % args.filter, file=sys.stderr)
        return 2
    enter_private_network()
    loopback_up()
    if not args.only_fuzz and "i686" not in arches and not os.environ.get("ZLV_ARCH"):
        print("this machine runs no 32-bit code: the Windows tests run the 64-bit test build",
              flush=True)
    os.makedirs(ARTIFACTS, exist_ok=True)

    tally = Tally()
    started = time.time()
    if args.only_fuzz:
        run_fuzz(tally, args.fuzz_seconds, args.filter)
    else:
        # Every prefix boots while the native tests run; each build has its own.
        sessions = [WineSession(ARTIFACTS, restart_desktop=True, arch=a) for a in arches]
        boots = [threading.Thread(target=s.start) for s in sessions]
        for boot in boots:
            boot.start()
        # The fuzz targets take one core beside the Windows tests, which mostly wait; they
        # report into a tally of their own, added at the end.
        fuzz_tally = Tally()
        fuzz = threading.Thread(target=run_fuzz,
                                args=(fuzz_tally, args.fuzz_seconds, args.filter, 1))
        try:
            print("native tests", flush=True)
            run_native(tally, args.filter)
            run_scripts(tally, None, args.filter)
            fuzz.start()
            for session, boot in zip(sessions, boots):
                boot.join()
                run_session(tally, session, args.filter)
                session.stop()
        finally:
            for session, boot in zip(sessions, boots):
                boot.join()
                session.stop()
            if fuzz.ident:
                fuzz.join()
        tally.merge(fuzz_tally)

    for name, detail in tally.failures:
        print("FAILED %s\n    %s" % (name, detail.strip().replace("\n", "\n    ")))
    print("took %.0f s" % (time.time() - started))
    summary = "%d passed, %d failed" % (tally.passed, tally.failed)
    if tally.skipped:
        summary += ", %d skipped" % tally.skipped
    if arches:
        print("the Windows tests ran on %s" % " and ".join(describe(a) for a in arches))
    print(summary)
    return 1 if tally.failed or tally.passed == 0 else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(1))
    sys.exit(main())
