#!/usr/bin/env python3
"""The installer under Wine: silent install, reinstall over a running agent, the start-at-log-on
choice, the read-me as installed, and a silent uninstall that leaves nothing of ours behind."""
import html.parser
import os
import shutil
import subprocess
import sys
import time
import urllib.parse

sys.dont_write_bytecode = True
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(os.environ["ZLV_ROOT"], "build")
WIN = os.path.join(BUILD, "win")
SETUP = os.path.join(WIN, "Zelvantic-Setup-1.5.exe")
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
INSTALL = os.path.join(DRIVE_C, "Program Files", "Zelvantic")
INSTALL_W = r"C:\Program Files\Zelvantic"
SYSTEM32 = os.path.join(DRIVE_C, "windows", "system32")
SETTINGS = r"HKLM\Software\Morvane\Zelvantic"
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


def main():
    if not os.path.isfile(SETUP):
        report(False, "the installer is built", SETUP + " is missing")
        return
    condmgr = os.path.join(WIN, "condmgr.dll")
    if not os.path.isfile(condmgr):
        report(False, "the Conduit Manager stand-in is built", condmgr + " is missing")
        return
    # Where the Palm Desktop would have put it: every program finds it there.
    shutil.copy(condmgr, SYSTEM32)
    try:
        scenario()
    finally:
        for pid in agent_pids():
            subprocess.run(["kill", str(pid)])
        os.remove(os.path.join(SYSTEM32, "condmgr.dll"))
        shutil.rmtree(INSTALL, ignore_errors=True)
        for key in (SETTINGS, UNINSTALL, CONDUIT_ENTRY):
            wine("reg", "delete", key, "/f")
        wine("reg", "delete", RUN, "/v", RUN_VALUE, "/f")


def scenario():
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
    settings = reg_values(SETTINGS) or {}
    report(settings.get("startup") == "1", "\"startup\" is on", "found %r" % settings.get("startup"))

    # The agent, started by the installer, records its folder and registers the conduit.
    registered = wait_for(lambda: (reg_values(CONDUIT_ENTRY) or {}).get("Folder") == INSTALL_W and
                          (reg_values(SETTINGS) or {}).get("target") == INSTALL_W, 10)
    pids = agent_pids()
    report(registered and len(pids) == 1, "the agent runs and registers the conduit",
           "conduit entry %r, target %r, %d agents" % (reg_values(CONDUIT_ENTRY),
                                                      (reg_values(SETTINGS) or {}).get("target"),
                                                      len(pids)))
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
    run = reg_values(RUN) or {}
    settings = reg_values(SETTINGS) or {}
    report(RUN_VALUE not in run and settings.get("startup") == "0",
           "/NOSTARTUP takes back the start at log-on",
           "Run entry %r, startup %r" % (run.get(RUN_VALUE), settings.get("startup")))

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
