#!/usr/bin/env python3
"""https and the user's proxy under Wine: runs tls_peers.exe (the downloader's cases) against
nginx over TLS with this run's test CA (trusted only in the prefix's root store), the fault
matrix server speaking TLS, tinyproxy with and without a password, and servers that answer
CONNECT wrongly; then checks that the proxy carried what went through it. One PASS/FAIL line per
case; a peer that cannot start fails."""
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
import peers
import tls_peers
from test_download import rates_page
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")
EXE = os.path.join(WIN, "tests", "tls_peers.exe")
TRUST = os.path.join(WIN, "tests", "trust_ca.exe")
MATRIX_PAGE = os.path.join(ROOT, "docs", "sample-rates.txt")
TOOLS = os.path.join(ROOT, "tests", "tools")
HOST = tls_peers.SERVER_NAME


def report(kind, name, detail=""):
    print("%s tls: %s%s" % (kind, name, (" -- " + detail) if detail else ""), flush=True)


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def start_ready(args, log):
    proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=open(log, "w"), text=True)
    if proc.stdout.readline().strip() != "ready":
        proc.terminate()
        raise RuntimeError("%s did not come up: %s" % (os.path.basename(args[1]),
                                                        open(log).read()[-300:]))
    return proc


def start_peers(tmp, certs, www):
    procs = [tls_peers.start_nginx(os.path.join(tmp, "nginx"), [
        (443, www, certs["good"]), (8444, www, certs["untrusted"]),
        (8445, www, certs["wrong_name"]), (8446, www, certs["expired"]), (8447, www, None),
        (8080, www, None)])]
    good_cert, good_key = certs["good"]
    procs.append(start_ready([sys.executable, os.path.join(TOOLS, "fault_matrix_server.py"),
                              "--page", MATRIX_PAGE, "--record", os.path.join(tmp, "record"),
                              "--cert", good_cert, "--key", good_key,
                              "tls:127.0.0.1:8448=cut_open", "tls:127.0.0.1:8449=open_notify",
                              "127.0.0.1:8450=hello_reset", "127.0.0.1:8451=good"],
                             os.path.join(tmp, "matrix.log")))
    procs.append(start_ready([sys.executable, os.path.join(TOOLS, "fault_server.py"), "--host",
                              "127.0.0.1", "--port", "8452"], os.path.join(tmp, "fault.log")))
    procs.append(tls_peers.start_tinyproxy(tmp, 3128))
    procs.append(tls_peers.start_tinyproxy(tmp, 3129, basic_auth="agent secret"))
    return procs


def run_cases(tmp, page_path):
    env = dict(os.environ,
               ZLV_TLS_PAGE=win_path(page_path), ZLV_MATRIX_PAGE=win_path(MATRIX_PAGE),
               ZLV_TLS_GOOD="https://%s/updatedrates.php" % HOST,
               ZLV_HTTP_GOOD="http://127.0.0.1:8080/updatedrates.php",
               ZLV_TLS_UNTRUSTED="https://%s:8444/updatedrates.php" % HOST,
               ZLV_TLS_WRONG_NAME="https://%s:8445/updatedrates.php" % HOST,
               ZLV_TLS_EXPIRED="https://%s:8446/updatedrates.php" % HOST,
               ZLV_TLS_PLAIN_HTTP="https://%s:8447/updatedrates.php" % HOST,
               ZLV_TLS_CUT_WITHOUT_CLOSE_NOTIFY="https://%s:8448/updatedrates.php" % HOST,
               ZLV_TLS_CLOSE_NOTIFY="https://%s:8449/updatedrates.php" % HOST,
               ZLV_TLS_HANDSHAKE_RESET="https://%s:8450/updatedrates.php" % HOST,
               ZLV_PROXY_PAGE_FOR_CONNECT="127.0.0.1:8451", ZLV_PROXY_400="127.0.0.1:8452",
               ZLV_PROXY="127.0.0.1:3128", ZLV_PROXY_407="127.0.0.1:3129",
               ZLV_PROXY_CLOSED="127.0.0.1:9")
    peers.run_gtest_cases(EXE, env, tmp, report)


def check_proxy_logs(tmp):
    """tinyproxy carried the https tunnel to the server's own name and the http request."""
    log = open(os.path.join(tmp, "tinyproxy-3128.log"), errors="replace").read()
    wanted = ["CONNECT %s:443" % HOST, "GET http://127.0.0.1:8080/updatedrates.php"]
    missing = [w for w in wanted if w not in log]
    report("FAIL" if missing else "PASS", "the proxy carried the tunnel and the http request",
           "not in its log: %s" % missing if missing else "")


def main():
    missing = [p for p in (EXE, TRUST) if not os.path.exists(p)]
    missing += [t for t in ("nginx", "tinyproxy", "openssl") if not shutil.which(t)]
    if missing:
        report("FAIL", "peers", "missing: " + ", ".join(missing))
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-tls-")
    procs = []
    try:
        www = os.path.join(tmp, "www")
        os.makedirs(www)
        page_path = os.path.join(www, "updatedrates.php")
        with open(page_path, "wb") as f:
            f.write(rates_page(60000))  # several TLS records
        try:
            certs = tls_peers.make_certificates(os.path.join(tmp, "certs"))
            tls_peers.trust_in_prefix(TRUST, certs["ca_der"])
            procs = start_peers(tmp, certs, www)
        except (OSError, RuntimeError) as e:
            report("FAIL", "peers", str(e))
            return 1
        run_cases(tmp, page_path)
        check_proxy_logs(tmp)
    finally:
        peers.stop(procs)
        if not os.environ.get("ZLV_KEEP"):
            shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
