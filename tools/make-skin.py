#!/usr/bin/env python3
"""Generates the default skin: the seven bitmaps of the Images folder, at every display scale.

Usage: make-skin.py OUTPUT_FOLDER [--preview]

The backgrounds match the dialogs at 96 dpi with "MS Shell Dlg" 8 (dialog base units 6 x 13:
305 x 186 units are 458 x 302 pixels, 161 x 104 units are 242 x 169 pixels). The flat areas sit
exactly where the dialogs paint their labels opaque, in the same colours, so the label rectangles
disappear into the skin: the orange caption band behind control 1013, cream behind the texts,
white behind the progress line.

The 100 % set lies in OUTPUT_FOLDER itself; the 125, 150 and 200 % sets in subfolders named by
their percentage. At a scale every length is its 96-dpi length times the scale, rounded half up
as the dialogs round their layout, and each set is drawn at its own resolution from the same
shapes: nothing is resampled, so edges stay one pixel soft at every scale. Flat colours and
row-wise gradients keep the files compressible.
"""
import math
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import raster  # noqa: E402
from raster import Canvas, mix  # noqa: E402

ORANGE = (231, 82, 0)
CREAM = (255, 247, 206)
BROWN = (156, 95, 46)
WHITE = (255, 255, 255)
ORANGE_LIGHT = (247, 128, 44)
ORANGE_DARK = (196, 66, 0)
CREAM_DEEP = (246, 229, 172)

# Dialog units -> pixels for "MS Shell Dlg" 8 at 96 dpi (base units 6 x 13), rounded as MapDialogRect.
def dlu_x(u):
    return (u * 6 + 2) // 4


def dlu_y(u):
    return (u * 13 + 4) // 8


LARGE = (dlu_x(305), dlu_y(186))   # 458 x 302
SMALL = (dlu_x(161), dlu_y(104))   # 242 x 169
CLOSE = (22, 21)                   # the close control's image
CORNER = 21                        # the window region's corner ellipse
SETS = (100, 125, 150, 200)        # display scales in percent


def scaled(length, percent):
    """A 96-dpi length at a scale, rounded half up (as MulDiv rounds the dialogs' layout)."""
    return int(math.floor(length * percent / 100.0 + 0.5))


class Scaled:
    """A canvas addressed in 96-dpi coordinates, drawn at the resolution of a scale.

    Flat areas start and end on whole pixels of the scaled layout; shapes are evaluated at the
    target resolution; strokes keep whole-pixel widths, so hairlines stay crisp."""

    def __init__(self, size, percent, colour=(255, 255, 255)):
        self.percent = percent
        self.s = percent / 100.0
        self.width, self.height = size
        self.canvas = Canvas(scaled(size[0], percent), scaled(size[1], percent), colour)

    def px(self, v):
        return scaled(v, self.percent)

    def stroke(self, w):
        return max(1.0, float(round(w * self.s))) if w <= 1.5 else w * self.s

    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        self.canvas.rect(self.px(x0), self.px(y0), self.px(x1), self.px(y1), colour, alpha)

    def vgradient(self, x0, y0, x1, y1, top, bottom, alpha=1.0):
        self.canvas.vgradient(self.px(x0), self.px(y0), self.px(x1), self.px(y1), top, bottom, alpha)

    def round_rect(self, x0, y0, x1, y1, radius, colour, alpha=1.0):
        s = self.s
        self.canvas.round_rect(x0 * s, y0 * s, x1 * s, y1 * s, radius * s, colour, alpha)

    def round_rect_outline(self, x0, y0, x1, y1, radius, width, colour, alpha=1.0):
        s = self.s
        self.canvas.round_rect_outline(x0 * s, y0 * s, x1 * s, y1 * s, radius * s, self.stroke(width), colour, alpha)

    def circle(self, cx, cy, radius, colour, alpha=1.0):
        s = self.s
        self.canvas.circle(cx * s, cy * s, radius * s, colour, alpha)

    def line(self, x0, y0, x1, y1, width, colour, alpha=1.0):
        s = self.s
        self.canvas.line(x0 * s, y0 * s, x1 * s, y1 * s, width * s, colour, alpha)

    def hline(self, x0, x1, row, colour, alpha=1.0):
        """A one-pixel rule (whole pixels at every scale) on the given 96-dpi row."""
        top = self.px(row)
        self.canvas.rect(self.px(x0), top, self.px(x1), top + int(self.stroke(1.0)), colour, alpha)

    def arc(self, cx, cy, radius, width, start_deg, end_deg, colour, alpha=1.0):
        s = self.s
        self.canvas.arc(cx * s, cy * s, radius * s, width * s, start_deg, end_deg, colour, alpha)

    def write_bmp(self, path):
        self.canvas.write_bmp(path)

