#!/usr/bin/env python3
"""A misbehaving HTTP server for the download tests. The request's path picks the fault:

  /status/<code>  a short page with that status, then close
  /short          10 bytes ("HTTP/1.0 2"), then close
  /exact32        32 bytes, then silence
  /partial        10 bytes, then silence
  /stall          74 bytes of a 200 page, 3 s of silence, more bytes, close
  /flood          a 200 page whose body never ends (stops at 64 MiB or when the client leaves)
  /silent         nothing at all
  /page/<n>       a 200 page whose body is n bytes of rate lines, then close
  /trickle        a 200 page arriving 32 bytes every 20 ms for up to 10 s
  /keepalive      a 200 page with its Content-Length, then the connection kept open
  /reset          a 200 page without a length cut by a reset after two of its lines

Silence lasts until the client closes or 10 s pass. With --unanswered HOST it also keeps a
listener on HOST:80 whose queue is full, so that connects there get no answer at all.
Prints "ready" once listening.
"""
import argparse
import os
import socket
import socketserver
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # keep tests/tools free of __pycache__
from serving import Server, hold, logger, read_request, reset

SILENCE_S = 10
log = logger("fault_server")


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        try:
            line = read_request(conn).split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        except OSError:
            return
        path = line[1] if len(line) > 1 else "/"
        log("%s %s" % (self.client_address[0], path))
        try:
            self.serve(conn, path)
        except OSError as e:
            log("%s: %s" % (path, e))

    def serve(self, conn, path):
        if path.startswith("/status/"):
            code = path[len("/status/"):]
            conn.sendall(("HTTP/1.0 %s Trouble\r\nContent-Type: text/html\r\n\r\n" % code)
                         .encode() + b"<html><body>" + b"no rates here " * 40 + b"</body></html>")
        elif path == "/short":
            conn.sendall(b"HTTP/1.0 2")
        elif path == "/exact32":
            conn.sendall(b"HTTP/1.0 200 OK\r\nX-Pad: 1234567\r")
            hold(conn, SILENCE_S)
        elif path == "/partial":
            conn.sendall(b"HTTP/1.0 2")
            hold(conn, SILENCE_S)
        elif path == "/stall":
            conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + b"x" * 55)
            time.sleep(3)
            conn.sendall(b"AFTER THE STALL\n")
        elif path == "/flood":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n")
            line = b"FLD\tFlood\t1.0000\n" * 4096
            sent = 0
            try:
                while sent < 64 * 1024 * 1024:
                    conn.sendall(line)
                    sent += len(line)
            finally:
                log("flood: sent %d bytes of body" % sent)
        elif path.startswith("/page/"):
            size = int(path[len("/page/"):])
            line = b"ABC\tRate\t1.2345\n"
            body = (line * (size // len(line) + 1))[:size]
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body)
        elif path == "/trickle":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n")
            end = time.time() + SILENCE_S
            while time.time() < end:
                conn.sendall(b"TRK\tTrickle\t1.0000\n".ljust(32, b"x"))
                time.sleep(0.02)
        elif path == "/keepalive":
            page = b"USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n"
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: keep-alive\r\n"
                         b"\r\n" % len(page) + page)
            hold(conn, SILENCE_S)
        elif path == "/reset":
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
                         b"USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n")
            reset(conn)
        elif path == "/silent":
            hold(conn, SILENCE_S)
        else:
            conn.sendall(b"HTTP/1.0 400 Unknown fault\r\n\r\n")


def unanswered(host, port):
    """A listener that never accepts, its queue filled: further SYNs are dropped unanswered."""
    listener = socket.socket()
    listener.bind((host, port))
    listener.listen(0)
    fillers = []
    for _ in range(2):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex((host, port))
        fillers.append(s)
    time.sleep(0.2)
    return [listener] + fillers


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.2")
    ap.add_argument("--port", type=int, default=80)
    ap.add_argument("--unanswered")
    args = ap.parse_args()
    keep = unanswered(args.unanswered, args.port) if args.unanswered else []
    with Server((args.host, args.port), Handler) as server:
        print("ready", flush=True)
        server.serve_forever()
    del keep


if __name__ == "__main__":
    main()
