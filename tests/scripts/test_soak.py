#!/usr/bin/env python3
"""Thirty simulated days of the agent under Wine: agent_soak.exe runs the agent's start-up once a
day against a fake clock, downloads, uses the menu and HotSyncs through the stand-ins, and checks
that handles, GDI objects and private memory stay flat. It runs from a product folder of its own
that holds only conduit.dll beside it, with the Palm stand-ins where the user's Palm Desktop is
(the session's); its PASS/FAIL lines are passed on.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")  # the build this session runs
FILES = [os.path.join(WIN, "tests", "agent_soak.exe"), os.path.join(WIN, "conduit.dll")]
DAYS = int(os.environ.get("ZLV_SOAK_DAYS", "30"))
LIMIT_S = 280


def main():
    missing = [f for f in FILES if not os.path.exists(f)]
    if missing:
        print("FAIL soak: setup -- not built: %s" % ", ".join(missing), flush=True)
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-soak-")
    folder = os.path.join(tmp, "Zelvantic")
    os.makedirs(os.path.join(tmp, "handheld"))
    os.makedirs(folder)
    for f in FILES:
        shutil.copy(f, folder)
    env = dict(os.environ, ZLV_HANDHELD_DIR="Z:" + os.path.join(tmp, "handheld").replace("/", "\\"))
    seen = 0
    try:
        p = subprocess.run(["wine", os.path.join(folder, "agent_soak.exe"), str(DAYS)], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, timeout=LIMIT_S)
        for line in p.stdout.decode("latin-1").splitlines():
            print(line, flush=True)
            seen += line.startswith(("PASS", "FAIL"))
        if p.returncode != 0 and seen == 0:
            print("FAIL soak: agent_soak.exe ended with %d" % p.returncode, flush=True)
    except subprocess.TimeoutExpired as e:
        print("FAIL soak: not done within %d s" % LIMIT_S, flush=True)
        # What it had said by then, indented so that it is read as detail, not as results.
        for line in (e.stdout or b"").decode("latin-1").splitlines():
            print("    " + line, flush=True)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
