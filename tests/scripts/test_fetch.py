#!/usr/bin/env python3
"""zlvtool fetch against real peers on loopback, no Wine: nginx serving the sample rates page on
127.0.0.1:80 (the build's update host) and a 404 on 127.0.0.4, the fault matrix server (which
logs each request as received) on 127.0.3.x, the fault server's unanswered listener on 127.0.0.3,
nothing at all on 127.0.0.2. The database is read back with Palm::PDB and compared with what
zlvtool rates and zlvtool pdb --from-rates make of the same reply. One PASS/FAIL line per case;
a missing peer or tool fails."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from line_rule import rates_body
import peers
ZLVTOOL = os.path.join(BUILD, "host", "zlvtool")
PAGE = os.path.join(ROOT, "docs", "sample-rates.txt")
NGINX_HOST, NOT_FOUND_HOST, REFUSED_HOST, UNANSWERED_HOST = (
    "127.0.0.1", "127.0.0.4", "127.0.0.2", "127.0.0.3")
MATRIX = {"127.0.3.1": "good", "127.0.3.2": "chunked", "127.0.3.3": "empty", "127.0.3.4": "cut",
          "127.0.3.5": "stall"}
# The agent's request, for a given update server.
REQUEST = ("GET /updatedrates.php HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\n"
           "Cache-Control: no-cache \r\n\r\n")
failed = 0


def check(name, ok, detail=""):
    global failed
    print("%s fetch: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok else " -- " + detail),
          flush=True)
    failed += 0 if ok else 1


def start_nginx(tmp, page):
    """The page as /updatedrates.php on NGINX_HOST; nothing, so a 404, on NOT_FOUND_HOST."""
    www, empty = os.path.join(tmp, "www"), os.path.join(tmp, "empty")
    os.makedirs(www)
    os.makedirs(empty)
    with open(os.path.join(www, "updatedrates.php"), "wb") as f:
        f.write(page)
    return peers.start_nginx(tmp, {NGINX_HOST: www, NOT_FOUND_HOST: empty})


def palm_pdb(path):
    code, fields, error = peers.palm_pdb(path)
    return fields if code == 0 else {"error": error.strip()}


def fetch(folder, *args):
    return subprocess.run([ZLVTOOL, "fetch"] + list(args), cwd=folder, capture_output=True,
                          text=True, timeout=60)


def saved_reply(host):
    """The whole reply to the agent's request, headers and all, as curl -si would keep it."""
    with socket.create_connection((host, 80), timeout=5) as s:
        s.sendall((REQUEST % host).encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk


def good_run(tmp, page):
    """The run against nginx: the database read by Palm::PDB, then compared with the tools'."""
    folder = os.path.join(tmp, "good")
    os.makedirs(folder)
    run = fetch(folder, "--rates", "mrvrates.zlv")
    print("# $ zlvtool fetch --rates mrvrates.zlv\n# " + (run.stdout + run.stderr).strip()
          .replace("\n", "\n# ") + "\n# exit %d" % run.returncode)
    made = sorted(os.listdir(folder))
    check("nginx: exit 0, the database and the rates file and nothing else",
          run.returncode == 0 and made == ["ZLV Currencies.pdb", "mrvrates.zlv"],
          "exit %d %s %s" % (run.returncode, made, run.stderr.strip()))
    if run.returncode != 0:
        return
    database = os.path.join(folder, "ZLV Currencies.pdb")
    fields = palm_pdb(database)
    check("nginx: Palm::PDB reads one record holding exactly the rates body",
          (fields.get("name"), fields.get("type"), fields.get("creator"), fields.get("records"),
           fields.get("data")) == ("ZLV Currencies", "CURR", "ZLVD", "1", rates_body(page).hex()),
          str(fields)[:300])

    fetched_rates = open(os.path.join(folder, "mrvrates.zlv"), "rb").read()
    reply = os.path.join(tmp, "reply")
    with open(reply, "wb") as f:
        f.write(saved_reply(NGINX_HOST))
    when = str(int.from_bytes(fetched_rates[8:12], "little", signed=True))
    ref_rates, ref_pdb = os.path.join(tmp, "ref.zlv"), os.path.join(tmp, "ref.pdb")
    made = (subprocess.run([ZLVTOOL, "rates", reply, ref_rates, "--time", when],
                           capture_output=True).returncode == 0 and
            subprocess.run([ZLVTOOL, "pdb", "--from-rates", ref_rates, ref_pdb],
                           capture_output=True).returncode == 0)
    check("nginx: the rates file and the database equal zlvtool rates and pdb --from-rates "
          "of the saved reply, byte for byte",
          made and fetched_rates[:8] == b"kelpo\0\0\0" and
          fetched_rates == open(ref_rates, "rb").read() and
          open(database, "rb").read() == open(ref_pdb, "rb").read(),
          "the reference could not be made" if not made else "the files differ")


def request_and_chunked(tmp, record, page):
    folder = os.path.join(tmp, "matrix")
    os.makedirs(folder)
    host = "127.0.3.1"
    run = fetch(folder, "--url", "http://%s/updatedrates.php" % host, "--out", "good.pdb")
    logged = []
    end = time.time() + 10
    while not logged and time.time() < end:  # the server logs a connection once it has ended
        try:
            logged = [l for l in open(os.path.join(record, host + ".log"))]
        except OSError:
            time.sleep(0.05)
    requests = [json.loads(l)["request"] for l in logged]
    check("the request sent is byte for byte the agent's, once",
          run.returncode == 0 and requests == [REQUEST % host],
          "exit %d, logged %r" % (run.returncode, requests))

    run = fetch(folder, "--url", "http://127.0.3.2/updatedrates.php", "--out", "chunked.pdb")
    fields = palm_pdb(os.path.join(folder, "chunked.pdb")) if run.returncode == 0 else {}
    check("a chunked reply is a page: its decoded body is the record",
          fields.get("records") == "1" and fields.get("data") == rates_body(page).hex(),
          "exit %d %s %s" % (run.returncode, run.stderr.strip(), str(fields)[:200]))


def snapshot(folder):
    out = {}
    for name in sorted(os.listdir(folder)):
        st = os.stat(os.path.join(folder, name))
        out[name] = (st.st_ino, st.st_mtime_ns, open(os.path.join(folder, name), "rb").read())
    return out


def refusals(tmp):
    folder = os.path.join(tmp, "kept")
    os.makedirs(folder)
    for name, data in (("old.pdb", b"the old database"), ("old.zlv", b"kelpo\0\0\0the old rates")):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    usage = subprocess.run([ZLVTOOL], capture_output=True, text=True).stderr
    cases = [
        ("refused port", REFUSED_HOST, 4, "refused: nothing takes connections on port 80"),
        ("404", NOT_FOUND_HOST, 3, "no page: the status is not 200"),
        ("cut before its Content-Length", "127.0.3.4", 3,
         "no page: the page ends before its announced end"),
        ("empty body", "127.0.3.3", 3, "no page: the page has no complete line"),
        ("stall", "127.0.3.5", 6, "timed out: the server sent nothing for 2 s"),
        ("connect unanswered", UNANSWERED_HOST, 6, "timed out: no connection within 10 s"),
        ("name that does not resolve", "nohost.invalid", 5,
         "unreachable: the name does not resolve"),
    ]
    for what, host, code, reason in cases:
        before = snapshot(folder)
        run = fetch(folder, "--url", "http://%s/updatedrates.php" % host, "--out", "old.pdb",
                    "--rates", "old.zlv")
        line = "zlvtool fetch: %s: %s\n" % (host, reason)
        print("# %s: exit %d: %s" % (what, run.returncode, run.stderr.strip()))
        check("%s: exit %d, one line saying why, the old files unchanged" % (what, code),
              run.returncode == code and run.stderr == line and not run.stdout and
              snapshot(folder) == before and "    %d  " % code in usage,
              "exit %d, %r, files %s" % (run.returncode, run.stderr,
                                         "same" if snapshot(folder) == before else "changed"))

    # The tool speaks http alone: an https address is refused before anything is fetched.
    before = snapshot(folder)
    run = fetch(folder, "--url", "https://%s/updatedrates.php" % NGINX_HOST, "--out", "old.pdb")
    check("an https address: exit 2, said so, the old files unchanged",
          run.returncode == 2 and "https addresses are not supported" in run.stderr and
          snapshot(folder) == before, "exit %d, %r" % (run.returncode, run.stderr))

    # A page, but the second file cannot be written: the first is not replaced either.
    before = snapshot(folder)
    run = fetch(folder, "--url", "http://%s/updatedrates.php" % NGINX_HOST, "--out", "old.pdb",
                "--rates", "gone/old.zlv")
    print("# rates file in a missing folder: exit %d: %s" % (run.returncode, run.stderr.strip()))
    check("a file that cannot be written: exit 1, one line, neither old file replaced",
          run.returncode == 1 and run.stderr.startswith("zlvtool fetch: cannot write gone/old.zlv: ")
          and run.stderr.count("\n") == 1 and snapshot(folder) == before,
          "exit %d, %r" % (run.returncode, run.stderr))


def shared_folders(tmp):
    """A fetch into a folder other users write too: what stands under the name earlier versions
    wrote beside the database (a link to a file of the user's, a file anyone may write) is left
    as it was, and the database gets the mode the user's umask allows, whatever stood there."""
    victim = os.path.join(tmp, "victim.txt")
    with open(victim, "wb") as f:
        f.write(b"the user's own file")
    for mode, umask, wanted in ((0o1777, 0o022, 0o644), (0o2775, 0o002, 0o664),
                                (0o2775, 0o077, 0o600)):
        folder = os.path.join(tmp, "shared-%o-%03o" % (mode, umask))
        os.makedirs(folder)
        os.chmod(folder, mode)
        linked, open_file = (os.path.join(folder, n) for n in ("ZLV Currencies.pdb.part",
                                                               "mrvrates.zlv.part"))
        os.symlink(victim, linked)
        with open(open_file, "wb") as f:
            f.write(b"another user's file")
        os.chmod(open_file, 0o666)
        before = snapshot(folder)
        run = subprocess.run([ZLVTOOL, "fetch", "--url", "http://%s/updatedrates.php" % NGINX_HOST,
                              "--rates", "mrvrates.zlv"],
                             cwd=folder, capture_output=True, text=True, timeout=60,
                             preexec_fn=lambda: os.umask(umask))
        made = {n: os.stat(os.path.join(folder, n)) for n in ("ZLV Currencies.pdb", "mrvrates.zlv")
                if os.path.exists(os.path.join(folder, n))}
        kept = {n: v for n, v in snapshot(folder).items() if n in before}
        check("folder %o, umask %03o: both files made with mode %o, the link and the open file "
              "under the old names left as they were" % (mode, umask, wanted),
              run.returncode == 0 and len(made) == 2 and
              all(st.st_mode & 0o7777 == wanted and st.st_nlink == 1 for st in made.values()) and
              kept == before and open(victim, "rb").read() == b"the user's own file" and
              sorted(os.listdir(folder)) == sorted(list(before) + list(made)),
              "exit %d %s, modes %s, left %s" % (run.returncode, run.stderr.strip(),
                                                  {n: oct(st.st_mode) for n, st in made.items()},
                                                  sorted(os.listdir(folder))))


def main():
    missing = [what for what, ok in (
        ("zlvtool", os.path.exists(ZLVTOOL)), ("nginx", shutil.which("nginx")),
        ("perl Palm::PDB", subprocess.run(["perl", "-MPalm::PDB", "-e", "1"],
                                          capture_output=True).returncode == 0 if
         shutil.which("perl") else False)) if not ok]
    if missing:
        check("tools and peers", False, "missing: " + ", ".join(missing))
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-fetch-")
    record = os.path.join(tmp, "record")
    procs = []
    try:
        page = open(PAGE, "rb").read()
        try:
            procs.append(start_nginx(tmp, page))
            matrix = subprocess.Popen(
                [sys.executable, os.path.join(ROOT, "tests", "tools", "fault_matrix_server.py"),
                 "--page", PAGE, "--record", record] + ["%s=%s" % kv for kv in MATRIX.items()],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=open(os.path.join(tmp, "matrix.log"), "w"), text=True)
            procs.append(matrix)
            unanswered = subprocess.Popen(
                [sys.executable, os.path.join(ROOT, "tests", "tools", "fault_server.py"),
                 "--host", "127.0.0.5", "--port", "80", "--unanswered", UNANSWERED_HOST],
                stdout=subprocess.PIPE, stderr=open(os.path.join(tmp, "fault.log"), "w"), text=True)
            procs.append(unanswered)
            if matrix.stdout.readline().strip() != "ready" or \
                    unanswered.stdout.readline().strip() != "ready":
                raise RuntimeError("a fault server did not come up")
        except (OSError, RuntimeError) as e:
            check("peers", False, "cannot serve on port 80 here: %s" % e)
            return 1
        good_run(tmp, page)
        request_and_chunked(tmp, record, page)
        refusals(tmp)
        shared_folders(tmp)
    finally:
        peers.stop(procs)
        shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
