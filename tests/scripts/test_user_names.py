#!/usr/bin/env python3
"""The whole road for users whose profile folder is named outside the ANSI code page, on an
English-language PC (code page 1252): a Wine session of its own for a Cyrillic name and for a
Chinese one, each with the product installed in a folder named in that script, and the second
with its Palm Desktop in one too.

In each: agent.exe, started from another working folder, downloads the page nginx serves into
the user's own folder and registers the conduit; the Palm Desktop's HotSync Manager puts the
record on the handheld byte for byte and the file goes; the Exit command ends the agent with
code 0. Then agent_soak.exe runs one day of the agent in that folder, which also sees the
agent's success balloon. Afterwards nothing is new on drive C: but the user's rates folder, no
value the product or the Conduit Manager keeps holds a "?", and "target" names the folder letter
for letter. One PASS/FAIL line per check.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
sys.dont_write_bytecode = True  # keep tools/ and tests/tools free of __pycache__
import peers  # noqa: E402
from line_rule import rates_body  # noqa: E402
from winesession import WineSession, win_folder  # noqa: E402

ARCH = os.environ.get("ZLV_ARCH") or "i686"
WIN = win_folder(ARCH)
BUILT = {"agent.exe": WIN, "conduit.dll": WIN, "agent_soak.exe": os.path.join(WIN, "tests"),
         "agent_probe.exe": os.path.join(WIN, "tests"),
         "agent_command.exe": os.path.join(WIN, "tools")}
PAGE = b"USD\tUS Dollar\t1.0000\t1.0000\nEUR\tEuro\t0.9215\t0.9230\nJPY\tYen\t149.20\t149.90\n"
FULL_COPY = ["Opening connection", "verifying local database", "searching palm database",
             "opening database", "clearing handheld database", "updating currencies",
             "closing database", "Closing connection"]
# Who, where the product is installed, where the Palm Desktop is.
USERS = [
    ("Cyrillic user", "\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c",
     "C:\\Program Files\\\u0417\u0435\u043b\u0432\u0430\u043d\u0442\u0438\u043a",
     "C:\\Program Files\\Palm"),
    ("Chinese user", "\u7528\u6237", "C:\\Program Files\\\u6cfd\u5c14\u4e07\u8482\u514b",
     "C:\\Program Files\\\u638c\u4e0a\u7535\u8111"),
]
failed = 0


def check(who, name, ok, detail=""):
    global failed
    print("%s %s: %s%s" % ("PASS" if ok else "FAIL", who, name, "" if ok else " -- " + detail),
          flush=True)
    failed += 0 if ok else 1
    return ok


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


class User:
    def __init__(self, session, tmp, name, product, palm):
        self.env = session.env
        self.tmp = tmp
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")
        self.product_w = product
        self.palm_w = palm
        self.rates_w = "C:\\users\\%s\\AppData\\Local\\Zelvantic" % name
        self.rates = self.linux(self.rates_w)
        self.work = os.path.join(tmp, "elsewhere")  # the working folder the programs start in
        os.makedirs(self.work, exist_ok=True)

    def linux(self, windows_path):
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def wine(self, program, *args, env=None, timeout=60):
        """Its output through files: a pipe would stay open as long as the session's own
        programs that the first start brings up, which inherit it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            run = subprocess.run(["wine", program] + list(args), cwd=self.work,
                                 env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            run.stdout, run.stderr = out.read(), err.read()
        return run

    def tool(self, name, *args):
        return self.wine(os.path.join(self.linux(self.product_w), name), *args)

    def hotsync(self, handheld, *args):
        env = dict(self.env, ZLV_HANDHELD_DIR="Z:" + handheld.replace("/", "\\"))
        return self.wine(self.palm_w + "\\hotsync.exe", *args, env=env)

    def exported(self, key):
        """The key as `reg export` writes it (UTF-16), or None when it is not there."""
        out = os.path.join(self.tmp, "export.reg")
        if os.path.exists(out):
            os.remove(out)
        if self.wine("reg", "export", key, out, "/y").returncode != 0 or not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            return f.read().decode("utf-16")

    def files(self):
        """Every file and folder on drive C:, with each file's size and time."""
        seen = {}
        for folder, dirs, names in os.walk(self.drive_c):
            seen[folder] = None
            for n in names:
                path = os.path.join(folder, n)
                try:
                    st = os.lstat(path)
                    seen[path] = (st.st_size, st.st_mtime_ns)
                except OSError:
                    pass
        return seen


def install(user):
    folder = user.linux(user.product_w)
    os.makedirs(folder)
    for name in ("agent.exe", "conduit.dll", "agent_soak.exe"):
        shutil.copy(os.path.join(BUILT[name], name), folder)
    for name in ("agent_probe.exe", "agent_command.exe"):
        shutil.copy(os.path.join(BUILT[name], name), user.tmp)


def agent_road(who, user):
    """agent.exe: start, download, HotSync, Exit."""
    www = os.path.join(user.tmp, "www")
    os.makedirs(www)
    with open(os.path.join(www, "updatedrates.php"), "wb") as f:
        f.write(PAGE)
    nginx = peers.start_nginx(user.tmp, {"127.0.0.1": www})
    rates_file = os.path.join(user.rates, "mrvrates.zlv")
    agent = subprocess.Popen(["wine", user.product_w + "\\agent.exe"], cwd=user.work,
                             env=user.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        landed = wait_for(lambda: os.path.exists(rates_file), 20)
        data = open(rates_file, "rb").read() if landed else b""
        check(who, "agent.exe downloads into the user's own folder",
              landed and data[:8] == b"kelpo\0\0\0" and data[12:] == rates_body(PAGE),
              "exit code %s, %d bytes" % (agent.poll(), len(data)))
        handheld = os.path.join(user.tmp, "handheld")
        os.makedirs(handheld)
        made = user.hotsync(handheld, "--install-db")
        sync = user.hotsync(handheld)
        lines = sync.stdout.decode(errors="replace").splitlines()
        code, fields, err = peers.palm_pdb(os.path.join(handheld, "ZLV Currencies.pdb"))
        check(who, "the HotSync puts the record on the handheld byte for byte and the file goes",
              made.returncode == 0 and sync.returncode == 0 and lines == FULL_COPY and
              code == 0 and fields.get("records") == "1" and
              fields.get("data") == rates_body(PAGE).hex() and not os.path.exists(rates_file),
              "exit %d %s %s %s" % (sync.returncode, lines, sync.stderr.decode(errors="replace"),
                                    err))
        ended = user.wine(os.path.join(user.tmp, "agent_command.exe"), "40002", "10")
        try:
            agent.wait(15)
        except subprocess.TimeoutExpired:
            pass
        check(who, "the Exit command ends agent.exe with code 0",
              ended.returncode == 0 and agent.poll() == 0,
              "agent_command %d, agent %s" % (ended.returncode, agent.poll()))
    finally:
        if agent.poll() is None:
            agent.kill()
        nginx.terminate()
        nginx.wait(5)


def soak_day(who, user):
    """One day of the agent in the same folder, with its success balloon seen from inside."""
    handheld = os.path.join(user.tmp, "handheld-soak")
    os.makedirs(handheld)
    env = dict(user.env, ZLV_HANDHELD_DIR="Z:" + handheld.replace("/", "\\"))
    run = user.wine(user.product_w + "\\agent_soak.exe", "1", env=env, timeout=120)
    lines = [l for l in run.stdout.decode(errors="replace").splitlines()
             if l.startswith(("PASS", "FAIL"))]
    for line in lines:
        kind, _, rest = line.partition(" ")
        check(who, "agent_soak.exe: " + rest, kind == "PASS")
    if not lines:
        check(who, "agent_soak.exe reports", False, "exit code %d" % run.returncode)


def stored_values(who, user, name):
    settings = user.exported(r"HKCU\Software\Morvane\Zelvantic")
    entry = user.exported(r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA")
    expected = '"target"="%s"' % user.rates_w.replace("\\", "\\\\")
    check(who, '"target" names the user\'s rates folder letter for letter',
          settings is not None and expected in settings.splitlines(), str(settings))
    check(who, "no stored value holds a \"?\"",
          settings is not None and entry is not None and "?" not in settings + entry,
          "%s\n%s" % (settings, entry))
    conduit = [l.split("=", 1)[1].strip('"').replace("\\\\", "\\")
               for l in (entry or "").splitlines() if l.startswith('"Conduit"=')]
    # Wine finds the file a short name stands for.
    found = user.wine("winepath", "-u", conduit[0]) if conduit else None
    registered = found.stdout.decode(errors="replace").strip() if found else ""
    check(who, "the Conduit Manager names the installed conduit.dll",
          bool(registered) and os.path.exists(registered) and
          os.path.samefile(registered, os.path.join(user.linux(user.product_w), "conduit.dll")),
          str(conduit))
    check(who, "nothing under HKLM", user.exported(r"HKLM\Software\Morvane") is None)


def run_user(who, name, product, palm, artifacts):
    tmp = tempfile.mkdtemp(prefix="zlv-user-")
    session = WineSession(artifacts, restart_desktop=True, arch=ARCH, user=name, palm_folder=palm)
    try:
        session.start()
        if not check(who, "a Wine session for the user", not session.error, str(session.error)):
            return
        user = User(session, tmp, name, product, palm)
        install(user)
        page = user.wine(os.path.join(tmp, "agent_probe.exe"), "codepage").stdout.strip()
        if not check(who, "an English-language PC whose profile is named for the user",
                     page == b"1252" and os.path.isdir(user.linux("C:\\users\\" + name)),
                     "code page %s, users %s" % (page, os.listdir(user.linux("C:\\users")))):
            return
        before = user.files()
        agent_road(who, user)
        soak_day(who, user)
        stored_values(who, user, name)
        after = user.files()
        elsewhere = sorted(p for p in set(before) | set(after)
                           if before.get(p, "gone") != after.get(p, "gone") and
                           not (p + os.sep).startswith(user.rates + os.sep))
        check(who, "nothing written on drive C: but the user's rates folder",
              not elsewhere, ", ".join(elsewhere[:10]))
    finally:
        session.stop()
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    sys.stdout.reconfigure(errors="backslashreplace")  # names outside ASCII in any locale
    missing = [os.path.join(f, n) for n, f in BUILT.items()
               if not os.path.exists(os.path.join(f, n))]
    if missing:
        check("users", "built", False, "missing " + ", ".join(missing))
        return 1
    artifacts = os.environ.get("ZLV_ARTIFACTS")
    for who, name, product, palm in USERS:
        run_user(who, name, product, palm, artifacts)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
