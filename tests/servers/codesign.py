"""Code-signing certificates for the tests, made with the openssl command, and Authenticode
signing with osslsigncode.

make(folder) creates once (reusing what an earlier run left) a throwaway public-key
infrastructure and returns a CodePki:
- "root": the test root, trusted only inside a test's own Wine prefix (trust_root.exe);
- "intermediate": a code-signing CA under that root;
- "publisher": Tarvelo's code-signing leaf under the intermediate (the release exe and the
  second stage are signed with it);
- "prereq": the prerequisites' publisher, another leaf under the same intermediate;
- "impostor": a third leaf under the same intermediate, another key nobody pinned;
- "stranger": a leaf under "other-root", a root that no prefix trusts;
- "tsa": the test time-stamping authority under the root (timestamp.py answers with it).

Each leaf has a PKCS#12 file (with its chain) and a password file beside it, so that signing
works the way a vendor signs: with osslsigncode, the password read from a file. Nothing here is
ever trusted outside a test's prefix.
"""

import base64
import fcntl
import hashlib
import os
import shutil
import subprocess

PASSWORD = "test only: pa$$ word"

_CONFIG = """
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = {cn}
[ root_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ ca_ext ]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ leaf_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ tsa_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""

_MADE = "root, other-root, intermediate, tsa, leaves\n"

LEAVES = {
    # name: (common name, issuer)
    "publisher": ("Tarvelo Software Ltd (test)", "intermediate"),
    "prereq": ("Prerequisite Publisher (test)", "intermediate"),
    "impostor": ("Impostor Ltd (test)", "intermediate"),
    "stranger": ("Tarvelo Software Ltd (untrusted test)", "other-root"),
}


class CodePki:
    def __init__(self, folder):
        self.folder = folder

    def cert(self, name):
        """PEM certificate of "root", "intermediate", "other-root" or a leaf."""
        return os.path.join(self.folder, name + ".crt")

    def key(self, name):
        return os.path.join(self.folder, name + ".key")

    def pkcs12(self, name):
        return os.path.join(self.folder, name + ".p12")

    def password_file(self):
        return os.path.join(self.folder, "password.txt")

    def root_der(self):
        return os.path.join(self.folder, "root.der")

    def pin(self, name):
        """SHA-256 of the certificate's SubjectPublicKeyInfo, in hex, as the pins are written."""
        return spki_sha256(self.cert(name))

    def sign(self, source, target, signer="publisher", digest="sha256", nest=False):
        """Signs `source` into `target` (with SHA-256, as the release command signs). With
        `nest`, `source` is signed already and the signature is added to it as a nested one, as
        a second publisher or a second algorithm is added to a file."""
        if os.path.exists(target):
            os.remove(target)
        _run("osslsigncode", "sign", *(["-nest"] if nest else []), "-pkcs12", self.pkcs12(signer),
             "-readpass", self.password_file(), "-h", digest, "-n", "Tarvelo test", "-in", source, "-out", target)
        return target

    def verify(self, path):
        """True when osslsigncode verifies `path` (and its timestamp, if any) against the test
        root; and its report."""
        chain = os.path.join(self.folder, "chain.pem")
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", chain, "-TSA-CAfile", self.cert("root"),
                                 "-in", path],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.returncode == 0, result.stdout.decode("utf-8", "replace")


def change_one_byte(path):
    """Changes one byte in the middle of the first section of the PE file at `path` (in place),
    as a flipped bit on the way or a patched instruction would: the signature stays in the
    file, but no longer matches its image. Returns the offset changed."""
    with open(path, "r+b") as f:
        data = f.read()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        optional_size = int.from_bytes(data[pe + 20:pe + 22], "little")
        section = pe + 24 + optional_size
        raw_size = int.from_bytes(data[section + 16:section + 20], "little")
        raw_start = int.from_bytes(data[section + 20:section + 24], "little")
        offset = raw_start + raw_size // 2
        f.seek(offset)
        f.write(bytes([data[offset] ^ 0x01]))
    return offset


