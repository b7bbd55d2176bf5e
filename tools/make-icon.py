#!/usr/bin/env python3
"""Generates resources/TarveloSetup.ico, the program icon (16, 32 and 48 pixels, 32-bit; the two
larger as PNG).

Usage: make-icon.py [OUTPUT.ico] [--preview]. The icon is committed; run this after changing it.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, here)
import raster  # noqa: E402
from raster import Canvas  # noqa: E402

ORANGE_TOP = (246, 118, 34)
ORANGE_BOTTOM = (206, 70, 0)
BROWN = (156, 95, 46)
CREAM = (255, 247, 206)
WHITE = (255, 255, 255)


def icon(size):
    c = Canvas(size, size)
    c.clear()
    s = size / 32.0
    m = 1.0 * s
    sdf = raster.sdf_round_rect(m, m, size - m, size - m, 7.0 * s)
    c.shape_gradient(sdf, (m, m, size - m, size - m), ORANGE_TOP, ORANGE_BOTTOM)
    if size >= 32:
        c.round_rect_outline(m, m, size - m, size - m, 7.0 * s, 1.0, BROWN, 0.8)
    cx, cy = size / 2.0, size / 2.0
    w = 4.2 * s if size > 16 else 2.6
    c.line(cx - 8.0 * s, cy - 6.0 * s, cx + 8.0 * s, cy - 6.0 * s, w, WHITE)
    c.line(cx, cy - 6.0 * s, cx, cy + 8.5 * s, w, WHITE)
    if size > 16:
        c.arc(cx + 0.5 * s, cy - 1.0 * s, 11.0 * s, 1.7 * s, 205, 330, CREAM)
    return c


def main(argv):
    out = argv[1] if len(argv) > 1 and not argv[1].startswith("--") else \
        os.path.join(here, "..", "resources", "TarveloSetup.ico")
    canvases = [icon(16), icon(32), icon(48)]
    raster.write_ico(out, canvases, png_from=32)
    if "--preview" in argv:
        for c in canvases:
            with open("%s-%d.png" % (out[:-4], c.width), "wb") as f:
                f.write(raster.png_bytes(c))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
