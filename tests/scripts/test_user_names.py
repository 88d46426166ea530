#!/usr/bin/env python3
"""The whole road for users whose profile folder is named outside the ANSI code page, on an
English-language PC (code page 1252): a Wine session of its own for a Cyrillic and for a Chinese
user name, the product installed in a folder named in that script, the second user's Palm
Desktop in one too. agent.exe, started from another working folder, downloads nginx's page into
the user's own folder and ends with code 0 on Exit; the Palm Desktop's HotSync Manager puts the
record on the handheld byte for byte; one day of the agent in-process (agent_soak.exe) also sees
the success balloon. Nothing is new on drive C: but the user's rates folder, no stored value holds
a "?", and "target" names the folder letter for letter. One PASS/FAIL line per check."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.environ.get("ZLV_ROOT") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "tools")]
sys.dont_write_bytecode = True  # keep tools/ and tests/tools free of __pycache__
import peers  # noqa: E402
from line_rule import rates_body  # noqa: E402
from winesession import WineSession, win_folder  # noqa: E402

ARCH = os.environ.get("ZLV_ARCH") or "i686"
WIN = win_folder(ARCH)
PRODUCT = [os.path.join(WIN, f) for f in ("agent.exe", "conduit.dll", "tests/agent_soak.exe")]
TOOLS = [os.path.join(WIN, f) for f in ("tests/agent_probe.exe", "tools/agent_command.exe")]
PAGE = b"USD\tUS Dollar\t1.0000\t1.0000\nEUR\tEuro\t0.9215\t0.9230\nJPY\tYen\t149.20\t149.90\n"
FULL_COPY = ["Opening connection", "verifying local database", "searching palm database",
             "opening database", "clearing handheld database", "updating currencies",
             "closing database", "Closing connection"]
# Who: the user's name, where the product is installed, where the Palm Desktop is.
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


class User:
    def __init__(self, env, tmp, name, product, palm):
        self.env, self.tmp, self.product, self.palm = env, tmp, product, palm
        self.drive_c = os.path.join(env["WINEPREFIX"], "drive_c")
        self.rates_w = "C:\\users\\%s\\AppData\\Local\\Zelvantic" % name
        self.rates = self.linux(self.rates_w)
        self.work = os.path.join(tmp, "elsewhere")  # the working folder programs start in
        os.makedirs(self.work)

    def linux(self, windows_path):
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def wine(self, program, *args, handheld=None, timeout=60):
        """Output through files: a pipe stays open as long as the session's own programs that
        the first start brings up, which inherit it."""
        env = dict(self.env)
        if handheld:
            env["ZLV_HANDHELD_DIR"] = "Z:" + handheld.replace("/", "\\")
        with tempfile.TemporaryFile() as out:
            run = subprocess.run(["wine", program] + list(args), cwd=self.work, env=env,
                                 stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return run.returncode, out.read().decode(errors="replace")

    def exported(self, key):
        """The key as `reg export` writes it, or None when it is not there."""
        out = os.path.join(self.tmp, "export.reg")
        code, _ = self.wine("reg", "export", key, out, "/y")
        text = open(out, "rb").read().decode("utf-16") if code == 0 else None
        if os.path.exists(out):
            os.remove(out)
        return text

    def files(self):
        seen = {}
        for folder, _, names in os.walk(self.drive_c):
            seen[folder] = None
            for n in names:
                try:
                    st = os.lstat(os.path.join(folder, n))
                except OSError:  # gone while looking
                    continue
                seen[os.path.join(folder, n)] = (st.st_size, st.st_mtime_ns)
        return seen


def agent_road(who, user):
    www = os.path.join(user.tmp, "www")
    os.makedirs(www)
    with open(os.path.join(www, "updatedrates.php"), "wb") as f:
        f.write(PAGE)
    nginx = peers.start_nginx(user.tmp, {"127.0.0.1": www})
    rates = os.path.join(user.rates, "mrvrates.zlv")
    agent = subprocess.Popen(["wine", user.product + "\\agent.exe"], cwd=user.work, env=user.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        end = time.time() + 20
        while not os.path.exists(rates) and agent.poll() is None and time.time() < end:
            time.sleep(0.1)
        data = open(rates, "rb").read() if os.path.exists(rates) else b""
        check(who, "agent.exe downloads into the user's own folder",
              data[:8] == b"kelpo\0\0\0" and data[12:] == rates_body(PAGE),
              "exit code %s, %d bytes" % (agent.poll(), len(data)))
        handheld = os.path.join(user.tmp, "handheld")
        os.makedirs(handheld)
        made, _ = user.wine(user.palm + "\\hotsync.exe", "--install-db", handheld=handheld)
        code, out = user.wine(user.palm + "\\hotsync.exe", handheld=handheld)
        pdb = peers.palm_pdb(os.path.join(handheld, "ZLV Currencies.pdb"))
        check(who, "the HotSync puts the record on the handheld byte for byte and the file goes",
              (made, code, out.splitlines()) == (0, 0, FULL_COPY) and
              pdb[1].get("data") == rates_body(PAGE).hex() and not os.path.exists(rates),
              "exit %d %s %s" % (code, out.splitlines(), pdb))
        ended, _ = user.wine(os.path.join(user.tmp, "agent_command.exe"), "40002", "10")
        try:
            agent.wait(15)
        except subprocess.TimeoutExpired:
            pass
        check(who, "the Exit command ends agent.exe with code 0",
              (ended, agent.poll()) == (0, 0), "agent_command %d, agent %s" % (ended, agent.poll()))
    finally:
        if agent.poll() is None:
            agent.kill()
        nginx.terminate()
        nginx.wait(5)


def soak_day(who, user):
    """One day of the agent in the same folder: its success balloon is seen from inside."""
    handheld = os.path.join(user.tmp, "handheld-soak")
    os.makedirs(handheld)
    code, out = user.wine(user.product + "\\agent_soak.exe", "1", handheld=handheld, timeout=120)
    lines = [l.split(" ", 1) for l in out.splitlines() if l.startswith(("PASS ", "FAIL "))]
    for kind, rest in lines:
        check(who, "agent_soak.exe: " + rest, kind == "PASS")
    if not lines:
        check(who, "agent_soak.exe reports", False, "exit code %d" % code)


def stored_values(who, user):
    settings = user.exported(r"HKCU\Software\Morvane\Zelvantic") or ""
    entry = user.exported(r"HKCU\Software\ZelvanticPalmSim\ConduitManager\ZLVA") or ""
    target = '"target"="%s"' % user.rates_w.replace("\\", "\\\\")
    check(who, '"target" names the user\'s rates folder letter for letter',
          target in settings.splitlines(), settings)
    check(who, "the Conduit Manager's entry and the settings hold no \"?\"",
          '"Conduit"=' in entry and "?" not in settings + entry, settings + entry)


def run_user(who, name, product, palm):
    tmp = tempfile.mkdtemp(prefix="zlv-user-")
    session = WineSession(os.environ.get("ZLV_ARTIFACTS"), restart_desktop=True, arch=ARCH,
                          user=name, palm_folder=palm)
    try:
        session.start()
        if not check(who, "a Wine session for the user", not session.error, str(session.error)):
            return
        user = User(session.env, tmp, name, product, palm)
        os.makedirs(user.linux(product))
        for f in PRODUCT:
            shutil.copy(f, user.linux(product))
        for f in TOOLS:
            shutil.copy(f, tmp)
        _, page = user.wine(os.path.join(tmp, "agent_probe.exe"), "codepage")
        if not check(who, "an English-language PC whose profile is named for the user",
                     page.strip() == "1252" and os.path.isdir(user.linux("C:\\users\\" + name)),
                     "code page %s" % page.strip()):
            return
        before = user.files()
        agent_road(who, user)
        soak_day(who, user)
        stored_values(who, user)
        after = user.files()
        elsewhere = sorted(p for p in set(before) | set(after)
                           if before.get(p, "gone") != after.get(p, "gone") and
                           not (p + os.sep).startswith(user.rates + os.sep))
        check(who, "nothing written on drive C: but the user's rates folder", not elsewhere,
              ", ".join(elsewhere[:10]))
    finally:
        session.stop()
        shutil.rmtree(tmp, ignore_errors=True)


def main():
    sys.stdout.reconfigure(errors="backslashreplace")  # names outside ASCII in any locale
    missing = [f for f in PRODUCT + TOOLS if not os.path.exists(f)]
    if missing:
        check("users", "built", False, "missing " + ", ".join(missing))
        return 1
    for user in USERS:
        run_user(*user)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
