"""Certificates for the HTTPS tests, made with the openssl command: a test CA that the tests
trust (through a CA bundle bound over the system's inside the test's private mount namespace)
and server certificates signed by it, good and bad.

make(folder) creates them once (reusing what an earlier run left) and returns a Pki with the
file paths. Nothing here is ever trusted outside a test's namespace.
"""

import fcntl
import os
import subprocess

SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
# Names the good certificates are for; every test host of the vendor is among them.
VENDOR_NAMES = ["dl.tarvelo.com", "download.tarvelo.com", "www.tarvelo.com", "cdn.tarvelo.com", "tarvelo.com"]

_CA_CONFIG = """
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = {cn}
[ ca_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = {dir}
database = {dir}/index.txt
new_certs_dir = {dir}/issued
serial = {dir}/serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[ any_name ]
commonName = supplied
[ server_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = {names}
authorityKeyIdentifier = keyid
"""


class Pki:
    def __init__(self, folder):
        self.folder = folder
        self.ca = os.path.join(folder, "ca", "ca.crt")
        self.bundle = os.path.join(folder, "bundle.crt")

    def server(self, kind):
        """(certificate, key) of "good", "expired", "wronghost" or "untrusted"."""
        return (os.path.join(self.folder, kind + ".crt"), os.path.join(self.folder, kind + ".key"))


def _run(*args, cwd=None):
    subprocess.run(list(args), check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_ca(folder, cn, names):
    os.makedirs(os.path.join(folder, "issued"), exist_ok=True)
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")
    config = os.path.join(folder, "ca.cnf")
    with open(config, "w") as f:
        f.write(_CA_CONFIG.format(cn=cn, dir=folder, names=names))
    _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-config", config,
         "-extensions", "ca_ext", "-days", "3650", "-keyout", os.path.join(folder, "ca.key"),
         "-out", os.path.join(folder, "ca.crt"))
    return config


def _issue(ca_folder, config, out, cn, start=None, end=None):
    key, csr = out + ".key", out + ".csr"
    _run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + cn, "-keyout", key, "-out", csr)
    dates = ["-startdate", start, "-enddate", end] if start else ["-days", "825"]
    _run("openssl", "ca", "-batch", "-notext", "-config", config, "-extensions", "server_ext",
         "-cert", os.path.join(ca_folder, "ca.crt"), "-keyfile", os.path.join(ca_folder, "ca.key"),
         "-in", csr, "-out", out + ".crt", *dates)
    os.remove(csr)


def _names(hosts):
    return ", ".join(["DNS:" + h for h in hosts] + ["DNS:localhost", "IP:127.0.0.1"])


def make(folder):
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return _make(folder)


def _make(folder):
    pki = Pki(folder)
    if os.path.exists(os.path.join(folder, "done")):
        return pki
    ca = os.path.join(folder, "ca")
    other = os.path.join(folder, "other-ca")
    good_config = _make_ca(ca, "Tarvelo Test CA", _names(VENDOR_NAMES))
    _issue(ca, good_config, os.path.join(folder, "good"), VENDOR_NAMES[0])
    _issue(ca, good_config, os.path.join(folder, "expired"), VENDOR_NAMES[0],
           start="20200101000000Z", end="20210101000000Z")
    wrong_config = os.path.join(ca, "wronghost.cnf")
    with open(wrong_config, "w") as f:
        f.write(_CA_CONFIG.format(cn="Tarvelo Test CA", dir=ca, names="DNS:other.test"))
    _issue(ca, wrong_config, os.path.join(folder, "wronghost"), "other.test")
    # A CA that nobody trusts, issuing a certificate that is right in every other way.
    untrusted_config = _make_ca(other, "Untrusted Test CA", _names(VENDOR_NAMES))
    _issue(other, untrusted_config, os.path.join(folder, "untrusted"), VENDOR_NAMES[0])
    # The machine's own roots plus the test CA: inside the namespace both are trusted.
    with open(pki.bundle, "wb") as out:
        if os.path.exists(SYSTEM_BUNDLE):
            with open(SYSTEM_BUNDLE, "rb") as f:
                out.write(f.read())
        with open(pki.ca, "rb") as f:
            out.write(b"\n" + f.read())
    open(os.path.join(folder, "done"), "w").close()
    return pki
