#!/usr/bin/env python3
"""The checks and the packing of the release command (tools/release.sh runs them).

    release.py prepare SOURCE ARCHIVE [--allow-http] [--allow-unchecked] [--payloads DIR] [--check-only]
        Checks SOURCE ("ConfigFile.txt", "Resource-<language>.txt" files, the "Images" folder),
        fills the package digests from --payloads, packs what the exe is to carry into ARCHIVE
        and prints the summary. Exit code 2, with every reason on standard error, when it refuses.
        --check-only refuses or accepts and writes nothing.
    release.py pack ARCHIVE NAME=FILE...
        Packs the files under the names given (the test builds use it).

The archive is a cabinet (MSZIP), which Windows has unpacked since before XP (cabinet.dll), so
the exe needs no decompressor of its own.
"""

import hashlib
import os
import re
import struct
import sys
import zlib

MAX_CONFIG_BYTES = 4096

SKIN_IMAGES = ["Small.bmp", "InstallImage.bmp", "Smallest.bmp", "CancelButton.bmp", "MouseOver.bmp",
               "OnPress.bmp", "Disabled.bmp"]

# The configuration's positional fields (numbered from 1) that the command reads or fills.
PACKAGES = [
    # (name in the summary, address head field, address tail field, digest field, signers field)
    ("Windows Installer update", 10, 11, 13, 16),
    (".NET package", 4, 5, 14, 17),
    ("Second stage", 7, 8, 15, 18),
]
DIGEST_NAMES = {13: "MsiSha256", 14: "DotNetSha256", 15: "Stage2Sha256"}
DOTNET_FOLDER, DOTNET_FILE = 2, 3
# The file the installer starts for the .NET package, below DotNetFolder.
DOTNET_STARTED = "\\dotnetfx.exe"
HEX64 = re.compile(r"^[0-9A-Fa-f]{64}$")


class Refusal(Exception):
    pass


# ---- the cabinet ------------------------------------------------------------------------------

BLOCK = 32768  # MSZIP compresses in blocks of at most 32 KiB, each a complete deflate stream


def _mszip_blocks(data):
    """MSZIP blocks of `data`: "CK" and a raw deflate stream each, every block compressed with the
    32 KiB before it as its dictionary, as the cabinet reader keeps that history within a folder."""
    blocks = []
    for start in range(0, len(data), BLOCK):
        chunk = data[start:start + BLOCK]
        history = data[max(0, start - BLOCK):start]
        if history:
            compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9, zlib.Z_DEFAULT_STRATEGY, history)
        else:
            compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
        blocks.append((b"CK" + compressor.compress(chunk) + compressor.flush(), len(chunk)))
    return blocks


def pack(files):
    """A cabinet of (name, bytes) pairs, each file in a folder of its own, so that the exe unpacks
    only the file it asks for. Names use "\\" between folders, as cabinets do."""
    header_size, folder_size = 36, 8
    entries = b""
    for index, (name, data) in enumerate(files):
        encoded = name.replace("/", "\\").encode("ascii")
        entries += struct.pack("<IIHHHH", len(data), 0, index, 0x5821, 0, 0x20) + encoded + b"\0"
    data_start = header_size + folder_size * len(files) + len(entries)
    folders, payload = b"", b""
    for name, data in files:
        blocks = _mszip_blocks(data) if data else []
        folders += struct.pack("<IHH", data_start + len(payload), len(blocks), 1)  # 1: MSZIP
        for compressed, size in blocks:
            payload += struct.pack("<IHH", 0, len(compressed), size) + compressed
    total = data_start + len(payload)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, header_size + folder_size * len(files), 0,
                         3, 1, len(files), len(files), 0, 0x5456, 0)
    cabinet = header + folders + entries + payload
    if unpack(cabinet) != [(n.replace("/", "\\"), d) for n, d in files]:
        raise Refusal("internal error: the cabinet does not unpack to its files")
    return cabinet


def unpack(cabinet):
    """The (name, bytes) pairs of a cabinet that pack() wrote, for the command's own check."""
    _, _, total, _, files_at, _, _, _, folder_count, file_count, _, _, _ = struct.unpack_from(
        "<4sIIIIIBBHHHHH", cabinet, 0)
    folders = [struct.unpack_from("<IHH", cabinet, 36 + 8 * i) for i in range(folder_count)]
    out, at = [], files_at
    for _ in range(file_count):
        size, _, folder, _, _, _ = struct.unpack_from("<IIHHHH", cabinet, at)
        end = cabinet.index(b"\0", at + 16)
        name = cabinet[at + 16:end].decode("ascii")
        at = end + 1
        block_at, count, _ = folders[folder]
        data = b""
        for _ in range(count):
            _, compressed, _ = struct.unpack_from("<IHH", cabinet, block_at)
            body = cabinet[block_at + 8:block_at + 8 + compressed]
            history = data[-BLOCK:]
            inflater = zlib.decompressobj(-15, zdict=history) if history else zlib.decompressobj(-15)
            data += inflater.decompress(body[2:])
            block_at += 8 + compressed
        out.append((name, data[:size]))
    return out


