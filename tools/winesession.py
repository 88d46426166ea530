#!/usr/bin/env python3
"""A throw-away Wine session: one 32-bit prefix, one Xvfb display, one persistent wineserver.

Used by the test runner and the demo. As a command it runs one program inside a fresh session
(and, as root, inside a private network namespace so that 127.0.0.1:80 is ours):

    python3 tools/winesession.py [--artifacts DIR] -- PROGRAM [ARGS...]

PROGRAM gets WINEPREFIX, DISPLAY, ZLV_ROOT, ZLV_BUILD and ZLV_ARTIFACTS; the session is stopped
afterwards whatever happens, and the exit code is PROGRAM's.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")


class WineSession:
    """One prefix, one display, one wineserver for the whole run."""

    def __init__(self, artifacts=None, restart_desktop=False):
        self.restart_desktop = restart_desktop
        self.tmp = tempfile.mkdtemp(prefix="zlv-wine-")
        self.artifacts = artifacts or os.path.join(BUILD, "artifacts")
        self.xvfb = None
        self.env = None
        self.error = None
        self.display = None

    def start_display(self):
        """Xvfb picks a free display itself and says which: two runs never share one."""
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                          "1024x768x24", "-nolisten", "tcp"],
                                         pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        with os.fdopen(read_end) as answer:
            number = answer.readline().strip()  # written once the display accepts clients
        if not number.isdigit() or self.xvfb.poll() is not None:
            raise RuntimeError("Xvfb did not start (exit code %s)" % self.xvfb.poll())
        return ":" + number

    def start(self):
        try:
            self._start()
        except Exception as e:  # reported by the caller
            self.error = str(e)

    def _start(self):
        self.display = self.start_display()
        env = dict(os.environ)
        env.update(WINEPREFIX=os.path.join(self.tmp, "prefix"), WINEARCH="win32",
                   WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display,
                   ZLV_ARTIFACTS=self.artifacts, ZLV_ROOT=ROOT, ZLV_BUILD=BUILD, TZ="UTC")
        self.env = env
        os.makedirs(env["WINEPREFIX"])
        subprocess.run(["wineserver", "-p"], env=env, check=True)
        subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        for key, value, data in (
                (r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768")):
            subprocess.run(["wine", "reg", "add", key, "/v", value, "/d", data, "/f"], env=env,
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A crashing test program ends at once instead of waiting in the debugger until the
        # runner's time-out: the debugger named here does not exist.
        subprocess.run(["wine", "reg", "add",
                        r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "/v",
                        "Debugger", "/d", "zlv-no-debugger", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.restart_desktop:
            # The desktop that wineboot started ignores these keys; a new wineserver obeys them.
            subprocess.run(["wineserver", "-k"], env=env)
            subprocess.run(["wineserver", "-w"], env=env)
            subprocess.run(["wineserver", "-p"], env=env, check=True)

    def alive(self):
        """False once the display has died: tests run after that would use no display at all."""
        return self.xvfb is not None and self.xvfb.poll() is None

    def stop(self):
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)


def enter_private_network():
    """Re-runs this program in a network namespace of its own, with only a loopback device."""
    if os.environ.get("ZLV_NETNS") or os.geteuid() != 0 or not shutil.which("unshare"):
        return
    if subprocess.run(["unshare", "-n", "true"], stderr=subprocess.DEVNULL).returncode != 0:
        return
    env = dict(os.environ, ZLV_NETNS="1")
    os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + sys.argv, env)


def loopback_up():
    if os.environ.get("ZLV_NETNS"):
        subprocess.run(["ip", "link", "set", "lo", "up"])


def main(argv):
    artifacts = None
    if argv[:1] == ["--artifacts"] and len(argv) > 1:
        artifacts, argv = argv[1], argv[2:]
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        sys.stderr.write(__doc__)
        return 2
    enter_private_network()
    loopback_up()
    session = WineSession(artifacts, restart_desktop=True)
    try:
        session.start()
        if session.error:
            sys.stderr.write("could not start the Wine session: %s\n" % session.error)
            return 1
        env = dict(session.env, ZLV_WINE_DISPLAY=session.display)
        return subprocess.run(argv, env=env).returncode
    except KeyboardInterrupt:
        return 130
    finally:
        session.stop()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(143))
    sys.exit(main(sys.argv[1:]))
