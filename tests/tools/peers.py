"""Real peers the scripted tests share: nginx serving folders on loopback addresses, and
Palm::PDB (Debian's libpalm-pdb-perl) reading a handheld database."""
import os
import socket
import subprocess
import time


def wait_port(host, port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection((host, port), timeout=0.5).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def start_nginx(tmp, sites):
    """nginx serving each folder of sites ({host: folder}) on port 80 of its host, logging into
    tmp; the process, once every host answers."""
    servers = "".join("    server { listen %s:80; root %s; }\n" % (host, folder)
                      for host, folder in sites.items())
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
""" % {"tmp": tmp, "servers": servers})
    os.chmod(tmp, 0o755)  # nginx's workers read the pages as an unprivileged user
    proc = subprocess.Popen(["nginx", "-p", tmp + "/", "-c", conf, "-e", tmp + "/error.log"],
                            stdout=subprocess.DEVNULL, stderr=open(tmp + "/nginx.out", "w"))
    if not all(wait_port(host, 80) for host in sites):
        proc.terminate()
        raise RuntimeError("nginx did not come up: " + open(tmp + "/nginx.out").read())
    return proc


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
