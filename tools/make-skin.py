#!/usr/bin/env python3
"""Generates the default skin: the seven bitmaps of the Images folder.

Usage: make-skin.py OUTPUT_FOLDER [--preview]

The backgrounds match the dialogs at 96 dpi with "MS Shell Dlg" 8 (dialog base units 6 x 13:
305 x 186 units are 458 x 302 pixels, 161 x 104 units are 242 x 169 pixels). The flat areas sit
exactly where the dialogs paint their labels opaque, in the same colours, so the label rectangles
disappear into the skin: the orange caption band behind control 1013, cream behind the texts,
white behind the progress line.
"""
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
    """A soft brown rim that follows the window's rounded region (corner ellipse 21 x 21)."""
    w, h = c.width, c.height
    c.round_rect_outline(0.5, 0.5, w - 0.5, h - 0.5, 10.0, 1.0, BROWN, 0.55)


def caption_band(c):
    w = c.width
    # Flat caption colour, with a light sheen in the top rows and a deeper edge under the labels.
    c.rect(0, 0, w, BAND_BOTTOM, ORANGE)
    c.vgradient(0, 0, w, 3, ORANGE_LIGHT, ORANGE)
    c.vgradient(0, 31, w, BAND_BOTTOM, ORANGE, ORANGE_DARK)
    c.rect(0, BAND_BOTTOM, w, BAND_BOTTOM + 1, BROWN, 0.6)
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
    c.line(24, CREAM_BOTTOM + 4.5, w - 24, CREAM_BOTTOM + 4.5, 1.0, BROWN, 0.35)


def small_background():
    """Small.bmp: the message, .NET progress, proxy and credentials dialogs."""
    c = Canvas(*LARGE)
    large_base(c)
    window_edge(c)
    return c


def install_background():
    """InstallImage.bmp: the product layout of the progress dialog.

    The body text lies transparent over a light wash with a faint mark on the right; the three
    feature texts sit on a cream card (they and the empty link line are painted cream)."""
    c = Canvas(*LARGE)
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


def smallest_background():
    """Smallest.bmp: the quit confirmation, questions and notices (labels are transparent)."""
    c = Canvas(*SMALL)
    w, h = c.width, c.height
    c.vgradient(0, 0, w, h, (255, 251, 230), CREAM)
    # Orange top strip, then a footer tone behind the buttons.
    c.rect(0, 0, w, 9, ORANGE)
    c.vgradient(0, 0, w, 3, ORANGE_LIGHT, ORANGE)
    c.vgradient(0, 7, w, 9, ORANGE, ORANGE_DARK)
    c.rect(0, 9, w, 10, BROWN, 0.5)
    c.vgradient(0, 121, w, h, CREAM, CREAM_DEEP)
    c.line(14, 121.5, w - 14, 121.5, 1.0, BROWN, 0.30)
    draw_mark(c, 29.0, 35.5, 11.0, ORANGE, WHITE, CREAM)
    window_edge(c)
    return c


def close_image(state):
    """The close control on the caption band: normal, hover, pressed and disabled."""
    c = Canvas(*CLOSE, colour=ORANGE)
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
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    images = {
        "Small.bmp": small_background(),
        "InstallImage.bmp": install_background(),
        "Smallest.bmp": smallest_background(),
        "CancelButton.bmp": close_image("normal"),
        "MouseOver.bmp": close_image("hover"),
        "OnPress.bmp": close_image("pressed"),
        "Disabled.bmp": close_image("disabled"),
    }
    for name, canvas in images.items():
        canvas.write_bmp(os.path.join(out, name))
        if "--preview" in argv:
            with open(os.path.join(out, name[:-4] + ".png"), "wb") as f:
                f.write(raster.png_bytes(canvas))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
