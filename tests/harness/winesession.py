#!/usr/bin/env python3
"""A throw-away Wine session: one prefix, one Xvfb display, one persistent wineserver.

A session runs one Windows build: i686 (the shipped one, build/win, a 32-bit prefix) or x86_64
(the 64-bit test build, build/win64, a 64-bit prefix), for machines that run no 32-bit code.

Used by the test runner and the demo. As a command it runs one program inside a fresh session
(and, as root, inside a private network namespace so that 127.0.0.1:80 is ours):

    python3 tests/harness/winesession.py [--artifacts DIR] [--arch i686|x86_64] -- PROGRAM [ARGS...]

PROGRAM gets WINEPREFIX, DISPLAY, ZLV_ROOT, ZLV_BUILD, ZLV_ARTIFACTS, ZLV_ARCH, ZLV_WIN (the
build it runs), ZLV_SHIPPED (the i686 build, whose files the checks that only read them use) and
ZLV_PALM (the Palm Desktop folder the user's registry names, with the stand-ins, as a Linux path);
the session is stopped afterwards whatever happens, and the exit code is PROGRAM's. Without
--arch it takes the first build that modes() gives.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")

# Each Windows build: its Wine prefix kind, the loader that runs it and its build folder.
ARCHES = {
    "i686": {"winearch": "win32", "loader": "/usr/lib/wine/wine", "folder": "win"},
    "x86_64": {"winearch": "win64", "loader": "/usr/lib/wine/wine64", "folder": "win64"},
}


# Where a user's Palm Desktop names its folder ("Path") and its HotSync Manager
# ("HotSyncPath"); the agent finds the Conduit Manager there. The session installs the stand-ins
# in that folder, apart from any product folder.
PALM_DESKTOP_KEY = r"HKCU\Software\U.S. Robotics\Pilot Desktop\Core"
PALM_FOLDER_W = r"C:\Program Files\Palm"
PALM_FILES = ("hotsync.exe", "condmgr.dll", "sync20.dll")


def modes():
    """The builds whose Windows tests run here, the shipped one first (tests/harness/machine.sh)."""
    text = os.environ.get("ZLV_MODES") or subprocess.run(
        ["bash", os.path.join(ROOT, "tests", "harness", "machine.sh"), "modes"], capture_output=True,
        text=True).stdout
    return [m for m in text.split() if m in ARCHES]


def win_folder(arch):
    return os.path.join(BUILD, ARCHES[arch]["folder"])


def describe(arch):
    return {"i686": "the shipped 32-bit build",
            "x86_64": "the 64-bit test build"}[arch] + " (%s)" % win_folder(arch)


class WineSession:
    """One prefix, one display, one wineserver for the whole run. `user` names the Windows user
    whose profile the prefix is made for (the Unix user's name when not given); `palm_folder`
    is where the user's Palm Desktop lies."""

    def __init__(self, artifacts=None, restart_desktop=False, arch="i686", user=None,
                 palm_folder=PALM_FOLDER_W):
        self.restart_desktop = restart_desktop
        self.arch = arch
        self.user = user
        self.palm_folder = palm_folder
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

    def loader_shims(self, loader):
        """Debian's wine and wine-stable (which wineboot and winepath call) take the 32-bit
        loader whenever it is installed: scripts of ours first on PATH name the session's."""
        shims = os.path.join(self.tmp, "bin")
        os.makedirs(shims)
        for name in ("wine", "wine-stable"):
            path = os.path.join(shims, name)
            with open(path, "w") as f:
                f.write('#!/bin/sh\nexec %s "$@"\n' % loader)
            os.chmod(path, 0o755)
        return shims

    def _start(self):
        arch = ARCHES[self.arch]
        if not os.access(arch["loader"], os.X_OK):
            raise RuntimeError("%s is not installed (./zlv setup installs it)" % arch["loader"])
        self.display = self.start_display()
        env = dict(os.environ)
        # An English-language PC, ANSI code page 1252, on every machine: the locale decides it.
        # C.UTF-8 is on every Debian; Unix file names are then UTF-8, whatever Windows names hold.
        for name in ("LC_ALL", "LC_CTYPE", "LANGUAGE"):
            env.pop(name, None)
        env["LANG"] = "C.UTF-8"
        if self.user:
            env["USER"] = env["LOGNAME"] = self.user
        env.update(WINEPREFIX=os.path.join(self.tmp, "prefix"), WINEARCH=arch["winearch"],
                   WINELOADER=arch["loader"],
                   PATH=self.loader_shims(arch["loader"]) + os.pathsep + env.get("PATH", ""),
                   WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display,
                   ZLV_ARTIFACTS=self.artifacts, ZLV_ROOT=ROOT, ZLV_BUILD=BUILD, TZ="UTC",
                   ZLV_ARCH=self.arch, ZLV_WIN=win_folder(self.arch),
                   ZLV_SHIPPED=win_folder("i686"))
        env["ZLV_PALM"] = os.path.join(env["WINEPREFIX"], "drive_c",
                                       *self.palm_folder[3:].split("\\"))
        self.env = env
        os.makedirs(env["WINEPREFIX"])
        subprocess.run(["wineserver", "-p"], env=env, check=True)
        subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        self.install_palm_desktop()
        for key, value, data in (
                (r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
                (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768"),
                (PALM_DESKTOP_KEY, "Path", self.palm_folder),
                (PALM_DESKTOP_KEY, "HotSyncPath", self.palm_folder + r"\hotsync.exe")):
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

    def install_palm_desktop(self):
        """The user's Palm Desktop, as on a real PC: the stand-ins in a folder of their own,
        which the user's registry names (the values are set with the others below)."""
        built = os.path.join(win_folder(self.arch), "palm")
        missing = [f for f in PALM_FILES if not os.path.isfile(os.path.join(built, f))]
        if missing:
            raise RuntimeError("the Palm stand-ins are not built: %s in %s (./zlv build)"
                               % (", ".join(missing), built))
        folder = self.env["ZLV_PALM"]
        os.makedirs(folder)
        for f in PALM_FILES:
            shutil.copy(os.path.join(built, f), folder)

    def alive(self):
        """False once the display has died: tests run after that would use no display at all."""
        return self.xvfb is not None and self.xvfb.poll() is None

    def stop(self):
        """Ends the session; a second call does nothing."""
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self.env = None
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
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
    arch = None
    while argv[:1] in (["--artifacts"], ["--arch"]) and len(argv) > 1:
        if argv[0] == "--artifacts":
            artifacts = argv[1]
        else:
            arch = argv[1]
        argv = argv[2:]
    arch = arch or (modes() or [None])[0]
    if arch not in ARCHES:
        sys.stderr.write("no Windows build this machine can run (tests/harness/machine.sh modes)\n")
        return 1
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        sys.stderr.write(__doc__)
        return 2
    enter_private_network()
    loopback_up()
    session = WineSession(artifacts, restart_desktop=True, arch=arch)
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
