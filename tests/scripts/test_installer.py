#!/usr/bin/env python3
"""The installer under Wine: silent install, reinstall over a running agent, the start at log-on
and the balloons as choices that only set machine-wide defaults, the rights it leaves (the program
folder protected, the settings key as its parent passes it on), the folders it refuses, an install
over 1.5 (the key's own rights back, its shared values and rates file gone, what its users could
add and Windows would load removed), the uninstall entry and the read-me as installed."""
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
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from installer_world import (  # noqa: E402
    ADMINISTRATORS, AGENT_CLASS, AGENT_COMMAND, CONDUIT_ENTRY, INSTALL, INSTALL_W, OFF, ON,
    PREFIX, PROBE, RUN, RUN_VALUE, SETTINGS, SETUP, UNINSTALL, USERS_FILE, WIN,
    WINDOWS_KEY_RIGHTS, agent_pids, end_agent, note, on_test_pc, pieces_built, probe, reg_set,
    reg_values, report, run_quiet, run_setup, setting, start_menu_folders, traced_setup,
    wait_for, windows_to_linux)

AGENT_MUTEX = "(:::)Zelvantic Desktop Agent by kelpo"
# What 1.5 let become of the settings key: a user took it, gave Users and Everyone full control
# and cut it off from its parent's rights; an entry for NETWORK SERVICE came from elsewhere.
A_USER = "S-1-5-21-0-0-0-1000"
KEY_RIGHTS_15 = "O:%sD:P(A;;KA;;;BU)(A;;KA;;;WD)(A;;KR;;;NS)" % A_USER
# The program folder: SYSTEM and Administrators full control, Users read and execute (the generic
# read and execute rights of files), for the folder and all in it, nothing from its parent.
FOLDER_OWNER, FOLDER_ACES = "BA", {("A", "OICI", "FA", "SY"), ("A", "OICI", "FA", "BA"),
                                   ("A", "OICI", "0x1200a9", "BU")}
# What 1.5's users could add to its folder that Windows or the agent would load or open, and what
# is anyone's data.
PLANTED_CODE = ["dwmapi.dll", "agent.exe.manifest", "hotsync.hlp", "agent.exe.local",
                "HELP.CHM", "setup.cmd", os.path.join("conduit.dll.local", "x86_comctl", "comctl32.dll")]
PLANTED_DATA = [USERS_FILE, "notes.txt", "rates.zlv.bak", "readme"]
INSTALLED = ["agent.exe", "conduit.dll", "Readme.html", "Zelvantic for Palm Product Manual.pdf",
             os.path.join("Palm", "Readme.txt"), "uninstall.exe"]
SHORTCUTS = ["Zelvantic Desktop Agent.lnk", "Read Me.lnk", "Product Manual.lnk",
             "Uninstall Zelvantic.lnk"]


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


def rights_asked(calls, folder):
    """(owner, protected, entries, flags) of each access list the installer gave folder through a
    handle it opened there, from the text it converted last before each SetSecurityInfo that
    succeeded."""
    handles, sddl, asked = set(), None, []
    name = 'L"%s"' % folder.replace("\\", "\\\\")
    for function, args, value in calls:
        fields = args.split(",")
        if function == "CreateFileW" and name in args and value:
            handles.add(int(value, 16))
        elif function.startswith("ConvertStringSecurityDescriptor"):
            sddl = re.search(r'L"([^"]*)"', args).group(1)
        elif function == "SetSecurityInfo" and int(fields[0], 16) in handles and value == "0" * 8:
            m = re.match(r"^O:(\w+)D:(P?)", sddl or "")
            asked.append((m and m.group(1), m and m.group(2) == "P",
                          set(aces(sddl)), int(fields[2], 16)))
    return asked


def check_folder_rights(calls, when):
    """The program folder given its rights, its own access list protected from its parent's."""
    asked = rights_asked(calls, INSTALL_W)
    protected = 0x80000000 | 0x4 | 0x1  # owner and access list, the list protected
    report(asked == [(FOLDER_OWNER, True, FOLDER_ACES, protected)],
           "%s the installer gives the program folder to the Administrators, SYSTEM and "
           "Administrators full control, Users read and execute, nothing inherited" % when,
           "asked for %r" % asked)


