"""Real peers the scripted tests share: nginx serving folders on loopback addresses, and
Palm::PDB (Debian's libpalm-pdb-perl) reading a handheld database."""
import os
import socket
import subprocess
import sys
import time
import xml.etree.ElementTree as ET


def wait_port(host, port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection((host, port), timeout=0.5).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def stop(procs):
    """Ends the peers a test started: their input closed, asked to end, killed after 5 s."""
    for p in procs:
        if p.stdin:
            p.stdin.close()
        p.terminate()
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()


def start_nginx(tmp, sites):
    """nginx serving each folder of sites ({host: folder}) on port 80 of its host, logging into
    tmp; the process, once every host answers."""
    return run_nginx(tmp, ["    server { listen %s:80; root %s; }\n" % (host, folder)
                           for host, folder in sites.items()], [(host, 80) for host in sites])


def run_nginx(tmp, servers, listens):
    """nginx with these server blocks, logging into tmp; the process, once every (host, port) of
    listens answers."""
    conf = os.path.join(tmp, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
master_process off;
pid %(tmp)s/nginx.pid;
error_log %(tmp)s/error.log;
events { worker_connections 64; }
http {
    access_log %(tmp)s/access.log;
    client_body_temp_path %(tmp)s/body;
    proxy_temp_path %(tmp)s/proxy;
    fastcgi_temp_path %(tmp)s/fastcgi;
    uwsgi_temp_path %(tmp)s/uwsgi;
    scgi_temp_path %(tmp)s/scgi;
    default_type text/plain;
%(servers)s}
""" % {"tmp": tmp, "servers": "".join(servers)})
    os.chmod(tmp, 0o755)  # nginx's workers read the pages as an unprivileged user
    proc = subprocess.Popen(["nginx", "-p", tmp + "/", "-c", conf, "-e", tmp + "/error.log"],
                            stdout=subprocess.DEVNULL, stderr=open(tmp + "/nginx.out", "w"))
    if not all(wait_port(host, port) for host, port in listens):
        proc.terminate()
        raise RuntimeError("nginx did not come up: " + open(tmp + "/nginx.out").read())
    return proc


def run_gtest_cases(exe, env, tmp, report):
    """A Win32 test program of peer cases under Wine, each case reported as a PASS or FAIL line
    (a skipped one fails: its peers run); the numbers it recorded follow as comments."""
    xml_path = os.path.join(tmp, os.path.basename(exe) + ".xml")
    log = os.path.join(tmp, os.path.basename(exe) + ".log")
    with open(log, "w") as f:
        output = "--gtest_output=xml:Z:" + xml_path.replace("/", "\\")
        code = subprocess.run(["wine", exe, output], env=env, stdout=f, stderr=subprocess.STDOUT,
                              cwd=os.path.dirname(exe), timeout=300).returncode
    sys.stdout.write(open(log, errors="replace").read())
    try:
        cases = list(ET.parse(xml_path).iter("testcase"))
    except (OSError, ET.ParseError):
        report("FAIL", "peer cases", "no report, exit code %s" % code)
        return
    for case in cases:
        name = "%s.%s" % (case.get("classname"), case.get("name"))
        failure = case.find("failure")
        if failure is not None:
            report("FAIL", name, failure.get("message", "").replace("\n", " | ")[:600])
        elif case.find("skipped") is not None or case.get("result") == "skipped":
            report("FAIL", name, "skipped although its peers run")
        else:
            report("PASS", name)
        props = {p.get("name"): p.get("value") for p in case.iter("property")}
        props.update({k: v for k, v in case.attrib.items() if k.endswith(("_ms", "_kib"))})
        if props:
            print("# %s: %s" % (name, ", ".join("%s=%s" % kv for kv in sorted(props.items()))))


def palm_pdb(path):
    """A database as Palm::PDB reads it: (exit code, its fields, what it said on stderr)."""
    script = r'''
use Palm::PDB; use Palm::Raw;
my $pdb = Palm::PDB->new; $pdb->Load($ARGV[0]);
print "name=$pdb->{name}\ntype=$pdb->{type}\ncreator=$pdb->{creator}\n";
print "records=", scalar(@{$pdb->{records}}), "\n";
print "data=", unpack("H*", $pdb->{records}[0]{data}), "\n" if @{$pdb->{records}};
'''
    out = subprocess.run(["perl", "-e", script, path], capture_output=True, text=True)
    fields = dict(l.split("=", 1) for l in out.stdout.splitlines() if "=" in l)
    return out.returncode, fields, out.stderr
