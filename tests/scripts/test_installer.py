#!/usr/bin/env python3
"""The installer under Wine: silent install, reinstall over a running agent, the start at log-on
and the balloons as choices that only set machine-wide defaults, the rights it leaves (none given
to ordinary users, and those an earlier version gave taken back), the uninstall entry, the read-me
as installed, and silent uninstalls that find the user's own Palm Desktop and leave nothing of ours
behind."""
import html.parser
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(os.environ["ZLV_ROOT"], "build")
WIN = os.environ.get("ZLV_WIN") or os.path.join(BUILD, "win")  # the build this session runs
SETUP = os.path.join(WIN, "Zelvantic-Setup-1.5.exe")
PROBE = os.path.join(WIN, "tests", "install_probe.exe")
AGENT_COMMAND = os.path.join(WIN, "tools", "agent_command.exe")
PALM_STAND_INS = os.environ.get("ZLV_PALM") or WIN
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
USER_SETTINGS = r"HKCU\Software\Morvane\Zelvantic"
AGENT_CLASS = "kelpoWindowClassv10->ovin ka spy!!!"
AGENT_MUTEX = "(:::)Zelvantic Desktop Agent by kelpo"
# What a new key under HKLM\Software gets on Windows, all of it inherited: ordinary users may only
# read it. Wine gives its new keys no access list at all, so the test gives it this one first.
WINDOWS_KEY_RIGHTS = "D:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)(A;CIID;KR;;;BU)(A;CIIOID;KA;;;CO)"
ADMINISTRATORS = "BA"
# What version 1.5 made of it: Users with full control of the key itself (and one user who took
# the key for their own); beside it an entry an administrator added, which is not the installer's.
A_USER = "S-1-5-21-0-0-0-1000"
KEY_RIGHTS_15 = ("O:%s" % A_USER + "D:AI(A;;KA;;;BU)(A;;KR;;;NS)" +
                 WINDOWS_KEY_RIGHTS[len("D:AI"):])
KEY_RIGHTS_TAKEN_BACK = "D:AI(A;;KR;;;NS)" + WINDOWS_KEY_RIGHTS[len("D:AI"):]
# And of the program folder: Users may add files, each file its creator's.
FOLDER_RIGHTS_15 = "D:(A;;0x2;;;BU)(A;OIIO;FA;;;CO)"
ON, OFF = "1 31000000", "1 30000000"  # REG_SZ, "1" or "0" and three zero bytes
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Zelvantic Desktop Agent"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelvantic"
CONDUIT_ENTRY = r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA"  # the stand-in's store
CONDMGR_LOG_W = r"C:\condmgr.log"
CONDMGR_LOG = os.path.join(DRIVE_C, "condmgr.log")
INSTALLED = ["agent.exe", "conduit.dll", "Readme.html", "Zelvantic for Palm Product Manual.pdf",
             os.path.join("Palm", "Readme.txt"), "uninstall.exe"]
SHORTCUTS = ["Zelvantic Desktop Agent.lnk", "Read Me.lnk", "Product Manual.lnk",
             "Uninstall Zelvantic.lnk"]
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
    return run_quiet(SETUP, "/S", *options)


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


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.hrefs = []

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            self.hrefs += [v for k, v in attrs if k == "href" and v]


def check_readme():
    readme = os.path.join(INSTALL, "Readme.html")
    p = subprocess.run(["tidy", "-q", "-e", readme], capture_output=True, text=True)
    report(p.returncode == 0, "the installed Readme.html is well-formed HTML",
           (p.stderr or p.stdout).strip()[:400])
    parser = Links()
    with open(readme, encoding="utf-8") as f:
        parser.feed(f.read())
    broken = []
    local = [h for h in parser.hrefs if not urllib.parse.urlparse(h).scheme and
             not h.startswith("#")]
    for href in local:
        path = os.path.normpath(os.path.join(INSTALL, urllib.parse.unquote(href.split("#")[0])))
        if not path.startswith(INSTALL) or not os.path.exists(path):
            broken.append(href)
    report(local and not broken, "the read-me's links resolve inside the installed folder",
           "broken: %s" % ", ".join(broken) if broken else "no local links")


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


