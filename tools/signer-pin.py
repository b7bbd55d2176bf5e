#!/usr/bin/env python3
"""Prints the signer pins of certificates, as the signer fields of ConfigFile.txt take them:
the SHA-256 of each certificate's SubjectPublicKeyInfo (its DER encoding), in hexadecimal.

usage: signer-pin.py CERT [CERT...]

CERT is a certificate file, PEM (which may hold a whole chain) or DER. One line per
certificate, in file order: the pin, two spaces, and the certificate's common name, so that the
publisher's own certificate and the authorities above it can be told apart. Fields 16 to 18
take one or more pins separated by ",". A chain in PEM comes out of a PKCS#12 file with
`openssl pkcs12 -in publisher.p12 -nokeys -out chain.pem`.

Exit code 0; 1 when a file holds no certificate that can be read.
"""

import base64
import hashlib
import sys

PEM_BEGIN = b"-----BEGIN CERTIFICATE-----"
PEM_END = b"-----END CERTIFICATE-----"
COMMON_NAME = bytes([0x06, 0x03, 0x55, 0x04, 0x03])  # OID 2.5.4.3


class NotACertificate(ValueError):
    pass


def item(der, at, limit):
    """(tag, start of contents, end of contents) of the DER item at `at`, inside `limit`."""
    if at + 2 > limit:
        raise NotACertificate("cut short")
    tag, length = der[at], der[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or at + count > limit:
            raise NotACertificate("length form not allowed")
        length = int.from_bytes(der[at:at + count], "big")
        at += count
    if at + length > limit:
        raise NotACertificate("item overruns its container")
    return tag, at, at + length


def fields(der):
    """The pin and the subject's common name of one DER certificate."""
    tag, start, end = item(der, 0, len(der))
    if tag != 0x30:
        raise NotACertificate("not a sequence")
    tag, at, tbs_end = item(der, start, end)
    if tag != 0x30:
        raise NotACertificate("no certificate body")
    if der[at] == 0xA0:  # [0] version, absent in version 1
        at = item(der, at, tbs_end)[2]
    subject = None
    for _ in range(5):  # serial number, signature algorithm, issuer, validity, subject
        tag, contents, next_at = item(der, at, tbs_end)
        subject = (contents, next_at)
        at = next_at
    tag, _, key_end = item(der, at, tbs_end)
    if tag != 0x30:
        raise NotACertificate("no SubjectPublicKeyInfo")
    return hashlib.sha256(der[at:key_end]).hexdigest(), common_name(der, *subject)


def common_name(der, at, end):
    name = ""
    while at < end:  # SET OF SEQUENCE {type, value}
        _, set_start, set_end = item(der, at, end)
        inner = set_start
        while inner < set_end:
            _, pair_start, pair_end = item(der, inner, set_end)
            if der[pair_start:pair_start + len(COMMON_NAME)] == COMMON_NAME:
                _, value_start, value_end = item(der, pair_start + len(COMMON_NAME), pair_end)
                name = der[value_start:value_end].decode("utf-8", "replace")
            inner = pair_end
        at = set_end
    return name


def certificates(data):
    """The DER certificates of a PEM or DER file's bytes."""
    if PEM_BEGIN not in data:
        return [data]
    found = []
    for part in data.split(PEM_BEGIN)[1:]:
        if PEM_END not in part:
            raise NotACertificate("PEM certificate without its end line")
        found.append(base64.b64decode(b"".join(part.split(PEM_END)[0].split())))
    return found


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) >= 2 else 2
    status = 0
    for path in argv[1:]:
        try:
            with open(path, "rb") as f:
                for der in certificates(f.read()):
                    pin, name = fields(der)
                    print("%s  %s" % (pin, name))
        except (OSError, ValueError, IndexError) as e:
            print("signer-pin.py: %s: no certificate that can be read (%s)" % (path, e), file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
