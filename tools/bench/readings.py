"""What Linux says of a process and of the machine: CPU time, requests to the wineserver,
wake-ups and private memory from /proc, and the machine's description for the table's head.
The parsers take the files' text, so they are checked without a process to read."""
import datetime
import glob
import os
import re
import subprocess


def cpu_ns_from_schedstat(texts):
    """Sum of the on-CPU nanoseconds of /proc/PID/task/*/schedstat contents."""
    total = 0
    for text in texts:
        fields = text.split()
        if fields:
            total += int(fields[0])
    return total


def writes_from_io(text):
    """The write calls counted in /proc/PID/io (syscw): under Wine, one for each request to the
    wineserver."""
    m = re.search(r"^syscw:\s+(\d+)$", text, re.M)
    if not m:
        raise ValueError("no syscw in /proc/PID/io")
    return int(m.group(1))


def switches_from_status(text):
    """Voluntary and involuntary context switches of /proc/PID/status: the times it woke."""
    return sum(int(m.group(1)) for m in re.finditer(r"^\w*ctxt_switches:\s+(\d+)$", text, re.M))


def private_kib_from_smaps(text):
    """Private_Clean + Private_Dirty (+ Private_Hugetlb) of /proc/PID/smaps_rollup, in KiB."""
    total = 0
    for line in text.splitlines():
        m = re.match(r"^Private_(Clean|Dirty|Hugetlb):\s+(\d+) kB", line)
        if m:
            total += int(m.group(2))
    return total


def thread_cpu_ns(pid):
    """On-CPU nanoseconds of each thread of a process, by thread id (as text)."""
    times = {}
    for path in glob.glob("/proc/%d/task/*/schedstat" % pid):
        try:
            with open(path) as f:
                times[os.path.basename(os.path.dirname(path))] = cpu_ns_from_schedstat([f.read()])
        except OSError:
            pass  # a thread that just ended
    return times


def process_cpu_ns(pid):
    return sum(thread_cpu_ns(pid).values())


def process_requests(pid):
    with open("/proc/%d/io" % pid) as f:
        return writes_from_io(f.read())


def process_wakeups(pid):
    with open("/proc/%d/status" % pid) as f:
        return switches_from_status(f.read())


def process_private_kib(pid):
    with open("/proc/%d/smaps_rollup" % pid) as f:
        return private_kib_from_smaps(f.read())


def wineserver_pid(prefix):
    """The wineserver of this prefix: its working folder is named after the prefix's inode."""
    st = os.stat(prefix)
    name = "server-%x-%x" % (st.st_dev, st.st_ino)
    for path in glob.glob("/proc/[0-9]*/cwd"):
        try:
            if os.path.basename(os.readlink(path)) == name:
                pid = int(path.split("/")[2])
                with open("/proc/%d/comm" % pid) as f:
                    if "wineserver" in f.read():
                        return pid
        except OSError:
            continue
    return None


def machine_info():
    def first(path, pattern):
        try:
            with open(path) as f:
                for line in f:
                    m = re.match(pattern, line)
                    if m:
                        return m.group(1).strip()
        except OSError:
            pass
        return "?"
    try:
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    except OSError:
        wine = "?"
    mem = first("/proc/meminfo", r"MemTotal:\s+(\d+)")
    return {"cpu": first("/proc/cpuinfo", r"model name\s*:\s*(.*)"), "nproc": os.cpu_count(),
            "memory": "%.1f GiB RAM" % (int(mem) / 1048576.0) if mem.isdigit() else "?",
            "wine": wine, "kernel": os.uname().release,
            "load_start": "%.2f" % os.getloadavg()[0],
            "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M")}
