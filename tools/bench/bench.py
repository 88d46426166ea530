#!/usr/bin/env python3
"""./zlv bench: the agent's figures, each beside a baseline measured in the same run.

Runs inside a throw-away Wine session (prefix, Xvfb, wineserver) and, as root, a private network
where nginx serves the rates page on 127.0.0.1:80. Writes $ZLV_BUILD/bench.md (the table) and
$ZLV_BUILD/bench.json (every sample). Timed figures are repeated; the table gives the median and
the range. The machine is shared and noisy, so verdicts compare ratios where there is a baseline.
"""
import argparse
import json
import os
import signal
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
sys.path.insert(0, HERE)
sys.path.insert(1, os.path.join(ROOT, "tests", "harness"))
sys.path.insert(2, os.path.join(ROOT, "tests", "tools"))  # the https peers the tests use too

from figures import figures_from  # noqa: E402
from readings import machine_info  # noqa: E402
from report import save_samples, write_results  # noqa: E402


def own_checks_pass():
    """The bench's arithmetic and its servers on this machine, before a long run relies on them."""
    import unittest
    import test_bench
    checks = unittest.defaultTestLoader.loadTestsFromModule(test_bench)
    return unittest.TextTestRunner(stream=sys.stderr, verbosity=0).run(checks).wasSuccessful()


def table_again(path):
    """Measures nothing: the figures made anew from an earlier run's samples."""
    with open(path) as f:
        earlier = json.load(f)
    earlier["errors"] = [e for e in earlier.get("errors", []) if not e.startswith("figure ")]
    earlier["figures"] = figures_from(earlier["raw"], earlier["errors"])
    return write_results(earlier, BUILD)


def measure(quick, only):
    from measure import Bench
    from winesession import (WineSession, describe, enter_private_network, loopback_up, modes,
                             win_folder)
    enter_private_network()
    loopback_up()
    if not own_checks_pass():
        sys.exit("bench: its own checks failed; nothing measured")
    arch = (modes() or [None])[0]
    if not arch:
        sys.exit("bench: no Windows build this machine can run")
    for f in ("bench_probe.exe", "baseline.exe"):
        if not os.path.exists(os.path.join(win_folder(arch), "bench", f)):
            sys.exit("bench: %s is not built (./zlv build)" % f)
    started = time.time()
    machine = machine_info()
    machine["build"] = describe(arch)
    session = WineSession(os.path.join(BUILD, "artifacts"), restart_desktop=True, arch=arch)
    bench = None
    try:
        session.start()
        if session.error:
            sys.exit("bench: no Wine session: %s" % session.error)
        bench = Bench(session, BUILD, quick, only)
        bench.run()
    finally:
        if bench:
            bench.close()
        session.stop()
    machine["load_end"] = "%.2f" % os.getloadavg()[0]
    machine["seconds"] = time.time() - started
    result = {"machine": machine, "raw": bench.raw, "errors": bench.errors, "quick": quick}
    save_samples(result, BUILD)
    result["figures"] = figures_from(bench.raw, result["errors"])
    return write_results(result, BUILD)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="fewer and shorter runs (a smoke test)")
    ap.add_argument("--only", action="append", metavar="WORD",
                    help="only the steps whose name holds WORD (may be repeated)")
    ap.add_argument("--table-from", metavar="JSON",
                    help="measure nothing: write the table again from an earlier bench.json")
    args = ap.parse_args()
    if args.table_from:
        return table_again(args.table_from)
    return measure(args.quick, args.only)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(143))
    sys.exit(main())
