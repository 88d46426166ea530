#!/usr/bin/env python3
"""The installer under Wine: silent install, reinstall over a running agent, the start at log-on
and the balloons as choices that only set machine-wide defaults, the rights it leaves (none given
to ordinary users), an install over 1.5 (its grants taken back, its shared values and rates file
gone), the uninstall entry and the read-me as installed."""
import html.parser
import math
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from installer_world import (  # noqa: E402
    AGENT_CLASS, AGENT_COMMAND, CONDUIT_ENTRY, INSTALL, INSTALL_W, OFF, ON, PROBE, RUN, RUN_VALUE,
    SETTINGS, SETUP, UNINSTALL, USERS_FILE, WIN, agent_pids, end_agent, note, on_test_pc,
    pieces_built, probe, reg_set, reg_values, report, run_quiet, run_setup, setting,
    start_menu_folders, wait_for)

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


def main():
    if pieces_built():
        on_test_pc(scenario)


if __name__ == "__main__":
    main()
    sys.exit(0)