def key_rights():
    """(owner, access list) of the settings key as SDDL."""
    code, sddl = probe("key-sddl", SETTINGS)
    m = re.match(r"^O:([^:]*?)(D:.*)$", sddl) if code == 0 else None
    return (m.group(1), m.group(2)) if m else (None, sddl)


def aces(sddl):
    """(type, flags, rights, trustee) of each entry of an access list in SDDL."""
    return [tuple(m.split(";")[i] for i in (0, 1, 2, 5))
            for m in re.findall(r"\(([^)]*)\)", sddl.split("D:", 1)[-1])]


def limited_opens_key():
    """What opening the key with full access, as both programs of 1.5 did, gives an ordinary
    user: "0" when it opens, "5" when refused."""
    return probe("limited", "5000", PROBE, "open", SETTINGS)[1].split("\n")[0]


class HeldMutex:
    """Another instance of the agent, as far as the agent's own start can tell: an agent started
    meanwhile ends at once and writes nothing, so what changes is the installer's doing alone."""

    def __enter__(self):
        self.out = tempfile.TemporaryFile()
        self.process = subprocess.Popen(["wine", PROBE, "hold-mutex", AGENT_MUTEX, "120000"],
                                        stdout=self.out, stderr=subprocess.DEVNULL)
        self.held = wait_for(lambda: self.out.seek(0) == 0 and b"held" in self.out.read(), 15)
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.out.close()


def name_palm_desktop(path=None, hotsync=None):
    """The Palm Desktop the user's registry names: "Path" and "HotSyncPath" as given, or absent."""
    for name, data in (("Path", path), ("HotSyncPath", hotsync)):
        if data is None:
            wine("reg", "delete", PALM_DESKTOP_KEY, "/v", name, "/f")
        else:
            reg_set(PALM_DESKTOP_KEY, name, data)


def main():
    for path, what in ((SETUP, "the installer"), (PROBE, "the installer's probe"),
                       (AGENT_COMMAND, "agent_command")) + tuple(
            (os.path.join(PALM_STAND_INS, f), "the Palm stand-in " + f) for f in STAND_INS):
        if not os.path.isfile(path):
            report(False, "%s is built" % what, path + " is missing")
            return
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
        if os.path.exists(CONDMGR_LOG):
            os.remove(CONDMGR_LOG)
        for key in (SETTINGS, USER_SETTINGS, UNINSTALL, CONDUIT_ENTRY):
            wine("reg", "delete", key, "/f")
        wine("reg", "delete", RUN, "/v", RUN_VALUE, "/f")


