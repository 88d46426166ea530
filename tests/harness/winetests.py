"""The Windows tests of one build: its Win32 GoogleTest programs and the scripts that need Wine,
in one session (prefix, display, wineserver), in this process or in a child of its own."""
import glob
import json
import os
import re
import signal
import subprocess
import sys

from testlog import (ARTIFACTS, BUILD, LOGS, ROOT, Tally, matches, print_result, run_logged, tail,
                     tally_gtest_xml)
from winesession import WineSession, describe, loopback_up, win_folder

TESTRUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testrun.py")


def wine_programs(arch, flt):
    pattern = os.path.join(win_folder(arch), "tests", "*_tests.exe")
    return [p for p in sorted(glob.glob(pattern)) if matches(os.path.basename(p), flt)]


# Scripts that start no Windows program: they run once, outside the Wine sessions. The shipped
# binaries they read are the i686 build's on every machine.
WITHOUT_WINE = ("test_art.sh", "test_bench_tool.py", "test_binaries.sh", "test_fetch.py",
                "test_installer_manual.py", "test_manifests.py")


def test_scripts(flt, wine):
    found = sorted(glob.glob(os.path.join(ROOT, "tests", "scripts", "test_*.py")) +
                   glob.glob(os.path.join(ROOT, "tests", "scripts", "test_*.sh")))
    return [s for s in found if matches(os.path.basename(s), flt) and
            (os.path.basename(s) not in WITHOUT_WINE) == wine]


# The deployment values the shipped agent must carry (its strings 1 and 8), stated here rather
# than taken from the build's own settings; set them in the environment for another deployment.
EXPECTED_DEPLOYMENT = {"ZLV_EXPECT_UPDATE_URL": "http://127.0.0.1/updatedrates.php",
                       "ZLV_EXPECT_WEBSITE": "http://www.zelvantic.example/"}


def run_wine(tally, session, programs):
    env = dict(session.env)
    for name, value in EXPECTED_DEPLOYMENT.items():
        env[name] = os.environ.get(name, value)
    for prog in programs:
        name = "%s/%s" % (session.arch, os.path.basename(prog))
        xml_path = os.path.join(LOGS, name + ".xml")
        if os.path.exists(xml_path):
            os.remove(xml_path)
        code, log = run_logged(name, ["wine", prog, "--gtest_output=xml:Z:" +
                                      xml_path.replace("/", "\\")],
                               env=env, cwd=os.path.dirname(prog))
        tally_gtest_xml(tally, name, xml_path, code, log)
        check_leftovers(tally, session, name)
        print_result(name, code)


LINE = re.compile(r"^(PASS|FAIL|SKIP)[: ]\s*(.*)$")


# Programs a test starts and must end: one left running holds the agent's mutex or the HotSync,
# and every later test would fail for it. The soak runs the agent's start-up in its own process,
# which a script's time limit leaves behind.
OWN_PROGRAMS = ("agent.exe", "hotsync.exe", "baseline.exe", "agent_soak.exe")


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


def run_scripts(tally, session, scripts):
    """Scripts in one Wine session, or with session None scripts that need none."""
    env = session.env if session else dict(os.environ, ZLV_ROOT=ROOT, ZLV_BUILD=BUILD,
                                           ZLV_ARTIFACTS=ARTIFACTS, TZ="UTC",
                                           ZLV_SHIPPED=win_folder("i686"))
    for script in scripts:
        name = os.path.basename(script)
        if session:
            name = "%s/%s" % (session.arch, name)
        runner = ["python3"] if script.endswith(".py") else ["bash"]
        if not session and os.environ.get("ZLV_NETNS"):
            # Beside the Windows tests: a loopback of its own, so that its servers and theirs
            # may all take port 80.
            runner = ["unshare", "-n", "--", "sh", "-c", 'ip link set lo up && exec "$@"',
                      "sh"] + runner
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
        print_result(name, code)


