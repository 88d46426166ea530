#!/usr/bin/env python3
"""An update server that misbehaves in one chosen way per listening address, for the agent's
fault matrix. Every address listens on port 80 (or the port it names) and serves the rates page
its own way; "tls:" before it speaks TLS there with --cert and --key:

  python3 fault_matrix_server.py --page FILE --record DIR 127.0.1.1=good 127.0.1.2=stall ...
  python3 fault_matrix_server.py ... --cert C --key K tls:127.0.0.1:8449=cut_open

Modes (a Content-Length in every header block unless said otherwise):
  good          the page with a status line and headers, then close
  chunked       HTTP/1.1 with the page in chunks (an extension, a bare LF, a trailer), then close
  lf_lf         headers ended by bare line feeds, then close
  keepalive     HTTP/1.1 with the page, then the connection kept open until the client closes
  reset_open    headers without a length and two thirds of the page, then a reset
  empty         a 200 with an empty body, then close
  reset_headers 40 bytes of the headers, then a reset
  reset_body    the headers and half the page, then a reset
  cut           the headers and half the page, then close
  slowloris     the good response at one byte a second
  stall         the headers and one line of the page, then silence
  short_stall   half the response, 1.2 s of silence, the rest, then close
  flood         a 10 MB body, then close
  zeros         the page with zero bytes inside its lines, then close
  no_blank      the headers without the blank line, the page, then close
  no_space      a status line without any space, then close
  split         the good response in small pieces, the status line cut inside "HTTP/1.0 200"
  silent        reads the request and never writes
  open_notify   headers without a length and the page, then (over TLS) close_notify, then close
  cut_open      the same, but the connection closed without close_notify
  hello_reset   reads what the client says first (a TLS hello), then a reset; never TLS itself

MODE+good answers the first connection in that mode and every later one as good. Silence lasts
until the client closes or 60 s pass. The complete responses that the modes mean to send are
written to DIR/<mode>.response, and one line per connection to DIR/<address>.log: its mode, the
request as received, and the monotonic times of the request, the last byte sent and the client's
close (DIR/<address>_<port>.log for a port other than 80). Prints "ready" once listening.
"""
import argparse
import json
import os
import select
import socket
import socketserver
import ssl
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from serving import Server, hold, logger, read_request, reset

HOLD_S = 60
log = logger("fault_matrix_server")


def headers(body):
    return (b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
            b"Server: fault-matrix\r\n" % len(body))