def scenario():
    # As on Windows, and not as Wine makes new keys: an ordinary user may only read the key.
    code, _ = probe("set-key-sddl", SETTINGS, "O:%s%s" % (ADMINISTRATORS, WINDOWS_KEY_RIGHTS))
    before = key_rights()
    report(code == 0 and before == (ADMINISTRATORS, WINDOWS_KEY_RIGHTS) and
           limited_opens_key() == "5",
           "before the install an ordinary user cannot open the settings key with full access",
           "planting the rights gave %s, read back %r" % (code, before))
    note("settings key before the install: O:%s%s" % before)

    code = run_setup()
    report(code == 0, "a silent install succeeds", "exit code %s" % code)
    missing = [f for f in INSTALLED if not os.path.isfile(os.path.join(INSTALL, f))]
    same = all(open(os.path.join(INSTALL, f), "rb").read() ==
               open(os.path.join(WIN, f), "rb").read() for f in ("agent.exe", "conduit.dll"))
    report(not missing and same, "every file is installed under Program Files",
           "missing: %s" % missing if missing else "installed binaries differ from the build")

    menus = start_menu_folders()
    have = sorted(os.listdir(menus[0])) if len(menus) == 1 else []
    report(have == sorted(SHORTCUTS), "the Start menu has the agent, the documents and the uninstaller",
           "Start menu folders %s holding %s" % (menus, have))

    run = reg_values(RUN) or {}
    expected = '"%s\\agent.exe" -silent' % INSTALL_W
    report(run.get(RUN_VALUE) == expected, "the Run entry starts the agent with -silent",
           "found %r" % run.get(RUN_VALUE))
    flags = (setting("startup"), setting("tooltip"))
    report(flags == (ON, ON), "a default install turns \"startup\" and \"tooltip\" on, 4 bytes each",
           "startup, tooltip as read by the agent: %r" % (flags,))

    # The agent, started by the installer, finds the Palm Desktop in its own folder.
    registered = wait_for(lambda: (reg_values(CONDUIT_ENTRY) or {}).get("Folder") == INSTALL_W, 10)
    pids = agent_pids()
    report(registered and len(pids) == 1, "the agent runs and registers the conduit",
           "conduit entry %r, %d agents" % (reg_values(CONDUIT_ENTRY), len(pids)))

    after = key_rights()
    reads = probe("limited", "5000", PROBE, "value", SETTINGS, "tooltip")[1]
    report(after == (ADMINISTRATORS, WINDOWS_KEY_RIGHTS) and limited_opens_key() == "5" and
           reads == ON + "\nexit 0",
           "the installer grants nobody anything on the settings key; ordinary users read the "
           "defaults", "read back %r, an ordinary user's read %r" % (after, reads))
    note("settings key after a fresh install: O:%s%s" % after)
    check_manifest()
    check_uninstall_entry()
    check_readme()

    # Over a running agent: it is ended first, so the files can be replaced, and started again.
    first = set(pids)
    code = run_setup("/NOSTARTUP")
    wait_for(lambda: (lambda now: now and not first & set(now))(agent_pids()), 10)
    time.sleep(1)  # a second instance would have ended by now
    now = agent_pids()
    report(code == 0 and len(now) == 1 and now[0] not in first,
           "a reinstall replaces a running agent with one new agent",
           "exit code %s, agents before %s, now %s" % (code, sorted(first), now))
    check_start_at_log_on()

    code = run_setup("/NOSTARTUP", "/NOBALLOONS")
    report(code == 0 and setting("tooltip") == OFF, "/NOBALLOONS turns \"tooltip\" off",
           "exit code %s, tooltip %r" % (code, setting("tooltip")))
    check_install_over_15()
    check_uninstalls()


def run_entry():
    """The start at log-on as Windows makes it: the Run entry's program and arguments."""
    line = (reg_values(RUN) or {}).get(RUN_VALUE) or ""
    m = re.match(r'^"([^"]+)"\s*(.*)$', line)
    return [m.group(1)] + m.group(2).split() if m else None


