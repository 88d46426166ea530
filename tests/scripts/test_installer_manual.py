#!/usr/bin/env python3
"""The product manual that the installer ships: its pages, its text, the page the conduit's Help
opens, its pictures, and how its typesetter treats a bad picture."""
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
ROOT = os.environ["ZLV_ROOT"]
BUILD = os.environ.get("ZLV_BUILD") or os.path.join(ROOT, "build")
PDF = os.path.join(BUILD, "docs", "Zelvantic for Palm Product Manual.pdf")
SOURCE = os.path.join(ROOT, "docs", "manual", "manual.txt")
MAKER = os.path.join(ROOT, "docs", "manual", "make_manual.py")


def report(ok, name, why=""):
    print("PASS %s" % name if ok else "FAIL %s: %s" % (name, why), flush=True)


def out(*argv):
    return subprocess.run(argv, capture_output=True, text=True, errors="replace").stdout


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def check_hotsync_destination(pages):
    """The conduit's Help sends Acrobat to the name "hotsync": the heading of the HotSync pages."""
    dests = re.findall(r"^\s*(\d+)\s+\[\s*XYZ\s+[\d.]+\s+([\d.]+).*\]\s+\"(\w+)\"$",
                       out("pdfinfo", "-dests", PDF), re.M)
    found = [(int(page), float(y)) for page, y, name in dests if name == "hotsync"]
    heading = []
    if len(found) == 1 and 1 <= found[0][0] <= pages:
        page, y = found[0]
        words = re.findall(r'yMin="([\d.]+)"[^>]*>([^<]*)</word>',
                           out("pdftotext", "-f", str(page), "-l", str(page), "-bbox", PDF, "-"))
        below = 842 - y  # from the top of an A4 page, as the words are placed
        lines = {}
        for top, word in words:
            lines.setdefault(float(top), []).append(word)
        heading = [top for top, line in lines.items()
                   if " ".join(line) == "HotSync and the conduit" and below <= top <= below + 30]
    report(len(found) == 1 and len(heading) == 1,
           "the named destination \"hotsync\" is the heading \"HotSync and the conduit\"",
           "destinations %s, heading found at %s" % (dests, heading))


def main():
    if not os.path.isfile(PDF):
        report(False, "the manual is built", PDF + " is missing")
        return
    with open(SOURCE) as f:
        source = f.read()
    pages = int(re.search(r"^Pages:\s+(\d+)", out("pdfinfo", PDF), re.M).group(1))
    footers = [n for n in range(1, pages + 1)
               if "page %d of %d" % (n, pages) not in out("pdftotext", "-f", str(n), "-l", str(n),
                                                           PDF, "-")]
    report(4 <= pages <= 12 and not footers, "the manual has 4 to 12 numbered pages",
           "%d pages, footer wrong on %s" % (pages, footers))

    text = " ".join(out("pdftotext", PDF, "-").split())
    headings = [re.sub(r"\s*\{#\w+\}$", "", h) for h in re.findall(r"^#{1,3} (.+)$", source, re.M)]
    wanted = headings + [
        "Zelvantic-Setup-1.5.exe /S /NOSTARTUP", "Zelvantic-Setup-1.5.exe /S /NOBALLOONS",
        "Show reminders and HotSync results as balloon tips", "Show tray balloon tip",
        "Auto run on startup",
        "search error: SYNCERR_NOT_FOUND", "HKEY_CURRENT_USER\\Software\\Morvane\\Zelvantic",
        "HKEY_LOCAL_MACHINE\\Software\\Morvane\\Zelvantic"]
    missing = [w for w in wanted if " ".join(w.split()) not in text]
    report(not missing, "every heading and the key texts are in the manual", "missing %s" % missing)

    check_hotsync_destination(pages)

    pictures = re.findall(r"^\[picture (\S+) ", source, re.M)
    listed = [line.split() for line in out("pdfimages", "-list", PDF).splitlines()[2:]]
    sizes = [(int(f[3]), int(f[4])) for f in listed if len(f) > 4]
    expected = [png_size(os.path.join(ROOT, "docs", "manual", p)) for p in pictures]
    report(len(pictures) >= 4 and sizes == expected,
           "the manual embeds each screenshot at its own size",
           "embedded %s, expected %s" % (sizes, expected))

    with tempfile.TemporaryDirectory() as tmp:
        again = os.path.join(tmp, "again.pdf")
        subprocess.run([sys.executable, "-B", MAKER, SOURCE, again], capture_output=True)
        same = os.path.isfile(again) and open(again, "rb").read() == open(PDF, "rb").read()
        report(same, "the same source gives the same manual, byte for byte")

        # A damaged picture: a clear message, and the manual already there stays whole.
        with open(os.path.join(tmp, "broken.png"), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + b"\0" * 10)
        bad = os.path.join(tmp, "bad.txt")
        with open(bad, "w") as f:
            f.write("# Bad\n\n[picture broken.png A picture]\n")
        target = os.path.join(tmp, "kept.pdf")
        with open(target, "wb") as f:
            f.write(b"the earlier manual")
        p = subprocess.run([sys.executable, "-B", MAKER, bad, target], capture_output=True,
                           text=True)
        kept = open(target, "rb").read() == b"the earlier manual"
        report(p.returncode == 1 and "broken.png" in p.stderr and kept and
               sorted(os.listdir(tmp)) == ["again.pdf", "bad.txt", "broken.png", "kept.pdf"],
               "a damaged picture stops the manual with a message and leaves the old one",
               "exit %s, stderr %r, old manual kept %s, files %s" %
               (p.returncode, p.stderr.strip(), kept, sorted(os.listdir(tmp))))


if __name__ == "__main__":
    main()
