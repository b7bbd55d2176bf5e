"""A small anti-aliased raster for the generated skin and icon (standard library only).

Shapes are drawn from signed distances, so their edges get one pixel of coverage-based
anti-aliasing without supersampling. Colours are (r, g, b) tuples of 0..255.
"""
import math
import struct
import zlib


def mix(a, b, t):
    """Colour between a (t = 0) and b (t = 1)."""
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, width, height, colour=(255, 255, 255)):
        self.width = width
        self.height = height
        self.r = [float(colour[0])] * (width * height)
        self.g = [float(colour[1])] * (width * height)
        self.b = [float(colour[2])] * (width * height)
        self.a = [1.0] * (width * height)

    # -- pixels ---------------------------------------------------------------------------------
    def blend(self, x, y, colour, alpha):
        if alpha <= 0.0 or x < 0 or y < 0 or x >= self.width or y >= self.height:
            return
        if alpha > 1.0:
            alpha = 1.0
        i = y * self.width + x
        k = 1.0 - alpha
        self.r[i] = self.r[i] * k + colour[0] * alpha
        self.g[i] = self.g[i] * k + colour[1] * alpha
        self.b[i] = self.b[i] * k + colour[2] * alpha
        self.a[i] = self.a[i] * k + alpha

    def get(self, x, y):
        i = y * self.width + x
        return (round(self.r[i]), round(self.g[i]), round(self.b[i]))

    def clear(self, alpha=0.0):
        """Makes every pixel transparent black (used for icons)."""
        n = self.width * self.height
        self.r = [0.0] * n
        self.g = [0.0] * n
        self.b = [0.0] * n
        self.a = [alpha] * n

    # -- fills ----------------------------------------------------------------------------------
    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        """Fills whole pixels x0 <= x < x1, y0 <= y < y1."""
        for y in range(max(0, y0), min(self.height, y1)):
            self.row(y, x0, x1, colour, alpha)

    def vgradient(self, x0, y0, x1, y1, top, bottom, alpha=1.0):
        span = max(1, y1 - y0 - 1)
        for y in range(max(0, y0), min(self.height, y1)):
            self.row(y, x0, x1, mix(top, bottom, (y - y0) / span), alpha)

    def row(self, y, x0, x1, colour, alpha=1.0):
        """Pixels x0 <= x < x1 of row y; an opaque fill is written in one step per channel."""
        x0, x1 = max(0, x0), min(self.width, x1)
        if x1 <= x0:
            return
        if alpha < 1.0:
            for x in range(x0, x1):
                self.blend(x, y, colour, alpha)
            return
        a, b = y * self.width + x0, y * self.width + x1
        n = x1 - x0
        self.r[a:b] = [float(colour[0])] * n
        self.g[a:b] = [float(colour[1])] * n
        self.b[a:b] = [float(colour[2])] * n
        self.a[a:b] = [1.0] * n

    def hgradient(self, x0, y0, x1, y1, left, right, alpha=1.0):
        span = max(1, x1 - x0 - 1)
        for x in range(max(0, x0), min(self.width, x1)):
            c = mix(left, right, (x - x0) / span)
            for y in range(max(0, y0), min(self.height, y1)):
                self.blend(x, y, c, alpha)

    def shape(self, sdf, box, colour, alpha=1.0):
        """Fills where sdf(px, py) < 0, px/py being pixel centres; box = (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(math.floor(y0)) - 1), min(self.height, int(math.ceil(y1)) + 1)):
            py = y + 0.5
            for x in range(max(0, int(math.floor(x0)) - 1), min(self.width, int(math.ceil(x1)) + 1)):
                d = sdf(x + 0.5, py)
                cover = 0.5 - d
                if cover > 0.0:
                    self.blend(x, y, colour, alpha * min(1.0, cover))

    def shape_gradient(self, sdf, box, top, bottom, alpha=1.0):
        x0, y0, x1, y1 = box
        span = max(1.0, y1 - y0)
        for y in range(max(0, int(math.floor(y0)) - 1), min(self.height, int(math.ceil(y1)) + 1)):
            py = y + 0.5
            c = mix(top, bottom, min(1.0, max(0.0, (py - y0) / span)))
            for x in range(max(0, int(math.floor(x0)) - 1), min(self.width, int(math.ceil(x1)) + 1)):
                cover = 0.5 - sdf(x + 0.5, py)
                if cover > 0.0:
                    self.blend(x, y, c, alpha * min(1.0, cover))

    # -- shapes (coordinates are continuous; a pixel's centre is at +0.5) ------------------------
    def round_rect(self, x0, y0, x1, y1, radius, colour, alpha=1.0):
        self.shape(sdf_round_rect(x0, y0, x1, y1, radius), (x0, y0, x1, y1), colour, alpha)

    def round_rect_outline(self, x0, y0, x1, y1, radius, width, colour, alpha=1.0):
        inner = sdf_round_rect(x0, y0, x1, y1, radius)

        def sdf(px, py):
            return abs(inner(px, py)) - width / 2.0

        # Only pixels near the outline can be covered: whole rows across the rounded top and
        # bottom, and in between two narrow column bands (a window-sized outline would otherwise
        # evaluate every pixel of the window).
        reach = int(math.ceil(radius + width)) + 2
        top, bottom = int(math.floor(y0 - width)) - 1, int(math.ceil(y1 + width)) + 1
        left, right = int(math.floor(x0 - width)) - 1, int(math.ceil(x1 + width)) + 1
        for y in range(max(0, top), min(self.height, bottom + 1)):
            py = y + 0.5
            if py - y0 <= reach or y1 - py <= reach:
                spans = ((left, right),)
            else:
                spans = ((left, left + reach), (right - reach, right))
            for a, b in spans:
                for x in range(max(0, a), min(self.width, b + 1)):
                    cover = 0.5 - sdf(x + 0.5, py)
                    if cover > 0.0:
                        self.blend(x, y, colour, alpha * min(1.0, cover))

    def circle(self, cx, cy, radius, colour, alpha=1.0):
        self.shape(lambda px, py: math.hypot(px - cx, py - cy) - radius,
                   (cx - radius, cy - radius, cx + radius, cy + radius), colour, alpha)

    def ring(self, cx, cy, radius, width, colour, alpha=1.0):
        self.shape(lambda px, py: abs(math.hypot(px - cx, py - cy) - radius) - width / 2.0,
                   (cx - radius - width, cy - radius - width, cx + radius + width, cy + radius + width),
                   colour, alpha)

    def line(self, x0, y0, x1, y1, width, colour, alpha=1.0):
        """A stroke with round caps."""
        sdf = sdf_capsule(x0, y0, x1, y1, width / 2.0)
        pad = width
        self.shape(sdf, (min(x0, x1) - pad, min(y0, y1) - pad, max(x0, x1) + pad, max(y0, y1) + pad),
                   colour, alpha)

    def arc(self, cx, cy, radius, width, start_deg, end_deg, colour, alpha=1.0):
        """Part of a ring between two angles (degrees, 0 = east, counter-clockwise on screen)."""
        a0 = math.radians(start_deg)
        a1 = math.radians(end_deg)

        def sdf(px, py):
            ang = math.atan2(-(py - cy), px - cx)
            while ang < a0:
                ang += 2 * math.pi
            if ang <= a1:
                return abs(math.hypot(px - cx, py - cy) - radius) - width / 2.0
            # Round caps at the two ends.
            best = 1e9
            for a in (a0, a1):
                ex = cx + radius * math.cos(a)
                ey = cy - radius * math.sin(a)
                best = min(best, math.hypot(px - ex, py - ey) - width / 2.0)
            return best

        self.shape(sdf, (cx - radius - width, cy - radius - width, cx + radius + width, cy + radius + width),
                   colour, alpha)

    # -- output ---------------------------------------------------------------------------------
    def rows_bgr(self):
        """Bottom-up rows of 24-bit BGR, each padded to four bytes."""
        pad = (4 - (self.width * 3) % 4) % 4
        w = self.width
        out = bytearray()
        for y in range(self.height - 1, -1, -1):
            a, b = y * w, (y + 1) * w
            row = bytearray(w * 3 + pad)
            for offset, channel in ((0, self.b), (1, self.g), (2, self.r)):
                row[offset:w * 3:3] = bytes([0 if v < 0 else 255 if v > 255 else v
                                             for v in map(round, channel[a:b])])
            out += row
        return bytes(out)

    def rows_bgra(self):
        """Bottom-up rows of 32-bit BGRA with straight (non-premultiplied) alpha."""
        out = bytearray()
        for y in range(self.height - 1, -1, -1):
            base = y * self.width
            for x in range(self.width):
                i = base + x
                a = self.a[i]
                if a > 0.0:
                    r, g, b = self.r[i] / a, self.g[i] / a, self.b[i] / a
                else:
                    r = g = b = 0.0
                out += bytes((clamp8(b), clamp8(g), clamp8(r), clamp8(a * 255.0)))
        return bytes(out)

    def write_bmp(self, path):
        """A plain 24-bit BITMAPINFOHEADER bitmap, as LoadImage reads from files."""
        pixels = self.rows_bgr()
        header_size = 14 + 40
        file_header = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(pixels),
                           3780, 3780, 0, 0)
        with open(path, "wb") as f:
            f.write(file_header + info + pixels)


def clamp8(v):
    v = int(round(v))
    return 0 if v < 0 else 255 if v > 255 else v


def sdf_round_rect(x0, y0, x1, y1, radius):
    cx = (x0 + x1) / 2.0
    cy = (y0 + y1) / 2.0
    hx = (x1 - x0) / 2.0 - radius
    hy = (y1 - y0) / 2.0 - radius

    def sdf(px, py):
        qx = abs(px - cx) - hx
        qy = abs(py - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        inside = min(max(qx, qy), 0.0)
        return outside + inside - radius

    return sdf


def sdf_capsule(x0, y0, x1, y1, r):
    dx = x1 - x0
    dy = y1 - y0
    length2 = dx * dx + dy * dy

    def sdf(px, py):
        if length2 == 0:
            t = 0.0
        else:
            t = max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length2))
        return math.hypot(px - (x0 + t * dx), py - (y0 + t * dy)) - r

    return sdf


def write_ico(path, canvases, png_from=None):
    """An icon file holding one 32-bit entry per canvas: a bitmap with its AND mask or, for
    canvases at least png_from pixels wide, a PNG (read by Windows Vista and later, and a fraction
    of the size: every byte of the icon is a byte of the download)."""
    entries = []
    for c in canvases:
        if png_from is not None and c.width >= png_from:
            entries.append((c.width, c.height, png_bytes(c)))
            continue
        xor = c.rows_bgra()
        mask_stride = ((c.width + 31) // 32) * 4
        mask = bytearray()
        for y in range(c.height - 1, -1, -1):
            row = bytearray(mask_stride)
            for x in range(c.width):
                if c.a[y * c.width + x] < 0.5 / 255.0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 32, 0, len(xor) + len(mask),
                           0, 0, 0, 0)
        entries.append((c.width, c.height, info + xor + bytes(mask)))
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    body = b""
    for w, h, data in entries:
        directory += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    with open(path, "wb") as f:
        f.write(directory + body)


def png_bytes(canvas):
    """The canvas as an RGBA PNG (used to preview icons)."""
    raw = bytearray()
    for y in range(canvas.height):
        raw.append(0)
        for x in range(canvas.width):
            i = y * canvas.width + x
            a = canvas.a[i]
            if a > 0:
                raw += bytes((clamp8(canvas.r[i] / a), clamp8(canvas.g[i] / a), clamp8(canvas.b[i] / a),
                              clamp8(a * 255)))
            else:
                raw += b"\0\0\0\0"

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + \
        chunk(b"IEND", b"")
