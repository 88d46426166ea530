#!/usr/bin/env python3
"""The installer under Wine: silent install, reinstall over a running agent, the start at log-on
and the balloons as choices that only set the agent's settings, the rights it gives ordinary
users, the uninstall entry, the read-me as installed, and a silent uninstall that leaves nothing of
ours behind."""
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
ZLVTOOL = os.path.join(BUILD, "host", "zlvtool")
SAMPLE = os.path.join(os.environ["ZLV_ROOT"], "docs", "sample-rates.txt")
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
INSTALL = os.path.join(DRIVE_C, "Program Files", "Zelvantic")
INSTALL_W = r"C:\Program Files\Zelvantic"
SETTINGS = r"HKLM\Software\Morvane\Zelvantic"
# What a new key under HKLM\Software gets on Windows: ordinary users may only read it.
WINDOWS_KEY_RIGHTS = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)"
ON, OFF = "1 31000000", "1 30000000"  # REG_SZ, "1" or "0" and three zero bytes
REMINDER = ("Zelvantic update is now ready \nfor synchronization.   You can now hot sync \n"
            "your device to complete the updates.")
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Zelvantic Desktop Agent"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelvantic"
CONDUIT_ENTRY = r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA"  # the stand-in's store
INSTALLED = ["agent.exe", "conduit.dll", "Readme.html", "Zelvantic for Palm Product Manual.pdf",
             os.path.join("Palm", "Readme.txt"), "uninstall.exe"]
SHORTCUTS = ["Zelvantic Desktop Agent.lnk", "Read Me.lnk", "Product Manual.lnk",
             "Uninstall Zelvantic.lnk"]

failures = 0


def report(ok, name, why=""):
    global failures
    if ok:
        print("PASS %s" % name, flush=True)
    else:
        failures += 1
        print("FAIL %s: %s" % (name, why), flush=True)


def wine(*args, timeout=60):
    return subprocess.run(["wine"] + list(args), capture_output=True, text=True, timeout=timeout,
                          errors="replace")


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


def run_quiet(*args):
    """Exit code of a Windows program that starts the agent: no pipes for the agent to inherit."""
    try:
        return subprocess.run(["wine"] + list(args), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120).returncode
    except subprocess.TimeoutExpired:
        return "timed out"


def run_setup(*options):
    return run_quiet(SETUP, "/S", *options)


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


def aces(sddl):
    """(type, flags, rights, trustee) of each entry of an access list in SDDL."""
    return [tuple(m.split(";")[i] for i in (0, 1, 2, 5))
            for m in re.findall(r"\(([^)]*)\)", sddl.split("D:", 1)[-1])]


def users_may_change_key():
    code, sddl = probe("key-sddl", SETTINGS)
    full = ("ka", "0xf003f")  # KEY_ALL_ACCESS, as both programs open the key
    return code == 0 and any(t == "A" and "IO" not in f and r.lower() in full and
                             who in ("BU", "S-1-5-32-545") for t, f, r, who in aces(sddl)), sddl


def run_entry():
    """The start at log-on as Windows makes it: the Run entry's program and arguments."""
    line = (reg_values(RUN) or {}).get(RUN_VALUE) or ""
    m = re.match(r'^"([^"]+)"\s*(.*)$', line)
    return [m.group(1)] + m.group(2).split() if m else None


def plant_waiting_rates():
    """Today's rates already downloaded, waiting in the folder the installer is about to fill."""
    os.makedirs(INSTALL, exist_ok=True)
    reply = os.path.join(PREFIX, "reply.txt")
    with open(reply, "wb") as f:
        f.write(b"HTTP/1.0 200 OK\r\n\r\n" + open(SAMPLE, "rb").read())
    subprocess.run([ZLVTOOL, "rates", reply, os.path.join(INSTALL, "mrvrates.zlv")], check=True,
                   capture_output=True)
    os.remove(reply)
    wine("reg", "add", SETTINGS, "/v", "lastupdate", "/t", "REG_DWORD", "/d",
         str(int(time.time())), "/f")


def main():
    for path, what in ((SETUP, "the installer"), (PROBE, "the installer's probe"),
                       (os.path.join(os.environ["ZLV_PALM"], "condmgr.dll"),
                        "the Conduit Manager stand-in of the session's Palm Desktop"),
                       (ZLVTOOL, "zlvtool")):
        if not os.path.isfile(path):
            report(False, "%s is built" % what, path + " is missing")
            return
    try:
        scenario()
    finally:
        for pid in agent_pids():
            subprocess.run(["kill", str(pid)])
        shutil.rmtree(INSTALL, ignore_errors=True)
        for key in (SETTINGS, UNINSTALL, CONDUIT_ENTRY):
            wine("reg", "delete", key, "/f")
        wine("reg", "delete", RUN, "/v", RUN_VALUE, "/f")


