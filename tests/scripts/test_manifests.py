#!/usr/bin/env python3
"""Every program and library of each Windows build asks, in its manifest, only for assemblies of
its own architecture. A 64-bit program whose manifest names x86 gets its dialog controls from a
32-bit comctl32.dll it cannot load, but only where the x86 assemblies are installed as well: a
64-bit-only Wine prefix hides the mistake, so it is read from the files here."""
import os
import struct
import sys
import xml.etree.ElementTree as ET

BUILD = os.environ.get("ZLV_BUILD") or os.path.join(os.environ.get("ZLV_ROOT", "."), "build")
# The PE header's machine field and the name a manifest gives that architecture.
MACHINES = {0x014C: "x86", 0x8664: "amd64"}
RT_MANIFEST = 24
RESOURCE_DIRECTORY = 2


def report(ok, name, why=""):
    print("PASS %s" % name if ok else "FAIL %s: %s" % (name, why), flush=True)


class PeError(Exception):
    pass


def unpack(data, fmt, offset):
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise PeError("truncated at %#x" % offset)
    return struct.unpack_from(fmt, data, offset)


def read_pe(data):
    """(machine, manifests as bytes) of one PE file."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    (pe,) = unpack(data, "<I", 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, sections, _, _, _, optional_size, _ = unpack(data, "<HHIIIHH", pe + 4)
    optional = pe + 24
    (magic,) = unpack(data, "<H", optional)
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1 - optional)
    rva, size = unpack(data, "<II", directories + 8 * RESOURCE_DIRECTORY)
    table = [unpack(data, "<IIII", optional + optional_size + 40 * i + 8)
             for i in range(sections)]  # virtual size, address, raw size, raw offset

    def file_offset(address):
        for vsize, vaddr, rsize, roffset in table:
            if vaddr <= address < vaddr + max(vsize, rsize):
                return roffset + address - vaddr
        raise PeError("RVA %#x lies in no section" % address)

    if not rva or not size:
        return machine, []
    root = file_offset(rva)

    def entries(directory):
        named, numbered = unpack(data, "<HH", root + directory + 12)
        return [unpack(data, "<II", root + directory + 16 + 8 * i)
                for i in range(named + numbered)]

    manifests = []
    for type_id, types in entries(0):
        if type_id != RT_MANIFEST or not types & 0x80000000:
            continue
        for _, names in entries(types & 0x7FFFFFFF):
            for _, languages in entries(names & 0x7FFFFFFF):
                if languages & 0x80000000:
                    raise PeError("a manifest's language entry is a directory")
                data_rva, data_size, _, _ = unpack(data, "<IIII", root + languages)
                start = file_offset(data_rva)
                manifests.append(data[start:start + data_size])
    return machine, manifests


def architectures(manifest):
    """processorArchitecture of every assembly identity the manifest names (None: not said)."""
    root = ET.fromstring(manifest)
    return [e.get("processorArchitecture") for e in root.iter()
            if e.tag.endswith("}assemblyIdentity") or e.tag == "assemblyIdentity"]


def binaries(folder):
    for top, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if d != "CMakeFiles"]
        for f in sorted(files):
            if f.lower().endswith((".exe", ".dll")):
                yield os.path.join(top, f)


def check_build(folder, expected):
    """expected: the architecture every file of this build must be."""
    found = list(binaries(folder))
    for must in ("agent.exe", "conduit.dll"):
        report(os.path.join(folder, must) in found, "%s is built in %s" % (must, folder),
               "missing")
    carried, wrong = 0, []
    for path in found:
        name = os.path.relpath(path, folder)
        try:
            with open(path, "rb") as f:
                machine, manifests = read_pe(f.read())
            own = MACHINES.get(machine)
            if own != expected:
                wrong.append("%s is machine %#x, not %s" % (name, machine, expected))
                continue
            for manifest in manifests:
                carried += 1
                asked = architectures(manifest)
                off = [a for a in asked if a is not None and a.lower() not in (own, "*")]
                if off:
                    wrong.append("%s names %s" % (name, ", ".join(off)))
        except (PeError, ET.ParseError, struct.error) as e:
            wrong.append("%s: %s" % (name, e))
    report(not wrong and carried > 0,
           "each manifest of %s names %s or any architecture (%d files, %d manifests)"
           % (folder, expected, len(found), carried), "; ".join(wrong) or "no manifest at all")


def main():
    modes = (os.environ.get("ZLV_MODES") or "i686 x86_64").split()
    check_build(os.path.join(BUILD, "win"), "x86")  # the shipped build, on every machine
    if "x86_64" in modes:
        check_build(os.path.join(BUILD, "win64"), "amd64")
    return 0


if __name__ == "__main__":
    sys.exit(main())
