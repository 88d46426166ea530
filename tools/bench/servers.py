"""What the bench serves: the rates page over HTTP from nginx, the rates file it hands the
conduit, and a listener that never answers, for the agent's stalls."""
import os
import select
import socket
import struct
import subprocess
import time

CURRENCIES = ["USD", "EUR", "GBP", "JPY", "CHF", "CAD", "AUD", "NZD", "SEK", "NOK", "DKK", "PLN",
              "CZK", "HUF", "TRY", "ZAR", "MXN", "BRL", "INR", "CNY"]


def rates_page(size):
    """A rates page of exactly `size` bytes: lines "CODE<tab>Name<tab>rate<lf>"."""
    if size < 32:
        raise ValueError("a page of at least 32 bytes")
    lines, length, i = [], 0, 0
    while True:
        line = "%s\tCurrency %04d\t%d.%04d\n" % (CURRENCIES[i % len(CURRENCIES)], i, 1 + i % 97,
                                                 (i * 7919) % 10000)
        if length + len(line) > size:
            break
        lines.append(line)
        length += len(line)
        i += 1
    short = size - length
    if short:  # the last line's name takes up the rest
        last = lines.pop()
        code, name, rate = last.split("\t")
        lines.append("%s\t%s%s\t%s" % (code, name, "x" * short, rate))
    page = "".join(lines).encode("ascii")
    assert len(page) == size
    return page


def rates_body(page):
    """The handheld record the agent makes of a page: the "%04d" line count and its zero byte,
    then the page with the first tab of each line a space and every other tab and line feed a
    zero byte."""
    out = bytearray(page)
    column = 1
    for i, c in enumerate(out):
        if c not in (0x09, 0x0A):
            continue
        if c == 0x0A:
            column = 0
        column += 1
        out[i] = 0x20 if column == 2 else 0
    return b"%04d\0" % page.count(b"\n") + bytes(out)


def rates_file(body, when):
    """The rates file: "kelpo", three zero bytes, the writing time (little-endian), the body."""
    return b"kelpo\0\0\0" + struct.pack("<i", int(when)) + body


def body_of_size(size):
    """A rates body of exactly `size` bytes, from a page of size - 5 bytes."""
    return rates_body(rates_page(size - 5))


class Nginx:
    """nginx on 127.0.0.1 (port 80 unless told) serving one file as /updatedrates.php, and with
    tls (certificate, key) the same file on 127.0.0.1:443 at any path."""

    def __init__(self, tmp, port=80, tls=None):
        self.port = port
        self.dir = os.path.join(tmp, "nginx")
        self.www = os.path.join(tmp, "www")
        os.makedirs(self.dir, exist_ok=True)
        os.makedirs(self.www, exist_ok=True)
        os.chmod(tmp, 0o755)  # its workers read the page as an unprivileged user
        os.chmod(self.www, 0o755)
        self.proc = None
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""daemon off;
worker_processes 1;
pid %(d)s/nginx.pid;
error_log %(d)s/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path %(d)s/body;
    proxy_temp_path %(d)s/proxy;
    fastcgi_temp_path %(d)s/fastcgi;
    uwsgi_temp_path %(d)s/uwsgi;
    scgi_temp_path %(d)s/scgi;
    types { }
    default_type text/plain;
    server { listen 127.0.0.1:%(p)d; root %(w)s; }
%(tls)s}
""" % {"d": self.dir, "w": self.www, "p": port, "tls": (
                "    server { listen 127.0.0.1:443 ssl; root %s; ssl_certificate %s;\n"
                "        ssl_certificate_key %s; location / { try_files /updatedrates.php =404; } }\n"
                % (self.www, tls[0], tls[1])) if tls else ""})
        self.conf = conf

    def serve(self, page):
        path = os.path.join(self.www, "updatedrates.php")
        with open(path + ".new", "wb") as f:
            f.write(page)
        os.chmod(path + ".new", 0o644)
        os.replace(path + ".new", path)

    def start(self):
        self.proc = subprocess.Popen(["nginx", "-c", self.conf, "-p", self.dir],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return
            except OSError:
                if self.proc.poll() is not None:
                    break
                time.sleep(0.05)
        with open(os.path.join(self.dir, "error.log")) as log:
            raise RuntimeError("nginx did not listen on 127.0.0.1:%d (%s)" % (
                self.port, log.read()[-300:]))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


class BlackHole:
    """A listener on 127.0.0.1 whose queue is full: a new connect gets no answer at all. Port 0
    takes a free one, named in .port."""

    def __init__(self, port=80):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.fillers = []
        self.swallowing = False
        for _ in range(16):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", self.port))
            self.fillers.append(s)
            if not select.select([], [s], [], 0.3)[1]:
                self.swallowing = True
                break

    def close(self):
        for s in self.fillers:
            s.close()
        self.listener.close()

