"""What the installer's and the uninstaller's tests share under Wine: the layout of the test PC
(the product under Program Files, the user's Palm Desktop in a folder of its own, named in the
user's registry), the Windows-side probe, and clearing up after a run."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(os.environ["ZLV_ROOT"], "build")
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")  # the build this session runs
SETUP = os.path.join(WIN, "Zelvantic-Setup-1.5.exe")
PROBE = os.path.join(WIN, "tests", "install_probe.exe")
AGENT_COMMAND = os.path.join(WIN, "tools", "agent_command.exe")
PALM_STAND_INS = os.environ["ZLV_PALM"]  # the session's Palm Desktop
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
INSTALL = os.path.join(DRIVE_C, "Program Files", "Zelvantic")
INSTALL_W = r"C:\Program Files\Zelvantic"
# The user's Palm Desktop, in a folder of its own, as its installer lays it out.
PALM_DESKTOP = os.path.join(DRIVE_C, "Program Files", "Palm Desktop")
PALM_DESKTOP_W = r"C:\Program Files\Palm Desktop"
PALM_DESKTOP_KEY = r"HKCU\Software\U.S. Robotics\Pilot Desktop\Core"
STAND_INS = ("hotsync.exe", "condmgr.dll", "sync20.dll")
SETTINGS = r"HKLM\Software\Morvane\Zelvantic"
VENDOR = r"HKLM\Software\Morvane"
# What a key under HKLM\Software has on Windows, all of it inherited: ordinary users may only
# read it. Wine gives a new key none of it.
WINDOWS_KEY_RIGHTS = "D:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)(A;CIID;KR;;;BU)(A;CIIOID;KA;;;CO)"
ADMINISTRATORS = "BA"
USER_SETTINGS = r"HKCU\Software\Morvane\Zelvantic"
AGENT_CLASS = "kelpoWindowClassv10->ovin ka spy!!!"
ON, OFF = "1 31000000", "1 30000000"  # REG_SZ, "1" or "0" and three zero bytes
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Zelvantic Desktop Agent"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelvantic"
CONDUIT_ENTRY = r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA"  # the stand-in's store
USERS_FILE = os.path.join("Palm", "mine.prc")

failures = 0


def report(ok, name, why=""):
    global failures
    if ok:
        print("PASS %s" % name, flush=True)
    else:
        failures += 1
        print("FAIL %s: %s" % (name, why), flush=True)


def note(text):
    print("     %s" % text, flush=True)


def wine(*args, timeout=60):
    """A Wine tool's run, its output through a file: the first Wine program of a session starts
    Wine's own services, which would hold a pipe open."""
    with tempfile.TemporaryFile() as out:
        p = subprocess.run(["wine"] + list(args), stdout=out, stderr=subprocess.DEVNULL,
                           timeout=timeout)
        out.seek(0)
        p.stdout = out.read().decode(errors="replace")
    return p


def reg_values(key):
    """{name: data} of a key as "reg query" shows it, or None when the key does not exist."""
    p = wine("reg", "query", key)
    if p.returncode != 0:
        return None
    values = {}
    for line in p.stdout.replace("\r", "").splitlines():
        if not line.startswith("    "):
            continue
        parts = line.strip().split("    ")
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) > 2 else ""
    return values


def reg_set(key, name, data, kind="REG_SZ"):
    wine("reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f")


def start_menu_folders():
    """Every "Zelvantic" folder in any Start menu of the prefix."""
    found = []
    for d, dirs, _ in os.walk(DRIVE_C):
        if os.path.basename(d) == "Programs" and "Start Menu" in d:
            found += [os.path.join(d, x) for x in dirs if x == "Zelvantic"]
    return found


def agent_pids():
    """Agents of this Wine prefix started from the installed folder."""
    pids = []
    p = subprocess.run(["pgrep", "-f", r"Zelvantic\\agent\.exe"], capture_output=True, text=True)
    for pid in p.stdout.split():
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + PREFIX).encode() in env:
            pids.append(int(pid))
    return pids


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while True:
        value = predicate()
        if value or time.time() >= end:
            return value
        time.sleep(0.2)


def run_quiet(*args, env=None):
    """Exit code of a Windows program that starts the agent: no pipes for the agent to inherit."""
    try:
        return subprocess.run(["wine"] + list(args), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120, env=env).returncode
    except subprocess.TimeoutExpired:
        return "timed out"


def run_setup(*options):
    # The vendor key as Windows has it, whoever made it: the settings key takes its rights.
    probe("set-key-sddl", VENDOR, "O:%s%s" % (ADMINISTRATORS, WINDOWS_KEY_RIGHTS))
    return run_quiet(SETUP, "/S", *options)


RELAY_DEBUG_KEY = r"HKCU\Software\Wine\Debug"