# Seconds each of the slower Windows tests took under Wine (others count as a few), only for
# sharing a build's tests out between lanes so that the lanes end together.
LANE_WEIGHTS = {"test_faults.py": 65, "test_user_names.py": 40, "test_soak.py": 30,
                "gif_tests.exe": 22, "hardening_tests.exe": 20, "test_installer.py": 17,
                "conduit_tests.exe": 15, "agent_process_tests.exe": 13, "test_uninstaller.py": 12}


def lane_share(paths, lanes, lane):
    """The paths that lane runs of lanes: the heaviest first, each to the lightest lane."""
    loads = [0] * lanes
    mine = set()
    for path in sorted(paths, key=lambda p: -LANE_WEIGHTS.get(os.path.basename(p), 5)):
        lightest = loads.index(min(loads))
        loads[lightest] += LANE_WEIGHTS.get(os.path.basename(path), 5)
        if lightest == lane:
            mine.add(path)
    return [p for p in paths if p in mine]


def run_session(tally, session, flt, lane=0, lanes=1):
    """One build's Windows tests (or one lane's share of them) in its own booted session."""
    print("tests under Wine: %s%s" % (describe(session.arch),
                                      ", lane %d of %d" % (lane + 1, lanes) if lanes > 1 else ""),
          flush=True)
    if session.error:
        tally.add("%s wine session" % session.arch, "fail", session.error)
        return
    programs, scripts = wine_programs(session.arch, flt), test_scripts(flt, True)
    share = lane_share(programs + scripts, lanes, lane)
    run_wine(tally, session, [p for p in programs if p in share])
    run_scripts(tally, session, [s for s in scripts if s in share])
    if not session.alive():
        tally.add("%s wine session" % session.arch, "fail",
                  "the X display %s died during the run" % session.display)


class ModeChild:
    """One lane of one build's Windows tests in a process of its own, in a network namespace of
    its own, so that lanes and builds run at once and each may serve on 127.0.0.1:80."""

    def __init__(self, arch, lane, lanes, flt):
        self.arch = arch
        self.output = os.path.join(LOGS, "mode-%s-%d.log" % (arch, lane))
        self.report = os.path.join(LOGS, "mode-%s-%d.json" % (arch, lane))
        os.makedirs(LOGS, exist_ok=True)
        for path in (self.output, self.report):
            if os.path.exists(path):
                os.remove(path)
        with open(self.output, "w") as out:
            self.process = subprocess.Popen(
                ["unshare", "-n", "--", sys.executable, TESTRUN, "--mode", arch, "--lane",
                 "%d/%d" % (lane, lanes), "--report", self.report, flt], stdout=out,
                stderr=subprocess.STDOUT,
                stdin=subprocess.DEVNULL, env=dict(os.environ, ZLV_NETNS="1"))

    def finish(self, tally):
        """Waits for the child, shows what it printed and adds what it counted."""
        self.process.wait()
        with open(self.output, errors="replace") as f:
            sys.stdout.write(f.read())
        sys.stdout.flush()
        try:
            with open(self.report) as f:
                counted = json.load(f)
        except (OSError, ValueError):
            tally.add("%s wine tests" % self.arch, "fail",
                      "no report (exit code %s)\n%s" % (self.process.returncode,
                                                        tail(self.output)))
            return
        part = Tally()
        part.passed, part.failed, part.skipped = (counted["passed"], counted["failed"],
                                                  counted["skipped"])
        part.failures = [tuple(f) for f in counted["failures"]]
        tally.merge(part)


def run_mode(arch, lane, lanes, flt, report):
    """The child's side: one session, its lane's tests, the counts written for the parent."""
    loopback_up()
    os.makedirs(ARTIFACTS, exist_ok=True)
    tally = Tally()
    session = WineSession(ARTIFACTS, restart_desktop=True, arch=arch)
    try:
        session.start()
        run_session(tally, session, flt, lane, lanes)
    finally:
        session.stop()
    with open(report, "w") as f:
        json.dump({"passed": tally.passed, "failed": tally.failed, "skipped": tally.skipped,
                   "failures": tally.failures}, f)
    return 0
