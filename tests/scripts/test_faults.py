#!/usr/bin/env python3
"""The agent against a misbehaving update server, one fault per case, under Wine.

Each case runs a copy of agent.exe whose update server is an address of its own (the address in
the string table is swapped for one of the same length, its path cut or padded to fit; the
keep-alive case keeps the built one, http://127.0.0.1/updatedrates.php), served by
tests/tools/fault_matrix_server.py in the way that case needs, over TLS for an https address
(with this run's test CA, trusted only in the prefix), directly or through the user's proxy.
Throughout a case the agent must stay up and answer its window's messages, its memory must stay
bounded, and at the end there is either the rates file of the served page, with "lastupdate"
stored, or no file and no "lastupdate". A refused attempt must be retried after the recycle: the
agent's clock is moved 901 s on (tests/tools/clock_shift.c, preloaded into its process) and the
server answers the next connection well. One PASS/FAIL line per case.
"""
import os
import shutil
import subprocess
import sys
import json
import tempfile
import threading
import time

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from line_rule import rates_body
import tls_peers
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")  # the build this session runs
AGENT = os.path.join(WIN, "agent.exe")
PROBE = os.path.join(WIN, "tests", "agent_probe.exe")
AGENT_COMMAND = os.path.join(WIN, "tools", "agent_command.exe")
EXIT_COMMAND = "40002"
CLOCK_SHIFT = os.path.join(BUILD, "host", "tests", {"x86_64": "clock_shift64.so"}.get(
    os.environ.get("ZLV_ARCH"), "clock_shift.so"))
SERVER = os.path.join(ROOT, "tests", "tools", "fault_matrix_server.py")
TRUST = os.path.join(WIN, "tests", "trust_ca.exe")
PAGE = os.path.join(ROOT, "docs", "sample-rates.txt")
BUILT_ADDRESS = "http://127.0.0.1/updatedrates.php"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
TINYPROXY_PORT = 3130
RSS_BOUND_KIB = 8 * 1024  # growth of the agent's resident memory over one case
ANSWER_BOUND_MS = 2000  # the old blocking connect held the window for 10 s
RECYCLE_SHIFT_S = 901  # one second past the 900 s after which an attempt is replaced
# The request as the server must receive it, for the built update server: directly, and through
# the user's proxy in the absolute form.
REQUEST = ("GET /updatedrates.php HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: text/html \r\n"
           "Cache-Control: no-cache \r\n\r\n")
PROXY_REQUEST = REQUEST.replace("GET /", "GET http://127.0.0.1/", 1)
TINYPROXY = "127.0.0.1:%d" % TINYPROXY_PORT

# name, update server (scheme://host[:port], made as long as BUILT_ADDRESS with a path), the
# server's listen key and mode or None, expectation, seconds, and the user's proxy or None.
# "file": the rates file of the page, waited for up to the seconds; "none": no file and no
# "lastupdate" after the seconds; "retry": "none" for the seconds, then after the recycle the
# file of the page that the server now sends whole.
CASES = [
    ("good page", "http://127.0.1.1", "127.0.1.1=good", "file", 8, None),
    ("chunked page", "http://127.0.2.5", "127.0.2.5=chunked", "file", 8, None),
    ("headers ended by bare line feeds", "http://127.0.2.6", "127.0.2.6=lf_lf", "file", 8, None),
    ("keep-alive page", BUILT_ADDRESS, "127.0.0.1=keepalive", "file", 8, None),
    ("connection refused", "http://127.0.1.9", None, "none", 3, None),
    ("name that does not resolve", "http://nohost.zz", None, "none", 3, None),
    ("reset mid-headers", "http://127.0.1.2", "127.0.1.2=reset_headers", "none", 3, None),
    ("reset mid-body", "http://127.0.1.3", "127.0.1.3=reset_body+good", "retry", 3, None),
    ("reset mid-body without a length", "http://127.0.2.7", "127.0.2.7=reset_open+good", "retry",
     3, None),
    ("empty body", "http://127.0.2.8", "127.0.2.8=empty+good", "retry", 3, None),
    ("one byte a second, cut by the recycle", "http://127.0.1.4", "127.0.1.4=slowloris+good",
     "retry", 3, None),
    ("stall after the first chunk", "http://127.0.1.5", "127.0.1.5=stall", "none", 4, None),
    ("stall shorter than the read time-out", "http://127.0.1.6", "127.0.1.6=short_stall", "file",
     8, None),
    ("10 MB body", "http://127.0.1.7", "127.0.1.7=flood", "none", 4, None),
    ("zero bytes in the body", "http://127.0.1.8", "127.0.1.8=zeros", "none", 3, None),
    ("no blank line", "http://127.0.2.1", "127.0.2.1=no_blank", "none", 3, None),
    ("status line without a space", "http://127.0.2.2", "127.0.2.2=no_space", "none", 3, None),
    ("status line split across reads", "http://127.0.2.3", "127.0.2.3=split", "file", 8, None),
    ("accepts and never writes", "http://127.0.2.4", "127.0.2.4=silent", "none", 4, None),
    ("https page", "https://localhost:8453", "tls:127.0.0.1:8453=good", "file", 8, None),
    ("https page cut without close_notify", "https://localhost:8454",
     "tls:127.0.0.1:8454=cut_open+good", "retry", 3, None),
    ("http through the user's proxy, asked in the absolute form", BUILT_ADDRESS,
     "127.0.2.9=good", "file", 8, "127.0.2.9:80"),
    ("https through the user's proxy", "https://localhost:8453", None, "file", 8, TINYPROXY),
]


