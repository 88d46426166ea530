"""The peers of the https and proxy tests: a test CA and server certificates made with openssl for
each run, nginx serving them over TLS on ports of 127.0.0.1, tinyproxy as the user's proxy, and
the CA put in the Wine prefix's own root store by trust_ca.exe (never in this machine's)."""
import datetime
import os
import subprocess

from peers import run_nginx, wait_port

SERVER_NAME = "localhost"  # resolves to 127.0.0.1 for Wine and for the proxy alike


def _run(args, cwd):
    p = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    if p.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(args[:3]), p.stderr.strip()[-300:]))


def _stamp(when):
    return when.strftime("%Y%m%d%H%M%SZ")


def make_certificates(folder):
    """Two CAs (the test's own, and a stranger nobody trusts) and the server certificates:
    good (localhost, in date, from the test CA), wrong_name, expired, untrusted (the stranger's).
    Returns {name: (certificate path, key path)} and the test CA's DER file as "ca_der"."""
    os.makedirs(folder, exist_ok=True)
    for ca, subject in (("ca", "Zelvantic Test CA"), ("stranger", "Nobody's CA")):
        _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key",
              "-out", ca + ".pem", "-subj", "/CN=" + subject, "-days", "30",
              "-addext", "basicConstraints=critical,CA:true",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign"], folder)
    _run(["openssl", "x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der"], folder)
    os.makedirs(os.path.join(folder, "db"), exist_ok=True)
    open(os.path.join(folder, "db", "index"), "w").close()
    with open(os.path.join(folder, "db", "serial"), "w") as f:
        f.write("1000\n")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = db/index\nnew_certs_dir = db\n"
                "serial = db/serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                "[any]\ncommonName = supplied\n")
    now = datetime.datetime.now(datetime.timezone.utc)
    valid = (now - datetime.timedelta(days=1), now + datetime.timedelta(days=30))
    past = (datetime.datetime(2020, 1, 1), datetime.datetime(2021, 1, 1))
    made = {}
    for name, host, ca, (start, end) in (("good", SERVER_NAME, "ca", valid),
                                         ("wrong_name", "rates.elsewhere.example", "ca", valid),
                                         ("expired", SERVER_NAME, "ca", past),
                                         ("untrusted", SERVER_NAME, "stranger", valid)):
        with open(os.path.join(folder, name + ".ext"), "w") as f:
            f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n" % host)
        _run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
              "-out", name + ".csr", "-subj", "/CN=" + host], folder)
        _run(["openssl", "ca", "-batch", "-config", "ca.cnf", "-cert", ca + ".pem", "-keyfile",
              ca + ".key", "-in", name + ".csr", "-out", name + ".pem", "-notext",
              "-startdate", _stamp(start), "-enddate", _stamp(end), "-extfile", name + ".ext"],
             folder)
        made[name] = (os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    made["ca_der"] = os.path.join(folder, "ca.der")
    made["ca_pem"] = os.path.join(folder, "ca.pem")
    return made


def start_nginx(tmp, servers):
    """nginx with one server per entry of servers: (port, root folder, (cert, key) or None for
    plain http), all on 127.0.0.1; the process once every port answers. Any path serves the
    folder's updatedrates.php, so a test may give the address whatever path fits."""
    blocks = ["    server { listen 127.0.0.1:%d%s; root %s;%s\n"
              "        location / { try_files /updatedrates.php =404; } }\n"
              % (port, " ssl" if tls else "", root,
                 " ssl_certificate %s; ssl_certificate_key %s;" % tls if tls else "")
              for port, root, tls in servers]
    os.makedirs(tmp, exist_ok=True)
    os.chmod(os.path.dirname(tmp), 0o755)  # the workers read pages and keys unprivileged
    return run_nginx(tmp, blocks, [("127.0.0.1", port) for port, _, _ in servers])


def start_tinyproxy(tmp, port, basic_auth=None):
    """tinyproxy on 127.0.0.1:port, any CONNECT port allowed; with basic_auth ("user pass") it
    answers 407 to a client that brings no credentials. Its log is tmp/tinyproxy-PORT.log."""
    os.makedirs(tmp, exist_ok=True)
    log = os.path.join(tmp, "tinyproxy-%d.log" % port)
    conf = os.path.join(tmp, "tinyproxy-%d.conf" % port)
    with open(conf, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nLogFile \"%s\"\nLogLevel Info\n"
                "MaxClients 20\nAllow 127.0.0.0/8\nViaProxyName \"test\"\n" % (port, log))
        if basic_auth:
            f.write("BasicAuth %s\n" % basic_auth)
    proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                            stderr=open(log + ".out", "w"))
    if not wait_port("127.0.0.1", port):
        proc.terminate()
        raise RuntimeError("tinyproxy did not come up: " + open(log + ".out").read()[-300:])
    return proc


def trust_in_prefix(trust_tool, ca_der, env=None):
    """The test CA into the Wine prefix's own root store (the session's, from env or this
    process's environment); the machine's stays as it was."""
    if not (env or os.environ).get("WINEPREFIX"):
        raise RuntimeError("no Wine session: WINEPREFIX is not set")
    # Into a file, not a pipe: a service Wine starts on the way would hold a pipe open.
    out = ca_der + ".log"
    with open(out, "w") as f:
        code = subprocess.run(["wine", trust_tool, "Z:" + ca_der.replace("/", "\\")],
                              stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                              env=env, timeout=60).returncode
    if code != 0:
        raise RuntimeError("trust_ca.exe: exit %d %s" % (code, open(out).read()[-300:]))