BAND_BOTTOM = 34       # caption band: flat orange over rows 3..30, where every caption label lies
CREAM_BOTTOM = 233     # texts, links and labels end at row 232 in every large dialog
WHITE_TOP = 244        # the progress line starts at row 245


def draw_mark(c, cx, cy, r, disc, glyph, accent):
    """The product mark: a disc with a stylised T and a travel swoosh below its bar."""
    c.circle(cx, cy, r, disc)
    w = r * 0.27
    c.line(cx - r * 0.48, cy - r * 0.36, cx + r * 0.48, cy - r * 0.36, w, glyph)
    c.line(cx, cy - r * 0.36, cx, cy + r * 0.50, w, glyph)
    c.arc(cx + r * 0.05, cy - r * 0.05, r * 0.70, max(1.0, r * 0.11), 200, 330, accent)


def window_edge(c):
    """A soft brown rim that follows the window's rounded region (corner ellipse 21 x 21 at 96
    dpi, scaled and rounded as the dialogs scale it), one whole pixel wide per 96 dpi."""
    canvas = c.canvas
    w, h = canvas.width, canvas.height
    rim = c.stroke(1.0)
    corner = scaled(CORNER, c.percent) / 2.0 - 0.5
    canvas.round_rect_outline(rim / 2, rim / 2, w - rim / 2, h - rim / 2, corner, rim, BROWN, 0.55)


def caption_band(c):
    w = c.width
    # Flat caption colour, with a light sheen in the top rows and a deeper edge under the labels.
    c.rect(0, 0, w, BAND_BOTTOM, ORANGE)
    c.vgradient(0, 0, w, 3, ORANGE_LIGHT, ORANGE)
    c.vgradient(0, 31, w, BAND_BOTTOM, ORANGE, ORANGE_DARK)
    c.hline(0, w, BAND_BOTTOM, BROWN, 0.6)
    draw_mark(c, 19.5, 17.0, 10.0, WHITE, ORANGE, BROWN)


def large_base(c):
    """What every 305 x 186 background shares: band, cream panel, white footer, rim."""
    w, h = c.width, c.height
    c.rect(0, 0, w, h, CREAM)
    caption_band(c)
    # Footer: white behind the progress line and the buttons, warming slightly to the bottom edge.
    c.vgradient(0, CREAM_BOTTOM, w, WHITE_TOP, CREAM, WHITE)
    c.rect(0, WHITE_TOP, w, h, WHITE)
    c.vgradient(0, 286, w, h, WHITE, (252, 242, 226))
    c.hline(24, w - 24, CREAM_BOTTOM + 4, BROWN, 0.35)


def small_background(percent):
    """Small.bmp: the message, .NET progress, proxy and credentials dialogs."""
    c = Scaled(LARGE, percent)
    large_base(c)
    window_edge(c)
    return c