def scenario():
    code, calls = traced_setup()
    report(code == 0, "a silent install succeeds", "exit code %s" % code)
    missing = [f for f in INSTALLED if not os.path.isfile(os.path.join(INSTALL, f))]
    same = all(open(os.path.join(INSTALL, f), "rb").read() ==
               open(os.path.join(WIN, f), "rb").read() for f in ("agent.exe", "conduit.dll"))
    report(not missing and same, "every file is installed under Program Files",
           "missing: %s" % missing if missing else "installed binaries differ from the build")
    check_folder_rights(calls, "on a fresh install")

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

    owner, dacl = key_rights()
    reads = probe("limited", "5000", PROBE, "value", SETTINGS, "tooltip")[1]
    report(owner == ADMINISTRATORS and aces(dacl) == aces(WINDOWS_KEY_RIGHTS) and
           limited_opens_key() == "5" and reads == ON + "\nexit 0",
           "the settings key has what its parent passes on and nothing else; ordinary users read "
           "the defaults", "read back O:%s%s, an ordinary user's read %r" % (owner, dacl, reads))
    note("settings key after a fresh install: O:%s%s" % (owner, dacl))
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
    check_refused_folders()


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


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def check_install_over_15():
    """Over what version 1.5 left: the key's own rights back, its shared values and files gone,
    what its users could add that would be loaded or opened removed, their data kept."""
    end_agent()
    code, _ = probe("set-key-sddl", SETTINGS, KEY_RIGHTS_15)
    planted = key_rights()
    opened = limited_opens_key()
    report(code == 0 and planted == (A_USER, KEY_RIGHTS_15[len("O:" + A_USER):]) and opened == "0",
           "1.5's rights planted: an ordinary user opens the settings key with full access",
           "planting gave %s, read back %r, an ordinary user's open %r" % (code, planted, opened))
    for name, data, kind in (("hwnd", "0x10084", "REG_DWORD"), ("target", INSTALL_W, "REG_SZ"),
                             ("lastupdate", "0x40fbcd80", "REG_DWORD"),
                             ("startup", "1", "REG_SZ"), ("tooltip", "1", "REG_SZ")):
        reg_set(SETTINGS, name, data, kind)
    for name in ["mrvrates.zlv", "mrvrates.zlv.new"] + PLANTED_CODE + PLANTED_DATA:
        write(os.path.join(INSTALL, name), b"kelpo\0\0\0\0\0\0\x000000\0")

    # Read back while no agent can start, however late the installer's start of it comes.
    with HeldMutex() as held:
        code, calls = traced_setup("/NOSTARTUP", "/NOBALLOONS")
        report(held.held and code == 0, "an install over 1.5 succeeds",
               "mutex held %s, exit code %s" % (held.held, code))
        check_taken_back()
        check_folder_rights(calls, "over 1.5's folder")


def check_taken_back():
    owner, dacl = key_rights()
    opened = limited_opens_key()
    # Entries compared, not the list's header: Wine drops its "inherited automatically" mark
    # whenever the list is written.
    report(owner == ADMINISTRATORS and aces(dacl) == aces(WINDOWS_KEY_RIGHTS) and opened == "5",
           "the install gives the settings key back to the Administrators with what its parent "
           "passes on and nothing else", "read back O:%s%s, an ordinary user's open %r" %
           (owner, dacl, opened))
    note("settings key after the install over 1.5: O:%s%s" % (owner, dacl))
    values = {name: setting(name)
              for name in ("hwnd", "target", "lastupdate", "startup", "tooltip")}
    report(values == {"hwnd": "absent", "target": "absent", "lastupdate": "absent",
                      "startup": OFF, "tooltip": OFF},
           "1.5's shared \"hwnd\", \"target\" and \"lastupdate\" are gone; the defaults are the "
           "choices made", "values %r" % values)
    there = lambda names: sorted(n for n in names if os.path.exists(os.path.join(INSTALL, n)))
    installed = [f for f in INSTALLED if not os.path.isfile(os.path.join(INSTALL, f))]
    report(there(["mrvrates.zlv", "mrvrates.zlv.new"] + PLANTED_CODE) == [] and
           there(PLANTED_DATA) == sorted(PLANTED_DATA) and not installed and
           not os.path.exists(os.path.join(INSTALL, "conduit.dll.local")),
           "over 1.5's folder the libraries, programs, redirections and help files it does not "
           "install are gone, with 1.5's rates files; every other file stays",
           "left of the code %s, of the data %s, installed files missing %s" %
           (there(PLANTED_CODE), there(PLANTED_DATA), installed))


def check_refused_folders():
    """A folder Windows or every user shares, and a network share, are no program folder:
    nothing is installed there and no rights are set."""
    share = os.path.join(PREFIX, "dosdevices", "unc", "zlvhost", "apps")
    os.makedirs(share, exist_ok=True)
    try:
        # /D= takes no quotes, so no blank either.
        for folder, placed in (("C:\\windows", windows_to_linux("C:\\windows\\agent.exe")),
                               ("C:\\users", windows_to_linux("C:\\users\\agent.exe")),
                               ("\\\\zlvhost\\apps\\Zelvantic", os.path.join(share, "Zelvantic"))):
            code, calls = traced_setup("/D=" + folder)
            set_rights = [c for c in calls if c[0] == "SetSecurityInfo"]
            report(code not in (0, "timed out") and not set_rights and not os.path.exists(placed),
                   "an install into %s is refused and sets no rights" % folder,
                   "exit code %s, rights set %s, %s there: %s" %
                   (code, set_rights, placed, os.path.exists(placed)))
    finally:
        shutil.rmtree(os.path.dirname(share), ignore_errors=True)


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


def main():
    if pieces_built():
        on_test_pc(scenario)


if __name__ == "__main__":
    main()
    sys.exit(0)