def check_start_at_log_on():
    """"startup" alone decides whether the start at log-on keeps the agent, whoever set it."""
    entry = run_entry()
    report(entry and entry[1:] == ["-silent"] and setting("startup") == OFF,
           "after /NOSTARTUP the Run entry stays and \"startup\" is off",
           "Run entry %r, startup %r" % (entry, setting("startup")))
    if not entry:
        return
    end_agent()
    # With this user's own rights: where the agent keeps a user's choice is its own affair.
    ended = probe("run", "10000", *entry)[1]
    report(ended == "exit 0" and not agent_pids(), "with \"startup\" off the log-on start ends at once",
           "%r, agents %s" % (ended, agent_pids()))

    subprocess.Popen(["wine", entry[0]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = probe("window", AGENT_CLASS, "10000")[0]
    time.sleep(1)  # the window exists a moment before its menu commands are answered
    run_quiet(AGENT_COMMAND, "40011")  # "Auto run on startup"
    end_agent()  # the Exit command comes after it
    stays = probe("run", "3000", *entry)[1]
    report(shown == 0 and stays == "running" and len(agent_pids()) == 1,
           "turning \"Auto run on startup\" on in the menu makes the same start run",
           "window %s, the start %r, agents %s" % (shown, stays, agent_pids()))


def check_install_over_15():
    """Over what version 1.5 left: its grants taken back, its shared values and files gone."""
    end_agent()
    code, _ = probe("set-key-sddl", SETTINGS, KEY_RIGHTS_15)
    planted = key_rights()
    opened = limited_opens_key()
    report(code == 0 and planted == (A_USER, KEY_RIGHTS_15[len("O:" + A_USER):]) and opened == "0",
           "1.5's rights planted: an ordinary user opens the settings key with full access",
           "planting gave %s, read back %r, an ordinary user's open %r" % (code, planted, opened))
    note("settings key as 1.5 left it: O:%s%s" % planted)
    for name, data, kind in (("hwnd", "0x10084", "REG_DWORD"), ("target", INSTALL_W, "REG_SZ"),
                             ("lastupdate", "0x40fbcd80", "REG_DWORD"),
                             ("startup", "1", "REG_SZ"), ("tooltip", "1", "REG_SZ")):
        reg_set(SETTINGS, name, data, kind)
    for name in ("mrvrates.zlv", "mrvrates.zlv.new", USERS_FILE):
        with open(os.path.join(INSTALL, name), "wb") as f:
            f.write(b"kelpo\0\0\0\0\0\0\x000000\0")
    code, _ = probe("set-file-sddl", INSTALL_W, FOLDER_RIGHTS_15)
    note("program folder given 1.5's rights (%s); Wine reads back %s" %
         ("accepted" if code == 0 else "refused", probe("file-sddl", INSTALL_W)[1]))

    # Read back while no agent can start, however late the installer's start of it comes.
    with HeldMutex() as held:
        code = run_setup("/NOSTARTUP", "/NOBALLOONS")
        report(held.held and code == 0, "an install over 1.5 succeeds",
               "mutex held %s, exit code %s" % (held.held, code))
        check_taken_back()


def check_taken_back():
    owner, dacl = key_rights()
    opened = limited_opens_key()
    # Entries compared, not the list's header: Wine drops its "inherited automatically" mark
    # whenever the list is written.
    report(owner == ADMINISTRATORS and aces(dacl) == aces(KEY_RIGHTS_TAKEN_BACK) and opened == "5",
           "the install takes back 1.5's grant to Users and the key's owner, every other entry "
           "kept",
           "read back O:%s%s, an ordinary user's open %r" % (owner, dacl, opened))
    note("settings key after the install over 1.5: O:%s%s" % (owner, dacl))
    values = {name: setting(name)
              for name in ("hwnd", "target", "lastupdate", "startup", "tooltip")}
    report(values == {"hwnd": "absent", "target": "absent", "lastupdate": "absent",
                      "startup": OFF, "tooltip": OFF},
           "1.5's shared \"hwnd\", \"target\" and \"lastupdate\" are gone; the defaults are the "
           "choices made", "values %r" % values)
    left = sorted(f for f in ("mrvrates.zlv", "mrvrates.zlv.new", USERS_FILE)
                  if os.path.exists(os.path.join(INSTALL, f)))
    report(left == [USERS_FILE], "1.5's rates file and its temporary file are gone, the user's own "
           "file kept", "left: %s" % left)
    note("program folder after the install over 1.5, as Wine reads it back: %s" %
         probe("file-sddl", INSTALL_W)[1])


def check_manifest():
    code, text = probe("manifest", os.path.join(INSTALL_W, "agent.exe"))
    try:
        root = ET.fromstring(text.encode()) if code == 0 else None
    except ET.ParseError as e:
        report(False, "agent.exe carries a well-formed manifest", str(e))
        return
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1",
          "s": "http://schemas.microsoft.com/SMI/2005/WindowsSettings"}
    found = lambda path: root.findall(path, ns) if root is not None else []
    level = [e.get("level") for e in found(".//v3:requestedExecutionLevel")]
    controls = [e.get("version") for e in found(".//v1:dependentAssembly/v1:assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    systems = {e.get("Id").lower() for e in found(".//c:supportedOS")}
    wanted = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # Vista, 7, 8, 8.1, 10 and 11
    dpi = [e.text.strip().lower() for e in found(".//s:dpiAware")]
    report(level == ["asInvoker"] and controls == ["6.0.0.0"] and systems == wanted and
           dpi == ["true"], "agent.exe's manifest: the user's own rights, common controls 6, "
           "Windows Vista to 11, DPI aware",
           "level %s, controls %s, systems %s, dpi %s" % (level, controls, sorted(systems), dpi))


def check_uninstall_entry():
    entry = reg_values(UNINSTALL) or {}
    agent = os.path.join(INSTALL_W, "agent.exe")
    site = probe("string", agent, "8")[1]
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(INSTALL)
               for f in files)
    wanted = {"DisplayName": "Zelvantic for Palm 1.5", "URLInfoAbout": site,
              "HelpLink": INSTALL_W + "\\Zelvantic for Palm Product Manual.pdf",
              "EstimatedSize": "0x%x" % math.ceil(size / 1024)}
    got = {k: entry.get(k) for k in wanted}
    report(site.startswith("http") and got == wanted,
           "the uninstall entry names the product, its web site, its manual and its size",
           "got %r, wanted %r" % (got, wanted))
    names = {"installer": probe("version", "Z:" + SETUP.replace("/", "\\"), "ProductName")[1],
             "agent": probe("version", agent, "ProductName")[1]}
    copyright = probe("version", agent, "LegalCopyright")[1]
    report(set(names.values()) == {"Zelvantic for Palm"} and "Morvane" in copyright,
           "one product name in the installer, the agent and Add or Remove Programs; the agent "
           "names its copyright", "names %r, copyright %r" % (names, copyright))


def uninstall():
    """Exit code of a silent uninstall, and whether it ran to its end, with the Conduit Manager
    stand-in noting each call it gets."""
    if os.path.exists(CONDMGR_LOG):
        os.remove(CONDMGR_LOG)
    env = dict(os.environ, ZLV_CONDMGR_LOG=CONDMGR_LOG_W)
    code = run_quiet(os.path.join(INSTALL_W, "uninstall.exe"), "/S", env=env)
    # The uninstaller runs from a copy of itself, so its end shows only in its effects.
    done = wait_for(lambda: not os.path.exists(os.path.join(INSTALL, "uninstall.exe")) and
                    not agent_pids(), 20)
    return code, done


def condmgr_calls():
    if not os.path.exists(CONDMGR_LOG):
        return []
    with open(CONDMGR_LOG, errors="replace") as f:
        return [line.split()[0] for line in f if line.strip()]


def install_registered(*options):
    """A fresh silent install whose agent has registered the conduit."""
    code = run_setup(*options)
    registered = wait_for(lambda: (reg_values(CONDUIT_ENTRY) or {}).get("Folder") == INSTALL_W, 10)
    return code == 0 and registered


def check_uninstalls():
    user_folder_w = local_app_data() + "\\Zelvantic"
    user_folder = windows_to_linux(user_folder_w)
    subprocess.Popen(["wine", os.path.join(INSTALL_W, "agent.exe")], stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
    probe("window", AGENT_CLASS, "10000")

    # Palm Desktop named by "Path" without a final separator; the user's values and rates there.
    reg_set(USER_SETTINGS, "startup", "1")
    reg_set(USER_SETTINGS, "target", user_folder_w)
    os.makedirs(user_folder, exist_ok=True)
    for name in ("mrvrates.zlv", "mrvrates.zlv.new"):
        with open(os.path.join(user_folder, name), "wb") as f:
            f.write(b"kelpo\0\0\0\0\0\0\x000000\0")
    code, done = uninstall()
    report(code == 0 and done, "the silent uninstaller ends the agent",
           "exit code %s, agents %s" % (code, agent_pids()))
    report(reg_values(CONDUIT_ENTRY) is None and condmgr_calls()[:1] == ["49"],
           "the conduit entry is removed through the Conduit Manager that \"Path\" names",
           "entry %r, Conduit Manager calls %s" % (reg_values(CONDUIT_ENTRY), condmgr_calls()))
    left = {k: v for k, v in (("settings key", reg_values(SETTINGS)),
                              ("Run entry", (reg_values(RUN) or {}).get(RUN_VALUE)),
                              ("uninstall entry", reg_values(UNINSTALL)),
                              ("vendor key", reg_values(r"HKLM\Software\Morvane")),
                              ("user's key", reg_values(USER_SETTINGS)),
                              ("user's vendor key", reg_values(r"HKCU\Software\Morvane")))
            if v is not None}
    report(not left and not start_menu_folders(),
           "the settings key, the user's own key, the Run entry, the uninstall entry and the Start "
           "menu are removed", "left: %r, Start menu %s" % (left, start_menu_folders()))
    remaining = sorted(os.path.relpath(os.path.join(d, f), INSTALL)
                       for d, _, files in os.walk(INSTALL) for f in files)
    report(remaining == [USERS_FILE] and not os.path.exists(user_folder),
           "every installed file and the user's rates folder are removed, the user's own file "
           "kept", "left: %s, rates folder there: %s" % (remaining, os.path.exists(user_folder)))
    shutil.rmtree(INSTALL, ignore_errors=True)

    # "Path" with a final separator; a file of the user's own beside the rates keeps the folder.
    name_palm_desktop(path=PALM_DESKTOP_W + "\\")
    installed = install_registered()
    os.makedirs(user_folder, exist_ok=True)
    for name in ("mrvrates.zlv", "notes.txt"):
        with open(os.path.join(user_folder, name), "wb") as f:
            f.write(b"kelpo\0\0\0\0\0\0\x000000\0")
    code, done = uninstall()
    kept = sorted(os.listdir(user_folder)) if os.path.isdir(user_folder) else None
    report(installed and code == 0 and done and reg_values(CONDUIT_ENTRY) is None and
           kept == ["notes.txt"],
           "with \"Path\" ending in a separator the conduit entry is removed; the user's rates go, "
           "their own file stays", "installed %s, exit code %s, entry %r, rates folder holds %s" %
           (installed, code, reg_values(CONDUIT_ENTRY), kept))
    shutil.rmtree(user_folder, ignore_errors=True)

    # Only "HotSyncPath", quoted, as Palm Desktop may leave it.
    name_palm_desktop(hotsync='"%s\\hotsync.exe"' % PALM_DESKTOP_W)
    installed = install_registered()
    code, done = uninstall()
    report(installed and code == 0 and done and reg_values(CONDUIT_ENTRY) is None and
           condmgr_calls()[:1] == ["49"],
           "with only \"HotSyncPath\" named the conduit entry is removed",
           "installed %s, exit code %s, entry %r, Conduit Manager calls %s" %
           (installed, code, reg_values(CONDUIT_ENTRY), condmgr_calls()))

    # No Palm Desktop named, and a Conduit Manager planted beside the uninstaller: never loaded.
    name_palm_desktop(path=PALM_DESKTOP_W)
    installed = install_registered()
    name_palm_desktop()
    shutil.copy(os.path.join(PALM_DESKTOP, "condmgr.dll"), INSTALL)
    code, done = uninstall()
    report(installed and code == 0 and done and condmgr_calls() == [] and
           reg_values(CONDUIT_ENTRY) is not None and
           not os.path.exists(os.path.join(INSTALL, "agent.exe")),
           "with no Palm Desktop named, a condmgr.dll beside the uninstaller is never loaded and "
           "the uninstall completes", "installed %s, exit code %s, Conduit Manager calls %s, "
           "entry %r" % (installed, code, condmgr_calls(), reg_values(CONDUIT_ENTRY)))


if __name__ == "__main__":
    main()
    sys.exit(0)