def install_background(percent):
    """InstallImage.bmp: the product layout of the progress dialog.

    The body text lies transparent over a light wash with a faint mark on the right; the three
    feature texts sit on a cream card (they and the empty link line are painted cream)."""
    c = Scaled(LARGE, percent)
    w, h = c.width, c.height
    large_base(c)
    # Light wash behind the transparent body text (rows 36..183).
    c.vgradient(0, BAND_BOTTOM + 1, w, 184, (255, 253, 243), CREAM)
    # Faint watermark of the product mark at the right, outside the body text (which ends at x 399).
    draw_mark(c, 430.0, 110.0, 44.0, CREAM_DEEP, (255, 251, 232), (236, 214, 160))
    # The feature card: cream, outlined, with a soft shadow; rows 186..232, x 14..452.
    c.round_rect(15.0, 187.0, w - 5.0, CREAM_BOTTOM + 2.0, 8.0, (120, 80, 40), 0.10)
    c.round_rect(13.0, 184.0, w - 6.0, CREAM_BOTTOM, 8.0, CREAM)
    c.round_rect_outline(13.0, 184.0, w - 6.0, CREAM_BOTTOM, 8.0, 1.0, BROWN, 0.45)
    # Small orange pips in the gaps between the feature texts.
    for x in (165.0, 314.0):
        c.circle(x, 194.0, 2.2, ORANGE, 0.8)
    window_edge(c)
    return c


def smallest_background(percent):
    """Smallest.bmp: the quit confirmation, questions and notices (labels are transparent)."""
    c = Scaled(SMALL, percent)
    w, h = c.width, c.height
    c.vgradient(0, 0, w, h, (255, 251, 230), CREAM)
    # Orange top strip, then a footer tone behind the buttons.
    c.rect(0, 0, w, 9, ORANGE)
    c.vgradient(0, 0, w, 3, ORANGE_LIGHT, ORANGE)
    c.vgradient(0, 7, w, 9, ORANGE, ORANGE_DARK)
    c.hline(0, w, 9, BROWN, 0.5)
    c.vgradient(0, 121, w, h, CREAM, CREAM_DEEP)
    c.hline(14, w - 14, 121, BROWN, 0.30)
    draw_mark(c, 29.0, 35.5, 11.0, ORANGE, WHITE, CREAM)
    window_edge(c)
    return c


def close_image(state, percent):
    """The close control on the caption band: normal, hover, pressed and disabled."""
    c = Scaled(CLOSE, percent, colour=ORANGE)
    w, h = c.width, c.height
    glyph = WHITE
    shift = 0.0
    if state == "hover":
        c.round_rect(1.0, 1.0, w - 1.0, h - 1.0, 4.0, ORANGE_LIGHT)
        c.round_rect_outline(1.0, 1.0, w - 1.0, h - 1.0, 4.0, 1.0, (255, 196, 150))
    elif state == "pressed":
        c.round_rect(1.0, 1.0, w - 1.0, h - 1.0, 4.0, BROWN)
        c.round_rect_outline(1.0, 1.0, w - 1.0, h - 1.0, 4.0, 1.0, (120, 70, 30))
        shift = 0.7
    elif state == "disabled":
        glyph = mix(ORANGE, WHITE, 0.45)
    cx, cy, arm = w / 2.0 + shift, h / 2.0 + shift, 4.6
    c.line(cx - arm, cy - arm, cx + arm, cy + arm, 2.2, glyph)
    c.line(cx - arm, cy + arm, cx + arm, cy - arm, 2.2, glyph)
    return c


def main(argv):
    if len(argv) < 2:
        sys.stderr.write("usage: make-skin.py OUTPUT_FOLDER [--preview]\n")
        return 2
    for percent in SETS:
        out = argv[1] if percent == 100 else os.path.join(argv[1], str(percent))
        os.makedirs(out, exist_ok=True)
        images = {
            "Small.bmp": small_background(percent),
            "InstallImage.bmp": install_background(percent),
            "Smallest.bmp": smallest_background(percent),
            "CancelButton.bmp": close_image("normal", percent),
            "MouseOver.bmp": close_image("hover", percent),
            "OnPress.bmp": close_image("pressed", percent),
            "Disabled.bmp": close_image("disabled", percent),
        }
        for name, image in images.items():
            image.write_bmp(os.path.join(out, name))
            if "--preview" in argv:
                with open(os.path.join(out, name[:-4] + ".png"), "wb") as f:
                    f.write(raster.png_bytes(image.canvas))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
