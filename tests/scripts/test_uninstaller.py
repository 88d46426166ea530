#!/usr/bin/env python3
"""The uninstaller under Wine: it finds the Conduit Manager of the user's own Palm Desktop as the
agent does ("Path" with or without a final separator, in a folder whose name has a space, or only
"HotSyncPath"), never loads one by bare name or from a share, and removes what was installed and
the uninstalling user's own values and rates, leaving what anyone else put there and a folder it
did not make."""
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from installer_world import (  # noqa: E402
    CONDUIT_ENTRY, DRIVE_C, INSTALL, INSTALL_W, PALM_DESKTOP, PALM_DESKTOP_W, PREFIX, RUN,
    RUN_VALUE, SETTINGS, STAND_INS, UNINSTALL, USER_SETTINGS, USERS_FILE, agent_pids,
    install_registered, local_app_data, name_palm_desktop, on_test_pc, pieces_built, reg_set,
    reg_values, report, run_quiet, run_setup, start_menu_folders, wait_for, windows_to_linux, wine)

CONDMGR_LOG_W = r"C:\condmgr.log"
CONDMGR_LOG = os.path.join(DRIVE_C, "condmgr.log")
RATES = b"kelpo\0\0\0\0\0\0\x000000\0"


def uninstall(folder_w=INSTALL_W):
    """Exit code of a silent uninstall, and whether it ran to its end, with the Conduit Manager
    stand-in noting each call it gets."""
    if os.path.exists(CONDMGR_LOG):
        os.remove(CONDMGR_LOG)
    env = dict(os.environ, ZLV_CONDMGR_LOG=CONDMGR_LOG_W)
    code = run_quiet(folder_w + "\\uninstall.exe", "/S", env=env)
    # The uninstaller runs from a copy of itself, so its end shows only in its effects.
    done = wait_for(lambda: not os.path.exists(windows_to_linux(folder_w + "\\uninstall.exe")) and
                    not agent_pids(), 20)
    return code, done


def condmgr_calls():
    if not os.path.exists(CONDMGR_LOG):
        return []
    with open(CONDMGR_LOG, errors="replace") as f:
        return [line.split()[0] for line in f if line.strip()]


def write(path, data=RATES):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def check_uninstalls():
    user_folder_w = local_app_data() + "\\Zelvantic"
    user_folder = windows_to_linux(user_folder_w)

    # Palm Desktop named by "Path" without a final separator; the user's own values and rates,
    # and a file of the user's beside the installed ones.
    installed = install_registered()
    reg_set(USER_SETTINGS, "startup", "1")
    reg_set(USER_SETTINGS, "target", user_folder_w)
    for name in ("mrvrates.zlv", "mrvrates.zlv.new"):
        write(os.path.join(user_folder, name))
    write(os.path.join(INSTALL, USERS_FILE), b"the user's own handheld file")
    code, done = uninstall()
    report(installed and code == 0 and done, "the silent uninstaller ends the agent",
           "installed %s, exit code %s, agents %s" % (installed, code, agent_pids()))
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
    for name in ("mrvrates.zlv", "notes.txt"):
        write(os.path.join(user_folder, name))
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
    check_chosen_folder()


def check_chosen_folder():
    """A folder the administrator chose that was there already, holding a library that is not
    ours, with Palm Desktop named by a share: the library stays on install (this is not 1.5's
    folder), neither the agent nor the uninstaller loads the share's Conduit Manager, and the
    folder outlives the uninstall, emptied of what was installed."""
    chosen_w = r"C:\Apps\Zelvantic"
    chosen, share = windows_to_linux(chosen_w), os.path.join(PREFIX, "dosdevices", "unc", "zlvhost")
    planted = os.path.join(chosen, "dwmapi.dll")
    write(planted, b"MZ, someone else's")
    os.makedirs(os.path.join(share, "palm"))
    for f in STAND_INS:
        shutil.copy(os.path.join(PALM_DESKTOP, f), os.path.join(share, "palm"))
    name_palm_desktop(path=r"\\zlvhost\palm")
    wine("reg", "delete", CONDUIT_ENTRY, "/f")  # the last case's, which no uninstaller could reach
    try:
        code = run_setup("/D=" + chosen_w)
        started = wait_for(agent_pids, 10) and os.path.isfile(os.path.join(chosen, "agent.exe"))
        time.sleep(2)  # the agent's start has looked for the Conduit Manager by now
        kept = os.path.exists(planted)
        os.remove(planted)  # as its owner would, once told
        uninstalled, done = uninstall(chosen_w)
        report(code == 0 and started and kept and uninstalled == 0 and done and
               condmgr_calls() == [] and reg_values(CONDUIT_ENTRY) is None and
               os.path.isdir(chosen) and os.listdir(chosen) == [],
               "in a folder chosen elsewhere a library not ours stays, the Conduit Manager of a "
               "share is never loaded, and the folder, not the uninstaller's to remove, stays",
               "install %s started %s, the library kept %s, uninstall %s done %s, Conduit Manager "
               "calls %s, entry %r, the folder holds %s" %
               (code, started, kept, uninstalled, done, condmgr_calls(), reg_values(CONDUIT_ENTRY),
                os.listdir(chosen) if os.path.isdir(chosen) else None))
    finally:
        shutil.rmtree(share, ignore_errors=True)
        shutil.rmtree(os.path.dirname(chosen), ignore_errors=True)


def main():
    if pieces_built():
        try:
            on_test_pc(check_uninstalls)
        finally:
            if os.path.exists(CONDMGR_LOG):
                os.remove(CONDMGR_LOG)


if __name__ == "__main__":
    main()
    sys.exit(0)
