#!/usr/bin/env python3
"""Runs every test of the project and ends with the line 'N passed, N failed[, N skipped]'.

- native GoogleTest programs:   build/host/tests/*_tests
- Win32 GoogleTest programs:    build/win/tests/*_tests.exe (and build/win64/...), under Wine
- scripted tests:               tests/scripts/test_*.py and test_*.sh (print PASS/FAIL/SKIP lines)
- fuzz targets, briefly:        build/fuzz/fuzz_*, corpus in tests/fuzz/corpus/<target>/

The Windows tests run once for each build the machine can run (tests/harness/machine.sh): the shipped
i686 build and the x86_64 test build, or the x86_64 one alone where no 32-bit code runs;
ZLV_ARCH=i686 or x86_64 chooses one. Each Wine session has its own throw-away prefix, Xvfb
display and persistent wineserver; all of it runs inside a private network namespace when the
machine allows one (so port 80 is ours). There the Windows tests run in lanes at once, as many
as there are cores (two builds: one lane each; one build: its tests shared out), each lane a
session, a process and a namespace of its own (tests/harness/winetests.py; ZLV_LANES=N sets the count).
Scripts that start no Windows program run once, beside them. The parts share tests/harness/testlog.py.
"""
import argparse
import concurrent.futures
import glob
import os
import re
import shutil
import signal
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree free of __pycache__
from testlog import (ARTIFACTS, BUILD, LOGS, ROOT, Tally, _run_logged, matches, print_result,
                     run_logged, tail, tally_gtest_xml)
from winesession import WineSession, describe, enter_private_network, loopback_up, modes
from winetests import ModeChild, run_mode, run_scripts, run_session, test_scripts, wine_programs



def native_programs(flt):
    return [p for p in sorted(glob.glob(os.path.join(BUILD, "host", "tests", "*_tests")))
            if matches(os.path.basename(p), flt)]


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
        print_result(name, code)


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("filter", nargs="?", default="")
    ap.add_argument("--fuzz-seconds", type=int, default=int(os.environ.get("ZLV_FUZZ_SECONDS", 10)))
    ap.add_argument("--only-fuzz", action="store_true")
    ap.add_argument("--mode", help=argparse.SUPPRESS)  # a child of ModeChild
    ap.add_argument("--lane", default="0/1", help=argparse.SUPPRESS)
    ap.add_argument("--report", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.mode:
        lane, lanes = (int(n) for n in args.lane.split("/"))
        return run_mode(args.mode, lane, lanes, args.filter, args.report)

    arches = [] if args.only_fuzz else modes()
    if not args.only_fuzz and not arches:
        print("no Windows build to test: tests/harness/machine.sh names none (ZLV_ARCH?)", file=sys.stderr)
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
        # Where namespaces can be made, each build's tests run in lanes at once (they mostly
        # wait), each lane in a session and a namespace of its own; else one build after the
        # other in this process. Every prefix boots while the native tests run.
        together = os.environ.get("ZLV_NETNS") and shutil.which("unshare")
        # As many sessions at once as there are cores: more made the slowest steps miss their
        # time limits when measured on 2 cores.
        lanes = max(1, int(os.environ.get("ZLV_LANES", 0)) or
                    (os.cpu_count() or 1) // len(arches)) if together else 1
        children = []
        for arch in arches if together else []:
            share = min(lanes, len(wine_programs(arch, args.filter) +
                                   test_scripts(args.filter, True)))
            children += [ModeChild(arch, lane, share, args.filter) for lane in range(share)]
        sessions = [] if together else [WineSession(ARTIFACTS, restart_desktop=True, arch=a)
                                        for a in arches]
        boots = [threading.Thread(target=s.start) for s in sessions]
        for boot in boots:
            boot.start()
        # The scripts that need no Wine, then the fuzz targets, take one core beside the Windows
        # tests, which mostly wait; they report into a tally of their own, added at the end.
        side_tally = Tally()

        def side_work():
            run_scripts(side_tally, None, test_scripts(args.filter, False))
            run_fuzz(side_tally, args.fuzz_seconds, args.filter, 1)
        side = threading.Thread(target=side_work)
        try:
            print("native tests", flush=True)
            run_native(tally, args.filter)
            side.start()
            for child in children:
                child.finish(tally)
            for session, boot in zip(sessions, boots):
                boot.join()
                run_session(tally, session, args.filter)
                session.stop()
        finally:
            for child in children:
                if child.process.poll() is None:
                    child.process.kill()
            for session, boot in zip(sessions, boots):
                boot.join()
                session.stop()
            if side.ident:
                side.join()
        tally.merge(side_tally)

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