def responses(page):
    good = headers(page) + b"\r\n" + page
    zeros = page.replace(b"\t", b"\t\x00", 3)
    flood = b"FLD\tFlood\t1.0000\n" * (10 * 1024 * 1024 // 17)
    chunks = b""
    for i in range(0, len(page), 100):
        piece = page[i:i + 100]
        size = b"%x" % len(piece) + (b";part=%d" % i if i == 100 else b"")
        chunks += size + (b"\n" if i == 200 else b"\r\n") + piece + b"\r\n"
    chunks += b"0\r\nX-Rates: %d\r\n\r\n" % len(page)
    return {
        "good": good,
        "chunked": b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
                   b"\r\n" + chunks,
        "lf_lf": b"HTTP/1.0 200 OK\nContent-Type: text/plain\nContent-Length: %d\n\n" % len(page)
                 + page,
        "keepalive": b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
                     b"Connection: keep-alive\r\n\r\n" % len(page) + page,
        "reset_open": b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + page,
        "empty": b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n\r\n",
        "slowloris": good,
        "short_stall": good,
        "split": good,
        "zeros": headers(zeros) + b"\r\n" + zeros,
        "no_blank": headers(page) + page,
        "no_space": b"HTTP/1.0_200_OK\r\nServer:fault-matrix\r\n\r\n" + page,
        "reset_headers": good,
        "reset_body": good,
        "cut": good,
        "stall": good,
        "flood": headers(flood) + b"\r\n" + flood,
        "silent": b"",
        "open_notify": b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + page,
        "cut_open": b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + page,
        "hello_reset": b"",
        "_half": len(good) - len(page) // 2,
    }


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        address = self.server.name
        with self.server.lock:
            count = self.server.counts.get(address, 0)
            self.server.counts[address] = count + 1
        mode = self.server.modes.get(address, "silent")
        if mode.endswith("+good"):
            mode = mode[:-len("+good")] if count == 0 else "good"
        self.times = {}
        request = b""
        try:
            if mode == "hello_reset":
                conn.settimeout(5)
                request = conn.recv(4096)
                reset(conn)
                raise OSError("reset after the hello")
            if self.server.tls:
                conn = self.server.tls.wrap_socket(conn, server_side=True)
            request = read_request(conn)
            self.times["t_request"] = time.monotonic()
            log("%s: %s" % (address, mode))
            self.serve(conn, mode, self.server.replies)
        except OSError as e:
            log("%s: %s: %s" % (address, mode, e))
        entry = dict(self.times, mode=mode, request=request.decode("latin-1"))
        with self.server.lock, open(os.path.join(self.server.record, address + ".log"), "a") as f:
            f.write(json.dumps(entry) + "\n")

    def serve(self, conn, mode, replies):
        whole = replies[mode]
        if mode in ("good", "zeros", "no_blank", "no_space", "flood", "chunked", "lf_lf", "empty"):
            conn.sendall(whole)
        elif mode == "keepalive":
            conn.sendall(whole)
            self.times["t_last_byte"] = time.monotonic()
            if hold(conn, HOLD_S):
                self.times["t_client_closed"] = time.monotonic()
            return
        elif mode == "reset_open":
            conn.sendall(whole[:len(whole) - len(whole) // 3])
            reset(conn)
            return
        elif mode == "reset_headers":
            conn.sendall(whole[:40])
            reset(conn)
            return
        elif mode == "reset_body":
            conn.sendall(whole[:replies["_half"]])
            reset(conn)
            return
        elif mode == "cut":
            conn.sendall(whole[:replies["_half"]])
        elif mode in ("open_notify", "cut_open"):
            conn.sendall(whole)
            if mode == "open_notify" and isinstance(conn, ssl.SSLSocket):
                try:
                    conn = conn.unwrap()  # close_notify; the client need not answer it
                except (OSError, ValueError):
                    return
            # Over TLS, shutting the socket drops the session without a word: no close_notify.
        elif mode == "slowloris":
            for i in range(len(whole)):
                conn.sendall(whole[i:i + 1])
                r, _, _ = select.select([conn], [], [], 1.0)
                if r and not conn.recv(4096):
                    return  # the client left
        elif mode == "stall":
            first_line = whole.index(b"\n", whole.index(b"\r\n\r\n") + 4) + 1
            conn.sendall(whole[:first_line])
            hold(conn, HOLD_S)
            return
        elif mode == "short_stall":
            cut = len(whole) // 2
            conn.sendall(whole[:cut])
            time.sleep(1.2)
            conn.sendall(whole[cut:])
        elif mode == "split":
            # The status line in pieces that never line up with 32-byte reads.
            pieces = [whole[:6], whole[6:10], whole[10:11], whole[11:29], whole[29:45]]
            for piece in pieces:
                conn.sendall(piece)
                time.sleep(0.15)
            rest = whole[45:]
            for i in range(0, len(rest), 700):
                conn.sendall(rest[i:i + 700])
                time.sleep(0.02)
        else:  # silent
            hold(conn, HOLD_S)
            return
        conn.shutdown(socket.SHUT_WR)
        hold(conn, 5)  # let the client read to the end before the socket goes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--page", required=True)
    ap.add_argument("--record", required=True)
    ap.add_argument("--port", type=int, default=80)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("listen", nargs="+", help="[tls:]ADDRESS[:PORT]=MODE")
    args = ap.parse_args()
    with open(args.page, "rb") as f:
        replies = responses(f.read())
    os.makedirs(args.record, exist_ok=True)
    for mode, data in replies.items():
        if not mode.startswith("_"):
            with open(os.path.join(args.record, mode + ".response"), "wb") as f:
                f.write(data)
    modes = {}
    servers = []
    for item in args.listen:
        where, mode = item.split("=", 1)
        tls = where.startswith("tls:")
        host, _, port = where[len("tls:") if tls else 0:].partition(":")
        port = int(port or args.port)
        name = host if port == 80 else "%s_%d" % (host, port)
        modes[name] = mode
        server = Server((host, port), Handler)
        server.name, server.tls = name, None
        if tls:
            server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            server.tls.load_cert_chain(args.cert, args.key)
        server.modes, server.replies = modes, replies
        server.record, server.counts, server.lock = args.record, {}, threading.Lock()
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    print("ready", flush=True)
    try:
        sys.stdin.read()  # runs until its caller closes the pipe
    finally:
        for server in servers:
            server.shutdown()


if __name__ == "__main__":
    main()