def sized_address(base):
    """base with a path that makes it as long as the built address, so it fits its place."""
    if base == BUILT_ADDRESS:
        return base
    return base + ("/updatedrates.php?" + "x" * 40)[:len(BUILT_ADDRESS) - len(base)]


def log_name(listen):
    where = listen.split("=", 1)[0]
    host, _, port = where[len("tls:") if where.startswith("tls:") else 0:].partition(":")
    return host if not port or port == "80" else "%s_%s" % (host, port)


def server_log(record, host):
    try:
        with open(os.path.join(record, host + ".log")) as f:
            return [json.loads(line) for line in f]
    except OSError:
        return []


def report(kind, name, detail=""):
    print("%s faults: %s%s" % (kind, name, (" -- " + detail) if detail else ""), flush=True)


def wine(args, timeout=30):
    p = subprocess.run(["wine"] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                       timeout=timeout, stdin=subprocess.DEVNULL)
    return p.returncode, p.stdout.decode("latin-1").strip()


def probe(*args, timeout=30):
    return wine([PROBE] + [str(a) for a in args], timeout=timeout)


def patched_agent(folder, address):
    """A copy of agent.exe whose update server is address."""
    with open(AGENT, "rb") as f:
        data = f.read()
    old = len(BUILT_ADDRESS).to_bytes(2, "little") + BUILT_ADDRESS.encode("utf-16-le")
    new = len(address).to_bytes(2, "little") + address.encode("utf-16-le")
    if data.count(old) != 1 or len(old) != len(new):
        return None
    os.makedirs(folder)
    path = os.path.join(folder, "agent.exe")
    with open(path, "wb") as f:
        f.write(data.replace(old, new))
    return path