# ---- the configuration -------------------------------------------------------------------------

class Config:
    """ConfigFile.txt as its positional fields. The command reads only files in which every field
    ends with ";", so that what it checks is exactly what the installer reads."""

    def __init__(self, raw):
        if len(raw) > MAX_CONFIG_BYTES:
            raise Refusal("ConfigFile.txt is longer than %d bytes" % MAX_CONFIG_BYTES)
        if b"\0" in raw:
            raise Refusal("ConfigFile.txt holds a NUL byte")
        text = raw.decode("latin-1")
        parts = text.split(";")
        if parts[-1].strip():
            raise Refusal("ConfigFile.txt: text after the last ';' (%r)" % parts[-1].strip())
        self.trailer = parts[-1]
        self.fields = []
        for part in parts[:-1]:
            name, sep, value = part.partition("=")
            self.fields.append([name, value if sep else part, bool(sep)])
        if not 12 <= len(self.fields) <= 18:
            raise Refusal("ConfigFile.txt has %d fields; the installer reads 12 to 18" % len(self.fields))

    def value(self, number):
        return self.fields[number - 1][1] if number <= len(self.fields) else ""

    def set_value(self, number, value, name):
        while len(self.fields) < number:
            missing = len(self.fields) + 1
            self.fields.append(["\r\n" + DIGEST_NAMES.get(missing, "Field%d" % missing), "", True])
        field = self.fields[number - 1]
        field[1], field[2] = value, True

    def bytes(self):
        text = "".join("%s=%s;" % (n, v) if sep else "%s;" % v for n, v, sep in self.fields) + self.trailer
        if not text.endswith("\n"):
            text += "\r\n"
        return text.encode("latin-1")


def address(config, head, tail):
    return config.value(head) + config.value(tail)


def check_config(config, allow_http, allow_unchecked, payloads):
    """Refusals as a list of reasons; fills the digests from `payloads` where they are missing."""
    reasons = []
    # The .NET package is downloaded to DotNetFile and checked and held there, but started as
    # DotNetFolder + "\dotnetfx.exe": where they differ, what starts was neither checked nor held.
    folder, downloaded = config.value(DOTNET_FOLDER), config.value(DOTNET_FILE)
    if downloaded.lower() != (folder + DOTNET_STARTED).lower():
        reasons.append('DotNetFile (field %d) is "%s", but the installer starts DotNetFolder (field %d) + "%s", '
                       '"%s": the file started would be neither checked nor held'
                       % (DOTNET_FILE, downloaded, DOTNET_FOLDER, DOTNET_STARTED, folder + DOTNET_STARTED))
    for number in (13, 14, 15):
        value = config.value(number).strip()
        if value and not HEX64.match(value):
            reasons.append("field %d is not a SHA-256 digest: %r" % (number, value))
    for number in (16, 17, 18):
        value = config.value(number).strip()
        if value and not all(HEX64.match(pin.strip()) for pin in value.split(",")):
            reasons.append("field %d is not a list of SHA-256 digests: %r" % (number, value))
    for name, head, tail, digest_field, _ in PACKAGES:
        url = address(config, head, tail)
        if "://" not in url:
            scheme = "http"  # the installer takes an address without a scheme as http://
        else:
            scheme = url.split("://", 1)[0].lower()
        if scheme != "https" and not allow_http:
            reasons.append("%s is fetched over %s://, not https:// (%s); --allow-http allows it"
                           % (name, scheme, url))
        if payloads:
            file_name = url.split("?", 1)[0].rstrip("/").rsplit("/", 1)[-1]
            path = os.path.join(payloads, file_name)
            if file_name and os.path.isfile(path):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest().upper()
                given = config.value(digest_field).strip()
                if given and given.upper() != digest:
                    reasons.append("%s: field %d gives SHA-256 %s, but %s has %s"
                                   % (name, digest_field, given.upper(), path, digest))
                elif not given:
                    config.set_value(digest_field, digest, DIGEST_NAMES[digest_field])
    if not allow_unchecked:
        for name, head, tail, digest_field, signers_field in PACKAGES:
            if unchecked(config, digest_field, signers_field):
                reasons.append("%s has neither a SHA-256 digest (field %d) nor signers (field %d): the installer "
                               "would start whatever the network hands over for %s; --allow-unchecked allows it"
                               % (name, digest_field, signers_field, address(config, head, tail)))
    return reasons


def unchecked(config, digest_field, signers_field):
    return not config.value(digest_field).strip() and not config.value(signers_field).strip()