def traced_setup(*options):
    """(exit code, calls) of a silent install, with every call it makes of the named functions
    as Wine's relay log shows it: (function, arguments as text, return value as text)."""
    traced = ("kernel32.CreateFileW", "advapi32.SetSecurityInfo",
              "advapi32.ConvertStringSecurityDescriptorToSecurityDescriptorW")
    reg_set(RELAY_DEBUG_KEY, "RelayInclude", ";".join(traced))
    env = dict(os.environ, WINEDEBUG="+relay")
    probe("set-key-sddl", VENDOR, "O:%s%s" % (ADMINISTRATORS, WINDOWS_KEY_RIGHTS))
    with tempfile.TemporaryFile() as log:
        try:
            code = subprocess.run(["wine", SETUP, "/S"] + list(options), stdout=subprocess.DEVNULL,
                                  stderr=log, timeout=120, env=env).returncode
        except subprocess.TimeoutExpired:
            code = "timed out"
        finally:
            wine("reg", "delete", RELAY_DEBUG_KEY, "/v", "RelayInclude", "/f")
        log.seek(0)
        text = log.read().decode(errors="replace")
    calls, open_calls = [], {}
    for thread, kind, function, rest in re.findall(
            r"^([0-9a-f]+):(Call|Ret) +\w+\.(\w+)\((.*)$", text, re.M):
        if kind == "Call":
            open_calls[thread, function] = rest.rsplit(") ret=", 1)[0]
        elif (thread, function) in open_calls:
            value = re.search(r"retval=([0-9a-f]+)", rest)
            calls.append((function, open_calls.pop((thread, function)),
                          value.group(1) if value else None))
    return code, calls


def end_agent():
    run_quiet(AGENT_COMMAND, "40002", "5")
    wait_for(lambda: not agent_pids(), 10)


def windows_to_linux(path):
    """A C: path of the prefix as Linux sees it."""
    assert path[:3].upper() == "C:\\", path
    return os.path.join(DRIVE_C, *path[3:].split("\\"))


def local_app_data():
    """The user's own local application-data folder as Windows names it."""
    return wine("cmd", "/c", "echo", "%LOCALAPPDATA%").stdout.strip()


def probe(*args, timeout=30):
    """(exit code, output) of the Windows-side helper. Its output goes through a file: the first
    Wine program of a session starts Wine's own services, which would hold a pipe open."""
    with tempfile.TemporaryFile() as out:
        try:
            code = subprocess.run(["wine", PROBE] + list(args), stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            code = "timed out"
        out.seek(0)
        return code, out.read().decode(errors="replace").replace("\r", "").rstrip("\n")


def setting(name):
    return probe("value", SETTINGS, name)[1]


def name_palm_desktop(path=None, hotsync=None):
    """The Palm Desktop the user's registry names: "Path" and "HotSyncPath" as given, or absent."""
    for name, data in (("Path", path), ("HotSyncPath", hotsync)):
        if data is None:
            wine("reg", "delete", PALM_DESKTOP_KEY, "/v", name, "/f")
        else:
            reg_set(PALM_DESKTOP_KEY, name, data)


def install_registered(*options):
    """A fresh silent install whose agent has registered the conduit."""
    code = run_setup(*options)
    registered = wait_for(lambda: (reg_values(CONDUIT_ENTRY) or {}).get("Folder") == INSTALL_W, 10)
    return code == 0 and registered


def pieces_built():
    """Every piece the tests need, a missing one reported as a failure."""
    for path, what in ((SETUP, "the installer"), (PROBE, "the installer's probe"),
                       (AGENT_COMMAND, "agent_command")) + tuple(
            (os.path.join(PALM_STAND_INS, f), "the Palm stand-in " + f) for f in STAND_INS):
        if not os.path.isfile(path):
            report(False, "%s is built" % what, path + " is missing")
            return False
    return True


def on_test_pc(scenario):
    """Runs the scenario with the stand-ins in a Palm Desktop folder of their own, named by
    "Path", and leaves the prefix as it found it: the session's Palm Desktop named again, nothing
    of ours installed, registered or running."""
    session_naming = reg_values(PALM_DESKTOP_KEY) or {}
    os.makedirs(PALM_DESKTOP, exist_ok=True)
    for f in STAND_INS:
        shutil.copy(os.path.join(PALM_STAND_INS, f), PALM_DESKTOP)
    name_palm_desktop(path=PALM_DESKTOP_W)
    try:
        scenario()
    finally:
        for pid in agent_pids():
            subprocess.run(["kill", str(pid)])
        name_palm_desktop(session_naming.get("Path"), session_naming.get("HotSyncPath"))
        for folder in (INSTALL, PALM_DESKTOP, windows_to_linux(local_app_data() + "\\Zelvantic")):
            shutil.rmtree(folder, ignore_errors=True)
        for key in (SETTINGS, VENDOR, USER_SETTINGS, UNINSTALL, CONDUIT_ENTRY):
            wine("reg", "delete", key, "/f")
        wine("reg", "delete", RUN, "/v", RUN_VALUE, "/f")
