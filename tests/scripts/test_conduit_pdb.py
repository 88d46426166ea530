#!/usr/bin/env python3
"""A HotSync of a 60,000-byte rates body through the stand-ins under Wine, then the handheld
database file read back by an independent reader (Debian's Palm::PDB) and by zlvtool pdb.
Prints PASS/FAIL lines; the measured figures go to $ZLV_ARTIFACTS/conduit-figures.txt."""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

BUILD = os.environ.get("ZLV_BUILD") or os.path.join(os.environ["ZLV_ROOT"], "build")
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")  # the build this session runs
ZLVTOOL = os.path.join(BUILD, "host", "zlvtool")
ARTIFACTS = os.environ.get("ZLV_ARTIFACTS") or os.path.join(BUILD, "artifacts")
sys.path.insert(0, os.path.join(os.environ["ZLV_ROOT"], "tests", "tools"))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from peers import palm_pdb  # noqa: E402
failed = 0


def check(name, ok, detail=""):
    global failed
    print("%s %s%s" % ("PASS" if ok else "FAIL", name, "" if ok else ": " + detail), flush=True)
    failed += 0 if ok else 1


def winpath(path):
    return subprocess.check_output(["winepath", "-w", path], stderr=subprocess.DEVNULL,
                                   text=True).strip()


