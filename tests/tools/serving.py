"""What the fault servers share: reading the request, holding a connection, a reset, the server."""
import select
import socket
import socketserver
import struct
import sys
import time


def read_request(conn):
    """The request's bytes up to the blank line (or 8 KiB, or the client's close)."""
    conn.settimeout(5)
    data = b""
    while b"\r\n\r\n" not in data and len(data) < 8192:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    conn.settimeout(None)
    return data


def hold(conn, seconds):
    """Waits until the client closes or the time is up; True when the client closed."""
    end = time.time() + seconds
    while time.time() < end:
        r, _, _ = select.select([conn], [], [], max(0.0, min(1.0, end - time.time())))
        if r:
            try:
                if not conn.recv(4096):
                    return True
            except OSError:
                return True
    return False


def reset(conn):
    """A moment for the client to read what was sent, then a reset instead of a close."""
    time.sleep(0.2)
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def logger(name):
    def log(text):
        sys.stderr.write("%s: %s\n" % (name, text))
        sys.stderr.flush()
    return log
