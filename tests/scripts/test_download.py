#!/usr/bin/env python3
"""The downloader against real peers: nginx serving the rates page on 127.0.0.1:80 and the fault
server on 127.0.0.2:80. Runs download_peers.exe (the peer cases, built apart so that nothing starts
them without their peers) under Wine, then checks the rates file against the page it was made of,
zlvtool dump against damaged files, and zlvtool rates against replies that give no page. One
PASS/FAIL line per case; a peer that cannot start fails."""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from line_rule import rates_body
import peers
EXE = os.path.join(os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win"), "tests",
                   "download_peers.exe")
ZLVTOOL = os.path.join(BUILD, "host", "zlvtool")
NGINX_HOST, FAULT_HOST, UNANSWERED_HOST = "127.0.0.1", "127.0.0.2", "127.0.0.3"
PAGE_SIZE = 60000


def report(kind, name, detail=""):
    print("%s download: %s%s" % (kind, name, (" -- " + detail) if detail else ""), flush=True)


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def rates_page(size):
    """Lines of tab-separated fields, exactly `size` bytes."""
    lines, total, n = [], 0, 0
    while True:
        line = "C%04d\tCurrency %d\t%d.%04d\n" % (n, n, n % 97, (n * 7919) % 10000)
        if total + len(line) > size - 40:
            break
        lines.append(line)
        total += len(line)
        n += 1
    last = "ZZZ\t%s\t1.0000\n"
    lines.append(last % ("x" * (size - total - len(last % ""))))
    page = "".join(lines).encode()
    assert len(page) == size
    return page


def start_nginx(tmp, page):
    www = os.path.join(tmp, "www")
    os.makedirs(www)
    with open(os.path.join(www, "updatedrates.php"), "wb") as f:
        f.write(page)
    return peers.start_nginx(tmp, {NGINX_HOST: www})


def start_fault_server(tmp):
    proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "tools", "fault_server.py"),
                             "--host", FAULT_HOST, "--port", "80", "--unanswered",
                             UNANSWERED_HOST], stdout=subprocess.PIPE,
                            stderr=open(os.path.join(tmp, "fault_server.log"), "w"), text=True)
    if proc.stdout.readline().strip() != "ready":
        proc.terminate()
        raise RuntimeError("fault server did not come up: " +
                           open(os.path.join(tmp, "fault_server.log")).read())
    return proc


def run_peer_cases(tmp, out):
    env = dict(os.environ, ZLV_NGINX_HOST=NGINX_HOST, ZLV_FAULT_HOST=FAULT_HOST,
               ZLV_UNANSWERED_HOST=UNANSWERED_HOST,
               ZLV_NGINX_PAGE=win_path(os.path.join(tmp, "www", "updatedrates.php")),
               ZLV_DOWNLOAD_OUT=win_path(out))
    peers.run_gtest_cases(EXE, env, tmp, report)


def check_rates_file(out, page):
    written = os.path.join(out, "mrvrates.zlv")
    if not os.path.exists(written):
        report("FAIL", "rates file holds the served page", "the nginx case left no file")
        return
    agent = open(written, "rb").read()
    if agent[:8] != b"kelpo\0\0\0" or agent[12:] != rates_body(page):
        report("FAIL", "rates file holds the served page", "%d bytes, expected %d"
               % (len(agent), 12 + len(rates_body(page))))
    else:
        report("PASS", "rates file holds the served page")

    d = subprocess.run([ZLVTOOL, "dump", written], capture_output=True, text=True)
    want = "count: %04d" % page.count(b"\n")
    if d.returncode == 0 and want in d.stdout and "magic: ok" in d.stdout:
        report("PASS", "zlvtool dump reads the downloaded rates file")
    else:
        report("FAIL", "zlvtool dump reads the downloaded rates file",
               "exit %d, %s" % (d.returncode, (d.stdout + d.stderr)[:300]))


def check_dump_refuses_damage(tmp, out):
    good = open(os.path.join(out, "mrvrates.zlv"), "rb").read()
    damaged = {
        "short": good[:7],
        "no count": good[:12],
        "bad magic": b"kelpa" + good[5:],
        "count not digits": good[:12] + b"00x1" + good[16:],
        "count overstated": good[:12] + b"9999" + good[16:],
    }
    problems = []
    for what, data in damaged.items():
        path = os.path.join(tmp, "bad.zlv")  # a name that does not say "damaged" itself
        with open(path, "wb") as f:
            f.write(data)
        d = subprocess.run([ZLVTOOL, "dump", path], capture_output=True, text=True)
        if d.returncode == 0 or "damaged" not in d.stderr:
            problems.append("%s: exit %d %s" % (what, d.returncode, d.stderr.strip()))
    report("FAIL" if problems else "PASS", "zlvtool dump refuses damaged files",
           "; ".join(problems))


def check_rates_refuses_dropped_responses(tmp):
    """zlvtool rates writes nothing for a reply that gives no page."""
    ok_head = b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
    cases = {
        "status 404": b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nA\tB\n",
        "zero byte at the end": ok_head + b"A\tB\nC\n\0",
        "page too long": ok_head + b"x\n" * 32765 + b"x",
        "too many lines": ok_head + b"\n" * 10000,
        "empty body": ok_head,
        "no line feed": ok_head + b"A\tB",
        "chunk cut": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nA\tB\n",
        "longer than its length": b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nA\tB\nC\n",
    }
    problems = []
    for what, data in cases.items():
        src, dst = os.path.join(tmp, "dropped.txt"), os.path.join(tmp, "dropped.zlv")
        with open(src, "wb") as f:
            f.write(data)
        if os.path.exists(dst):
            os.remove(dst)
        p = subprocess.run([ZLVTOOL, "rates", src, dst, "--time", "0"], capture_output=True,
                           text=True)
        if p.returncode == 0 or os.path.exists(dst) or not p.stderr.strip():
            problems.append("%s: exit %d" % (what, p.returncode))
    report("FAIL" if problems else "PASS", "zlvtool rates refuses what the agent drops",
           "; ".join(problems))


def main():
    missing = [p for p in (EXE, ZLVTOOL) if not os.path.exists(p)]
    if missing:
        report("FAIL", "peers", "not built: " + ", ".join(missing))
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-download-")
    out = os.path.join(tmp, "out")
    os.makedirs(out)
    procs = []
    try:
        page = rates_page(PAGE_SIZE)
        try:
            procs.append(start_nginx(tmp, page))
            procs.append(start_fault_server(tmp))
        except (OSError, RuntimeError) as e:
            report("FAIL", "peers", "cannot serve on port 80 here: %s" % e)
            return 1
        run_peer_cases(tmp, out)
        check_rates_file(out, page)
        if os.path.exists(os.path.join(out, "mrvrates.zlv")):
            check_dump_refuses_damage(tmp, out)
        check_rates_refuses_dropped_responses(tmp)
        flood = [l for l in open(os.path.join(tmp, "fault_server.log")) if "flood" in l]
        for line in flood:
            print("# " + line.strip())
    finally:
        peers.stop(procs)
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
