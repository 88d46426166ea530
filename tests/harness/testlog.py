"""What the test runner's parts share: where logs go, the tally of outcomes, and running one
program with its output in its own log."""
import os
import re
import subprocess
import time
import xml.etree.ElementTree as ET

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
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


def print_result(name, code):
    print("  %-40s %-6s %5.1f s" % (name, "ok" if code == 0 else "FAILED", LAST_SECONDS[0]),
          flush=True)