def summary(config):
    lines = []
    for name, head, tail, digest_field, signers_field in PACKAGES:
        digest = config.value(digest_field).strip()
        signers = config.value(signers_field).strip()
        lines.append("  %-25s %s" % (name, address(config, head, tail)))
        if unchecked(config, digest_field, signers_field):
            lines.append("  %-25s NOT CHECKED: started as the network hands it over (--allow-unchecked)" % "")
            continue
        lines.append("  %-25s SHA-256 %s" % ("", digest.upper() if digest else "none"))
        lines.append("  %-25s signers %s" % ("", signers if signers else "none"))
    return "\n".join(lines)


# ---- the source folder -------------------------------------------------------------------------

def is_bitmap(data):
    """An uncompressed bitmap file whose pixels lie inside it, as the exe will accept it."""
    if len(data) < 54 or data[:2] != b"BM":
        return False
    offset, = struct.unpack_from("<I", data, 10)
    header, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header < 40 or planes != 1 or compression != 0 or bits not in (1, 4, 8, 24, 32):
        return False
    if not 1 <= width <= 8192 or height == 0 or abs(height) > 8192:
        return False
    stride = (width * bits + 31) // 32 * 4
    return offset + stride * abs(height) <= len(data)


def source_files(source):
    """(name, bytes) of everything the exe carries, and the reasons to refuse."""
    reasons, files = [], []
    config_path = os.path.join(source, "ConfigFile.txt")
    if not os.path.isfile(config_path):
        reasons.append("%s is missing" % config_path)
    texts = sorted(n for n in os.listdir(source) if re.match(r"^Resource-[A-Za-z0-9-]+\.txt$", n)) \
        if os.path.isdir(source) else []
    if "Resource-en-GB.txt" not in texts:
        reasons.append("%s is missing (the text table every language falls back to)"
                       % os.path.join(source, "Resource-en-GB.txt"))
    for name in texts:
        with open(os.path.join(source, name), "rb") as f:
            data = f.read()
        if len(data) % 2:
            reasons.append("%s is not UTF-16 text (odd length)" % name)
        files.append((name, data))
    images = os.path.join(source, "Images")
    for name in SKIN_IMAGES:
        if not os.path.isfile(os.path.join(images, name)):
            reasons.append("%s is missing" % os.path.join(images, name))
    for folder, dirs, names in os.walk(images):
        dirs.sort()
        for name in sorted(names):
            if not name.lower().endswith(".bmp"):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, source).replace(os.sep, "/")
            try:
                relative.encode("ascii")
            except UnicodeEncodeError:
                reasons.append("%s: skin file names must be ASCII" % path)
                continue
            with open(path, "rb") as f:
                data = f.read()
            if not is_bitmap(data):
                reasons.append("%s is not an uncompressed bitmap" % path)
            files.append((relative, data))
    return files, reasons


def prepare(source, archive, allow_http, allow_unchecked, payloads, check_only=False):
    files, reasons = source_files(source)
    config = None
    config_path = os.path.join(source, "ConfigFile.txt")
    if os.path.isfile(config_path):
        try:
            with open(config_path, "rb") as f:
                config = Config(f.read())
            reasons += check_config(config, allow_http, allow_unchecked, payloads)
            if len(config.bytes()) > MAX_CONFIG_BYTES:
                reasons.append("ConfigFile.txt with its digests is longer than %d bytes" % MAX_CONFIG_BYTES)
        except Refusal as e:
            reasons.append(str(e))
    if payloads and not os.path.isdir(payloads):
        reasons.append("--payloads %s is not a folder" % payloads)
    if reasons:
        for reason in reasons:
            print("release: refused: " + reason, file=sys.stderr)
        return 2
    if check_only:
        return 0
    data = pack([("ConfigFile.txt", config.bytes())] + files)
    write_if_changed(archive, data)
    print("release: carried inputs: %d files, %d bytes packed from %d"
          % (len(files) + 1, len(data), len(config.bytes()) + sum(len(d) for _, d in files)))
    print("release: packages:\n" + summary(config))
    return 0


def write_if_changed(path, data):
    # An unchanged archive keeps its time stamp, so that the build does not link again.
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".new", "wb") as f:
        f.write(data)
    os.replace(path + ".new", path)


def main(argv):
    if len(argv) >= 3 and argv[0] == "prepare":
        rest = argv[3:]
        payloads = None
        if "--payloads" in rest:
            at = rest.index("--payloads")
            payloads = rest[at + 1] if at + 1 < len(rest) else ""
        return prepare(argv[1], argv[2], "--allow-http" in rest, "--allow-unchecked" in rest, payloads,
                       "--check-only" in rest)
    if len(argv) >= 2 and argv[0] == "pack":
        files = []
        for item in argv[2:]:
            name, _, path = item.partition("=")
            with open(path, "rb") as f:
                files.append((name, f.read()))
        write_if_changed(argv[1], pack(files))
        return 0
    print(__doc__, file=sys.stderr)
    return 3


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
