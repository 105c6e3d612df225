"""RGBA canvas with span-filled shapes and a PNG writer (standard library only).

Shapes are filled row by row with slice assignment, which keeps large sheets
fast in plain Python. Colours are (r, g, b, a) tuples; a shape replaces the
pixels it covers, it does not blend.
"""
import math
import struct
import zlib


class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.w = width
        self.h = height
        self.px = bytearray(bytes(fill) * (width * height))

    # --- primitives -------------------------------------------------------
    def span(self, y, x0, x1, c):
        """Fills pixels x0 <= x < x1 of row y."""
        if y < 0 or y >= self.h:
            return
        x0 = max(0, int(x0))
        x1 = min(self.w, int(x1))
        if x1 <= x0:
            return
        o = (y * self.w + x0) * 4
        self.px[o:o + (x1 - x0) * 4] = bytes(c) * (x1 - x0)

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, int(y0)), min(self.h, int(y1))):
            self.span(y, x0, x1, c)

    def ellipse(self, cx, cy, rx, ry, c):
        if rx <= 0 or ry <= 0:
            return
        for y in range(max(0, int(math.floor(cy - ry))), min(self.h, int(math.ceil(cy + ry)) + 1)):
            t = (y + 0.5 - cy) / ry
            if abs(t) > 1.0:
                continue
            dx = rx * math.sqrt(1.0 - t * t)
            self.span(y, round(cx - dx), round(cx + dx), c)

    def circle(self, cx, cy, r, c):
        self.ellipse(cx, cy, r, r, c)

    def ring(self, cx, cy, r_out, r_in, c):
        """An annulus: pixels whose centre lies between the two radii."""
        for y in range(max(0, int(cy - r_out)), min(self.h, int(cy + r_out) + 1)):
            t = y + 0.5 - cy
            if abs(t) > r_out:
                continue
            do = math.sqrt(r_out * r_out - t * t)
            if abs(t) < r_in:
                di = math.sqrt(r_in * r_in - t * t)
                self.span(y, round(cx - do), round(cx - di), c)
                self.span(y, round(cx + di), round(cx + do), c)
            else:
                self.span(y, round(cx - do), round(cx + do), c)

    def polygon(self, pts, c):
        """Even-odd scanline fill of a closed polygon."""
        if len(pts) < 3:
            return
        ys = [p[1] for p in pts]
        n = len(pts)
        for y in range(max(0, int(math.floor(min(ys)))), min(self.h, int(math.ceil(max(ys))) + 1)):
            sy = y + 0.5
            xs = []
            for i in range(n):
                x0, y0 = pts[i]
                x1, y1 = pts[(i + 1) % n]
                if (y0 <= sy < y1) or (y1 <= sy < y0):
                    xs.append(x0 + (sy - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            for i in range(0, len(xs) - 1, 2):
                self.span(y, round(xs[i]), round(xs[i + 1]), c)

    def line(self, x0, y0, x1, y1, width, c):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length * width / 2.0, dx / length * width / 2.0
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], c)

    def star(self, cx, cy, r_out, r_in, points, c, turn=0.0):
        pts = []
        for i in range(points * 2):
            r = r_out if i % 2 == 0 else r_in
            a = turn - math.pi / 2 + i * math.pi / points
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
        self.polygon(pts, c)

    def rotated_ellipse(self, cx, cy, rx, ry, angle, c, steps=28):
        ca, sa = math.cos(angle), math.sin(angle)
        pts = []
        for i in range(steps):
            t = 2 * math.pi * i / steps
            x, y = rx * math.cos(t), ry * math.sin(t)
            pts.append((cx + x * ca - y * sa, cy + x * sa + y * ca))
        self.polygon(pts, c)

    def digit(self, ox, oy, ch, scale, c):
        """A 5 x 7 bitmap glyph (digits and a few letters) scaled up."""
        rows = FONT.get(ch)
        if rows is None:
            return
        for ry, bits in enumerate(rows):
            for rx in range(5):
                if bits & (0x10 >> rx):
                    self.rect(ox + rx * scale, oy + ry * scale, ox + (rx + 1) * scale, oy + (ry + 1) * scale, c)

    def text(self, ox, oy, s, scale, c, outline=None):
        for i, ch in enumerate(s):
            x = ox + i * 6 * scale
            if outline is not None:
                for ddx, ddy in ((-1, 0), (1, 0), (0, -1), (0, 1)):
                    self.digit(x + ddx, oy + ddy, ch, scale, outline)
            self.digit(x, oy, ch, scale, c)

    # --- output -----------------------------------------------------------
    def png(self):
        stride = self.w * 4
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            raw += self.px[y * stride:(y + 1) * stride]

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        return (b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(bytes(raw), 6))
                + chunk(b"IEND", b""))


def shade(c, f):
    """The colour scaled by f (brighter above 1), alpha kept."""
    return (min(255, int(c[0] * f)), min(255, int(c[1] * f)), min(255, int(c[2] * f)), c[3])


def alpha(c, a):
    return (c[0], c[1], c[2], a)


class Rand:
    """xorshift32: the same numbers on every machine."""

    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF or 1

    def next(self):
        s = self.s
        s ^= (s << 13) & 0xFFFFFFFF
        s ^= s >> 17
        s ^= (s << 5) & 0xFFFFFFFF
        self.s = s
        return s

    def below(self, n):
        return self.next() % n

    def unit(self):
        return self.next() / 4294967296.0


FONT = {
    "0": (0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E),
    "1": (0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E),
    "2": (0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F),
    "3": (0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E),
    "4": (0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02),
    "5": (0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E),
    "6": (0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E),
    "7": (0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08),
    "8": (0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E),
    "9": (0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C),
    "x": (0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11),
    "+": (0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00),
    "M": (0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11),
    "P": (0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10),
    "H": (0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11),
    "S": (0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E),
    "B": (0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E),
    "W": (0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A),
    "L": (0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F),
    "Q": (0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D),
}