def user_rates_folder():
    """The user's own rates folder, where every copy of the agent writes, as a Linux path."""
    code, folder = probe("ratesfolder")
    if code != 0:
        return None
    p = subprocess.run(["winepath", "-u", folder], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return p.stdout.decode().strip() or None


def empty_rates_folder(rates_folder):
    if os.path.isdir(rates_folder):
        for name in os.listdir(rates_folder):
            os.remove(os.path.join(rates_folder, name))


def rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def agent_pid(exe):
    """The Linux process that runs this copy of the agent."""
    needle = os.path.basename(os.path.dirname(exe)).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmd = f.read()
        except OSError:
            continue
        if b"agent.exe" in cmd and needle in cmd and b"winedbg" not in cmd:
            return int(entry)
    return None


def set_user_proxy(server):
    """The user's proxy as Internet Options keeps it, or none."""
    if server:
        wine(["reg", "add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1",
              "/f"])
        wine(["reg", "add", INTERNET_SETTINGS, "/v", "ProxyServer", "/d", server, "/f"])
    else:
        wine(["reg", "delete", INTERNET_SETTINGS, "/v", "ProxyEnable", "/f"])
        wine(["reg", "delete", INTERNET_SETTINGS, "/v", "ProxyServer", "/f"])


def run_case(tmp, record, page, rates_folder, index, name, base, listen, expect, seconds, proxy):
    folder = os.path.join(tmp, "case-%d" % index)
    exe = patched_agent(folder, sized_address(base))
    mode = listen.split("=", 1)[1] if listen else None
    if not exe:
        report("FAIL", name, "the agent's update server is not %s" % BUILT_ADDRESS)
        return
    set_user_proxy(proxy)
    empty_rates_folder(rates_folder)
    rates = os.path.join(rates_folder, "mrvrates.zlv")
    shift = os.path.join(folder, "clock-shift")
    with open(shift, "w") as f:
        f.write("0")
    probe("delreg", "lastupdate")
    started = time.time()
    env = dict(os.environ, LD_PRELOAD=CLOCK_SHIFT, ZLV_CLOCK_SHIFT=shift)
    agent = subprocess.Popen(["wine", exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             stdin=subprocess.DEVNULL, env=env)
    problems, figures, shifted = [], [], 0
    try:
        end = time.time() + 15
        while probe("watch", 0)[0] != 0:
            if time.time() > end or agent.poll() is not None:
                report("FAIL", name, "the agent's window never came")
                return
            time.sleep(0.1)
        pid = agent_pid(exe)
        base = rss_kib(pid) if pid else None

        total = seconds + (7 if expect == "retry" else 0)
        # Once the page is on disk the case is decided: the watch ends then, not at its time.
        stop = folder + "-watch-stop"
        watch = {}
        watcher = threading.Thread(target=lambda: watch.update(
            result=probe("watch", total, "Z:" + stop.replace("/", "\\"), timeout=total + 30)))
        watcher.start()
        peak = base or 0
        deadline = time.time() + total
        file_seen = None
        while time.time() < deadline:
            now = rss_kib(pid) if pid else None
            if now:
                peak = max(peak, now)
            if expect == "retry" and not shifted and time.time() >= started + seconds:
                if os.path.exists(rates) or probe("getreg", "lastupdate")[0] == 0:
                    problems.append("the refused attempt left a file or \"lastupdate\"")
                with open(shift, "w") as f:
                    f.write(str(RECYCLE_SHIFT_S))
                shifted = RECYCLE_SHIFT_S
            if expect != "none" and (expect == "file" or shifted) and os.path.exists(rates):
                file_seen = time.monotonic()
                time.sleep(0.5)  # "lastupdate" follows the file
                open(stop, "w").close()
                break
            time.sleep(0.02)
        watcher.join()
        if os.path.exists(stop):
            os.remove(stop)
        code, text = watch.get("result", (None, "no result"))
        if code != 0:
            problems.append("window did not answer: %s" % text)
        slowest = text.split()[1] if code == 0 and text.startswith("slowest") else "?"
        if slowest.isdigit() and int(slowest) > ANSWER_BOUND_MS:
            problems.append("the window took %s ms to answer" % slowest)
        if agent.poll() is not None:
            problems.append("the agent ended (exit code %s)" % agent.returncode)
        grew = peak - base if base else None
        if grew is not None and grew > RSS_BOUND_KIB:
            problems.append("resident memory grew by %d KiB" % grew)

        have_file = os.path.exists(rates)
        rc, value = probe("getreg", "lastupdate")
        connections = server_log(record, log_name(listen)) if listen else []
        if expect in ("file", "retry"):
            if not have_file:
                problems.append("no rates file")
            else:
                with open(rates, "rb") as f:
                    got = f.read()
                if got[:8] != b"kelpo\0\0\0" or got[12:] != rates_body(page):
                    problems.append("the rates file is not the page's (%d bytes, expected %d)"
                                    % (len(got), 12 + len(rates_body(page))))
            if rc != 0 or not value.startswith("4 "):
                problems.append("no \"lastupdate\" (%s)" % value)
            else:
                stamp = int.from_bytes(bytes.fromhex(value.split()[1]), "little") - shifted
                if not started - 5 <= stamp <= time.time() + 5:
                    problems.append("\"lastupdate\" %d is not the time of the download" % stamp)
            if expect == "retry" and len(connections) < 2:
                problems.append("no second attempt after the recycle (%d connections)"
                                % len(connections))
        else:
            if have_file:
                problems.append("a rates file of %d bytes was written"
                                % os.path.getsize(rates))
            if rc == 0:
                problems.append("\"lastupdate\" was stored (%s)" % value)
        if proxy and listen:
            sent = [c.get("request") for c in connections]
            if sent != [PROXY_REQUEST]:
                problems.append("the proxy was asked %r" % sent)
        if mode == "keepalive":
            first = connections[0] if connections else {}
            if first.get("request") != REQUEST:
                problems.append("the request was %r" % first.get("request"))
            if "t_client_closed" not in first or "t_last_byte" not in first:
                problems.append("the agent kept the connection open")
            else:
                ended = first["t_client_closed"] - first["t_last_byte"]
                figures.append("last byte to attempt end %d ms" % (ended * 1000))
                if ended > 1.0:
                    problems.append("the attempt ended %.1f s after the last byte" % ended)
                if file_seen:
                    figures.append("request to file on disk %d ms"
                                   % ((file_seen - first["t_request"]) * 1000))
        leftovers = [n for n in os.listdir(folder) if n not in ("agent.exe", "clock-shift")]
        if os.path.isdir(rates_folder):
            leftovers += [n for n in os.listdir(rates_folder) if n != "mrvrates.zlv"]
        if leftovers:
            problems.append("left behind: %s" % ", ".join(leftovers))
        detail = "slowest answer %s ms, memory +%s KiB" % (slowest, grew if grew is not None
                                                           else "?")
    finally:
        set_user_proxy(None)
        t = time.time()
        code, text = wine([AGENT_COMMAND, EXIT_COMMAND, "5"])
        if code != 0:
            problems.append("Exit command: %s" % text)
            agent.kill()
        try:
            agent.wait(10)
        except subprocess.TimeoutExpired:
            agent.kill()
        exit_ms = int((time.time() - t) * 1000)
    report("FAIL" if problems else "PASS", name,
           "; ".join(problems + figures + [detail, "exit %d ms" % exit_ms]))


def main():
    for path in (AGENT, PROBE, AGENT_COMMAND, CLOCK_SHIFT, TRUST):
        if not os.path.exists(path):
            report("FAIL", "setup", "missing %s: build first" % path)
            return 1
    rates_folder = user_rates_folder()
    if not rates_folder:
        report("FAIL", "setup", "no rates folder for this user")
        return 1
    tmp = tempfile.mkdtemp(prefix="zlv-faults-")
    with open(PAGE, "rb") as f:
        page = f.read()
    record = os.path.join(tmp, "responses")
    try:
        certs = tls_peers.make_certificates(os.path.join(tmp, "certs"))
        tls_peers.trust_in_prefix(TRUST, certs["ca_der"])
        proxy = tls_peers.start_tinyproxy(tmp, TINYPROXY_PORT)
    except (OSError, RuntimeError) as e:
        report("FAIL", "setup", str(e))
        return 1
    listen = [case[2] for case in CASES if case[2]]
    server = subprocess.Popen([sys.executable, SERVER, "--page", PAGE, "--record", record,
                               "--cert", certs["good"][0], "--key", certs["good"][1]] + listen,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=open(os.path.join(tmp, "server.log"), "w"))
    try:
        if server.stdout.readline().strip() != b"ready":
            report("FAIL", "setup", "the fault server did not start (port 80 taken?)")
            return 1
        only = os.environ.get("ZLV_FAULTS_ONLY")
        for index, case in enumerate(CASES):
            if only and only not in case[0]:
                continue
            run_case(tmp, record, page, rates_folder, index, *case)
    finally:
        server.stdin.close()
        server.terminate()
        server.wait(10)
        proxy.terminate()
        proxy.wait(10)
        probe("delreg", "lastupdate")
        empty_rates_folder(rates_folder)
        if not os.environ.get("ZLV_KEEP"):
            shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