def reg(*args):
    subprocess.run(["wine", "reg"] + list(args), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def rates_body(length):
    """Lines as the agent writes them: "CODE Name", then two rates, each ended by a zero byte."""
    lines = []
    size = 5
    n = 0
    while True:
        line = b"C%03d Currency %d\x00%d.%04d\x00%d.%04d\x00" % (n, n, n % 9, n, n % 7, n)
        if size + len(line) > length - 40:
            break
        lines.append(line)
        size += len(line)
        n += 1
    filler = length - size - len(b"ZZZ \x001\x002\x00")
    lines.append(b"ZZZ " + b"f" * filler + b"\x001\x002\x00")
    body = b"%04d\x00" % len(lines) + b"".join(lines)
    assert len(body) == length
    return body


def main():
    # The HotSync Manager of the user's Palm Desktop, in its own folder (the session's).
    hotsync = os.path.join(os.environ["ZLV_PALM"], "hotsync.exe")
    if not os.path.exists(hotsync) or not os.path.exists(os.path.join(WIN, "conduit.dll")):
        check("conduit and stand-ins built", False, "no %s or no conduit.dll in %s" % (hotsync, WIN))
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-conduit-")
    try:
        install = os.path.join(tmp, "install")
        handheld = os.path.join(tmp, "handheld")
        os.makedirs(install)
        os.makedirs(handheld)
        shutil.copy(os.path.join(WIN, "conduit.dll"), install)
        entry = r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA"
        reg("add", entry, "/v", "Folder", "/d", winpath(install), "/f")
        reg("add", entry, "/v", "File", "/d", "conduit.dll", "/f")
        reg("add", r"HKCU\Software\Morvane\Zelvantic", "/v", "target", "/d", winpath(install),
            "/f")
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\Morvane\Zelvantic", "/v", "hwnd",
                        "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        env = dict(os.environ, ZLV_HANDHELD_DIR=winpath(handheld))
        env.pop("ZLV_SYNC_FAIL", None)

        made = subprocess.run(["wine", hotsync, "--install-db"], env=env, capture_output=True)
        check("empty database installed", made.returncode == 0, made.stderr.decode(errors="replace"))

        body = rates_body(60000)
        rates = os.path.join(install, "mrvrates.zlv")
        with open(rates, "wb") as f:
            f.write(b"kelpo\x00\x00\x00" + struct.pack("<i", int(time.time())) + body)
        kept = os.path.join(tmp, "kept.zlv")
        shutil.copy(rates, kept)

        start = time.time()
        run = subprocess.run(["wine", hotsync], env=env, capture_output=True, text=True)
        wall = time.time() - start
        expected = ["Opening connection", "verifying local database", "searching palm database",
                    "opening database", "clearing handheld database", "updating currencies",
                    "closing database", "Closing connection"]
        check("60,000-byte HotSync succeeds", run.returncode == 0,
              "exit %d %s" % (run.returncode, run.stderr))
        check("progress texts in order", run.stdout.splitlines() == expected, run.stdout)
        check("rates file deleted", not os.path.exists(rates))
        timed = re.search(r"result (-?\d+) after ([\d.]+) ms", run.stderr)
        inside_ms = float(timed.group(2)) if timed else -1

        database = os.path.join(handheld, "ZLV Currencies.pdb")
        code, fields, err = palm_pdb(database)
        check("Palm::PDB reads the handheld file", code == 0, err)
        check("Palm::PDB: name, type and creator",
              (fields.get("name"), fields.get("type"), fields.get("creator")) ==
              ("ZLV Currencies", "CURR", "ZLVD"), str(fields))
        check("Palm::PDB: one record equal to the rates body",
              fields.get("records") == "1" and fields.get("data") == body.hex(),
              "records=%s" % fields.get("records"))

        shown = subprocess.run([ZLVTOOL, "pdb", database], capture_output=True, text=True)
        out = shown.stdout
        check("zlvtool pdb prints the header",
              shown.returncode == 0 and "name: ZLV Currencies" in out and "type: CURR" in out
              and "creator: ZLVD" in out and "records: 1" in out, out[:400] + shown.stderr)
        lines = body.count(b"\x00") // 3
        check("zlvtool pdb prints the rates lines",
              "rates: %04d lines" % lines in out and "    C001 Currency 1 | 1.0001 | 1.0001" in out
              and "record 0: 60000 bytes, attributes 0x40" in out, out[:600])

        made_pdb = os.path.join(tmp, "from-rates.pdb")
        conv = subprocess.run([ZLVTOOL, "pdb", "--from-rates", kept, made_pdb],
                              capture_output=True, text=True)
        code2, fields2, err2 = palm_pdb(made_pdb)
        check("zlvtool pdb --from-rates: Palm::PDB reads the same database",
              conv.returncode == 0 and code2 == 0 and
              (fields2.get("name"), fields2.get("type"), fields2.get("creator"),
               fields2.get("records")) == ("ZLV Currencies", "CURR", "ZLVD", "1"),
              conv.stderr + err2 + str(fields2))
        check("zlvtool pdb --from-rates: its record equals the one the HotSync wrote",
              fields2.get("data") is not None and fields2.get("data") == fields.get("data"))

        not_rates = os.path.join(tmp, "not-rates.zlv")
        with open(not_rates, "wb") as f:
            f.write(b"kelpoX\x00\x00" + body[:100])
        refused_pdb = os.path.join(tmp, "refused.pdb")
        refused = subprocess.run([ZLVTOOL, "pdb", "--from-rates", not_rates, refused_pdb],
                                 capture_output=True, text=True)
        check("zlvtool pdb --from-rates refuses a damaged rates file and writes nothing",
              refused.returncode == 1 and "kelpo" in refused.stderr and
              not os.path.exists(refused_pdb) and not os.path.exists(refused_pdb + ".part"),
              refused.stderr)

        damaged = os.path.join(tmp, "damaged.pdb")
        with open(database, "rb") as f, open(damaged, "wb") as g:
            g.write(f.read()[:80])
        bad = subprocess.run([ZLVTOOL, "pdb", damaged], capture_output=True, text=True)
        check("zlvtool pdb refuses a cut file", bad.returncode == 1 and "record" in bad.stderr,
              bad.stderr)

        size = os.path.getsize(os.path.join(WIN, "conduit.dll"))
        os.makedirs(ARTIFACTS, exist_ok=True)
        with open(os.path.join(ARTIFACTS, "conduit-figures.txt"), "w") as f:
            f.write("conduit.dll: %d bytes\n" % size)
            f.write("HotSync of a 60,000-byte body: OpenConduit %.1f ms, whole hotsync.exe run "
                    "under Wine %.2f s\n" % (inside_ms, wall))
        print("conduit.dll %d bytes; OpenConduit %.1f ms; hotsync.exe %.2f s" %
              (size, inside_ms, wall))
    finally:
        subprocess.run(["wine", "reg", "delete", r"HKCU\Software\ZelvanticPalmSim", "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
