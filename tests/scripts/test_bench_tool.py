#!/usr/bin/env python3
"""The bench's own checks (tools/bench/test_bench.py), one PASS or FAIL line each: its /proc
readings, the rates data it serves, its verdicts and table, nginx and the black-hole listener on
this machine. No Wine. A check that skips is a failure: everything it needs is built or set up."""
import os
import sys
import unittest

sys.dont_write_bytecode = True
ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BENCH = os.path.join(ROOT, "tools", "bench")


class Lines(unittest.TestResult):
    def name(self, test):
        return "bench: " + test.id().split(".", 1)[-1]

    def addSuccess(self, test):
        super().addSuccess(test)
        print("PASS %s" % self.name(test), flush=True)

    def failed(self, test, why):
        # The runner takes the first line as the failure; the traceback follows, indented.
        lines = why.strip().splitlines()
        print("FAIL %s -- %s" % (self.name(test), lines[-1]), flush=True)
        for line in lines[:-1]:
            print("    " + line)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.failed(test, self._exc_info_to_string(err, test))

    def addError(self, test, err):
        super().addError(test, err)
        self.failed(test, self._exc_info_to_string(err, test))

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.errors.append((test, reason))
        self.failed(test, "skipped: " + reason)


def main():
    sys.path.insert(0, BENCH)
    try:
        import test_bench
    except Exception as e:  # a module of the bench that does not load is a failure too
        print("FAIL bench: loading its checks -- %s: %s" % (type(e).__name__, e), flush=True)
        return 1
    checks = unittest.defaultTestLoader.loadTestsFromModule(test_bench)
    result = Lines()
    checks.run(result)
    if result.testsRun == 0:
        print("FAIL bench: no checks found in %s" % test_bench.__file__, flush=True)
    return 0 if result.wasSuccessful() and result.testsRun else 1


if __name__ == "__main__":
    sys.exit(main())