def add_to_certificate_table(path, data, inside_entry=True):
    """Appends `data` (a multiple of 8 bytes) inside the certificate table of the signed PE file
    at `path`, in place: the table and its one WIN_CERTIFICATE grow to hold it, as CVE-2013-3900
    describes (or, not `inside_entry`, the table alone, as for a second entry). The signature
    still covers every byte it covered; Windows accepts such a file unless the strict check is
    turned on."""
    if len(data) % 8:
        raise ValueError("the table keeps its 8-byte alignment")
    with open(path, "r+b") as f:
        head = f.read(4096)
        pe = int.from_bytes(head[0x3C:0x40], "little")
        magic = int.from_bytes(head[pe + 24:pe + 26], "little")
        entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
        offset = int.from_bytes(head[entry:entry + 4], "little")
        size = int.from_bytes(head[entry + 4:entry + 8], "little")
        f.seek(0, os.SEEK_END)
        if f.tell() != offset + size:
            raise ValueError("the certificate table does not end the file")
        f.write(data)
        f.seek(entry + 4)
        f.write((size + len(data)).to_bytes(4, "little"))
        if inside_entry:
            f.seek(offset)
            f.write((size + len(data)).to_bytes(4, "little"))


def _run(*args):
    result = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(args[:2]), result.stdout.decode("utf-8", "replace")))


def _der_of_pem(path):
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    body = text.split("-----BEGIN CERTIFICATE-----")[1].split("-----END CERTIFICATE-----")[0]
    return base64.b64decode("".join(body.split()))


def _der_item(data, at):
    """(tag, start of contents, end of contents) of the DER item at `at`."""
    tag = data[at]
    length = data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    return tag, at, at + length


def spki_sha256(path):
    """The SubjectPublicKeyInfo's SHA-256 of a PEM certificate (the test's own reading, so that
    the tools/ pin script is checked against something other than itself)."""
    der = _der_of_pem(path)
    _, cert_start, _ = _der_item(der, 0)
    _, at, _ = _der_item(der, cert_start)  # tbsCertificate
    if der[at] == 0xA0:  # [0] version
        at = _der_item(der, at)[2]
    for _ in range(5):  # serial, signature algorithm, issuer, validity, subject
        at = _der_item(der, at)[2]
    end = _der_item(der, at)[2]
    return hashlib.sha256(der[at:end]).hexdigest()


def make(folder):
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return _make(folder)


def _make(folder):
    pki = CodePki(folder)
    # "done" names what was made, so that a folder made before a certificate was added is made anew.
    made = os.path.join(folder, "done")
    if os.path.exists(made):
        with open(made) as f:
            if f.read() == _MADE:
                return pki
    for entry in os.listdir(folder):
        if entry != ".lock":
            path = os.path.join(folder, entry)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    config = os.path.join(folder, "openssl.cnf")
    with open(config, "w") as f:
        f.write(_CONFIG.format(cn="unused"))
    with open(pki.password_file(), "w", encoding="utf-8") as f:
        f.write(PASSWORD)

    def self_signed(name, cn):
        _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-config", config,
             "-extensions", "root_ext", "-subj", "/CN=" + cn, "-days", "3650",
             "-keyout", pki.key(name), "-out", pki.cert(name))

    def issue(name, cn, issuer, extension):
        csr = os.path.join(folder, name + ".csr")
        _run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + cn,
             "-keyout", pki.key(name), "-out", csr)
        _run("openssl", "x509", "-req", "-in", csr, "-CA", pki.cert(issuer), "-CAkey", pki.key(issuer),
             "-CAcreateserial", "-days", "1825", "-sha256", "-extfile", config, "-extensions", extension,
             "-out", pki.cert(name))
        os.remove(csr)

    self_signed("root", "Tarvelo Test Code Root")
    self_signed("other-root", "Untrusted Test Code Root")
    issue("intermediate", "Tarvelo Test Code CA", "root", "ca_ext")
    issue("tsa", "Tarvelo Test Timestamps", "root", "tsa_ext")
    for name, (cn, issuer) in LEAVES.items():
        issue(name, cn, issuer, "leaf_ext")
        chain = os.path.join(folder, name + ".chain.pem")
        with open(chain, "wb") as out:
            for part in (["intermediate", "root"] if issuer == "intermediate" else [issuer]):
                with open(pki.cert(part), "rb") as f:
                    out.write(f.read())
        _run("openssl", "pkcs12", "-export", "-inkey", pki.key(name), "-in", pki.cert(name),
             "-certfile", chain, "-passout", "file:" + pki.password_file(), "-out", pki.pkcs12(name))
    with open(os.path.join(folder, "chain.pem"), "wb") as out:
        for part in ("root", "intermediate"):
            with open(pki.cert(part), "rb") as f:
                out.write(f.read())
    _run("openssl", "x509", "-in", pki.cert("root"), "-outform", "DER", "-out", pki.root_der())
    with open(made, "w") as f:
        f.write(_MADE)
    return pki
