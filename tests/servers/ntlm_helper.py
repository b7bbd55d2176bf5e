#!/usr/bin/env python3
"""An NTLM authentication helper for squid (the stateful "YR/KK" helper protocol) that checks
NTLMv2 answers against one user name and password.

usage: ntlm_helper.py [--negotiate] USER PASSWORD

With --negotiate it answers as a Negotiate helper does for a client that falls back to NTLM
inside Negotiate (as Windows and Wine do without Kerberos).

squid's own ntlm_fake_auth accepts anyone, and its challenge carries a target name whose offset
Samba's NTLM client (which Wine's NTLM uses) refuses. This one sends a well-formed challenge
with target information, and says yes only to a client that proves it knows the password:
a wrong password gets another 407, as from a real domain.

Standard library only (MD4, which NTLM needs and OpenSSL 3 no longer offers, is written out).
"""

import base64
import hmac
import os
import struct
import sys

DOMAIN = "TARVELO"
FLAGS = (0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 |
         0x00800000 | 0x02000000 | 0x20000000 | 0x80000000)


def md4(data):
    def f(x, y, z): return (x & y) | (~x & z)
    def g(x, y, z): return (x & y) | (x & z) | (y & z)
    def h(x, y, z): return x ^ y ^ z
    def rotl(v, s): return ((v << s) | (v >> (32 - s))) & 0xFFFFFFFF
    message = data + b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack("<Q", len(data) * 8)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for offset in range(0, len(message), 64):
        x = struct.unpack("<16I", message[offset:offset + 64])
        aa, bb, cc, dd = a, b, c, d
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            a = rotl((a + f(b, c, d) + x[k]) & 0xFFFFFFFF, s)
            a, b, c, d = d, a, b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a = rotl((a + g(b, c, d) + x[k] + 0x5A827999) & 0xFFFFFFFF, s)
            a, b, c, d = d, a, b, c
        for i in range(16):
            k = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i]
            s = (3, 9, 11, 15)[i % 4]
            a = rotl((a + h(b, c, d) + x[k] + 0x6ED9EBA1) & 0xFFFFFFFF, s)
            a, b, c, d = d, a, b, c
        a, b, c, d = (a + aa) & 0xFFFFFFFF, (b + bb) & 0xFFFFFFFF, (c + cc) & 0xFFFFFFFF, (d + dd) & 0xFFFFFFFF
    return struct.pack("<4I", a, b, c, d)


def _av(kind, text):
    value = text.encode("utf-16-le")
    return struct.pack("<HH", kind, len(value)) + value


def challenge_message(challenge):
    target = DOMAIN.encode("utf-16-le")
    info = (_av(2, DOMAIN) + _av(1, "PROXY") + _av(4, "tarvelo.test") + _av(3, "proxy.tarvelo.test")
            + struct.pack("<HH", 0, 0))
    offset = 56
    return (b"NTLMSSP\0" + struct.pack("<I", 2)
            + struct.pack("<HHI", len(target), len(target), offset)
            + struct.pack("<I", FLAGS) + challenge + b"\0" * 8
            + struct.pack("<HHI", len(info), len(info), offset + len(target))
            + bytes([6, 1, 0, 0, 0, 0, 0, 15]) + target + info)


def _field(message, at):
    length, _, offset = struct.unpack("<HHI", message[at:at + 8])
    return message[offset:offset + length]


def check_answer(message, challenge, user, password):
    """The user name of an authenticate message whose NTLMv2 proof matches; None otherwise."""
    if message[:8] != b"NTLMSSP\0" or struct.unpack("<I", message[8:12])[0] != 3:
        return None
    nt = _field(message, 20)
    domain = _field(message, 28).decode("utf-16-le", "replace")
    name = _field(message, 36).decode("utf-16-le", "replace")
    if len(nt) <= 24 or name.upper() != user.upper():
        return None
    key = hmac.new(md4(password.encode("utf-16-le")), (name.upper() + domain).encode("utf-16-le"), "md5").digest()
    proof = hmac.new(key, challenge + nt[16:], "md5").digest()
    return name if hmac.compare_digest(proof, nt[:16]) else None


def main():
    args = sys.argv[1:]
    negotiate = args[:1] == ["--negotiate"]
    if negotiate:
        args = args[1:]
    user, password = args[0], args[1]
    challenge = None
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "YR":
            challenge = os.urandom(8)
            answer = "TT " + base64.b64encode(challenge_message(challenge)).decode()
        elif words[0] == "KK" and len(words) > 1 and challenge:
            try:
                name = check_answer(base64.b64decode(words[1]), challenge, user, password)
            except (ValueError, struct.error):
                name = None
            if not name:
                answer = "NA wrong credentials"
            else:
                answer = ("AF = " if negotiate else "AF ") + name
        else:
            answer = "BH unexpected request"
        sys.stdout.write(answer + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
