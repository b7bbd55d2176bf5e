#!/usr/bin/env python3
"""Writes a UTF-16LE text table ("KEY=text;" entries, CR LF between them, no byte-order mark)
from a readable UTF-8 source: tools/make-text-table.py tools/text-en-GB.txt data/Resource-en-GB.txt
"""
import sys


def main(source, target):
    entries, seen = [], set()
    with open(source, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, sep, text = line.partition("=")
            where = f"{source}:{number}"
            if not sep or not key or key != key.strip():
                sys.exit(f"{where}: expected KEY=text")
            if ";" in text:
                sys.exit(f"{where}: a text may not contain ';'")
            if key in seen:
                sys.exit(f"{where}: {key} given twice")
            seen.add(key)
            entries.append(f"{key}={text.strip().replace(chr(92) + 'n', chr(13) + chr(10))};")
    data = ("\r\n".join(entries) + "\r\n").encode("utf-16-le")
    with open(target, "wb") as f:
        f.write(data)
    print(f"{target}: {len(entries)} entries")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