def scenario():
    # As on Windows, and not as Wine makes new keys: an ordinary user may only read the key.
    code, _ = probe("set-key-sddl", SETTINGS, WINDOWS_KEY_RIGHTS)
    limited = probe("limited", "5000", PROBE, "open", SETTINGS)[1]
    report(code == 0 and limited == "5\nexit 0",
           "before the install an ordinary user cannot open the settings key",
           "planting the rights gave %s, opening %r" % (code, limited))
    plant_waiting_rates()

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

    # The agent, started by the installer, records its folder and registers the conduit.
    registered = wait_for(lambda: (reg_values(CONDUIT_ENTRY) or {}).get("Folder") == INSTALL_W and
                          (reg_values(SETTINGS) or {}).get("target") == INSTALL_W, 10)
    pids = agent_pids()
    report(registered and len(pids) == 1, "the agent runs and registers the conduit",
           "conduit entry %r, target %r, %d agents" % (reg_values(CONDUIT_ENTRY),
                                                      (reg_values(SETTINGS) or {}).get("target"),
                                                      len(pids)))
    code, shown = probe("balloon", "10000")
    report(code == 0 and shown == REMINDER, "the agent's first reminder appears after the install",
           "balloon %r" % shown)

    ok, sddl = users_may_change_key()
    report(ok, "ordinary users may open the settings key with full access", sddl)
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
    check_uninstall()


def check_start_at_log_on():
    """"startup" alone decides whether the start at log-on keeps the agent, whoever set it."""
    entry = run_entry()
    report(entry and entry[1:] == ["-silent"] and setting("startup") == OFF,
           "after /NOSTARTUP the Run entry stays and \"startup\" is off",
           "Run entry %r, startup %r" % (entry, setting("startup")))
    if not entry:
        return
    run_quiet(os.path.join(WIN, "tools", "agent_command.exe"), "40002", "5")
    wait_for(lambda: not agent_pids(), 10)
    # As an ordinary user logs on: the rights the installer gave are all the agent has.
    ended = probe("limited", "10000", *entry)[1]
    report(ended == "exit 0" and not agent_pids(), "with \"startup\" off the log-on start ends at once",
           "%r, agents %s" % (ended, agent_pids()))

    subprocess.Popen(["wine", entry[0]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: (reg_values(SETTINGS) or {}).get("hwnd") and agent_pids(), 10)
    time.sleep(1)  # the window exists a moment before its menu commands are answered
    run_quiet(os.path.join(WIN, "tools", "agent_command.exe"), "40011")  # "Auto run on startup"
    turned = wait_for(lambda: setting("startup") == ON, 10)
    run_quiet(os.path.join(WIN, "tools", "agent_command.exe"), "40002", "5")
    wait_for(lambda: not agent_pids(), 10)
    stays = probe("limited", "3000", *entry)[1]
    report(turned and stays == "running" and len(agent_pids()) == 1,
           "turning \"Auto run on startup\" on in the menu makes the same start run",
           "startup %r, the start %r, agents %s" % (setting("startup"), stays, agent_pids()))


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


def check_uninstall():
    # Uninstall: the agent ends, every trace of ours goes; what the user put there stays.
    mine = os.path.join(INSTALL, "Palm", "mine.prc")
    with open(mine, "wb") as f:
        f.write(b"the user's own handheld file")
    with open(os.path.join(INSTALL, "mrvrates.zlv"), "wb") as f:
        f.write(b"kelpo\0\0\0\0\0\0\0" + b"0000\0")
    code = run_quiet(os.path.join(INSTALL_W, "uninstall.exe"), "/S")
    # The uninstaller runs from a copy of itself, so its end shows only in its effects.
    gone = wait_for(lambda: not os.path.exists(os.path.join(INSTALL, "uninstall.exe")) and
                    not agent_pids(), 20)
    report(code == 0 and gone, "the silent uninstaller ends the agent",
           "exit code %s, agents %s" % (code, agent_pids()))
    report(reg_values(CONDUIT_ENTRY) is None, "the conduit entry is removed",
           "still there: %r" % reg_values(CONDUIT_ENTRY))
    left = {k: v for k, v in (("settings key", reg_values(SETTINGS)),
                              ("Run entry", (reg_values(RUN) or {}).get(RUN_VALUE)),
                              ("uninstall entry", reg_values(UNINSTALL)),
                              ("vendor key", reg_values(r"HKLM\Software\Morvane")))
            if v is not None}
    report(not left and not start_menu_folders(),
           "the settings key, the Run entry, the uninstall entry and the Start menu are removed",
           "left: %r, Start menu %s" % (left, start_menu_folders()))
    remaining = sorted(os.path.relpath(os.path.join(d, f), INSTALL)
                       for d, _, files in os.walk(INSTALL) for f in files)
    report(remaining == [os.path.join("Palm", "mine.prc")],
           "every installed file is removed, the user's own file kept", "left: %s" % remaining)


if __name__ == "__main__":
    main()
    sys.exit(0)
