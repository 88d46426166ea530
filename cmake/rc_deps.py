#!/usr/bin/env python3
"""Compiles a resource script with windres and writes the depfile ninja reads for it.

    rc_deps.py DEPFILE OBJECT WINDRES [WINDRES ARGUMENTS...]

windres reports nothing of what it read. The depfile names every file the script pulls in: what
the preprocessor includes (other scripts, headers) and the files that resource statements name
(icons, bitmaps, the manifest, a GIF), found where windres finds them: the working folder, then
each include folder, then the script's own folder.
"""
import os
import re
import subprocess
import sys

# name TYPE [memory flags] file: the one statement shape with a file name last on its line.
FLAGS = r"(?:\s+(?:PRELOAD|LOADONCALL|FIXED|MOVEABLE|DISCARDABLE|PURE|IMPURE|SHARED|NONSHARED))*"
FILE_STATEMENT = re.compile(r'^\s*(?:"[^"]*"|\w+)\s+\w+' + FLAGS +
                            r'\s+(?:"([^"]+)"|([^\s",{}|]+))\s*$')
HEADER = re.compile(r"\.(h|hh|hpp|hxx)$", re.IGNORECASE)


def parse_arguments(args):
    """The preprocessor's share of windres's arguments, and the script."""
    pp, includes, positional = [], [], []
    i = 0
    while i < len(args):
        a = args[i]
        for short, long in (("-I", "--include-dir"), ("-D", "--define"), ("-U", "--undefine")):
            if a in (short, long):
                value, i = args[i + 1], i + 1
            elif a.startswith(long + "="):
                value = a[len(long) + 1:]
            elif a.startswith(short) and a != short and not a.startswith("--"):
                value = a[len(short):]
            else:
                continue
            pp.append(short + value)
            if short == "-I":
                includes.append(value)
            break
        else:
            if a in ("-O", "-J", "-F", "--output-format", "--input-format", "--target",
                     "--preprocessor", "--preprocessor-arg", "-c", "--codepage", "-l",
                     "--language"):
                i += 1
            elif not a.startswith("-"):
                positional.append(a)
        i += 1
    if not positional:
        raise SystemExit("rc_deps: no resource script among the arguments")
    return pp, includes, positional[0]


def preprocessor_of(windres):
    """The compiler windres runs as its preprocessor: the one of its own toolchain."""
    folder, name = os.path.split(windres)
    return os.path.join(folder, name.replace("windres", "gcc")) if "windres" in name else "gcc"


def make_rule_files(text):
    """The prerequisites of a make rule as the preprocessor writes it."""
    text = text.replace("\\\n", " ")
    _, _, prerequisites = text.partition(": ")
    return [p.replace("\\ ", " ") for p in re.findall(r"(?:\\ |[^\s])+", prerequisites)]


def named_files(script):
    try:
        with open(script, errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        return []
    names = []
    for line in lines:
        line = line.split("//", 1)[0]
        m = FILE_STATEMENT.match(line)
        if m and not line.lstrip().startswith("#"):
            names.append(m.group(1) or m.group(2))
    return names


def resolve(name, folders):
    for folder in folders:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            return os.path.abspath(path)
    return None  # not a file after all: the statement was something else


def escape(path):
    return path.replace("$", "$$").replace("#", "\\#").replace(" ", "\\ ")


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    depfile, target, windres = argv[1], argv[2], argv[3:]
    code = subprocess.call(windres)
    if code != 0:
        return code
    pp, includes, script = parse_arguments(windres[1:])
    probe = subprocess.run([preprocessor_of(windres[0]), "-E", "-xc", "-DRC_INVOKED", "-M"] + pp +
                           [script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if probe.returncode != 0:
        sys.stderr.write(probe.stderr)
        return probe.returncode
    files = [os.path.abspath(p) for p in make_rule_files(probe.stdout)]
    folders = ["."] + includes + [os.path.dirname(script) or "."]
    for included in list(files):
        if not HEADER.search(included):  # headers hold definitions, not resource statements
            for name in named_files(included):
                found = resolve(name, folders)
                if found and found not in files:
                    files.append(found)
    with open(depfile, "w") as f:
        f.write(escape(target) + ": " + " \\\n  ".join(escape(p) for p in files) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
